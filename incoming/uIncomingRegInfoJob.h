#pragma once
// The job that lands the registration information of waybills on the documents:
// TRegInfoReader, first the FORM2REGINFO documents, then the FORMBREGINFO ones.
#include "uQorJob.h"

class TEgaisIncomingRegInfoJob : public TQorJob {
public:
    const char* ClassName() const override { return "TEgaisIncomingRegInfoJob"; }
    void DoJob() override;
};
