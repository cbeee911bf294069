#pragma once
// The jobs of an outgoing waybill's life that follow the request queue.
#include "uRequestQueue.h"

// Sends waybills (request type 6), always in format version 4. A waybill whose
// withdrawal is already queued is not sent: both requests are closed.
class TEgaisOutGoingWayBillJob : public TOutgoingRequestJob {
public:
    TEgaisOutGoingWayBillJob();

protected:
    TRequestDecision CheckRequest(TRequestContext& ctx) override;
    TOutgoingDocument DocumentFor(const TRequestContext& ctx) override;
    void DocumentBuilt(const TRequestContext& ctx) override;
};
