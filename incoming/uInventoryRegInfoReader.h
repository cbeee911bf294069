#pragma once
// The reader of a charge-on act's registration information: the act's registration
// number (with the reply id, when the act was stored without them) and the Form A and
// Form B of every position. Two formats: ActInventoryInformF2Reg and the older
// ActInventoryInformBReg.
#include "uIncomingReader.h"

class TInventoryRegInfoReader : public TIncomingReader {
public:
    explicit TInventoryRegInfoReader(TQorJob& job) : TIncomingReader(job) {}

    TIncomingSelection Selection() const override;
    THandled Handle(const TIncomingDocument& doc, TDbTransaction& tx) override;
};
