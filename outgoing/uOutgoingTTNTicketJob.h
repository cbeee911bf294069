#pragma once
// Confirms (request type 10) or rejects (11) the act a partner sent about one of our
// waybills.
#include "uRequestQueue.h"

class TOutgoingTTNTicketJob : public TOutgoingRequestJob {
public:
    TOutgoingTTNTicketJob();

protected:
    TOutgoingDocument DocumentFor(const TRequestContext& ctx) override;
};
