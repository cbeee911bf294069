#pragma once
// The reader of version-2 waybills, and the reading of the document element child by
// child that versions 3 and 4 share with it: one Form A and a list of Form B per
// position, of which the last is kept; no excise marks.
#include <string>

#include "uWayBillReader.h"

class TWayBillV2Reader : public TWayBillReader {
public:
    explicit TWayBillV2Reader(TQorJob& job);

    THandled Handle(const TIncomingDocument& doc, TDbTransaction& tx) override;

protected:
    TWayBillV2Reader(TQorJob& job, std::string sKind, int iVersion);

    // False, after saying why, when the waybill is not for this participant.
    virtual bool ForUs(const TCounterpartRecord& consignee, const std::string& sFsrarId,
                       const std::string& sUrl);
    void StoreInforms(TDbTransaction& tx, const TXmlNode& position, int64_t lineId,
                      const TVariant& shipper) override;
};
