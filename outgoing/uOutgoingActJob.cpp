#include "uOutgoingActJob.h"

#include <algorithm>

#include "uCommon.h"
#include "uLogger.h"
#include "uUtm.h"

namespace {

const int kSendAct = 8;     // otSendAct
const int kGetTicket = 16;  // otGetTicket: a failed act is answered as its ticket would be
const int kSuccess = 255;   // ssSUCCESS

TOutgoingJobRow ActRow() {
    TOutgoingJobRow row;
    row.ClassName = "TEgaisOutgoingActJob";
    row.Prefix = "TEgaisOutgoingActJob: ";
    row.RequestTypes = {kSendAct};
    row.MultiTypeSelection = false;
    row.DebugSwitch = "OutGoingActsDebugSave";
    row.Not200Text = "unable to send request";
    row.OptInNot200Text = "unable to send request";
    row.UidNotFoundText = "Uid не найден в ответе УТМ.";
    row.RecheckComplete = false;
    row.Sent = {std::nullopt, kSuccess};
    row.SentReplyType = kSendAct;
    row.Failed = {1, kSuccess};
    row.FailedUid = std::string();
    row.FailedReplyType = kGetTicket;
    row.LinkFoundText = "XML запрос успешно отправлен.";
    return row;
}

struct TActVersion {
    TDocType DocType;
    const char* FileName;
};
const TActVersion kVersions[] = {
    {dtReceptionAct, "WayBillAct.xml"},
    {dtReceptionActV2, "WayBillAct_v2.xml"},
    {dtReceptionActV3, "WayBillAct_v3.xml"},
    {dtReceptionActV4, "WayBillAct_v4.xml"},
};

int DefaultVersion(const std::optional<std::string>& sDefault) {
    return sDefault == "2" ? 2 : sDefault == "3" ? 3 : 1;
}

int DocumentVersion(const TVariant& DocVersion) {
    return DocVersion.IsNull() ? 1 : DocVersion.AsInteger();
}

}  // namespace

TEgaisOutgoingActJob::TEgaisOutgoingActJob() : TOutgoingRequestJob(ActRow()) {}

int TEgaisOutgoingActJob::ActVersion(const std::optional<std::string>& sDefault,
                                     const TVariant& DocVersion) {
    return std::max(DefaultVersion(sDefault), DocumentVersion(DocVersion));
}

void TEgaisOutgoingActJob::RequestStarted(TRequestContext& ctx) {
    const std::string sId = std::to_string(ctx.RequestId);
    Logger().Error(Prefix() + "Запрос №" + sId);
    const auto sDefault = GetSettingProperty("DefaultProtocolVersion");
    Logger().Error(Prefix() + "версия протокола по умолчанию " +
                   std::to_string(DefaultVersion(sDefault)));
    Logger().Error(Prefix() + "версия протокола документа " +
                   std::to_string(DocumentVersion(ctx.DocProtocolVersion)));
    FVersion = ActVersion(sDefault, ctx.DocProtocolVersion);
}

TOutgoingDocument TEgaisOutgoingActJob::DocumentFor(const TRequestContext& ctx) {
    Logger().Error(Prefix() + "Подготовим XML для отправки по запросу №" +
                   std::to_string(ctx.RequestId));
    // A version no act format has would otherwise be retried for ever.
    if (FVersion < 1 || FVersion > 4)
        throw EDocumentBuilderException("Неизвестная версия протокола документа: " +
                                        std::to_string(FVersion));
    Logger().Error(Prefix() + "формируем WayBillAct версии " + std::to_string(FVersion));
    FUrl = OutGoingDocsUrl(true);
    if (FVersion > 1) FUrl += "_v" + std::to_string(FVersion);
    const TActVersion& v = kVersions[FVersion - 1];
    return {v.DocType, FUrl, v.FileName};
}

void TEgaisOutgoingActJob::DocumentBuilt(const TRequestContext&) {
    Logger().Error(Prefix() + "XML запрос сформирован...");
    if (FVersion > 1)
        Logger().Error(Prefix() + "Отправляем акт V" + std::to_string(FVersion) + " в УТМ.");
    else
        Logger().Error(Prefix() + "Отправляем акт в УТМ.");
    Logger().Error(Prefix() + "URL отправки " + FUrl);
}

void TEgaisOutgoingActJob::CloseAsSent(TRequestContext& ctx, const std::string& uid,
                                       const std::string& resultText) {
    const std::string sId = std::to_string(ctx.RequestId);
    Logger().Error(Prefix() + "XML запроса №" + sId + " успешно отправлен.");
    Logger().Error(Prefix() + "Запомним UID запроса №" + sId + ": " + uid + ".");
    UpdateHeader(*ctx.Request, ctx.DocId, Row().Sent, TVariant(uid));
    Logger().Error(Prefix() + "Добавим ответ на запроса №" + sId + ".");
    WriteReply(*ctx.Request, {kSendAct, ctx.RequestId, 1, resultText});
    Logger().Error(Prefix() + "Отметим запрос №" + sId + " как выполненный.");
    CompleteRequest(*ctx.Request, ctx.RequestId);
    ctx.Request->Commit();
    Logger().Error(Prefix() + "Обработка запроса №" + sId + " успешно завершена.");
}
