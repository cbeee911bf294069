#pragma once
// The job of the consignees' acts on our waybills: TWayBillActReader for each version,
// the newest first.
#include "uQorJob.h"

class TEgaisIncomingActJob : public TQorJob {
public:
    const char* ClassName() const override { return "TEgaisIncomingActJob"; }
    void DoJob() override;
};
