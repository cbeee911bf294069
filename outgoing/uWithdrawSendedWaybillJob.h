#pragma once
// Withdraws a waybill we sent (request type 20) with a reception act of version 1 or 2,
// and after the queue archives the waybill history documents the UTM holds, once per
// change of the UTM's list.
#include <optional>
#include <string>

#include "uRequestQueue.h"

class TWithdrawSendedWaybillJob : public TOutgoingRequestJob {
public:
    TWithdrawSendedWaybillJob();
    void DoJob() override;

    // 2 when DefaultProtocolVersion is "2" or the waybill's own version (NULL: 1) is
    // above 1, else 1.
    static int WithdrawalVersion(const std::optional<std::string>& sDefault,
                                 const TVariant& DocVersion);

protected:
    void RequestStarted(TRequestContext& ctx) override;
    TRequestDecision CheckHeader(TRequestContext& ctx) override;
    TRequestDecision CheckRequest(TRequestContext& ctx) override;
    TOutgoingDocument DocumentFor(const TRequestContext& ctx) override;

private:
    void CollectHistories();
};
