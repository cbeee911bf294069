#include "uRequestQueue.h"

#include <algorithm>

#include "uCommon.h"
#include "uHttpClient.h"
#include "uLogger.h"
#include "uUtm.h"
#include "uXml.h"

namespace {

const char* const kSelectOneType =
    "SELECT R.ID, R.EGAIS_DOC_ID, R.REQUEST_TYPE, R.REQUEST_DATA, \r\n"
    "  rh.PROTOCOL_VERSION as DOC_PROTOCOL_VERSION, rh.SHIPPER \r\n"
    "  FROM s_egais_request R \r\n"
    "  left outer join rg_egais_doc_head rh on rh.ID=R.EGAIS_DOC_ID \r\n"
    "WHERE (COALESCE(COMPLETE_FLAG, 0) <> 1) AND (REQUEST_TYPE = :REQUEST_TYPE) \r\n"
    "ORDER BY R.LAST_MODIFIED, R.ID";

const char* const kSelectTypes =
    "SELECT R.ID, R.EGAIS_DOC_ID, R.REQUEST_TYPE, R.REQUEST_DATA, R.FSRAR_ID \r\n"
    "  FROM s_egais_request R \r\n"
    "WHERE (COALESCE(COMPLETE_FLAG, 0) <> 1) AND (REQUEST_TYPE IN (:REQUEST_TYPE) ) \r\n"
    "ORDER BY R.LAST_MODIFIED, R.ID";

const char* const kLockRequest =
    "SELECT EGAIS_DOC_ID, COALESCE(COMPLETE_FLAG, 0) as COMPLETE_FLAG FROM S_EGAIS_REQUEST "
    "WHERE ID = :ID WITH LOCK ";

const char* const kLockHeader = "SELECT * FROM RG_EGAIS_DOC_HEAD WHERE ID = :ID WITH LOCK ";


}  // namespace

void TOutgoingRequestJob::UpdateHeader(TDbTransaction& tx, int64_t docId,
                                       const THeaderState& state, const TVariant& uid) {
    TDocHeadUpdate u;
    u.Status = state.Status;
    u.QorState = state.QorState;
    u.UrlReplyId = uid;
    u.Id = docId;
    UpdateDocHead(tx, u);
}

void TOutgoingRequestJob::ReleaseHeader(TRequestContext& ctx) {
    ctx.HeadRow = nullptr;
    if (ctx.Header) ctx.Header->Commit();
    ctx.Header.reset();
}

void TOutgoingRequestJob::Refuse(TRequestContext& ctx, int replyType, const std::string& text) {
    WriteReply(*ctx.Request, {replyType, ctx.RequestId, 1, text});
    CompleteRequest(*ctx.Request, ctx.RequestId);
    ctx.Request->Commit();
}

TRequestDecision TOutgoingRequestJob::CheckRequest(TRequestContext&) {
    return TRequestDecision::Send;
}

TRequestDecision TOutgoingRequestJob::CheckHeader(TRequestContext&) {
    return TRequestDecision::Send;
}

void TOutgoingRequestJob::DocumentBuilt(const TRequestContext&) {}

void TOutgoingRequestJob::RequestStarted(TRequestContext&) {}

void TOutgoingRequestJob::CloseAsSent(TRequestContext& ctx, const std::string& uid,
                                      const std::string& resultText) {
    UpdateHeader(*ctx.Request, ctx.DocId, FRow.Sent, TVariant(uid));
    WriteReply(*ctx.Request, {FRow.SentReplyType < 0 ? ctx.RequestType : FRow.SentReplyType,
                              ctx.RequestId, 1, resultText});
    CompleteRequest(*ctx.Request, ctx.RequestId);
    ctx.Request->Commit();
}

TQueryPtr TOutgoingRequestJob::SelectRequests() {
    TQueryPtr q = NewQuery(TTxMode::Long);
    if (FRow.MultiTypeSelection) {
        std::string types;
        for (int t : FRow.RequestTypes) types += (types.empty() ? "" : ",") + std::to_string(t);
        std::string sql = kSelectTypes;
        sql.replace(sql.find(":REQUEST_TYPE"), 13, types);  // our own numbers, no outside text
        q->SetSQL(sql);
    } else {
        q->SetSQL(kSelectOneType);
        q->SetParam("REQUEST_TYPE", TVariant(FRow.RequestTypes.front()));
    }
    q->ExecQuery();
    return q;
}

void TOutgoingRequestJob::DoJob() {
    Logger().Debug(FRow.ClassName + ".DoJob ->");
    ServeQueue();
    Logger().Debug(FRow.ClassName + ".DoJob <-");
}

void TOutgoingRequestJob::ServeQueue() {
    CheckForAbort();
    TQueryPtr rows = SelectRequests();
    for (; !rows->Eof(); rows->Next()) {
        TRequestContext ctx;
        ctx.RequestId = rows->FieldByName("ID").AsInt64();
        ctx.RequestType = rows->FieldByName("REQUEST_TYPE").AsInteger();
        ctx.RequestData = rows->FieldByName("REQUEST_DATA");
        if (FRow.MultiTypeSelection) {
            ctx.RequestFsrarId = rows->FieldByName("FSRAR_ID");
        } else {
            ctx.DocProtocolVersion = rows->FieldByName("DOC_PROTOCOL_VERSION");
            ctx.Shipper = rows->FieldByName("SHIPPER");
        }
        // The handler runs after the request's own queries are released, so that their
        // row locks are gone before a failure is recorded on the same rows.
        auto release = [&ctx] {
            ctx.HeadRow = nullptr;
            ctx.Header.reset();
            ctx.Request.reset();
        };
        try {
            ProcessRequest(ctx);
        } catch (const EQorJobAbort&) {
            throw;
        } catch (const EDocumentBuilderException& e) {
            release();
            RecordFailure(ctx, e);
        } catch (const EQorJobException& e) {
            release();
            RecordFailure(ctx, e);
        } catch (const EHttpProtocolException& e) {
            release();
            RecordFailure(ctx, e);
        } catch (const std::exception& e) {
            release();
            Logger().Debug(FRow.ClassName, e);  // the request stays open for a later run
        }
    }
}

void TOutgoingRequestJob::ProcessRequest(TRequestContext& ctx) {
    RequestStarted(ctx);
    ctx.Request = std::make_unique<TDbTransaction>();
    TQuery& request = ctx.Request->Run(kLockRequest, {{"ID", ctx.RequestId}});
    if (request.Eof()) throw EEmptyException("Nothing to do");
    if (FRow.RecheckComplete && request.FieldByName("COMPLETE_FLAG").AsInteger() > 0)
        throw EEmptyException(FRow.AlreadyDoneText);

    CheckForAbort();
    TDocBuilder builder;
    ctx.DocId = request.Int64("EGAIS_DOC_ID").value_or(-1);
    request.Close();
    ctx.Header = std::make_unique<TDbTransaction>();
    ctx.HeadRow = &ctx.Header->Run(kLockHeader, {{"ID", ctx.DocId}});

    if (CheckHeader(ctx) != TRequestDecision::Send) return;
    if (!ctx.HeadRow->Eof()) {
        TVariant owner = ctx.HeadRow->FieldByName("FSRAR_ID");
        if (!owner.IsNull() && owner.AsString() != GetSettingProperty("FSRAR_ID").value_or("")) {
            if (FRow.LogNotOurs)
                Logger().Error(FRow.Prefix + "Не наш FSRAR_ID. Пропускаем запрос №" +
                               std::to_string(ctx.RequestId));
            return;  // another instance's document: the request stays open for it
        }
    }
    if (CheckRequest(ctx) != TRequestDecision::Send) return;

    TOutgoingDocument target = DocumentFor(ctx);
    TXmlDocument doc = builder.BuildDocumentFromDb(target.DocType, ctx.DocId);
    ReleaseHeader(ctx);
    if (!FRow.DebugSwitch.empty() && GetSettingProperty(FRow.DebugSwitch) == "1")
        DebugSaveXml(doc, target.FileName);
    DocumentBuilt(ctx);

    std::string uid, resultText;
    Post(target, doc, uid, resultText);

    CloseAsSent(ctx, uid, resultText);
}

void TOutgoingRequestJob::Post(const TOutgoingDocument& target, const TXmlDocument& doc,
                               std::string& uid, std::string& resultText) {
    THttpClient& http = Http();
    std::string answer =
        http.PostFile(target.Url, "xml_file", target.FileName, doc.xml(), "application/xml");
    if (http.ResponseCode() != 200) throw EEmptyException(FRow.Not200Text);

    // From here on the document is with the UTM: whatever the answer holds, the request
    // is closed as sent, so that it is never sent twice.
    uid = "UID_IS_EMPTY";
    resultText = "Документ успешно отправлен на сервер ЕГАИС.";
    try {
        TXmlNode url = LoadXmlFrom(answer).selectSingleNode("//url[1]");
        std::string sent = url ? Trim(url.text()) : "";
        if (sent.empty()) throw EQorJobException(FRow.UidNotFoundText);
        uid = sent;
        try {
            std::string list = http.Get(OutGoingUrl());
            if (http.ResponseCode() != 200) throw EEmptyException(FRow.OptInNot200Text);
            TXmlNode link = LoadXmlFrom(list).selectSingleNode(
                "//url[@replyId = " + XPathLiteral(uid) + "][1]");
            if (!link) throw EQorJobException("unable to get link to out document");
            if (!FRow.LinkFoundText.empty()) Logger().Error(FRow.Prefix + FRow.LinkFoundText);
            SaveXmlToFs(doc, link.text());
        } catch (const std::exception& e) {
            Logger().Error(FRow.Prefix + "Ссылка исходящего документа не получена: " + e.what());
            resultText = "Документ отправлен, ссылка исходящего документиа не получена.";
        }
        resultText += " UID=" + uid;
    } catch (const std::exception& e) {
        Logger().Error(FRow.Prefix + "UID отправки не получен: " + e.what());
        resultText = "Документ отправлен, но UID отправки не получен.";
    }
}

void TOutgoingRequestJob::RecordFailure(const TRequestContext& ctx, const std::exception& e) {
    TDbTransaction tx;
    if (FRow.FailedUpdatesHeader)
        UpdateHeader(tx, ctx.DocId, FRow.Failed,
                     FRow.FailedUid ? TVariant(*FRow.FailedUid) : TVariant());
    WriteReply(tx, {FRow.FailedReplyType < 0 ? ctx.RequestType : FRow.FailedReplyType,
                    ctx.RequestId, -1, e.what()});
    CompleteRequest(tx, ctx.RequestId);
    tx.Commit();
}
