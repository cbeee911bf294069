#pragma once
// The ticket job: the receipts that EGAIS, and for waybills the counterparty, return for
// the documents this service has sent move each document's status on and give the
// sending request its final reply (type 16). A ticket dealt with is archived and its
// UTM address marked for deletion; one that cannot be dealt with yet stays in the UTM.
#include <cstdint>
#include <string>
#include <vector>

#include "uCommon.h"
#include "uQorJob.h"

class TXmlNode;
struct TTicketState;

class TEgaisIncomingTicketJob : public TQorJob {
public:
    const char* ClassName() const override { return "TEgaisIncomingTicketJob"; }
    void DoJob() override;

    // The index of the first item whose StringValue equals sUID exactly; -1 when there
    // is none or sUID is empty.
    static int UidIndex(const std::vector<TVariousFieldItem>& Uids, const std::string& sUID);
    // The number after the last "/" of the trimmed address; -1 when there is none.
    static int64_t UrlID(const std::string& sURL);
    // Orders UrlList items by Id: -1, 0 or 1.
    static int UrlCompare(const TVariousFieldItem& Item1, const TVariousFieldItem& Item2);

private:
    void LoadTicket(const TXmlNode& node, const std::vector<TVariousFieldItem>& Uids);
    void Unmatched(TTicketState& t);
    void RepealWriteOff(TTicketState& t);
    void ActTicket(TTicketState& t);
    void WaybillConfirmation(TTicketState& t);
    void Unposting(TTicketState& t);
    void RestoreReplyId(TTicketState& t);
    void IntermediateWaybillTicket(TTicketState& t);
    void Matched(TTicketState& t, const TVariousFieldItem& doc);
    void ArchiveAndDelete(TTicketState& t);
};
