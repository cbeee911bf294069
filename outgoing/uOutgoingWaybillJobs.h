#pragma once
// The jobs of an outgoing waybill's life that follow the request queue.
#include <optional>
#include <string>

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

// Withdraws a waybill we sent (request type 20) with a reception act of version 1 or 2,
// and after the queue archives the waybill history documents the UTM holds, once per
// change of the UTM's list.
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
    void DocumentBuilt(const TRequestContext& ctx) override;

private:
    void CollectHistories();

    int FVersion = 1;  // of the request being worked on
};

// Confirms (request type 10) or rejects (11) the act a partner sent about one of our
// waybills.
class TOutgoingTTNTicketJob : public TOutgoingRequestJob {
public:
    TOutgoingTTNTicketJob();

protected:
    TOutgoingDocument DocumentFor(const TRequestContext& ctx) override;
    void CloseAsSent(TRequestContext& ctx, const std::string& uid,
                     const std::string& resultText) override;
};

// Queues Form A queries (request type 13) for the certificates of waybill lines that
// still lack their bottling data: at most 50 per run, none twice on one day.
class TInformAUpdateJob : public TQorJob {
public:
    const char* ClassName() const override { return "TInformAUpdateJob"; }
    void DoJob() override;
};
