#include "uOutgoingWaybillJobs.h"

#include "uLogger.h"
#include "uUtm.h"

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
    TQueryPtr q3 = GetQueryOrRaise(true, true);
    q3->SetSQL(kPendingWithdrawal);
    q3->SetParam("EGAIS_DOC_ID", TVariant(ctx.DocId));
    q3->SetParam("REQUEST_TYPE", TVariant(kWithdrawal));
    q3->ExecQuery();
    if (q3->Eof()) {
        Logger().Error(Prefix() + "Составляем XML для отправки накладной с ID=" +
                       std::to_string(ctx.DocId) + ". Версия протокола отправки: 4");
        return TRequestDecision::Send;
    }
    int64_t withdrawId = q3->FieldByName("ID").AsInt64();
    Logger().Error(Prefix() + "В очереди запрос на отзыв отправляемой накладной c ID=" +
                   std::to_string(withdrawId) + "!");
    Logger().Error(Prefix() + "Отмечаем оба запроса, как выполненные.");
    WriteReply(*q3, kWithdrawal, withdrawId, 1, "Отправка ТТН блокирована.");
    CompleteRequest(*q3, withdrawId);
    q3->Transaction().Commit();

    Logger().Error(Prefix() + "Отмечаем ТТН " + std::to_string(ctx.DocId) + ", как отозванную.");
    // The header lock is released first: the header is updated through the request's
    // own transaction.
    ctx.Q2->Transaction().Commit();
    ctx.Q2.reset();
    UpdateHeader(*ctx.Q1, ctx.DocId, {7, std::nullopt}, TVariant());
    WriteReply(*ctx.Q1, kSendWaybill, ctx.RequestId, 1,
               "ТТН не отправлена, так, как в очереди есть запрос на ёё отмену.");
    CompleteRequest(*ctx.Q1, ctx.RequestId);
    ctx.Q1->Transaction().Commit();
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
