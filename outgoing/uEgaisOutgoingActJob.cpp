#include "uEgaisOutgoingActJob.h"

#include <algorithm>

#include "uCommon.h"
#include "uLogger.h"

namespace {

// A failed act is answered as its ticket would be.
constexpr TOutgoingJobRow kActRow{
    .ClassName = "TEgaisOutgoingActJob",
    .RequestTypes = {otSendAct},
    .DebugSwitch = "OutGoingActsDebugSave",
    .Sent = {.QorState = ssSUCCESS},
    .Failed = {.Status = 1, .QorState = ssSUCCESS},
    .FailedUid = "",
    .FailedReplyType = otGetTicket,
    .Log = {.Started = "Запрос №{request}",
            .Built = "XML запрос сформирован...",
            .LinkFound = "XML запрос успешно отправлен.",
            .Sent = "XML запроса №{request} успешно отправлен.",
            .Header = "Запомним UID запроса №{request}: {uid}.",
            .Reply = "Добавим ответ на запроса №{request}.",
            .Complete = "Отметим запрос №{request} как выполненный.",
            .Done = "Обработка запроса №{request} успешно завершена."},
};

int DefaultVersion(const std::optional<std::string>& sDefault) {
    return sDefault == "2" ? 2 : sDefault == "3" ? 3 : 1;
}

int DocumentVersion(const TVariant& DocVersion) {
    return DocVersion.IsNull() ? 1 : DocVersion.AsInteger();
}

}  // namespace

TEgaisOutgoingActJob::TEgaisOutgoingActJob() : TOutgoingRequestJob(kActRow) {}

int TEgaisOutgoingActJob::ActVersion(const std::optional<std::string>& sDefault,
                                     const TVariant& DocVersion) {
    return std::max(DefaultVersion(sDefault), DocumentVersion(DocVersion));
}

void TEgaisOutgoingActJob::RequestStarted(TRequestContext& ctx) {
    const auto sDefault = GetSettingProperty("DefaultProtocolVersion");
    Logger().Error(Prefix() + "версия протокола по умолчанию " +
                   std::to_string(DefaultVersion(sDefault)));
    Logger().Error(Prefix() + "версия протокола документа " +
                   std::to_string(DocumentVersion(ctx.DocProtocolVersion)));
    ctx.Version = ActVersion(sDefault, ctx.DocProtocolVersion);
}

TOutgoingDocument TEgaisOutgoingActJob::DocumentFor(const TRequestContext& ctx) {
    Logger().Error(Prefix() + "Подготовим XML для отправки по запросу №" +
                   std::to_string(ctx.RequestId));
    // A version no act format has would otherwise be retried for ever.
    if (ctx.Version < 1 || ctx.Version > 4)
        throw EDocumentBuilderException("Неизвестная версия протокола документа: " +
                                        std::to_string(ctx.Version));
    Logger().Error(Prefix() + "формируем WayBillAct версии " + std::to_string(ctx.Version));
    return ReceptionActDocument(ctx.Version);
}

void TEgaisOutgoingActJob::DocumentBuilt(const TRequestContext& ctx) {
    if (ctx.Version > 1)
        Logger().Error(Prefix() + "Отправляем акт V" + std::to_string(ctx.Version) + " в УТМ.");
    else
        Logger().Error(Prefix() + "Отправляем акт в УТМ.");
    Logger().Error(Prefix() + "URL отправки " + ctx.Document.Url);
}
