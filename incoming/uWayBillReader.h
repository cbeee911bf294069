#pragma once
// The base of the readers of suppliers' waybills, one per protocol version: what every
// version gathers before the storing stage, and that stage itself. A waybill is stored
// as one head, its positions, their Form A and Form B registrations and excise marks,
// in the document's transaction, which also marks its UTM address, so that a UTM
// document is stored once or not at all. Counterparties and products are reference
// data: they are stored as they are read and stay stored whatever becomes of the rest.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "uCounterpart.h"
#include "uDbProvider.h"
#include "uEgaisStorage.h"
#include "uIncomingReader.h"
#include "uVariant.h"
#include "uXml.h"

struct TWayBillHead {
    std::string Key;  // UTM_DOC_ID: identity/date/number
    int DocType = 0;
    TVariant Shipper, Consignee, Supplier;
    // The head statement's parameters in the order they are logged.
    std::vector<std::pair<std::string, TVariant>> Params;

    void Set(const std::string& name, const TVariant& value) { Params.emplace_back(name, value); }
};

// The values of a waybill's header that the versions find in their own places.
struct TWayBillHeader {
    std::string Number;
    TVariant Date, ShippingDate, UnitType, TranType, Base, Note;
    // The texts of the transport elements, in the order of TWayBillReader::TransportFields.
    std::vector<TVariant> Transport;
};

struct TWayBillLine {
    TXmlNode Node;  // the position, for its registrations and marks
    TVariant PositionId;
    std::string AlcCode;
    TVariant Quantity, Price, Pack, Party;
};

namespace incoming {

// The position number: the trimmed identity when it is an integer of 32 bits, else the
// CRC-32 of the trimmed text taken as a signed 32-bit number (the same for the same
// identity, and it fits the column).
TVariant PositionIdOf(const std::string& sIdentity);
// A price text of at most five characters as it is; a longer one as a number rounded
// to three decimal places. Null stays null.
TVariant PriceOf(const TVariant& price);
// The transport type as an integer; a text that is not one is logged and given as "0".
TVariant TranTypeOf(const TVariant& tranType);

// The text of the child element, "" when it (or the parent) is absent.
std::string ChildText(const TXmlNode& parent, const std::string& sName);
// The text of the child element cut to iMaxChars (0: whole), null when it is absent.
TVariant ChildValue(const TXmlNode& parent, const std::string& sName, size_t iMaxChars = 0);

}  // namespace incoming

class TWayBillReader : public TIncomingReader {
public:
    // The transport elements of the head, with the length of their columns.
    struct TTransportField {
        const char* Name;
        size_t MaxChars;
    };
    static const std::vector<TTransportField>& TransportFields();

    // sKind: the kind's name in UTM addresses ("WayBill_v4").
    TWayBillReader(TQorJob& job, std::string sKind, int iVersion);

    TIncomingSelection Selection() const override;
    bool Takes(const std::string& url) override;
    void Fetching(const std::string& url) override;
    void FetchFailed(const std::string& url, const EHttpProtocolException& e) override;
    TQorHttpJob::TMarkLines MarkLines() const override;

    int Version() const { return FVersion; }

protected:
    // A counterparty stored or updated at once, outside the document's transaction.
    TVariant StoreParty(TQuery& parties, const TCounterpartRecord& r);
    // Runs readLines with a transaction for the waybill's products, committed however
    // the reading ends, so that what was stored stays stored.
    bool WithProducts(const std::function<bool(TQuery& products)>& readLines);
    // The position's element "wb:<name>" as a version reads it, cut to maxChars (0: whole);
    // null when it is absent.
    using TPositionValue = std::function<TVariant(const std::string& sName, size_t iMaxChars)>;
    // A position as the storing stage takes it.
    static TWayBillLine LineOf(const TXmlNode& position, const std::string& sAlcCode,
                               const TPositionValue& value);
    // The head parameters every version writes, from what the version read.
    void CompleteHead(TWayBillHead& head, const TWayBillHeader& header, const std::string& sUrl,
                      const std::string& sFsrarId) const;
    // The storing stage: head, positions and, through StoreInforms, their registrations.
    THandled Store(TDbTransaction& tx, const TWayBillHead& head,
                   const std::vector<TWayBillLine>& lines);
    // The registrations and marks of one position stored as line lineId of a waybill
    // from shipper.
    virtual void StoreInforms(TDbTransaction& tx, const TXmlNode& position, int64_t lineId,
                              const TVariant& shipper) = 0;
    // True from the start of the storing stage of the document being read.
    bool Storing() const { return FStoring; }

    // Upserts one registration and returns its ID.
    static TVariant StoreInform(TDbTransaction& tx, const char* sType, const std::string& sRegId,
                                const TVariant& shipper, const std::string& sAlcCode);
    // Links the registration to the line as its Form A (first) or Form B.
    static void LinkInform(TDbTransaction& tx, bool bFormA, const TVariant& informId,
                           int64_t lineId);

private:
    std::string FKind;
    int FVersion;
    bool FStoring = false;
};
