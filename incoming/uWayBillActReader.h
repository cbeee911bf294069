#pragma once
// The reader of the acts with which consignees answer the waybills we send: acceptance,
// rejection or acceptance with differences lands on the sent waybill (its status and
// the act's status, number, date and note), and for differences the quantity really
// received lands on each position. An act is read in the version its address names.
#include <string>

#include "uIncomingReader.h"

class TWayBillActReader : public TIncomingReader {
public:
    // sKind: "WayBillAct_v4", "WayBillAct_v3", "WayBillAct_v2" or "WayBillAct".
    TWayBillActReader(TQorJob& job, std::string sKind);

    TIncomingSelection Selection() const override;
    THandled Handle(const TIncomingDocument& doc, TDbTransaction& tx) override;
    void Fetching(const std::string& url) override;

private:
    std::string FKind;
};
