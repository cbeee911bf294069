#include "uRequestQueue.h"

#include "uCommon.h"
#include "uHttpClient.h"
#include "uLogger.h"
#include "uUtm.h"
#include "uXml.h"

namespace {

// The open requests of up to eight types, oldest first; the job's types fill the slots.
const char* const kSelectRequests =
    "SELECT R.ID, R.EGAIS_DOC_ID, R.REQUEST_TYPE, R.REQUEST_DATA, \r\n"
    "  rh.PROTOCOL_VERSION as DOC_PROTOCOL_VERSION \r\n"
    "  FROM s_egais_request R \r\n"
    "  left outer join rg_egais_doc_head rh on rh.ID=R.EGAIS_DOC_ID \r\n"
    "WHERE (COALESCE(COMPLETE_FLAG, 0) <> 1) AND \r\n"
    "  (R.REQUEST_TYPE IN (:TYPE1, :TYPE2, :TYPE3, :TYPE4, :TYPE5, :TYPE6, :TYPE7, :TYPE8)) \r\n"
    "ORDER BY R.LAST_MODIFIED, R.ID";
static_assert(TRequestTypes::kSlots == 8, "one parameter of kSelectRequests per slot");

const char* const kLockRequest =
    "SELECT EGAIS_DOC_ID, COALESCE(COMPLETE_FLAG, 0) as COMPLETE_FLAG FROM S_EGAIS_REQUEST "
    "WHERE ID = :ID WITH LOCK ";

const char* const kLockHeader = "SELECT * FROM RG_EGAIS_DOC_HEAD WHERE ID = :ID WITH LOCK ";

int ReplyType(int rowType, const TRequestContext& ctx) {
    return rowType == kOwnType ? ctx.RequestType : rowType;
}

}  // namespace

TOutgoingDocument ReceptionActDocument(int version) {
    static const TDocType kinds[] = {dtReceptionAct, dtReceptionActV2, dtReceptionActV3,
                                     dtReceptionActV4};
    const std::string suffix = version > 1 ? "_v" + std::to_string(version) : "";
    return {kinds[version - 1], OutGoingDocsUrl(true) + suffix, "WayBillAct" + suffix + ".xml"};
}

void TOutgoingRequestJob::UpdateHeader(TDbTransaction& tx, int64_t docId, const THeaderState& state,
                                       const TVariant& uid) {
    TDocHeadUpdate u;
    u.Status = state.Status;
    u.QorState = state.QorState;
    u.UrlReplyId = uid;
    u.Id = docId;
    UpdateDocHead(tx, u);
}

void TOutgoingRequestJob::Answer(TDbTransaction& tx, const TReply& reply) {
    WriteReply(tx, reply);
    CompleteRequest(tx, reply.RequestId);
}

void TOutgoingRequestJob::ReleaseHeader(TRequestContext& ctx) {
    ctx.HeadRow = nullptr;
    if (ctx.Header) ctx.Header->Commit();
    ctx.Header.reset();
}

void TOutgoingRequestJob::Refuse(TRequestContext& ctx, int replyType, const std::string& text,
                                 const std::optional<THeaderState>& header) {
    if (header) {
        // The header is updated through the request's own transaction.
        ReleaseHeader(ctx);
        UpdateHeader(*ctx.Request, ctx.DocId, *header, TVariant());
    }
    Answer(*ctx.Request, {replyType, ctx.RequestId, 1, text});
    ctx.Request->Commit();
}

std::string TOutgoingRequestJob::Prefix() const {
    return FRow.Prefix.empty() ? std::string(FRow.ClassName) + ": " : std::string(FRow.Prefix);
}

void TOutgoingRequestJob::LogStep(std::string_view text, const TRequestContext& ctx) const {
    if (text.empty()) return;
    std::string line(text);
    const std::pair<const char*, std::string> values[] = {
        {"{request}", std::to_string(ctx.RequestId)},
        {"{doc}", std::to_string(ctx.DocId)},
        {"{uid}", ctx.Uid},
    };
    for (const auto& [name, value] : values)
        for (size_t at = line.find(name); at != std::string::npos;
             at = line.find(name, at + value.size()))
            line.replace(at, std::char_traits<char>::length(name), value);
    Logger().Error(Prefix() + line);
}

void TOutgoingRequestJob::RequestStarted(TRequestContext&) {}

TRequestDecision TOutgoingRequestJob::CheckHeader(TRequestContext&) {
    return TRequestDecision::Send;
}

TRequestDecision TOutgoingRequestJob::CheckRequest(TRequestContext&) {
    return TRequestDecision::Send;
}

void TOutgoingRequestJob::DocumentBuilt(const TRequestContext&) {}

TQueryPtr TOutgoingRequestJob::SelectRequests() {
    const TRequestTypes& types = FRow.RequestTypes;
    TQueryPtr q = NewQuery(TTxMode::Long);
    q->SetSQL(kSelectRequests);
    for (size_t i = 0; i < TRequestTypes::kSlots; ++i)
        q->SetParam("TYPE" + std::to_string(i + 1), types.Slot(i));
    q->ExecQuery();
    return q;
}

void TOutgoingRequestJob::DoJob() {
    Logger().Debug("{}.DoJob ->", std::string(FRow.ClassName));
    ServeQueue();
    Logger().Debug("{}.DoJob <-", std::string(FRow.ClassName));
}

void TOutgoingRequestJob::ServeQueue() {
    CheckForAbort();
    TQueryPtr rows = SelectRequests();
    for (; !rows->Eof(); rows->Next()) {
        TRequestContext ctx;
        ctx.RequestId = rows->FieldByName("ID").AsInt64();
        ctx.RequestType = rows->FieldByName("REQUEST_TYPE").AsInteger();
        ctx.RequestData = rows->FieldByName("REQUEST_DATA");
        ctx.DocProtocolVersion = rows->FieldByName("DOC_PROTOCOL_VERSION");
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
    LogStep(FRow.Log.Started, ctx);
    RequestStarted(ctx);
    ctx.Request = std::make_unique<TDbTransaction>();
    TQuery& request = ctx.Request->Run(kLockRequest, {{"ID", ctx.RequestId}});
    if (request.Eof()) throw EEmptyException("Nothing to do");
    // Another instance may have closed the request between our selection and our lock.
    if (request.FieldByName("COMPLETE_FLAG").AsInteger() > 0) {
        if (!FRow.AlreadyDoneText.empty()) throw EEmptyException(std::string(FRow.AlreadyDoneText));
        return;
    }

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
                Logger().Error(Prefix() + "Не наш FSRAR_ID. Пропускаем запрос №" +
                               std::to_string(ctx.RequestId));
            return;  // another instance's document: the request stays open for it
        }
    }
    if (CheckRequest(ctx) != TRequestDecision::Send) return;

    ctx.Document = DocumentFor(ctx);
    TXmlDocument doc = builder.BuildDocumentFromDb(ctx.Document.DocType, ctx.DocId);
    ReleaseHeader(ctx);
    if (!FRow.DebugSwitch.empty() && GetSettingProperty(std::string(FRow.DebugSwitch)) == "1")
        DebugSaveXml(doc, ctx.Document.FileName);
    LogStep(FRow.Log.Built, ctx);
    DocumentBuilt(ctx);

    Post(ctx, doc);
    CloseAsSent(ctx);
}

void TOutgoingRequestJob::Post(TRequestContext& ctx, const TXmlDocument& doc) {
    THttpClient& http = Http();
    std::string answer;
    try {
        answer = http.PostFile(ctx.Document.Url, "xml_file", ctx.Document.FileName, doc.xml(),
                               "application/xml");
    } catch (const EHttpAnswerCut& e) {
        // The UTM said 200 and took the document; only its answer was lost. Posting it
        // again would register it twice, so it is closed as sent without its id.
        if (e.Status() != 200) throw;
        Logger().Error(Prefix() + "Ответ УТМ на отправку получен не полностью: " + e.what());
    }
    if (http.ResponseCode() != 200) throw EEmptyException(std::string(FRow.Not200Text));

    // From here on the document is with the UTM: whatever the answer holds, the request
    // is closed as sent, so that it is never sent twice.
    ctx.Uid = "UID_IS_EMPTY";
    ctx.ResultText = "Документ успешно отправлен на сервер ЕГАИС.";
    try {
        TXmlNode url = LoadXmlFrom(answer).selectSingleNode("//url[1]");
        std::string sent = url ? Trim(url.text()) : "";
        if (sent.empty()) throw EQorJobException(std::string(FRow.UidNotFoundText));
        ctx.Uid = sent;
        try {
            std::string list = http.Get(OutGoingUrl());
            if (http.ResponseCode() != 200)
                throw EEmptyException(std::string(FRow.OptInNot200Text));
            TXmlNode link = LoadXmlFrom(list).selectSingleNode(
                "//url[@replyId = " + XPathLiteral(ctx.Uid) + "][1]");
            if (!link) throw EQorJobException("unable to get link to out document");
            LogStep(FRow.Log.LinkFound, ctx);
            SaveXmlToFs(doc, link.text());
        } catch (const std::exception& e) {
            Logger().Error(Prefix() + "Ссылка исходящего документа не получена: " + e.what());
            ctx.ResultText = "Документ отправлен, ссылка исходящего документиа не получена.";
        }
        ctx.ResultText += " UID=" + ctx.Uid;
    } catch (const std::exception& e) {
        Logger().Error(Prefix() + "UID отправки не получен: " + e.what());
        ctx.ResultText = "Документ отправлен, но UID отправки не получен.";
    }
}

void TOutgoingRequestJob::CloseAsSent(TRequestContext& ctx) {
    const TRequestLog& log = FRow.Log;
    LogStep(log.Sent, ctx);
    LogStep(log.Header, ctx);
    UpdateHeader(*ctx.Request, ctx.DocId, FRow.Sent, TVariant(ctx.Uid));
    LogStep(log.Reply, ctx);
    WriteReply(*ctx.Request,
               {ReplyType(FRow.SentReplyType, ctx), ctx.RequestId, 1, ctx.ResultText});
    LogStep(log.Complete, ctx);
    CompleteRequest(*ctx.Request, ctx.RequestId);
    ctx.Request->Commit();
    LogStep(log.Done, ctx);
}

void TOutgoingRequestJob::RecordFailure(const TRequestContext& ctx, const std::exception& e) {
    TDbTransaction tx;
    UpdateHeader(tx, ctx.DocId, FRow.Failed,
                 FRow.FailedUid ? TVariant(std::string(*FRow.FailedUid)) : TVariant());
    Answer(tx, {ReplyType(FRow.FailedReplyType, ctx), ctx.RequestId, -1, e.what()});
    tx.Commit();
}
