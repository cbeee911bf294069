#pragma once
// The request queue every outgoing job serves: it selects the open requests of its
// types from S_EGAIS_REQUEST, locks each request and its document header, builds the
// document, posts it to the UTM, reads the UTM's answer and closes the request with a
// reply, the header's new state and COMPLETE_FLAG. A job gives its own row of values
// (TOutgoingJobRow) and its own checks; the protocol is written once, here.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "uDbProvider.h"
#include "uEgaisDocumentBuilder.h"
#include "uQorJob.h"
#include "uRequestStore.h"

// Request types of S_EGAIS_REQUEST (REQUEST_TYPE, and REPLY_TYPE of their replies); the
// values are shared with the back office and fixed.
enum TRequestType : int {
    otSendTtn = 6,
    otSendAct = 8,
    otConfirmAct = 10,
    otRejectAct = 11,
    otQueryFormA = 13,
    otGetTicket = 16,
    otWithdrawTtn = 20,
};

// QOR_STATE of a header whose document the UTM took.
inline constexpr int ssSUCCESS = 255;

// The request types one job answers. The selection binds them to the fixed slots of its
// IN list, so its text never changes; a type list that does not fit stops the build.
class TRequestTypes {
public:
    static constexpr size_t kSlots = 8;

    constexpr TRequestTypes(std::initializer_list<int> types) {
        if (types.size() == 0 || types.size() > kSlots)
            throw std::length_error("a job answers one to eight request types");
        for (int t : types) FTypes[FCount++] = t;
    }
    constexpr const int* begin() const { return FTypes; }
    constexpr const int* end() const { return FTypes + FCount; }
    constexpr size_t size() const { return FCount; }
    // The value bound to slot i of the selection: the types, the last one repeated.
    constexpr int Slot(size_t i) const { return FTypes[i < FCount ? i : FCount - 1]; }

private:
    int FTypes[kSlots] = {};
    size_t FCount = 0;
};

// What the closing statements write; an empty value is passed as NULL.
struct THeaderState {
    std::optional<int> Status = std::nullopt;
    std::optional<int> QorState = std::nullopt;
};

// Lines a job logs at the steps of a request, after its prefix; "" logs nothing.
// "{request}", "{doc}" and "{uid}" stand for the request's ID, its header's ID and
// the transport id the UTM gave.
struct TRequestLog {
    std::string_view Started = "";    // the request is selected
    std::string_view Built = "";      // its document is built, before the post
    std::string_view LinkFound = "";  // the sent document's link is found in /opt/in
    std::string_view Sent = "";       // the UTM took the document: the closing begins
    std::string_view Header = "";     // before the header's update
    std::string_view Reply = "";      // before the reply
    std::string_view Complete = "";   // before COMPLETE_FLAG
    std::string_view Done = "";       // after the commit
};

// A reply type that is the request's own type.
inline constexpr int kOwnType = -1;

// Everything that tells one outgoing job from another, as one constant of the job's
// file; the defaults are what most jobs share.
struct TOutgoingJobRow {
    const char* ClassName;         // "TEgaisOutGoingWayBillJob"
    std::string_view Prefix = "";  // of the job's log lines; "": ClassName + ": "
    TRequestTypes RequestTypes;
    std::string_view DebugSwitch = "";                            // DEBUG_FLAGS key, "" for none
    std::string_view Not200Text = "unable to send request";       // the post was not answered 200
    std::string_view OptInNot200Text = "unable to send request";  // nor the /opt/in list
    std::string_view UidNotFoundText = "Uid не найден в ответе УТМ.";  // the answer holds no id
    // Logged (debug) when the locked request turns out closed already; every job skips such
    // a request, "" skips it without a word.
    std::string_view AlreadyDoneText = "";
    THeaderState Sent = {};
    int SentReplyType = kOwnType;
    THeaderState Failed = {};
    // URL_REPLY_ID of a failure; nullopt: NULL.
    std::optional<std::string_view> FailedUid = std::nullopt;
    int FailedReplyType = kOwnType;
    bool LogNotOurs = false;  // another organisation's header is logged before the skip
    TRequestLog Log = {};
};

// The document a request sends and where it goes.
struct TOutgoingDocument {
    TDocType DocType = dtIncomingWayBill;
    std::string Url;       // the full address of the post
    std::string FileName;  // of the posted part
};

// The reception act of a format version 1 to 4 and its address.
TOutgoingDocument ReceptionActDocument(int version);

// The request being worked on, and all that a job learns about it on the way.
struct TRequestContext {
    int64_t RequestId = -1;
    int64_t DocId = -1;
    int RequestType = 0;
    TVariant RequestData;
    TVariant DocProtocolVersion;  // the header's PROTOCOL_VERSION, NULL without one
    int Version = 0;              // the format version the job chose for the document
    TOutgoingDocument Document;   // once chosen
    std::string Uid;              // the transport id, once posted
    std::string ResultText;       // the reply's text, once posted
    // The locked request's transaction, until the request is closed.
    std::unique_ptr<TDbTransaction> Request;
    // The locked header's transaction, until the document is built, and its row.
    std::unique_ptr<TDbTransaction> Header;
    TQuery* HeadRow = nullptr;
};

enum class TRequestDecision { Send, Skip, Closed };

// The protocol above, for the row a job gives; the hooks are its own checks and choices.
class TOutgoingRequestJob : public TQorJob {
public:
    // The row is one of the jobs' constants and outlives the job.
    explicit TOutgoingRequestJob(const TOutgoingJobRow& row) : FRow(row) {}
    const char* ClassName() const override { return FRow.ClassName; }
    void DoJob() override;

    const TOutgoingJobRow& Row() const { return FRow; }

protected:
    // Works through the open requests (DoJob without its entry and exit lines).
    void ServeQueue();
    // Called for each selected row before the request is locked.
    virtual void RequestStarted(TRequestContext& ctx);
    // Called between the header lock and the ownership test (withdrawal's checks).
    virtual TRequestDecision CheckHeader(TRequestContext& ctx);
    // The job's own checks after the ownership test; Skip leaves the request open,
    // Closed means the check answered the request itself.
    virtual TRequestDecision CheckRequest(TRequestContext& ctx);
    // The document to build and the post's address for the request.
    virtual TOutgoingDocument DocumentFor(const TRequestContext& ctx) = 0;
    // Called once the document is built and its debug copy saved, before the post.
    virtual void DocumentBuilt(const TRequestContext& ctx);

    // The header's new state and transport id, in the transaction given.
    static void UpdateHeader(TDbTransaction& tx, int64_t docId, const THeaderState& state,
                             const TVariant& uid);
    // The reply and COMPLETE_FLAG of a request, in the transaction given.
    static void Answer(TDbTransaction& tx, const TReply& reply);
    // Releases the header's lock (its transaction is committed).
    static void ReleaseHeader(TRequestContext& ctx);
    // Answers the request without sending: the header's new state when one is given
    // (the header's own lock released first), the reply and completion, then commit.
    void Refuse(TRequestContext& ctx, int replyType, const std::string& text,
                const std::optional<THeaderState>& header = std::nullopt);

    std::string Prefix() const;

private:
    // Logs the row's text of a step with the request's values in it.
    void LogStep(std::string_view text, const TRequestContext& ctx) const;
    TQueryPtr SelectRequests();
    void ProcessRequest(TRequestContext& ctx);
    // Posts the document and reads the answer into ctx.Uid and ctx.ResultText.
    void Post(TRequestContext& ctx, const TXmlDocument& doc);
    // Closes a request whose document the UTM took: header, reply and completion in the
    // request's transaction, then commit.
    void CloseAsSent(TRequestContext& ctx);
    void RecordFailure(const TRequestContext& ctx, const std::exception& e);

    const TOutgoingJobRow& FRow;
};
