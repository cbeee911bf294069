#pragma once
// The incoming waybill job: suppliers' waybills of protocol versions 4, 3, 2 and 1, in
// that order, each version read by its own reader from one opening of the UTM list.
#include "uQorJob.h"
#include "uWayBillV3Reader.h"  // the refusal list, which the job's users look at

class TEgaisIncomingWayBillJob : public TQorJob {
public:
    const char* ClassName() const override { return "TEgaisIncomingWayBillJob"; }

    void DoJob() override;
    // A stop request of the thread raises EQorJobException "thread were stopped or
    // terminated" (not the abort), then the inherited checks.
    void CheckForAbort() override;
    // During a transfer a stop request raises EQorJobException "tread were stopped
    // during performing", which breaks the transfer off.
    void DoHttp() override;
};
