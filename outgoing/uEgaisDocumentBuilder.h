#pragma once
// TDocBuilder turns the rows of one back-office document (or request) into a complete
// EGAIS XML document: the envelope every EGAIS document shares (declaration, root
// ns:Documents with the kind's namespace declarations, owner, document wrapper) and
// the body of the kind. What makes up each kind is its row of the kind table
// (FindDocKind); the outgoing jobs create a builder, call BuildDocumentFromDb and post
// the result.
#include <cstdint>
#include <string>

#include "Exception.h"
#include "uVariant.h"
#include "uXml.h"

QOR_DECLARE_EXCEPTION(EDocumentBuilderException, Exception)
QOR_DECLARE_EXCEPTION(ERangeError, Exception)

// The kinds of document; the values are shared with the back office and fixed.
enum TDocType : int {
    dtIncomingWayBill = 0,
    dtOutgoingWaybill = 1,
    dtOutgoingWaybillV2 = 2,
    dtOutgoingWayBillV3 = 3,
    dtOutgoingWayBillV4 = 4,
    dtReceptionAct = 5,
    dtWriteOffAct = 6,
    dtDictionary = 7,
    dtDictionaryEx = 8,
    dtChargeOnAct = 9,
    dtQueryAP_AlcCode = 10,
    dtQueryAP_INN = 11,
    dtQueryFormA = 12,
    dtQueryFormB = 13,
    dtQueryMarkCodes = 14,
    dtConfirmAct = 15,
    dtRejectAct = 16,
    dwWithdrawSendedWaybill = 17,
    dtRests = 18,
    dtResendWaybill = 19,
    dwRepealWaybillAct = 20,
    dwRepealActCahergeOn = 21,
    dtRepealActWriteOff = 22,
    dtShopRests = 23,
    dtTransferToShop = 24,
    dtTransferFromShop = 25,
    dtWriteOffShopAct = 26,
    dtChargeOnShop = 27,
    dtReceptionActV2 = 28,
    dtSetTTNVersion = 29,
    dtReceptionActV3 = 30,
    dtActFixBarCode = 31,
    dtActUnFixBarCode = 32,
    dtQueryMarkRest = 33,
    dtQueryAP_AlcCode_v1 = 34,
    dtReceptionActV4 = 35,
};

// "dtOutgoingWayBillV4" for 4, ...; "" for a value that is no kind.
std::string DocTypeName(int DocType);

// A number as EGAIS wants it: "." as the decimal separator whatever the locale, no
// thousands separators, the shortest general form with up to 15 significant digits.
std::string FloatToXmlText(double Value);
// A column value as text: numbers as above, dates as "YYYY-MM-DD", null as "".
std::string XmlValueText(const TVariant& Value);

class TDocFrame;

// One namespace declaration of the root: prefix and EGAIS path; the prefixes "xsi"
// and "xs" stand for the W3C schema-instance and schema namespaces.
struct TNamespaceDecl {
    const char* Prefix = nullptr;
    const char* Path = "";
};

// A row of the kind table: what one kind of document is made of.
struct TDocKind {
    static constexpr int kMaxNamespaces = 8;

    TDocType Kind;
    const char* Name;     // "dtOutgoingWayBillV4"
    const char* Version;  // of ns:Documents; nullptr: the kind has no envelope
    // Declared in this order; the list ends at the first entry without a prefix.
    TNamespaceDecl Namespaces[kMaxNamespaces];
    // Fills the envelope; nullptr: the kind cannot be built yet.
    void (*Body)(TDocFrame& Frame);
};

// The kind's row, or nullptr for a value that is no kind.
const TDocKind* FindDocKind(int DocType);

class TDocBuilder {
public:
    // Builds the document of DocType from the data identified by DocId (the header ID,
    // the request ID, ... as the kind needs). Errors of the data, and a kind that
    // cannot be built, are EDocumentBuilderException; nothing is returned then. The
    // caller keeps the result.
    TXmlDocument BuildDocumentFromDb(TDocType DocType, int64_t DocId);

    // A new empty document in place of the previous one.
    void NewDocument();
    // The document being built (or last built).
    const TXmlDocument& Xml() const { return FXml; }

    // The envelope of a kind: declaration, root element, Version and the namespace
    // declarations. A kind without an envelope adds nothing.
    void AddDocumentHeader(TDocType DocType);
    // The body of a kind on the document as it stands, whose root must be there.
    void BuildBody(TDocType DocType, int64_t DocId);

    // The kind code of a counterparty: "UL", "FL" (no KPP), "FO" (no INN or not
    // Russian), "TS" (Kazakhstan 398, Belarus 112). For "FO" and "TS" sINN and sKPP
    // are cleared.
    static std::string GetCounterpartCode(const std::string& sCountryCode, std::string& sINN,
                                          std::string& sKPP);

private:
    TXmlDocument FXml;
};
