#include "uWithdrawSendedWaybillJob.h"

#include "uCommon.h"
#include "uHttpClient.h"
#include "uIncomingReader.h"
#include "uLogger.h"
#include "uTtnHistoryReader.h"
#include "uUtm.h"
#include "uXml.h"

namespace {

constexpr TOutgoingJobRow kWithdrawalRow{
    .ClassName = "TWithdrawSendedWaybillJob",
    .Prefix = "TWithdrawSenderWaybillJob: ",
    .RequestTypes = {otWithdrawTtn},
    .DebugSwitch = "OutGoingActsDebugSave",
    .AlreadyDoneText = "Запрос на отзыв ТТН уже выполнен.",
    .Sent = {.Status = 6, .QorState = ssSUCCESS},
    .SentReplyType = otSendAct,
    .Failed = {.Status = 1},
    .LogNotOurs = true,
    .Log = {.Started = "Запрос ID={request}", .Built = "Отправляем XML для документа с ID={doc}"},
};

}  // namespace

TWithdrawSendedWaybillJob::TWithdrawSendedWaybillJob() : TOutgoingRequestJob(kWithdrawalRow) {}

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
    ctx.Version =
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
        Refuse(ctx, otWithdrawTtn, sText);
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

TOutgoingDocument TWithdrawSendedWaybillJob::DocumentFor(const TRequestContext& ctx) {
    return ReceptionActDocument(ctx.Version);
}

void TWithdrawSendedWaybillJob::CollectHistories() {
    CheckForAbort();
    // Logged at error level, as the job's other lines, and not by the list itself.
    const std::optional<TIncomingList> list =
        TIncomingList::News(dtUtmNewsMoment, {"", "Не удалось прочитать входящие документы УТМ"});
    if (!list) {
        Logger().Error("TWithdrawSendedWaybillJob: Нет новых документов. Завершаем работу.");
        return;
    }
    TTtnHistoryReader(*this).ReadFrom(*list);
}
