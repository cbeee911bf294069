#pragma once
// Sends waybills (request type 6), always in format version 4. A waybill whose
// withdrawal is already queued is not sent: both requests are closed.
#include "uRequestQueue.h"

class TEgaisOutGoingWayBillJob : public TOutgoingRequestJob {
public:
    TEgaisOutGoingWayBillJob();

protected:
    TRequestDecision CheckRequest(TRequestContext& ctx) override;
    TOutgoingDocument DocumentFor(const TRequestContext& ctx) override;
};
