#pragma once
// The reader of waybills of versions 3 and 4 (the document element read as version 2
// reads it): a Form A and a Form B with its excise marks per position, and a waybill
// for another participant refused once and passed over from then on.
#include <string>

#include "uWayBillV2Reader.h"

class TWayBillV3Reader : public TWayBillV2Reader {
public:
    // iVersion: 3 or 4.
    TWayBillV3Reader(TQorJob& job, int iVersion);

    bool Takes(const std::string& url) override;

protected:
    bool ForUs(const TCounterpartRecord& consignee, const std::string& sFsrarId,
               const std::string& sUrl) override;
    void StoreInforms(TDbTransaction& tx, const TXmlNode& position, int64_t lineId,
                      const TVariant& shipper) override;
};

// The UTM addresses of waybills refused because they name another participant as
// consignee, for the life of the process.
bool SkipDocsContains(const std::string& sURL);
void SkipDocsAdd(const std::string& sURL);
// Empties the list (program start, test fixtures).
void ResetSkipDocs();
