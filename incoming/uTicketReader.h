#pragma once
// The reader of the receipts that EGAIS, and for waybills the counterparty, return for
// the documents this service has sent: a ticket moves its document's status on and gives
// the sending request its final reply (type 16). A ticket dealt with is archived and its
// UTM address marked for deletion; one that cannot be dealt with yet stays in the UTM.
// The job's own failures and a ticket that is not XML skip the ticket; any other error
// ends the run.
#include <cstdint>
#include <string>
#include <vector>

#include "uCommon.h"
#include "uIncomingReader.h"

struct TTicketState;

class TTicketReader : public TIncomingReader {
public:
    // sent: the headers awaiting a ticket (URL_REPLY_ID set): Id, IntValue the status,
    // IntValue1 the document kind, StringValue the reply id.
    TTicketReader(TQorJob& job, std::vector<TVariousFieldItem> sent);

    // The tickets that answer a request (replyId), else the counterparties' tickets for
    // waybills, in the order of their numbers.
    TIncomingSelection Selection() const override;
    THandled Handle(const TIncomingDocument& doc, TDbTransaction& tx) override;
    TOnError OnError(const std::exception& e) const override;
    void Recorded(const std::string& url) override;
    void Fetching(const std::string& url) override;
    void FetchFailed(const std::string& url, const EHttpProtocolException& e) override;

    // The index of the first item whose StringValue equals sUID exactly; -1 when there
    // is none or sUID is empty.
    static int UidIndex(const std::vector<TVariousFieldItem>& Uids, const std::string& sUID);

private:
    THandled Unmatched(TTicketState& t, TDbTransaction& tx);
    THandled RepealWriteOff(TTicketState& t, TDbTransaction& tx);
    THandled ActTicket(TTicketState& t, TDbTransaction& tx);
    THandled WaybillConfirmation(TTicketState& t, TDbTransaction& tx);
    THandled Unposting(TTicketState& t, TDbTransaction& tx);
    THandled RestoreReplyId(TTicketState& t, TDbTransaction& tx);
    THandled IntermediateWaybillTicket(TTicketState& t, TDbTransaction& tx);
    THandled Matched(TTicketState& t, const TVariousFieldItem& sent, TDbTransaction& tx);

    std::vector<TVariousFieldItem> FSent;
};
