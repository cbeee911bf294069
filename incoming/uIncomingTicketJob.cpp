#include "uIncomingTicketJob.h"

#include <algorithm>

#include "uCommon.h"
#include "uDbProvider.h"
#include "uHttpClient.h"
#include "uText.h"
#include "uLogger.h"
#include "uRequestStore.h"
#include "uUtm.h"
#include "uXml.h"


namespace {

constexpr const char* kLog = "TEgaisIncomingTicketJob: ";
const std::string Q = "\"";

constexpr const char* kSentDocsSql =
    "SELECT \r\n  h.* \r\nFROM RG_EGAIS_DOC_HEAD h \r\nWHERE h.URL_REPLY_ID IS NOT NULL \r\nORDER "
    "BY h.ID DESC";
constexpr const char* kSelectWithReplyId =
    "//url[@replyId and contains(translate(text(), 'Ticket', 'TICKET'), 'TICKET/')]";
constexpr const char* kSelectCounterpartTickets =
    "//url[contains(translate(text(), 'WayBillTicket', 'WAYBILLTICKET'), 'WAYBILLTICKET/')]";

constexpr const char* kFindRequestByRegIdSql =
    "select first 1 id \r\nfrom s_egais_request \r\n    where egais_doc_id = ( \r\n      select "
    "first 1 id from rg_egais_doc_head \r\n      where UTM_DOC_TYPE = :UTM_DOC_TYPE and WB_REG_ID "
    "= :WB_REG_ID)";
constexpr const char* kActByReplyIdSql = "select ID from RG_EGAIS_DOC_HEAD where URL_REPLY_ID=:UID";
constexpr const char* kActStateSql = "select UTM_DOC_TYPE, STATUS from RG_EGAIS_DOC_HEAD where ID=:ID";
constexpr const char* kActRequestSql =
    "select first 1 id \r\nfrom s_egais_request \r\nwhere egais_doc_id = :DOC_ID \r\n  and "
    "request_type=:REQUEST_TYPE \r\norder by id desc";
constexpr const char* kLostReplyIdSql =
    "select * from RG_EGAIS_DOC_HEAD  where (WB_REG_ID=:WB_REG_ID) and (URL_REPLY_ID is NULL)    "
    "and (UTM_DOC_TYPE IN (0,1,2,3))";
constexpr const char* kMatchedReplySql =
    "UPDATE OR INSERT INTO S_EGAIS_REPLY( \r\n    REPLY_TYPE, \r\n    REQUEST_ID, \r\n    "
    "RESULT_CODE, \r\n    ERROR_DESCRIPTION \r\n) \r\nVALUES( \r\n    :REPLY_TYPE, \r\n    "
    "COALESCE((SELECT MAX(ID) FROM S_EGAIS_REQUEST WHERE EGAIS_DOC_ID = :ID),0), \r\n    "
    ":RESULT_CODE, \r\n    :ERROR_DESCRIPTION \r\n) \r\nMATCHING (REPLY_TYPE, REQUEST_ID) ";

bool OneOf(const std::string& s, std::initializer_list<const char*> list) {
    return std::any_of(list.begin(), list.end(), [&](const char* x) { return s == x; });
}

bool IsWaybillType(const std::string& s) { return OneOf(s, {"WAYBILL", "WAYBILL_V2", "WAYBILL_V3"}); }
bool IsWaybillActType(const std::string& s) {
    return OneOf(s, {"WAYBILLACT", "WAYBILLACT_V2", "WAYBILLACT_V3", "WAYBILLACT_V4"});
}

bool IgnoreDoubleSend() { return GetSettingProperty("IgnoreDoubleSendTicket").value_or("") == "1"; }

// F1: a long comment keeps its beginning and its end.
std::string Shorten(const std::string& s) { return Utf8HeadAndTail(s, 256); }

int IntOrDefault(const TVariant& v, int iDefault) {
    try {
        return VarToIntDef(v, iDefault);
    } catch (const std::exception&) {
        return iDefault;
    }
}

// A registration number goes to the header only when it is known: an empty one would
// wipe the number the header already holds.
TVariant RegIdOrNull(const std::string& s) { return s.empty() ? TVariant::Null() : TVariant(s); }

}  // namespace

// The values of the ticket being processed.
struct TTicketState {
    TXmlDocument Xml;
    std::string Url;
    std::string Uid;
    int IX = -1;
    std::string XmlDocType, sActRegID, sXmlOperationName, sXmlOperationResult,
        sXmlOperationComment, Comments, ResultString, sActDescription;
    int64_t iDocID = -1;
    int iDocType = 0;
    int iRequestType = 0;
    int64_t iRequestID = 0;
    int Result = 0;

    TXmlNode Node(const std::string& sXPath) const { return Xml.selectSingleNode(sXPath); }
    std::string Trimmed(const std::string& sXPath) const {
        TXmlNode n = Node(sXPath);
        return n ? Trim(n.text()) : std::string();
    }
};

namespace {

// F2: the request that sent the document of this registration number and kind.
int64_t FindRequestByRegId(TDbTransaction& tx, const std::string& sRegId, int iDocType) {
    TQuery& q = tx.Run(kFindRequestByRegIdSql, {{"UTM_DOC_TYPE", iDocType}, {"WB_REG_ID", sRegId}});
    int64_t id = q.Eof() || q.FieldByName("id").IsNull() ? 0 : q.FieldByName("id").AsInt64();
    q.Close();
    return id;
}

// F3: the final reply to the sending request.
void WriteTicketReply(TDbTransaction& tx, const TTicketState& t) {
    if (t.iRequestID < 1) {
        Logger().Error(std::string(kLog) +
                       "запрос отправки документа, на который пришла квитанция (" + t.Url +
                       ") не найден.");
        return;
    }
    WriteReply(tx, {16, t.iRequestID, t.Result, t.Comments});
}

void UpdateByRegId(TDbTransaction& tx, int status, int iDocType,
                   const std::string& sRegId) {
    TDocHeadUpdate u;
    u.Status = status;
    u.FindRegId = sRegId;
    u.FindDocTypes = iDocType;
    UpdateDocHead(tx, u);
}

}  // namespace

int TEgaisIncomingTicketJob::UidIndex(const std::vector<TVariousFieldItem>& Uids,
                                      const std::string& sUID) {
    if (sUID.empty()) return -1;
    for (size_t i = 0; i < Uids.size(); ++i)
        if (Uids[i].StringValue == sUID) return static_cast<int>(i);
    return -1;
}

int64_t TEgaisIncomingTicketJob::UrlID(const std::string& sURL) {
    std::string s = Trim(sURL);
    const size_t slash = s.rfind('/');
    if (slash != std::string::npos) s = s.substr(slash + 1);
    int64_t v = -1;
    return TryStrToInt64(s, v) ? v : -1;
}

int TEgaisIncomingTicketJob::UrlCompare(const TVariousFieldItem& Item1,
                                        const TVariousFieldItem& Item2) {
    return Item1.Id < Item2.Id ? -1 : Item1.Id > Item2.Id ? 1 : 0;
}

void TEgaisIncomingTicketJob::DoJob() {
    Logger().Debug("TEgaisIncomingTicketJob.DoJob ->");
    CheckForAbort();
    std::vector<TVariousFieldItem> Uids;
    {
        TQueryPtr q = NewQuery(TTxMode::Short);
        q->SetSQL(kSentDocsSql);
        for (q->ExecQuery(); !q->Eof(); q->Next()) {
            const TVariant id = q->FieldByName("ID");
            if (id.IsNull()) throw EQorJobException("Internal error");
            TVariousFieldItem item;
            item.Id = id.AsInt64();
            item.IntValue = IntOrDefault(q->FieldByName("STATUS"), -1);
            item.IntValue1 = IntOrDefault(q->FieldByName("UTM_DOC_TYPE"), -1);
            item.StringValue = q->FieldByName("URL_REPLY_ID").AsString();
            Uids.push_back(std::move(item));
        }
    }
    std::shared_ptr<TUTMBuffer> utm = UTMBuffer();
    if (!(utm->LastNewsMoment() > dtUtmNewsMoment)) {
        Logger().Debug("TEgaisIncomingTicketJob.DoJob: Нет новых документов. Завершаем работу.");
        return;
    }
    IBuffer buffer = NewBuffer();
    if (utm->ReadIncomingDocs(buffer) != 200)
        throw EQorJobException("Не удалось прочитать список входящих документов.");
    dtUtmNewsMoment = utm->LastNewsMoment();
    TXmlDocument list = LoadXmlFrom(buffer->Data());

    TXmlNodeList nodes = list.selectNodes(kSelectWithReplyId);
    if (nodes.length() == 0) nodes = list.selectNodes(kSelectCounterpartTickets);
    std::vector<TVariousFieldItem> UrlList;
    for (int i = 0; i < nodes.length(); ++i) {
        TVariousFieldItem item;
        item.Id = UrlID(nodes.item(i).text());
        item.IntValue = i;
        item.IntValue1 = -1;
        item.StringValue = nodes.item(i).text();
        UrlList.push_back(std::move(item));
    }
    std::stable_sort(UrlList.begin(), UrlList.end(),
                     [](const auto& a, const auto& b) { return UrlCompare(a, b) < 0; });
    for (const TVariousFieldItem& item : UrlList) {
        try {
            LoadTicket(nodes.item(item.IntValue), Uids);
        } catch (const EQorJobException& e) {
            Logger().Debug("TEgaisIncomingTicketJob", e);
        }
    }
    Logger().Debug("TEgaisIncomingTicketJob.DoJob <-");
}

void TEgaisIncomingTicketJob::ArchiveAndDelete(TTicketState& t) {
    SaveXmlToFs(t.Xml, t.Url);
    MarkForDelete(t.Url);
}

void TEgaisIncomingTicketJob::LoadTicket(const TXmlNode& node,
                                         const std::vector<TVariousFieldItem>& Uids) {
    TTicketState t;
    if (!node) {
        Logger().Debug(std::string(kLog) + "не удалось получить URL для загрузки квитанции.");
        return;
    }
    t.Uid = node.getAttribute("replyId").value_or("");
    t.IX = UidIndex(Uids, t.Uid);
    t.Url = node.text();
    if (UrlMarkedForDelete(t.Url)) {
        Logger().Debug(kLog + t.Url + " в очереди на удаление. Пропускаем.");
        return;
    }
    Logger().Debug(kLog + std::string("Загружаем ") + t.Url + "...");
    std::string body;
    try {
        body = FHttp->Get(t.Url);
    } catch (const EHttpProtocolException&) {
        Logger().Debug(kLog + std::string("не удалось загрузить квитанцию ") + t.Url);
        return;
    }
    t.Xml = LoadXmlFrom(body);

    if (t.Node("//tc:DocType[1]")) {
        t.XmlDocType = UpperAscii(t.Trimmed("//tc:DocType[1]"));
    } else if (t.Node("//wt:IsConfirm[1]")) {
        t.sXmlOperationResult = UpperAscii(t.Trimmed("//wt:IsConfirm[1]"));
        t.sXmlOperationName = "CONFIRM_TICKET";
        t.XmlDocType = "WAYBILL";
        t.sActRegID = t.Trimmed("//wt:WBRegId[1]");
        if (t.Node("//wt:Note[1]")) t.sXmlOperationComment = UpperAscii(t.Trimmed("//wt:Note[1]"));
        t.sActDescription = "подтверждения акта";
    } else {
        Logger().Debug(kLog + std::string("не удалось узнать тип документа квитанции ") + t.Url);
        return;
    }
    Logger().Debug(kLog + std::string("Тип документа=") + t.XmlDocType + ", IX=" +
                   std::to_string(t.IX));

    // C. Classification, the first rule that applies.
    if (IsWaybillType(t.XmlDocType)) {
        if (TXmlNode comments = t.Node("//tc:Comments[1]")) {
            t.Comments = comments.text();
            if (Contains(t.Comments, "Накладная с номером") &&
                Contains(t.Comments, "уже зарегистрирована в системе")) {
                Logger().Debug(kLog +
                               std::string("Сохраняем и удаляем квитанцию о повторной отправке ТТН.") +
                               t.Url);
                ArchiveAndDelete(t);
                return;
            }
        }
    }
    struct TAck {
        const char* DocType;
        const char* Log;
    };
    static const TAck acks[] = {
        {"QUERYRESTSSHOP_V2", "Сохраняем и удаляем квитанцию о запросе остатков "},
        {"QUERYRESTS", "Сохраняем и удаляем квитанцию о запросе остатков "},
        {"INFOVERSIONTTN", "Сохраняем и удаляем квитанцию по уведомлению о версии протокола "},
        {"QUERYRESENDDOC", "Сохраняем и удаляем квитанцию о повторной отправке "},
        {"QUERYFORMA", "Сохраняем и удаляем квитанцию о запросе справки А "},
        {"QUERYFORMF1", "Сохраняем и удаляем квитанцию о запросе справки А "},
    };
    for (const TAck& ack : acks) {
        if (t.XmlDocType != ack.DocType) continue;
        Logger().Debug(kLog + std::string(ack.Log) + t.Url);
        ArchiveAndDelete(t);
        return;
    }
    const bool bUnmatched = t.IX == -1;
    if (t.XmlDocType == "ACTFIXBARCODE") {
        t.iRequestType = 33;
        if (bUnmatched) t.sActDescription = "постановки на баланс акцизных марок";
    } else if (t.XmlDocType == "ACTUNFIXBARCODE") {
        t.iRequestType = 34;
        if (bUnmatched) t.sActDescription = "списания акцизных марок";
    } else if (t.XmlDocType == "ACTCHARGEONSHOP_V2") {
        t.iRequestType = 27;
        t.sActDescription = "постановки на баланс в торговый зал";
    } else if (t.XmlDocType == "ACTWRITEOFFSHOP_V2") {
        t.iRequestType = 28;
        t.sActDescription = "списания с торгового зала";
        if (!bUnmatched) {
            t.sActRegID = t.Trimmed("//tc:RegID[1]");
            if (t.sActRegID.empty()) t.sActDescription.clear();
        }
    } else if (t.XmlDocType == "TRANSFERTOSHOP") {
        t.iRequestType = 25;
        t.sActDescription = "передачи в торговый зал";
    } else if (t.XmlDocType == "TRANSFERFROMSHOP") {
        t.iRequestType = 26;
        t.sActDescription = "возврата на склад";
    }
    if (bUnmatched || !t.sActDescription.empty())
        Unmatched(t);
    else
        Matched(t, Uids[t.IX]);
}

void TEgaisIncomingTicketJob::Unmatched(TTicketState& t) {
    if (t.Node("//tc:RegID[1]")) t.sActRegID = t.Trimmed("//tc:RegID[1]");
    if (t.sActRegID.empty()) {
        Logger().Debug(kLog + std::string("не удалось узнать идентификатор ЕГАИС квитанции ") + t.Url);
        return;
    }
    if (t.Node("//tc:OperationResult/tc:OperationName"))
        t.sXmlOperationName = UpperAscii(t.Trimmed("//tc:OperationResult/tc:OperationName"));
    if (t.Node("//tc:OperationResult/tc:OperationResult"))
        t.sXmlOperationResult = UpperAscii(t.Trimmed("//tc:OperationResult/tc:OperationResult"));
    if (t.Node("//tc:OperationResult/tc:OperationComment"))
        t.sXmlOperationComment = UpperAscii(t.Trimmed("//tc:OperationResult/tc:OperationComment"));
    t.Comments = Shorten(t.sXmlOperationComment);

    if (t.XmlDocType == "REQUESTREPEALAWO" && t.sXmlOperationName == "UNCONFIRM")
        return RepealWriteOff(t);
    if (!t.sActDescription.empty() && t.sXmlOperationName != "CONFIRM_TICKET") return ActTicket(t);
    Logger().Debug(kLog + std::string("Тип операции=") + t.sXmlOperationName);
    const bool bWaybill = IsWaybillType(t.XmlDocType);
    if (t.sXmlOperationName.empty() && bWaybill) return IntermediateWaybillTicket(t);
    if (OneOf(t.sXmlOperationName, {"CONFIRM", "CONFIRM_TICKET"}) && bWaybill)
        return WaybillConfirmation(t);
    if (OneOf(t.sXmlOperationName, {"UNCONFIRM", "PREPAREDTOCONFIRM"}) &&
        (bWaybill || OneOf(t.XmlDocType, {"ACTCHARGEON", "ACTCHARGEON_V2", "ACTWRITEOFF",
                                          "ACTWRITEOFF_V2", "ACTWRITEOFF_V3"})))
        return Unposting(t);
    if (t.XmlDocType == "WAYBILLTICKET") {
        Logger().Debug(kLog + std::string("Сохраняем и удаляем квитанцию от контрагента "
                                          "(WAYBILLTICKET)(") +
                       t.Url + "). Текст квитанции:" + t.sXmlOperationComment);
        ArchiveAndDelete(t);
        return;
    }
    RestoreReplyId(t);
}

void TEgaisIncomingTicketJob::RepealWriteOff(TTicketState& t) {
    TDbTransaction tx;
    const bool bAccepted = t.sXmlOperationResult == "ACCEPTED";
    const int iStatus = bAccepted ? 7 : -1;
    t.Result = bAccepted ? 1 : -1;
    UpdateByRegId(tx, iStatus, 3, t.sActRegID);
    t.iRequestID = FindRequestByRegId(tx, t.sActRegID, 3);
    WriteTicketReply(tx, t);
    tx.Commit();
    Logger().Debug(kLog + std::string("Сохраняем и удаляем квитанцию по отмене акта списания (") +
                   t.Url + "). Текст квитанции:" + t.sXmlOperationComment);
    ArchiveAndDelete(t);
}

void TEgaisIncomingTicketJob::ActTicket(TTicketState& t) {
    TDbTransaction tx;
    const std::string sAct = t.sActDescription;
    TXmlNode identity = t.Node("//tc:Identity[1]");
    if (!identity) {
        Logger().Debug(kLog + std::string("не удалось узнать ID акта ") + sAct + " " + t.Url);
        return;
    }
    const std::string sIdentity = Trim(identity.text());
    if (!sIdentity.empty()) {
        if (!TryStrToInt64(sIdentity, t.iDocID)) {
            Logger().Debug(kLog + Q + sIdentity + Q + " - неправильный ID акта " + sAct + " " + t.Url);
            return;
        }
    } else {
        if (TXmlNode transportId = t.Node("//tc:TransportId[1]")) {
            TQuery& q = tx.Run(kActByReplyIdSql, {{"UID", transportId.text()}});
            if (!q.Eof() && !q.FieldByName("ID").IsNull()) t.iDocID = q.FieldByName("ID").AsInt64();
            q.Close();
        }
        if (t.iDocID < 1) {
            Logger().Debug(kLog + std::string("неправильный ID акта ") + sAct + " " + t.Url);
            return;
        }
    }
    TQuery& state = tx.Run(kActStateSql, {{"ID", t.iDocID}});
    if (state.Eof()) {
        Logger().Debug(kLog + std::string("акт ") + sAct + " с ID=" + std::to_string(t.iDocID) +
                       " не найден.");
        return;
    }
    t.iDocType = IntOrDefault(state.FieldByName("UTM_DOC_TYPE"), 0);
    const TVariant currentStatus = state.FieldByName("STATUS");
    state.Close();
    if (t.Uid.empty()) {
        TXmlNode transportId = t.Node("//tc:TransportId[1]");
        if (!transportId) {
            Logger().Debug(kLog + std::string("не удалось узнать TransportID акта ") + sAct + " " +
                           t.Url);
            return;
        }
        t.Uid = transportId.text();
    }

    TVariant status;
    const std::string& result = t.sXmlOperationResult;
    if (t.sXmlOperationName == "CONFIRM") {
        if (result == "ACCEPTED" || result == "REJECTED") {
            const bool bAccepted = result == "ACCEPTED";
            Logger().Debug(kLog + std::string("Результат операции=") + Q + result + Q + ": акт " +
                           t.Url + (bAccepted ? " принят." : " отвергнут."));
            status = bAccepted ? 3 : -1;
            t.Result = bAccepted ? 1 : -1;
        } else {
            Logger().Debug(kLog + std::string("Неизвестный результат операции ") + Q + result + Q +
                           " по акту " + t.Url);
            return;
        }
    } else {
        const int iCurrent = IntOrDefault(currentStatus, 0);
        if (!currentStatus.IsNull() && (iCurrent == 3 || iCurrent == -1)) {
            Logger().Debug(kLog + std::string("Акт ") + sAct + " " + t.Url + " уже обработан.");
            Logger().Debug(kLog + std::string("Сохраняем и удаляем квитанцию ") + t.Url +
                           ". Текст квитанции:" + t.sXmlOperationComment);
            ArchiveAndDelete(t);
            return;
        }
        if (TXmlNode comments = t.Node("//tc:Comments[1]")) t.sXmlOperationComment = comments.text();
        t.Comments = Shorten(t.sXmlOperationComment);
        TXmlNode conclusion = t.Node("//tc:Conclusion[1]");
        if (!conclusion) {
            Logger().Debug(kLog + std::string("Не удалось найти тег <tc:Conclusion> акта ") + sAct +
                           " " + t.Url);
            return;
        }
        if (conclusion.text() == "Accepted") {
            Logger().Debug(kLog + std::string("Акт ") + t.Url + " принят для обработки.");
            status = currentStatus;
            t.Result = 1;
        } else {
            Logger().Debug(kLog + std::string("Результат приема акта=") + Q + conclusion.text() + Q +
                           ": акт " + t.Url + " отвергнут.");
            status = -1;
            t.Result = -1;
        }
    }
    Logger().Debug(kLog + std::string("обновим документ с ID=") + std::to_string(t.iDocID) + ".");
    Logger().Debug("Установим STATUS = " + status.AsString() + ", WB_REG_ID=" + t.sActRegID +
                   ", UrlReplyID=" + t.Uid);
    TDocHeadUpdate act;
    if (!status.IsNull()) act.Status = status.AsInteger();
    act.WbRegId = RegIdOrNull(t.sActRegID);
    act.UrlReplyId = t.Uid;
    act.ActDateNow = true;
    act.Id = t.iDocID;
    UpdateDocHead(tx, act);
    Logger().Debug(kLog + std::string("Узнаем статус запроса."));
    TQuery& request = tx.Run(kActRequestSql, {{"DOC_ID", t.iDocID}, {"REQUEST_TYPE", t.iRequestType}});
    t.iRequestID = request.Eof() || request.FieldByName("id").IsNull()
                       ? 0
                       : request.FieldByName("id").AsInt64();
    request.Close();
    Logger().Debug(kLog + std::string("Добавим ответ по тикету."));
    Logger().Debug(kLog + std::string("TYPE=16, ID=") + std::to_string(t.iRequestID) + ", " +
                   std::to_string(t.Result) + ", Notes=" + t.Comments);
    WriteTicketReply(tx, t);
    tx.Commit();
    Logger().Debug(kLog + std::string("Сохраняем и удаляем квитанцию ") + t.Url +
                   ". Текст квитанции:" + t.sXmlOperationComment);
    ArchiveAndDelete(t);
}

void TEgaisIncomingTicketJob::WaybillConfirmation(TTicketState& t) {
    TDbTransaction tx;
    Logger().Debug(kLog + std::string("Тикет подтверждения накладной..."));
    int iStatus = -1;
    t.Result = 1;
    if (t.sXmlOperationResult == "ACCEPTED") {
        iStatus = t.sXmlOperationName == "CONFIRM_TICKET" ? 3 : 4;
    } else {
        t.Result = -1;
    }
    Logger().Debug(kLog + std::string("DocType=") + std::to_string(t.iDocType) + ", RegID=" +
                   t.sActRegID);
    t.iDocType = 1;
    t.iRequestID = FindRequestByRegId(tx, t.sActRegID, 1);
    Logger().Debug(kLog + std::string("ID запроса =") + std::to_string(t.iRequestID));
    if (t.iRequestID < 1) {
        t.iDocType = 0;
        t.iRequestID = FindRequestByRegId(tx, t.sActRegID, 0);
    }
    Logger().Debug(kLog + std::string("Обновим статус документа на ") + std::to_string(iStatus));
    UpdateByRegId(tx, iStatus, t.iDocType, t.sActRegID);
    Logger().Debug(kLog + std::string("сохраним ответ ЕГАИС"));
    WriteTicketReply(tx, t);
    tx.Commit();
    Logger().Debug(kLog + std::string("Сохраняем и удаляем квитанцию о подтверждении ТТН (") +
                   t.Url + "). Текст квитанции:" + t.sXmlOperationComment);
    ArchiveAndDelete(t);
}

void TEgaisIncomingTicketJob::Unposting(TTicketState& t) {
    TDbTransaction tx;
    Logger().Debug(kLog + std::string("Квитанция о распроведении..."));
    const bool bWaybill = IsWaybillType(t.XmlDocType);
    int iStatus = bWaybill ? 5 : 7;
    t.Result = 1;
    if (t.sXmlOperationResult != "ACCEPTED") {
        iStatus = -1;
        t.Result = -1;
    }
    t.iDocType = bWaybill ? 1 : OneOf(t.XmlDocType, {"ACTCHARGEON", "ACTCHARGEON_V2"}) ? 2 : 3;
    if (!(bWaybill && Contains(t.Comments, "уже зарегистрирован")))
        UpdateByRegId(tx, iStatus, t.iDocType, t.sActRegID);
    t.iRequestID = FindRequestByRegId(tx, t.sActRegID, t.iDocType);
    WriteTicketReply(tx, t);
    tx.Commit();
    Logger().Debug(kLog + std::string("Сохраняем и удаляем квитанцию о распроведении документа (") +
                   t.Url + "). Текст квитанции:" + t.sXmlOperationComment);
    ArchiveAndDelete(t);
}

void TEgaisIncomingTicketJob::RestoreReplyId(TTicketState& t) {
    TDbTransaction tx;
    TQuery& q = tx.Run(kLostReplyIdSql, {{"WB_REG_ID", t.sActRegID}});
    if (q.Eof()) return;  // nothing to restore: the ticket stays
    const int iStatus = IntOrDefault(q.FieldByName("STATUS"), 0);
    t.iDocID = q.FieldByName("ID").AsInt64();
    t.iDocType = IntOrDefault(q.FieldByName("UTM_DOC_TYPE"), 0);
    q.Close();
    const bool bWaybill = OneOf(t.XmlDocType, {"WAYBILL", "WAYBILL_V2"});
    if (bWaybill && t.iDocType == 1 && iStatus == 2) {
        Logger().Debug(kLog + std::string("Накладная по квитанции ") + t.Url +
                       " уже зафиксирована в ЕГАИС. Сохраняем и удаляем квитанцию");
        ArchiveAndDelete(t);
        tx.Commit();
        return;
    }
    if (iStatus >= 3) return;
    Logger().Debug(kLog + std::string("Восстановим URL_REPLY_ID квитанции ") + t.Url);
    TDocHeadUpdate restore;
    restore.Status = bWaybill ? 1 : 2;
    restore.UrlReplyId = t.Uid;
    restore.Id = t.iDocID;
    UpdateDocHead(tx, restore);
    Logger().Debug(kLog + std::string("Восстановлен URL_REPLY_ID квитанции ") + t.Url);
    tx.Commit();
}

void TEgaisIncomingTicketJob::IntermediateWaybillTicket(TTicketState& t) {
    TDbTransaction tx;
    TXmlNode comments = t.Node("//tc:Comments[1]");
    t.sXmlOperationComment = comments ? comments.text() : std::string();
    t.Comments = Shorten(t.sXmlOperationComment);
    TXmlNode conclusion = t.Node("//tc:Conclusion[1]");
    if (!conclusion) {
        Logger().Debug(kLog + std::string("Не удалось найти тег <tc:Conclusion> накладной ") + t.Url);
        return;
    }
    if (conclusion.text() == "Accepted") {
        t.Result = 1;
        Logger().Debug(kLog + std::string("Накладная ") + t.Url + " принята для обработки.");
    } else {
        t.Result = -1;
        Logger().Debug(kLog + std::string("Результат приема накладной=") + Q + conclusion.text() +
                       "(" + t.sXmlOperationComment + ").");
        t.iDocType = 1;
        const bool bDoubleSend = IgnoreDoubleSend() && Contains(t.Comments, "Накладная с номером") &&
                                 Contains(t.Comments, "уже зарегистрирована в системе");
        if (!bDoubleSend) UpdateByRegId(tx, -1, 1, t.sActRegID);
        t.iRequestID = FindRequestByRegId(tx, t.sActRegID, 1);
        WriteTicketReply(tx, t);
        tx.Commit();
    }
    Logger().Debug(kLog + std::string("Сохраняем и удаляем промежуточную квитанцию по ТТН (") +
                   t.Url + "). Текст квитанции:" + t.sXmlOperationComment);
    ArchiveAndDelete(t);
}

void TEgaisIncomingTicketJob::Matched(TTicketState& t, const TVariousFieldItem& doc) {
    const bool bWaybillAct = IsWaybillActType(t.XmlDocType);
    if (doc.IntValue1 == 0 && doc.IntValue == 2 && !bWaybillAct) {
        Logger().Debug(kLog + std::string("Удалим тикет ") + t.Url +
                       ". Накладная для тикета уже подтверждена.");
        ArchiveAndDelete(t);
        return;
    }
    if (!t.Node("//ns:Ticket[1]")) throw EQorJobException("Invalid xml node");
    auto text = [&](const char* sXPath, const char* sMissing) {
        TXmlNode n = t.Node(sXPath);
        if (!n) throw EQorJobException(sMissing);
        return n.text();
    };
    // Tickets for waybills of versions 3 and 4 (the versions this service sends) are read
    // as those of version 2: without their result every one of them would count as a
    // rejection.
    if (bWaybillAct) {
        if (TXmlNode name = t.Node("//tc:OperationName")) {
            Logger().Debug(kLog + std::string("tc:OperationName=") + name.text());
            t.ResultString = text("//tc:OperationResult/tc:OperationResult",
                                  "Не найден тег tc:OperationResult/tc:OperationResult");
            t.Comments = text("//tc:OperationComment", "Не найден тег tc:OperationComment");
        } else {
            text("//tc:Result[1]", "Invalid xml node");
            t.ResultString = text("//tc:Conclusion[1]", "Invalid xml node");
            t.Comments = text("//tc:Comments[1]", "Invalid xml node");
        }
    } else if (OneOf(t.XmlDocType, {"WAYBILL", "WAYBILL_V2", "WAYBILL_V3", "WAYBILL_V4",
                                    "ACTCHARGEON", "ACTCHARGEON_V2",
                                    "ACTWRITEOFF", "ACTWRITEOFF_V2", "ACTWRITEOFF_V3",
                                    "REQUESTREPEALAWO", "ACTFIXBARCODE", "ACTUNFIXBARCODE"})) {
        if (t.Node("//tc:Result[1]")) {
            t.ResultString = UpperAscii(text("//tc:Conclusion[1]", "Invalid xml node"));
            t.Comments = text("//tc:Comments[1]", "Invalid xml node");
            if (t.ResultString == "ACCEPTED") {
                Logger().Debug(kLog +
                               std::string("Удалим квитанцию о получении документа сервером ЕГАИС: ") +
                               t.Url);
                ArchiveAndDelete(t);
                return;
            }
        }
        if (TXmlNode result = t.Node("//ns:Ticket/tc:OperationResult/tc:OperationResult[1]")) {
            t.ResultString = UpperAscii(result.text());
            t.Comments = text("//ns:Ticket/tc:OperationResult/tc:OperationComment[1]",
                              "Invalid xml node");
        }
    }
    t.Result = UpperAscii(t.ResultString) == "ACCEPTED" ? 1 : -1;
    if (IgnoreDoubleSend() && Contains(t.Comments, "уже высылался акт")) t.Result = 0;

    TDbTransaction tx;
    bool bWithRegId = false;
    const bool bAct = OneOf(t.XmlDocType, {"ACTCHARGEON", "ACTCHARGEON_V2", "ACTWRITEOFF",
                                           "ACTWRITEOFF_V2", "ACTWRITEOFFSHOP_V2", "ACTWRITEOFF_V3",
                                           "ACTFIXBARCODE", "ACTUNFIXBARCODE"});
    if (bAct) {
        if (TXmlNode regId = t.Node("//ns:Ticket/tc:RegID[1]")) t.sActRegID = regId.text();
        Logger().Debug(kLog + std::string("Квитанция для акта. ЕГАИС идентификатор: ") + t.sActRegID);
        bWithRegId = true;
    } else {
        Logger().Debug(kLog + std::string("Квитанция для накладной."));
        TXmlNode regId = t.Node("//ns:Ticket/tc:RegID[1]");
        if (regId && !regId.text().empty()) {
            t.sActRegID = regId.text();
            Logger().Debug(kLog + std::string("Квитанция для накладной. ЕГАИС идентификатор: ") +
                           t.sActRegID);
            bWithRegId = true;
        }
    }
    const int iCurrent = doc.IntValue;
    Logger().Debug(kLog + std::string("текущий статус документа = ") + std::to_string(iCurrent));
    int iStatus = iCurrent + t.Result;
    if ((bWaybillAct || t.XmlDocType == "WAYBILL") && t.Result == 1 && (iCurrent == 2 || iCurrent == 3))
        iStatus = 3;
    if (OneOf(t.XmlDocType, {"ACTWRITEOFF", "ACTWRITEOFF_V2", "ACTWRITEOFFSHOP_V2", "ACTWRITEOFF_V3"}) &&
        t.Result == -1)
        iStatus = -1;
    if (t.XmlDocType == "REQUESTREPEALAWO") iStatus = t.Result == -1 ? -1 : 7;
    if (IgnoreDoubleSend() && t.Result == 0) t.Result = 1;
    Logger().Debug(kLog + std::string("Новый статус документа = ") + std::to_string(iStatus));
    TDocHeadUpdate matched;
    matched.Status = iStatus;
    if (bWithRegId) matched.WbRegId = RegIdOrNull(t.sActRegID);
    matched.UrlReplyId = "";
    matched.Id = doc.Id;
    const TVariant updated = UpdateDocHead(tx, matched);
    if (updated.IsNull()) {
        Logger().Debug(kLog + std::string("ОШИБКА. Не удалось изменить статус документа."));
        return;  // rolled back: the ticket stays
    }
    Logger().Debug(kLog + std::string("Новый статус успешно установлен для ID=") + updated.AsString());
    t.Comments = Shorten(t.Comments);
    Logger().Debug(kLog + std::string("добавим ответ к запросу с ID=") + std::to_string(doc.Id));
    tx.Run(kMatchedReplySql, {{"REPLY_TYPE", 16},
                              {"RESULT_CODE", t.Result},
                              {"ERROR_DESCRIPTION", t.Comments},
                              {"ID", doc.Id}});
    tx.Commit();
    Logger().Debug(kLog + std::string("Квитанция успешно обработана. Отправляем на удаление ") + t.Url);
    ArchiveAndDelete(t);
}
