#pragma once
// The reader of version-1 waybills: every element is found by XPath over the whole
// document, counterparties are read field by field. Unlike the later versions, a
// waybill it cannot read ends the run, and one without positions ends its reading.
#include "uWayBillReader.h"

class TWayBillV1Reader : public TWayBillReader {
public:
    explicit TWayBillV1Reader(TQorJob& job);

    THandled Handle(const TIncomingDocument& doc, TDbTransaction& tx) override;
    // Errors of the storing stage skip the waybill; every other ends the run.
    TOnError OnError(const std::exception& e) const override;
    // Version 1 says nothing before a fetch.
    void Fetching(const std::string& url) override;

protected:
    void StoreInforms(TDbTransaction& tx, const TXmlNode& position, int64_t lineId,
                      const TVariant& shipper) override;
};
