#pragma once
// The ticket job: the receipts for the documents this service has sent, read by
// TTicketReader against the headers that still await one.
#include "uQorJob.h"

class TEgaisIncomingTicketJob : public TQorJob {
public:
    const char* ClassName() const override { return "TEgaisIncomingTicketJob"; }
    void DoJob() override;
};
