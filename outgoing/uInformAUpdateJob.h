#pragma once
// Queues Form A queries (request type 13) for the certificates of waybill lines that
// still lack their bottling data: at most 50 per run, none twice on one day.
#include "uQorJob.h"

class TInformAUpdateJob : public TQorJob {
public:
    const char* ClassName() const override { return "TInformAUpdateJob"; }
    void DoJob() override;
};
