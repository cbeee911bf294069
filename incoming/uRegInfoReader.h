#pragma once
// The reader of a waybill's registration information: EGAIS tells the waybill's
// registration number and, per position, the Form B under which the goods now stand.
// The number goes on the waybill's head (received or sent); the Form B of every line
// only on a waybill we received, since our own and returned waybills keep the Form B
// of our stock. Two kinds of address, "FORM2REGINFO" and "FORMBREGINFO", each read by
// its own pass; either may hold either format, TTNInformF2Reg or TTNInformBReg.
#include <string>

#include "uIncomingReader.h"

class TRegInfoReader : public TIncomingReader {
public:
    enum class TFormat { F2Reg, BReg };

    TRegInfoReader(TQorJob& job, TFormat format);

    TIncomingSelection Selection() const override;
    THandled Handle(const TIncomingDocument& doc, TDbTransaction& tx) override;
    void Fetching(const std::string& url) override;
    void FetchFailed(const std::string& url, const EHttpProtocolException& e) override;

private:
    // The texts in which the two formats' readings differ.
    const char* Text(const char* sF2Reg, const char* sBReg) const {
        return FFormat == TFormat::F2Reg ? sF2Reg : sBReg;
    }

    TFormat FFormat;
};
