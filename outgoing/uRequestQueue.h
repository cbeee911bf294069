#pragma once
// The request queue every outgoing job serves: it selects the open requests of its
// types from S_EGAIS_REQUEST, locks each request and its document header, builds the
// document, posts it to the UTM, reads the UTM's answer and closes the request with a
// reply, the header's new state and COMPLETE_FLAG. A job gives its own row of values
// (TOutgoingJobRow) and its own checks; the protocol is written once, here.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "uDbProvider.h"
#include "uEgaisDocumentBuilder.h"
#include "uQorJob.h"
#include "uRequestStore.h"

// What the closing statements write; an empty value is passed as NULL.
struct THeaderState {
    std::optional<int> Status;
    std::optional<int> QorState;
};

struct TOutgoingJobRow {
    std::string ClassName;      // "TEgaisOutGoingWayBillJob"
    std::string Prefix;         // of the job's log lines: "TEgaisOutGoingWayBillJob: "
    std::vector<int> RequestTypes;
    bool MultiTypeSelection;    // the several-types selection, else one type
    std::string DebugSwitch;    // DEBUG_FLAGS key, "" for none
    std::string Not200Text;     // the post was not answered 200
    std::string OptInNot200Text;  // the /opt/in list was not answered 200
    std::string UidNotFoundText;  // the answer holds no transport id
    bool RecheckComplete;       // the locked row's COMPLETE_FLAG is looked at
    std::string AlreadyDoneText;  // ... and its text
    THeaderState Sent;
    int SentReplyType;          // -1: the request's own type
    THeaderState Failed;
    std::optional<std::string> FailedUid;  // NULL, or '' for the act job
    int FailedReplyType;        // -1: the request's own type
    bool FailedUpdatesHeader = true;
    bool LogNotOurs = false;    // another organisation's header is logged before the skip
    std::string LinkFoundText;  // logged once the sent document's link is found, "" for none
};

// The request being worked on.
struct TRequestContext {
    int64_t RequestId = -1;
    int64_t DocId = -1;
    int RequestType = 0;
    TVariant RequestData;
    TVariant DocProtocolVersion;  // of the one-type selection
    TVariant Shipper;             // of the one-type selection
    TVariant RequestFsrarId;      // of the several-types selection
    // The locked request's transaction, until the request is closed.
    std::unique_ptr<TDbTransaction> Request;
    // The locked header's transaction, until the document is built, and its row.
    std::unique_ptr<TDbTransaction> Header;
    TQuery* HeadRow = nullptr;
};

// The document a request sends and where it goes.
struct TOutgoingDocument {
    TDocType DocType;
    std::string Url;       // the full address of the post
    std::string FileName;  // of the posted part
};

enum class TRequestDecision { Send, Skip, Closed };

class TOutgoingRequestJob : public TQorJob {
public:
    explicit TOutgoingRequestJob(TOutgoingJobRow row) : FRow(std::move(row)) {}
    const char* ClassName() const override { return FRow.ClassName.c_str(); }
    void DoJob() override;

    const TOutgoingJobRow& Row() const { return FRow; }

protected:
    // Works through the open requests (DoJob without its entry and exit lines).
    void ServeQueue();
    // Called for each selected row before the request is locked.
    virtual void RequestStarted(TRequestContext& ctx);
    // The job's own checks after the ownership test; Skip leaves the request open,
    // Closed means the check answered the request itself.
    virtual TRequestDecision CheckRequest(TRequestContext& ctx);
    // The document to build and the post's address for the request.
    virtual TOutgoingDocument DocumentFor(const TRequestContext& ctx) = 0;
    // Called between the header lock and the ownership test (withdrawal's checks).
    virtual TRequestDecision CheckHeader(TRequestContext& ctx);
    // Called once the document is built and its debug copy saved, before the post.
    virtual void DocumentBuilt(const TRequestContext& ctx);
    // Closes a request whose document the UTM accepted: header, reply and completion in
    // the request's transaction, then commit.
    virtual void CloseAsSent(TRequestContext& ctx, const std::string& uid,
                             const std::string& resultText);

    // The header's new state and transport id, in the transaction given.
    static void UpdateHeader(TDbTransaction& tx, int64_t docId, const THeaderState& state,
                             const TVariant& uid);
    // Releases the header's lock (its transaction is committed).
    static void ReleaseHeader(TRequestContext& ctx);
    // Answers the request without sending: reply and completion, then commit.
    void Refuse(TRequestContext& ctx, int replyType, const std::string& text);

    std::string Prefix() const { return FRow.Prefix; }

private:
    TQueryPtr SelectRequests();
    void ProcessRequest(TRequestContext& ctx);
    void RecordFailure(const TRequestContext& ctx, const std::exception& e);
    // Posts the document and reads the answer; gives the transport id and the reply text.
    void Post(const TOutgoingDocument& target, const TXmlDocument& doc, std::string& uid,
              std::string& resultText);

    TOutgoingJobRow FRow;
};
