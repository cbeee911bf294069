#pragma once
// The job that lands the registration information of charge-on acts on the acts:
// TInventoryRegInfoReader.
#include "uQorJob.h"

class TEgaisInventoryRegInfoJob : public TQorJob {
public:
    const char* ClassName() const override { return "TEgaisInventoryRegInfoJob"; }
    void DoJob() override;
};
