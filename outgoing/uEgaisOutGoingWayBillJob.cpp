#include "uEgaisOutGoingWayBillJob.h"

#include "uLogger.h"
#include "uUtm.h"

namespace {

constexpr TOutgoingJobRow kWaybillRow{
    .ClassName = "TEgaisOutGoingWayBillJob",
    .RequestTypes = {otSendTtn},
    .DebugSwitch = "OutGoingWayBillDebugSave",
    .OptInNot200Text = "Не могу отправить запрос opt/in",
    .UidNotFoundText = "Uid не найден в ответе УТМ",
    .AlreadyDoneText = "Запрос на отправку ТТН уже выполнен.",
    .Sent = {.Status = 1},
    .Failed = {.Status = 0},
    .Log = {.Built = "XML для накладной с ID={doc} подготовлен к отправке."},
};

const char* const kPendingWithdrawal =
    "select ID from s_egais_request where (COALESCE(COMPLETE_FLAG, 0) <> 1) AND "
    "(EGAIS_DOC_ID=:EGAIS_DOC_ID) and (REQUEST_TYPE = :REQUEST_TYPE) ORDER BY LAST_MODIFIED, ID";

}  // namespace

TEgaisOutGoingWayBillJob::TEgaisOutGoingWayBillJob() : TOutgoingRequestJob(kWaybillRow) {}

TRequestDecision TEgaisOutGoingWayBillJob::CheckRequest(TRequestContext& ctx) {
    TDbTransaction withdrawal;
    const TVariant pending = withdrawal.Value(
        kPendingWithdrawal, {{"EGAIS_DOC_ID", ctx.DocId}, {"REQUEST_TYPE", otWithdrawTtn}});
    if (pending.IsNull()) {
        Logger().Error(Prefix() + "Составляем XML для отправки накладной с ID=" +
                       std::to_string(ctx.DocId) + ". Версия протокола отправки: 4");
        return TRequestDecision::Send;
    }
    const int64_t withdrawId = pending.AsInt64();
    Logger().Error(Prefix() + "В очереди запрос на отзыв отправляемой накладной c ID=" +
                   std::to_string(withdrawId) + "!");
    Logger().Error(Prefix() + "Отмечаем оба запроса, как выполненные.");
    Answer(withdrawal, {otWithdrawTtn, withdrawId, 1, "Отправка ТТН блокирована."});
    withdrawal.Commit();

    Logger().Error(Prefix() + "Отмечаем ТТН " + std::to_string(ctx.DocId) + ", как отозванную.");
    Refuse(ctx, otSendTtn, "ТТН не отправлена, так, как в очереди есть запрос на ёё отмену.",
           THeaderState{.Status = 7});
    Logger().Error(Prefix() + "Переходим к следующей ТТН.");
    return TRequestDecision::Closed;
}

TOutgoingDocument TEgaisOutGoingWayBillJob::DocumentFor(const TRequestContext&) {
    return {dtOutgoingWayBillV4, OutGoingDocsUrlEx("Waybill_v4"), "Waybill_v4"};
}
