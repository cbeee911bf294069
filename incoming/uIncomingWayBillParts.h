#pragma once
// What the waybill readers of every version gather before the storing stage, and the
// conversions of position values they share.
#include <string>
#include <utility>
#include <vector>

#include "uDbProvider.h"
#include "uEgaisStorage.h"
#include "uIncomingWayBillJob.h"
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

}  // namespace incoming

// The products of one waybill, stored through the job's AddProduct on one query of its
// own transaction: committed once after the last position and, when the reading
// breaks off, on the way out, so that what was stored stays stored.
class TProductStore {
public:
    TProductStore();
    ~TProductStore();
    TProductStore(const TProductStore&) = delete;
    TProductStore& operator=(const TProductStore&) = delete;

    TVariant Add(const TProductRecord& product);
    void Commit();

private:
    TQueryPtr FQuery;
};
