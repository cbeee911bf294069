#pragma once
// The back office's bookkeeping of requests, shared by every job that answers one: the
// reply in S_EGAIS_REPLY, the request's completion in S_EGAIS_REQUEST and the document
// header's state through SPU_UPDATE_EGAIS_DOC_HEAD. Each runs in the caller's
// transaction, which the caller commits with its other changes.
#include <cstdint>
#include <optional>
#include <string>

#include "uDbProvider.h"

struct TReply {
    int ReplyType = 0;
    int64_t RequestId = 0;
    int ResultCode = 0;  // 1 done, -1 failed; a ticket's own code
    std::string Text;    // ERROR_DESCRIPTION
};

// Writes or replaces the reply of that type to the request.
void WriteReply(TDbTransaction& tx, const TReply& reply);
// COMPLETE_FLAG = 1 (SEND_TIME cleared): the back office sees the request answered.
void CompleteRequest(TDbTransaction& tx, int64_t requestId);

// The arguments of SPU_UPDATE_EGAIS_DOC_HEAD; what is left null is not changed. The
// header is found by Id or, without one, by FindRegId among the kinds FindDocTypes.
struct TDocHeadUpdate {
    std::optional<int> Status;
    std::optional<int> QorState;
    TVariant WbRegId;
    TVariant UrlReplyId;
    TVariant ActNumber;
    std::optional<int> ActStatus;
    TVariant ActDate;
    bool ActDateNow = false;  // the act date is the server's current moment
    TVariant ActNote;
    std::optional<int64_t> Id;
    TVariant FindRegId;
    TVariant FindDocTypes;
};

// Returns the procedure's RESULT (the header's ID), null when none was found.
TVariant UpdateDocHead(TDbTransaction& tx, const TDocHeadUpdate& update);
