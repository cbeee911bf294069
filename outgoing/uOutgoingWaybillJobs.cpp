#include "uOutgoingWaybillJobs.h"

#include "uCommon.h"
#include "uHttpClient.h"
#include "uLogger.h"
#include "uUtm.h"
#include "uXml.h"

namespace {

const int kSendWaybill = 6;   // otSendTtn
const int kWithdrawal = 20;

TOutgoingJobRow WaybillRow() {
    TOutgoingJobRow row;
    row.ClassName = "TEgaisOutGoingWayBillJob";
    row.Prefix = "TEgaisOutGoingWayBillJob: ";
    row.RequestTypes = {kSendWaybill};
    row.MultiTypeSelection = false;
    row.DebugSwitch = "OutGoingWayBillDebugSave";
    row.Not200Text = "unable to send request";
    row.OptInNot200Text = "Не могу отправить запрос opt/in";
    row.UidNotFoundText = "Uid не найден в ответе УТМ";
    row.RecheckComplete = true;
    row.AlreadyDoneText = "Запрос на отправку ТТН уже выполнен.";
    row.Sent = {1, std::nullopt};
    row.SentReplyType = kSendWaybill;
    row.Failed = {0, std::nullopt};
    row.FailedUid = std::nullopt;
    row.FailedReplyType = kSendWaybill;
    return row;
}

const char* const kPendingWithdrawal =
    "select ID from s_egais_request where (COALESCE(COMPLETE_FLAG, 0) <> 1) AND "
    "(EGAIS_DOC_ID=:EGAIS_DOC_ID) and (REQUEST_TYPE = :REQUEST_TYPE) ORDER BY LAST_MODIFIED, ID";

}  // namespace

TEgaisOutGoingWayBillJob::TEgaisOutGoingWayBillJob() : TOutgoingRequestJob(WaybillRow()) {}

TRequestDecision TEgaisOutGoingWayBillJob::CheckRequest(TRequestContext& ctx) {
    TDbTransaction q3;
    const TVariant pending =
        q3.Value(kPendingWithdrawal, {{"EGAIS_DOC_ID", ctx.DocId}, {"REQUEST_TYPE", kWithdrawal}});
    if (pending.IsNull()) {
        Logger().Error(Prefix() + "Составляем XML для отправки накладной с ID=" +
                       std::to_string(ctx.DocId) + ". Версия протокола отправки: 4");
        return TRequestDecision::Send;
    }
    const int64_t withdrawId = pending.AsInt64();
    Logger().Error(Prefix() + "В очереди запрос на отзыв отправляемой накладной c ID=" +
                   std::to_string(withdrawId) + "!");
    Logger().Error(Prefix() + "Отмечаем оба запроса, как выполненные.");
    WriteReply(q3, {kWithdrawal, withdrawId, 1, "Отправка ТТН блокирована."});
    CompleteRequest(q3, withdrawId);
    q3.Commit();

    Logger().Error(Prefix() + "Отмечаем ТТН " + std::to_string(ctx.DocId) + ", как отозванную.");
    // The header lock is released first: the header is updated through the request's
    // own transaction.
    ReleaseHeader(ctx);
    UpdateHeader(*ctx.Request, ctx.DocId, {7, std::nullopt}, TVariant());
    WriteReply(*ctx.Request, {kSendWaybill, ctx.RequestId, 1,
                              "ТТН не отправлена, так, как в очереди есть запрос на ёё отмену."});
    CompleteRequest(*ctx.Request, ctx.RequestId);
    ctx.Request->Commit();
    Logger().Error(Prefix() + "Переходим к следующей ТТН.");
    return TRequestDecision::Closed;
}

TOutgoingDocument TEgaisOutGoingWayBillJob::DocumentFor(const TRequestContext&) {
    return {dtOutgoingWayBillV4, OutGoingDocsUrlEx("Waybill_v4"), "Waybill_v4"};
}

void TEgaisOutGoingWayBillJob::DocumentBuilt(const TRequestContext& ctx) {
    Logger().Error(Prefix() + "XML для накладной с ID=" + std::to_string(ctx.DocId) +
                   " подготовлен к отправке.");
}

namespace {

const int kSendAct = 8;      // otSendAct
const int kConfirmAct = 10;  // otConfirmAct
const int kRejectAct = 11;   // otRejectAct
const int kSuccess = 255;    // ssSUCCESS

TOutgoingJobRow WithdrawalRow() {
    TOutgoingJobRow row;
    row.ClassName = "TWithdrawSendedWaybillJob";
    row.Prefix = "TWithdrawSenderWaybillJob: ";
    row.RequestTypes = {kWithdrawal};
    row.MultiTypeSelection = false;
    row.DebugSwitch = "OutGoingActsDebugSave";
    row.Not200Text = "unable to send request";
    row.OptInNot200Text = "unable to send request";
    row.UidNotFoundText = "Uid не найден в ответе УТМ.";
    row.RecheckComplete = true;
    row.AlreadyDoneText = "Запрос на отзыв ТТН уже выполнен.";
    row.Sent = {6, kSuccess};
    row.SentReplyType = kSendAct;
    row.Failed = {1, std::nullopt};
    row.FailedUid = std::nullopt;
    row.FailedReplyType = kWithdrawal;
    row.LogNotOurs = true;
    return row;
}

TOutgoingJobRow TicketRow() {
    TOutgoingJobRow row;
    row.ClassName = "TOutgoingTTNTicketJob";
    row.Prefix = "TOutgoingTTNTicketJob: ";
    row.RequestTypes = {kConfirmAct, kRejectAct};
    row.MultiTypeSelection = true;
    row.Not200Text = "unable to send request";
    row.OptInNot200Text = "unable to send request";
    row.UidNotFoundText = "Uid не найден в ответе УТМ.";
    row.RecheckComplete = false;
    row.Sent = {3, kSuccess};
    row.SentReplyType = -1;
    row.Failed = {1, std::nullopt};
    row.FailedUid = std::nullopt;
    row.FailedReplyType = kSendAct;
    return row;
}

const char* const kHistoryUrls =
    "//url[contains(translate(text(), 'ttnhistoryf2reg', 'TTNHISTORYF2REG'), "
    "'TTNHISTORYF2REG/')]";

// The certificates of waybill lines that lack their bottling data and were not queried
// today. The filters come before FIRST 50, so that fifty certificates EGAIS never
// answers do not keep all the others from being queried.
const char* const kInformsToQuery =
    "select first 50 t1.* from ( \r\n"
    "select inf.*, (select first 1 egais_doc_head_id from rg_egais_doc_table where "
    "inform1_id=inf.id) as egais_doc_id, \r\n"
    "(select max(last_modified) from s_egais_request where request_type=13 and "
    "request_data=inf.inform_reg_id) as LastRequestTime \r\n"
    "from s_egais_informs as inf \r\n"
    "where \r\n"
    "  (inform_reg_id is not null) and \r\n"
    "  (BOTTLING_DATE IS NULL) AND (EGAIS_FIX_NUM IS NULL) and \r\n"
    "  (inform_type='A') \r\n"
    ") as t1 \r\n"
    "where (egais_doc_id is NOT NULL) and ((LastRequestTime IS NULL) or (LastRequestTime < "
    "TIMESTAMP 'TODAY')) \r\n"
    "order by t1.ID";

const char* const kQueueFormAQuery =
    "insert into s_egais_request \r\n"
    " (REQUEST_DATA, COMPLETE_FLAG, REQUEST_TYPE, EGAIS_DOC_ID) \r\n"
    " VALUES( :INFORM_REG_ID, 0, 13, (select first 1 egais_doc_head_id from rg_egais_doc_table "
    "where inform1_id=:INFORM_ID) )\r\n"
    " RETURNING ID";


}  // namespace

// ---- withdrawal

TWithdrawSendedWaybillJob::TWithdrawSendedWaybillJob() : TOutgoingRequestJob(WithdrawalRow()) {}

int TWithdrawSendedWaybillJob::WithdrawalVersion(const std::optional<std::string>& sDefault,
                                                 const TVariant& DocVersion) {
    if (sDefault == "2") return 2;
    return !DocVersion.IsNull() && DocVersion.AsInteger() > 1 ? 2 : 1;
}

void TWithdrawSendedWaybillJob::DoJob() {
    Logger().Debug("TWithdrawSendedWaybillJob.DoJob ->");
    ServeQueue();
    CollectHistories();
    Logger().Debug("TWithdrawSendedWaybillJob.DoJob <-");
}

void TWithdrawSendedWaybillJob::RequestStarted(TRequestContext& ctx) {
    Logger().Error(Prefix() + "Запрос ID=" + std::to_string(ctx.RequestId));
    FVersion =
        WithdrawalVersion(GetSettingProperty("DefaultProtocolVersion"), ctx.DocProtocolVersion);
}

TRequestDecision TWithdrawSendedWaybillJob::CheckHeader(TRequestContext& ctx) {
    const std::string sRequestId = std::to_string(ctx.RequestId);
    Logger().Error(Prefix() + "Запрос №" + sRequestId + " на отзыв накладной с ID " +
                   std::to_string(ctx.DocId));
    if (ctx.HeadRow->Eof()) {
        Logger().Error(Prefix() + "Не найден документ для запроса №" + sRequestId);
        return TRequestDecision::Skip;
    }
    if (ctx.HeadRow->FieldByName("STATUS").IsNull()) {
        const std::string sText = "Статус документа не позволяет отзывать его.";
        Refuse(ctx, kWithdrawal, sText);
        Logger().Error(Prefix() + sText);
        return TRequestDecision::Closed;
    }
    return TRequestDecision::Send;
}

TRequestDecision TWithdrawSendedWaybillJob::CheckRequest(TRequestContext& ctx) {
    if (ctx.HeadRow->FieldByName("WB_REG_ID").IsNull()) {
        // EGAIS has not registered the waybill (yet): asked again on every run.
        Logger().Error(Prefix() + "Нет идентификатора ЕГАИС. Пропускаем запрос №" +
                       std::to_string(ctx.RequestId));
        return TRequestDecision::Skip;
    }
    return TRequestDecision::Send;
}

TOutgoingDocument TWithdrawSendedWaybillJob::DocumentFor(const TRequestContext&) {
    if (FVersion == 2)
        return {dtReceptionActV2, OutGoingDocsUrl(true) + "_v2", "WayBillAct_v2.xml"};
    return {dtReceptionAct, OutGoingDocsUrl(true), "WayBillAct.xml"};
}

void TWithdrawSendedWaybillJob::DocumentBuilt(const TRequestContext& ctx) {
    Logger().Error(Prefix() + "Отправляем XML для документа с ID=" + std::to_string(ctx.DocId));
}

void TWithdrawSendedWaybillJob::CollectHistories() {
    CheckForAbort();
    std::shared_ptr<TUTMBuffer> utm = UTMBuffer();
    if (utm->LastNewsMoment() <= dtUtmNewsMoment) {
        Logger().Error("TWithdrawSendedWaybillJob: Нет новых документов. Завершаем работу.");
        return;
    }
    IBuffer buffer = NewBuffer();
    if (utm->ReadIncomingDocs(buffer) != 200)
        throw EQorJobException("Не удалось прочитать входящие документы УТМ");
    dtUtmNewsMoment = utm->LastNewsMoment();

    TXmlNodeList urls = LoadXmlFrom(buffer->Data()).selectNodes(kHistoryUrls);
    for (const TXmlNode& url : urls) {
        CheckForAbort();
        const std::string address = url.text();
        try {
            if (UrlMarkedForDelete(address)) continue;
            Logger().Error("TWithdrawSendedWaybillJob: загружаем " + address);
            std::string body = Http().Get(address);
            if (Http().ResponseCode() != 200) continue;  // left in the UTM for a later run
            SaveXmlToFs(LoadXmlFrom(body), address);
            MarkForDelete(address);
        } catch (const EQorJobAbort&) {
            throw;
        } catch (const EQorJobException& e) {
            Logger().Debug(ClassName(), e);
        } catch (const EHttpProtocolException& e) {
            // An error status leaves this one document in the UTM; the others follow.
            Logger().Debug(ClassName(), e);
        } catch (const EXmlException& e) {
            // A document that cannot be read must not keep the ones after it from
            // being archived.
            Logger().Debug(ClassName(), e);
        }
    }
}

// ---- confirmation of a partner's act

TOutgoingTTNTicketJob::TOutgoingTTNTicketJob() : TOutgoingRequestJob(TicketRow()) {}

TOutgoingDocument TOutgoingTTNTicketJob::DocumentFor(const TRequestContext& ctx) {
    return {ctx.RequestType == kRejectAct ? dtRejectAct : dtConfirmAct,
            OutGoingDocsUrlEx("WayBillTicket"), "TTNConfirmTicket"};
}

void TOutgoingTTNTicketJob::CloseAsSent(TRequestContext& ctx, const std::string& uid,
                                        const std::string& resultText) {
    const std::string sRequestId = std::to_string(ctx.RequestId);
    Logger().Error(Prefix() + "Обновляем статус документа с ID=" + std::to_string(ctx.DocId));
    UpdateHeader(*ctx.Request, ctx.DocId, Row().Sent, TVariant(uid));
    Logger().Error(Prefix() + "Сохраняем ответ на запрос с ID=" + sRequestId);
    WriteReply(*ctx.Request, {ctx.RequestType, ctx.RequestId, 1, resultText});
    Logger().Error(Prefix() + "Отмечаем запрос ID=" + sRequestId + ", как выполненный.");
    CompleteRequest(*ctx.Request, ctx.RequestId);
    ctx.Request->Commit();
}

// ---- Form A queries

void TInformAUpdateJob::DoJob() {
    Logger().Debug("TInformAUpdateJob.DoJob ->");
    CheckForAbort();
    TQueryPtr informs = NewQuery(TTxMode::Long);
    informs->SetSQL(kInformsToQuery);
    informs->ExecQuery();
    for (; !informs->Eof(); informs->Next()) {
        CheckForAbort();
        const std::string sId = informs->FieldByName("ID").AsString();
        const std::string sRegId = Trim(informs->FieldByName("INFORM_REG_ID").AsString());
        if (sRegId.empty()) {
            Logger().Error("TInformAUpdateJob: У справки с ID=" + sId +
                           " отсутствует идентификатор ЕГАИС. Пропускаем.");
            continue;
        }
        if (informs->FieldByName("EGAIS_DOC_ID").IsNull()) continue;
        Logger().Error("TInformAUpdateJob: Формируем запрос для справки с ID=" + sId +
                       " и идентификатором ЕГАИС=" + sRegId);
        TQueryPtr insert = NewQuery(TTxMode::Long);
        insert->SetSQL(kQueueFormAQuery);
        insert->SetParam("INFORM_REG_ID", TVariant(sRegId));
        insert->SetParam("INFORM_ID", informs->FieldByName("ID"));
        insert->ExecQuery();
        const std::string sRequestId = insert->FieldByName("ID").AsString();
        insert->Transaction().Commit();
        Logger().Error("TInformAUpdateJob: ID созданного запроса " + sRequestId);
    }
    Logger().Debug("TInformAUpdateJob.DoJob <-");
}
