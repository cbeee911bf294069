#include "uOutgoingTTNTicketJob.h"

#include "uUtm.h"

namespace {

constexpr TOutgoingJobRow kTicketRow{
    .ClassName = "TOutgoingTTNTicketJob",
    .RequestTypes = {otConfirmAct, otRejectAct},
    .Sent = {.Status = 3, .QorState = ssSUCCESS},
    .Failed = {.Status = 1},
    .FailedReplyType = otSendAct,
    .Log = {.Header = "Обновляем статус документа с ID={doc}",
            .Reply = "Сохраняем ответ на запрос с ID={request}",
            .Complete = "Отмечаем запрос ID={request}, как выполненный."},
};

}  // namespace

TOutgoingTTNTicketJob::TOutgoingTTNTicketJob() : TOutgoingRequestJob(kTicketRow) {}

TOutgoingDocument TOutgoingTTNTicketJob::DocumentFor(const TRequestContext& ctx) {
    return {ctx.RequestType == otRejectAct ? dtRejectAct : dtConfirmAct,
            OutGoingDocsUrlEx("WayBillTicket"), "TTNConfirmTicket"};
}
