#include "uRequestStore.h"

namespace {

const char* const kWriteReplySql =
    "UPDATE OR INSERT INTO S_EGAIS_REPLY( \r\n    REPLY_TYPE, \r\n    REQUEST_ID, \r\n"
    "    RESULT_CODE, \r\n    ERROR_DESCRIPTION, \r\n    DEBUG_XML \r\n) \r\nVALUES( \r\n"
    "    :REPLY_TYPE, \r\n    :REQUEST_ID, \r\n    :RESULT_CODE, \r\n    :ERROR_DESCRIPTION, \r\n"
    "    :DEBUG_XML \r\n) \r\nMATCHING (REPLY_TYPE, REQUEST_ID) ";

const char* const kCompleteRequestSql =
    "UPDATE S_EGAIS_REQUEST \r\n  SET SEND_TIME = :SEND_TIME, COMPLETE_FLAG = :COMPLETE_FLAG \r\n"
    "WHERE ID = :ID ";

const char* const kUpdateDocHeadSql =
    "SELECT RESULT FROM SPU_UPDATE_EGAIS_DOC_HEAD(:STATUS, :QOR_STATE, :WB_REG_ID, :URL_REPLY_ID, "
    ":ACT_NUMBER, :ACT_STATUS, :ACT_DATE, :ACT_NOTE, :ID, NULL, :FIND_REG_ID, :FIND_DOC_TYPES, "
    "NULL)";

const char* const kUpdateDocHeadNowSql =
    "SELECT RESULT FROM SPU_UPDATE_EGAIS_DOC_HEAD(:STATUS, :QOR_STATE, :WB_REG_ID, :URL_REPLY_ID, "
    ":ACT_NUMBER, :ACT_STATUS, CURRENT_TIMESTAMP, :ACT_NOTE, :ID, NULL, :FIND_REG_ID, "
    ":FIND_DOC_TYPES, NULL)";

template <typename T>
TVariant OrNull(const std::optional<T>& v) {
    return v ? TVariant(*v) : TVariant();
}

}  // namespace

void WriteReply(TDbTransaction& tx, const TReply& reply) {
    tx.Run(kWriteReplySql, {{"REPLY_TYPE", reply.ReplyType},
                            {"REQUEST_ID", reply.RequestId},
                            {"RESULT_CODE", reply.ResultCode},
                            {"ERROR_DESCRIPTION", reply.Text},
                            {"DEBUG_XML", TVariant()}});
}

void CompleteRequest(TDbTransaction& tx, int64_t requestId) {
    tx.Run(kCompleteRequestSql,
           {{"SEND_TIME", TVariant()}, {"COMPLETE_FLAG", 1}, {"ID", requestId}});
}

TVariant UpdateDocHead(TDbTransaction& tx, const TDocHeadUpdate& u) {
    TQuery& q = tx.Statement(u.ActDateNow ? kUpdateDocHeadNowSql : kUpdateDocHeadSql);
    q.Close();
    q.SetParam("STATUS", OrNull(u.Status));
    q.SetParam("QOR_STATE", OrNull(u.QorState));
    q.SetParam("WB_REG_ID", u.WbRegId);
    q.SetParam("URL_REPLY_ID", u.UrlReplyId);
    q.SetParam("ACT_NUMBER", u.ActNumber);
    q.SetParam("ACT_STATUS", OrNull(u.ActStatus));
    if (!u.ActDateNow) q.SetParam("ACT_DATE", u.ActDate);
    q.SetParam("ACT_NOTE", u.ActNote);
    q.SetParam("ID", OrNull(u.Id));
    q.SetParam("FIND_REG_ID", u.FindRegId);
    q.SetParam("FIND_DOC_TYPES", u.FindDocTypes);
    q.ExecQuery();
    return q.Eof() ? TVariant() : q.FieldByName("RESULT");
}
