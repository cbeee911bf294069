#include "uTicketReader.h"

#include <algorithm>

#include "uCommon.h"
#include "uDbProvider.h"
#include "uLogger.h"
#include "uQorJob.h"
#include "uRequestStore.h"
#include "uText.h"
#include "uXml.h"

namespace {

constexpr const char* kLog = "TEgaisIncomingTicketJob: ";
const std::string Q = "\"";

constexpr const char* kFindRequestByRegIdSql =
    "select first 1 id \r\nfrom s_egais_request \r\n    where egais_doc_id = ( \r\n      select "
    "first 1 id from rg_egais_doc_head \r\n      where UTM_DOC_TYPE = :UTM_DOC_TYPE and WB_REG_ID "
    "= :WB_REG_ID)";
constexpr const char* kActByReplyIdSql = "select ID from RG_EGAIS_DOC_HEAD where URL_REPLY_ID=:UID";
constexpr const char* kActStateSql =
    "select UTM_DOC_TYPE, STATUS from RG_EGAIS_DOC_HEAD where ID=:ID";
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

bool IsWaybillType(const std::string& s) {
    return OneOf(s, {"WAYBILL", "WAYBILL_V2", "WAYBILL_V3"});
}
bool IsWaybillActType(const std::string& s) {
    return OneOf(s, {"WAYBILLACT", "WAYBILLACT_V2", "WAYBILLACT_V3", "WAYBILLACT_V4"});
}

bool IgnoreDoubleSend() {
    return GetSettingProperty("IgnoreDoubleSendTicket").value_or("") == "1";
}

// F1: a long comment keeps its beginning and its end.
std::string Shorten(const std::string& s) {
    return Utf8HeadAndTail(s, 256);
}

// A registration number goes to the header only when it is known: an empty one would
// wipe the number the header already holds.
TVariant RegIdOrNull(const std::string& s) {
    return s.empty() ? TVariant::Null() : TVariant(s);
}

}  // namespace

// The values of the ticket being processed.
struct TTicketState {
    TXmlDocument Xml;
    std::string Url;
    std::string Uid;
    int IX = -1;
    std::string XmlDocType, sActRegID, sXmlOperationName, sXmlOperationResult, sXmlOperationComment,
        Comments, ResultString, sActDescription;
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
    return tx.Value(kFindRequestByRegIdSql, {{"UTM_DOC_TYPE", iDocType}, {"WB_REG_ID", sRegId}})
        .AsInt64();
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

void UpdateByRegId(TDbTransaction& tx, int status, int iDocType, const std::string& sRegId) {
    TDocHeadUpdate u;
    u.Status = status;
    u.FindRegId = sRegId;
    u.FindDocTypes = iDocType;
    UpdateDocHead(tx, u);
}

}  // namespace

TTicketReader::TTicketReader(TQorJob& job, std::vector<TVariousFieldItem> sent)
    : TIncomingReader(job), FSent(std::move(sent)) {}

TIncomingSelection TTicketReader::Selection() const {
    TIncomingSelection selection;
    selection.Kinds = {"Ticket"};
    selection.WithAttribute = "replyId";
    selection.OrElseKinds = {"WayBillTicket"};
    selection.ByNumber = true;
    return selection;
}

TOnError TTicketReader::OnError(const std::exception& e) const {
    // A ticket that is not XML must not hold back the tickets after it: it would come
    // first again at every run.
    const bool bSkip =
        dynamic_cast<const EQorJobException*>(&e) || dynamic_cast<const EXmlException*>(&e);
    return bSkip ? TOnError::SkipDocument : TOnError::EndRun;
}

void TTicketReader::Recorded(const std::string& url) {
    Logger().Debug("{}{} в очереди на удаление. Пропускаем.", kLog, url);
}

void TTicketReader::Fetching(const std::string& url) {
    Logger().Debug("{}Загружаем {}...", kLog, url);
}

void TTicketReader::FetchFailed(const std::string& url, const EHttpProtocolException&) {
    Logger().Debug("{}не удалось загрузить квитанцию {}", kLog, url);
}

int TTicketReader::UidIndex(const std::vector<TVariousFieldItem>& Uids, const std::string& sUID) {
    if (sUID.empty()) return -1;
    for (size_t i = 0; i < Uids.size(); ++i)
        if (Uids[i].StringValue == sUID) return static_cast<int>(i);
    return -1;
}

THandled TTicketReader::Handle(const TIncomingDocument& doc, TDbTransaction& tx) {
    TTicketState t;
    t.Xml = doc.Xml;
    t.Url = doc.Url;
    t.Uid = doc.Entry.getAttribute("replyId").value_or("");
    t.IX = UidIndex(FSent, t.Uid);

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
        Logger().Debug("{}не удалось узнать тип документа квитанции {}", kLog, t.Url);
        return THandled::Kept;
    }
    Logger().Debug("{}Тип документа={}, IX={}", kLog, t.XmlDocType, t.IX);

    // C. Classification, the first rule that applies.
    if (IsWaybillType(t.XmlDocType)) {
        if (TXmlNode comments = t.Node("//tc:Comments[1]")) {
            t.Comments = comments.text();
            if (Contains(t.Comments, "Накладная с номером") &&
                Contains(t.Comments, "уже зарегистрирована в системе")) {
                Logger().Debug("{}Сохраняем и удаляем квитанцию о повторной отправке ТТН.{}", kLog,
                               t.Url);
                return THandled::Stored;
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
        Logger().Debug("{}{}{}", kLog, std::string(ack.Log), t.Url);
        return THandled::Stored;
    }
    const bool bUnmatched = t.IX == -1;
    // Acts answered through their own requests; the fix and unfix of marks are described
    // only when no sent header matches.
    struct TActKind {
        const char* DocType;
        int RequestType;
        const char* Description;
        bool OnlyUnmatched;
    };
    static const TActKind acts[] = {
        {"ACTFIXBARCODE", 33, "постановки на баланс акцизных марок", true},
        {"ACTUNFIXBARCODE", 34, "списания акцизных марок", true},
        {"ACTCHARGEONSHOP_V2", 27, "постановки на баланс в торговый зал", false},
        {"ACTWRITEOFFSHOP_V2", 28, "списания с торгового зала", false},
        {"TRANSFERTOSHOP", 25, "передачи в торговый зал", false},
        {"TRANSFERFROMSHOP", 26, "возврата на склад", false},
    };
    for (const TActKind& act : acts) {
        if (t.XmlDocType != act.DocType) continue;
        t.iRequestType = act.RequestType;
        if (bUnmatched || !act.OnlyUnmatched) t.sActDescription = act.Description;
    }
    if (t.XmlDocType == "ACTWRITEOFFSHOP_V2" && !bUnmatched) {
        t.sActRegID = t.Trimmed("//tc:RegID[1]");
        if (t.sActRegID.empty()) t.sActDescription.clear();
    }
    if (bUnmatched || !t.sActDescription.empty()) return Unmatched(t, tx);
    return Matched(t, FSent[size_t(t.IX)], tx);
}

THandled TTicketReader::Unmatched(TTicketState& t, TDbTransaction& tx) {
    if (t.Node("//tc:RegID[1]")) t.sActRegID = t.Trimmed("//tc:RegID[1]");
    if (t.sActRegID.empty()) {
        Logger().Debug("{}не удалось узнать идентификатор ЕГАИС квитанции {}", kLog, t.Url);
        return THandled::Kept;
    }
    if (t.Node("//tc:OperationResult/tc:OperationName"))
        t.sXmlOperationName = UpperAscii(t.Trimmed("//tc:OperationResult/tc:OperationName"));
    if (t.Node("//tc:OperationResult/tc:OperationResult"))
        t.sXmlOperationResult = UpperAscii(t.Trimmed("//tc:OperationResult/tc:OperationResult"));
    if (t.Node("//tc:OperationResult/tc:OperationComment"))
        t.sXmlOperationComment = UpperAscii(t.Trimmed("//tc:OperationResult/tc:OperationComment"));
    t.Comments = Shorten(t.sXmlOperationComment);

    if (t.XmlDocType == "REQUESTREPEALAWO" && t.sXmlOperationName == "UNCONFIRM")
        return RepealWriteOff(t, tx);
    if (!t.sActDescription.empty() && t.sXmlOperationName != "CONFIRM_TICKET")
        return ActTicket(t, tx);
    Logger().Debug("{}Тип операции={}", kLog, t.sXmlOperationName);
    const bool bWaybill = IsWaybillType(t.XmlDocType);
    if (t.sXmlOperationName.empty() && bWaybill) return IntermediateWaybillTicket(t, tx);
    if (OneOf(t.sXmlOperationName, {"CONFIRM", "CONFIRM_TICKET"}) && bWaybill)
        return WaybillConfirmation(t, tx);
    if (OneOf(t.sXmlOperationName, {"UNCONFIRM", "PREPAREDTOCONFIRM"}) &&
        (bWaybill || OneOf(t.XmlDocType, {"ACTCHARGEON", "ACTCHARGEON_V2", "ACTWRITEOFF",
                                          "ACTWRITEOFF_V2", "ACTWRITEOFF_V3"})))
        return Unposting(t, tx);
    if (t.XmlDocType == "WAYBILLTICKET") {
        Logger().Debug(
            "{}Сохраняем и удаляем квитанцию от контрагента (WAYBILLTICKET)({}). Текст "
            "квитанции:{}",
            kLog, t.Url, t.sXmlOperationComment);
        return THandled::Stored;
    }
    return RestoreReplyId(t, tx);
}

THandled TTicketReader::RepealWriteOff(TTicketState& t, TDbTransaction& tx) {
    const bool bAccepted = t.sXmlOperationResult == "ACCEPTED";
    const int iStatus = bAccepted ? 7 : -1;
    t.Result = bAccepted ? 1 : -1;
    UpdateByRegId(tx, iStatus, 3, t.sActRegID);
    t.iRequestID = FindRequestByRegId(tx, t.sActRegID, 3);
    WriteTicketReply(tx, t);
    Logger().Debug(
        "{}Сохраняем и удаляем квитанцию по отмене акта списания ({}). Текст квитанции:{}", kLog,
        t.Url, t.sXmlOperationComment);
    return THandled::Stored;
}

THandled TTicketReader::ActTicket(TTicketState& t, TDbTransaction& tx) {
    const std::string sAct = t.sActDescription;
    TXmlNode identity = t.Node("//tc:Identity[1]");
    if (!identity) {
        Logger().Debug("{}не удалось узнать ID акта {} {}", kLog, sAct, t.Url);
        return THandled::Kept;
    }
    const std::string sIdentity = Trim(identity.text());
    if (!sIdentity.empty()) {
        if (!TryStrToInt64(sIdentity, t.iDocID)) {
            Logger().Debug("{}{}{}{} - неправильный ID акта {} {}", kLog, Q, sIdentity, Q, sAct,
                           t.Url);
            return THandled::Kept;
        }
    } else {
        if (TXmlNode transportId = t.Node("//tc:TransportId[1]")) {
            const TVariant id = tx.Value(kActByReplyIdSql, {{"UID", transportId.text()}});
            if (!id.IsNull()) t.iDocID = id.AsInt64();
        }
        if (t.iDocID < 1) {
            Logger().Debug("{}неправильный ID акта {} {}", kLog, sAct, t.Url);
            return THandled::Kept;
        }
    }
    TQuery& state = tx.Run(kActStateSql, {{"ID", t.iDocID}});
    if (state.Eof()) {
        Logger().Debug("{}акт {} с ID={} не найден.", kLog, sAct, t.iDocID);
        return THandled::Kept;
    }
    t.iDocType = int(state.Int64("UTM_DOC_TYPE").value_or(0));
    const std::optional<int64_t> currentStatus = state.Int64("STATUS");
    if (t.Uid.empty()) {
        TXmlNode transportId = t.Node("//tc:TransportId[1]");
        if (!transportId) {
            Logger().Debug("{}не удалось узнать TransportID акта {} {}", kLog, sAct, t.Url);
            return THandled::Kept;
        }
        t.Uid = transportId.text();
    }

    TVariant status;
    const std::string& result = t.sXmlOperationResult;
    if (t.sXmlOperationName == "CONFIRM") {
        if (result == "ACCEPTED" || result == "REJECTED") {
            const bool bAccepted = result == "ACCEPTED";
            Logger().Debug("{}Результат операции={}{}{}: акт {}{}", kLog, Q, result, Q, t.Url,
                           (bAccepted ? " принят." : " отвергнут."));
            status = bAccepted ? 3 : -1;
            t.Result = bAccepted ? 1 : -1;
        } else {
            Logger().Debug("{}Неизвестный результат операции {}{}{} по акту {}", kLog, Q, result, Q,
                           t.Url);
            return THandled::Kept;
        }
    } else {
        if (currentStatus == 3 || currentStatus == -1) {
            Logger().Debug("{}Акт {} {} уже обработан.", kLog, sAct, t.Url);
            Logger().Debug("{}Сохраняем и удаляем квитанцию {}. Текст квитанции:{}", kLog, t.Url,
                           t.sXmlOperationComment);
            return THandled::Stored;
        }
        if (TXmlNode comments = t.Node("//tc:Comments[1]"))
            t.sXmlOperationComment = comments.text();
        t.Comments = Shorten(t.sXmlOperationComment);
        TXmlNode conclusion = t.Node("//tc:Conclusion[1]");
        if (!conclusion) {
            Logger().Debug("{}Не удалось найти тег <tc:Conclusion> акта {} {}", kLog, sAct, t.Url);
            return THandled::Kept;
        }
        if (conclusion.text() == "Accepted") {
            Logger().Debug("{}Акт {} принят для обработки.", kLog, t.Url);
            if (currentStatus) status = *currentStatus;
            t.Result = 1;
        } else {
            Logger().Debug("{}Результат приема акта={}{}{}: акт {} отвергнут.", kLog, Q,
                           conclusion.text(), Q, t.Url);
            status = -1;
            t.Result = -1;
        }
    }
    Logger().Debug("{}обновим документ с ID={}.", kLog, t.iDocID);
    Logger().Debug("Установим STATUS = {}, WB_REG_ID={}, UrlReplyID={}", status.AsString(),
                   t.sActRegID, t.Uid);
    TDocHeadUpdate act;
    if (!status.IsNull()) act.Status = status.AsInteger();
    act.WbRegId = RegIdOrNull(t.sActRegID);
    act.UrlReplyId = t.Uid;
    act.ActDateNow = true;
    act.Id = t.iDocID;
    UpdateDocHead(tx, act);
    Logger().Debug("{}Узнаем статус запроса.", kLog);
    t.iRequestID =
        tx.Value(kActRequestSql, {{"DOC_ID", t.iDocID}, {"REQUEST_TYPE", t.iRequestType}})
            .AsInt64();
    Logger().Debug("{}Добавим ответ по тикету.", kLog);
    Logger().Debug("{}TYPE=16, ID={}, {}, Notes={}", kLog, t.iRequestID, t.Result, t.Comments);
    WriteTicketReply(tx, t);
    Logger().Debug("{}Сохраняем и удаляем квитанцию {}. Текст квитанции:{}", kLog, t.Url,
                   t.sXmlOperationComment);
    return THandled::Stored;
}

THandled TTicketReader::WaybillConfirmation(TTicketState& t, TDbTransaction& tx) {
    Logger().Debug("{}Тикет подтверждения накладной...", kLog);
    int iStatus = -1;
    t.Result = 1;
    if (t.sXmlOperationResult == "ACCEPTED") {
        iStatus = t.sXmlOperationName == "CONFIRM_TICKET" ? 3 : 4;
    } else {
        t.Result = -1;
    }
    Logger().Debug("{}DocType={}, RegID={}", kLog, t.iDocType, t.sActRegID);
    t.iDocType = 1;
    t.iRequestID = FindRequestByRegId(tx, t.sActRegID, 1);
    Logger().Debug("{}ID запроса ={}", kLog, t.iRequestID);
    if (t.iRequestID < 1) {
        t.iDocType = 0;
        t.iRequestID = FindRequestByRegId(tx, t.sActRegID, 0);
    }
    Logger().Debug("{}Обновим статус документа на {}", kLog, iStatus);
    UpdateByRegId(tx, iStatus, t.iDocType, t.sActRegID);
    Logger().Debug("{}сохраним ответ ЕГАИС", kLog);
    WriteTicketReply(tx, t);
    Logger().Debug("{}Сохраняем и удаляем квитанцию о подтверждении ТТН ({}). Текст квитанции:{}",
                   kLog, t.Url, t.sXmlOperationComment);
    return THandled::Stored;
}

THandled TTicketReader::Unposting(TTicketState& t, TDbTransaction& tx) {
    Logger().Debug("{}Квитанция о распроведении...", kLog);
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
    Logger().Debug(
        "{}Сохраняем и удаляем квитанцию о распроведении документа ({}). Текст квитанции:{}", kLog,
        t.Url, t.sXmlOperationComment);
    return THandled::Stored;
}

THandled TTicketReader::RestoreReplyId(TTicketState& t, TDbTransaction& tx) {
    TQuery& q = tx.Run(kLostReplyIdSql, {{"WB_REG_ID", t.sActRegID}});
    if (q.Eof()) return THandled::Kept;  // nothing to restore: the ticket stays
    const int64_t iStatus = q.Int64("STATUS").value_or(0);
    t.iDocID = q.Int64("ID").value_or(0);
    t.iDocType = int(q.Int64("UTM_DOC_TYPE").value_or(0));
    const bool bWaybill = OneOf(t.XmlDocType, {"WAYBILL", "WAYBILL_V2"});
    if (bWaybill && t.iDocType == 1 && iStatus == 2) {
        Logger().Debug(
            "{}Накладная по квитанции {} уже зафиксирована в ЕГАИС. Сохраняем и удаляем квитанцию",
            kLog, t.Url);
        return THandled::Stored;
    }
    if (iStatus >= 3) return THandled::Kept;
    Logger().Debug("{}Восстановим URL_REPLY_ID квитанции {}", kLog, t.Url);
    TDocHeadUpdate restore;
    restore.Status = bWaybill ? 1 : 2;
    restore.UrlReplyId = t.Uid;
    restore.Id = t.iDocID;
    UpdateDocHead(tx, restore);
    Logger().Debug("{}Восстановлен URL_REPLY_ID квитанции {}", kLog, t.Url);
    // The ticket stays: the answer that follows it finds the restored reply id.
    return THandled::Noted;
}

THandled TTicketReader::IntermediateWaybillTicket(TTicketState& t, TDbTransaction& tx) {
    TXmlNode comments = t.Node("//tc:Comments[1]");
    t.sXmlOperationComment = comments ? comments.text() : std::string();
    t.Comments = Shorten(t.sXmlOperationComment);
    TXmlNode conclusion = t.Node("//tc:Conclusion[1]");
    if (!conclusion) {
        Logger().Debug("{}Не удалось найти тег <tc:Conclusion> накладной {}", kLog, t.Url);
        return THandled::Kept;
    }
    if (conclusion.text() == "Accepted") {
        t.Result = 1;
        Logger().Debug("{}Накладная {} принята для обработки.", kLog, t.Url);
    } else {
        t.Result = -1;
        Logger().Debug("{}Результат приема накладной={}{}({}).", kLog, Q, conclusion.text(),
                       t.sXmlOperationComment);
        t.iDocType = 1;
        const bool bDoubleSend = IgnoreDoubleSend() &&
                                 Contains(t.Comments, "Накладная с номером") &&
                                 Contains(t.Comments, "уже зарегистрирована в системе");
        if (!bDoubleSend) UpdateByRegId(tx, -1, 1, t.sActRegID);
        t.iRequestID = FindRequestByRegId(tx, t.sActRegID, 1);
        WriteTicketReply(tx, t);
    }
    Logger().Debug("{}Сохраняем и удаляем промежуточную квитанцию по ТТН ({}). Текст квитанции:{}",
                   kLog, t.Url, t.sXmlOperationComment);
    return THandled::Stored;
}

THandled TTicketReader::Matched(TTicketState& t, const TVariousFieldItem& sent,
                                TDbTransaction& tx) {
    const bool bWaybillAct = IsWaybillActType(t.XmlDocType);
    if (sent.IntValue1 == 0 && sent.IntValue == 2 && !bWaybillAct) {
        Logger().Debug("{}Удалим тикет {}. Накладная для тикета уже подтверждена.", kLog, t.Url);
        return THandled::Stored;
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
            Logger().Debug("{}tc:OperationName={}", kLog, name.text());
            t.ResultString = text("//tc:OperationResult/tc:OperationResult",
                                  "Не найден тег tc:OperationResult/tc:OperationResult");
            t.Comments = text("//tc:OperationComment", "Не найден тег tc:OperationComment");
        } else {
            text("//tc:Result[1]", "Invalid xml node");
            t.ResultString = text("//tc:Conclusion[1]", "Invalid xml node");
            t.Comments = text("//tc:Comments[1]", "Invalid xml node");
        }
    } else if (OneOf(t.XmlDocType,
                     {"WAYBILL", "WAYBILL_V2", "WAYBILL_V3", "WAYBILL_V4", "ACTCHARGEON",
                      "ACTCHARGEON_V2", "ACTWRITEOFF", "ACTWRITEOFF_V2", "ACTWRITEOFF_V3",
                      "REQUESTREPEALAWO", "ACTFIXBARCODE", "ACTUNFIXBARCODE"})) {
        if (t.Node("//tc:Result[1]")) {
            t.ResultString = UpperAscii(text("//tc:Conclusion[1]", "Invalid xml node"));
            t.Comments = text("//tc:Comments[1]", "Invalid xml node");
            if (t.ResultString == "ACCEPTED") {
                Logger().Debug("{}Удалим квитанцию о получении документа сервером ЕГАИС: {}", kLog,
                               t.Url);
                return THandled::Stored;
            }
        }
        if (TXmlNode result = t.Node("//ns:Ticket/tc:OperationResult/tc:OperationResult[1]")) {
            t.ResultString = UpperAscii(result.text());
            t.Comments =
                text("//ns:Ticket/tc:OperationResult/tc:OperationComment[1]", "Invalid xml node");
        }
    }
    t.Result = UpperAscii(t.ResultString) == "ACCEPTED" ? 1 : -1;
    if (IgnoreDoubleSend() && Contains(t.Comments, "уже высылался акт")) t.Result = 0;

    bool bWithRegId = false;
    const bool bAct = OneOf(
        t.XmlDocType, {"ACTCHARGEON", "ACTCHARGEON_V2", "ACTWRITEOFF", "ACTWRITEOFF_V2",
                       "ACTWRITEOFFSHOP_V2", "ACTWRITEOFF_V3", "ACTFIXBARCODE", "ACTUNFIXBARCODE"});
    if (bAct) {
        if (TXmlNode regId = t.Node("//ns:Ticket/tc:RegID[1]")) t.sActRegID = regId.text();
        Logger().Debug("{}Квитанция для акта. ЕГАИС идентификатор: {}", kLog, t.sActRegID);
        bWithRegId = true;
    } else {
        Logger().Debug("{}Квитанция для накладной.", kLog);
        TXmlNode regId = t.Node("//ns:Ticket/tc:RegID[1]");
        if (regId && !regId.text().empty()) {
            t.sActRegID = regId.text();
            Logger().Debug("{}Квитанция для накладной. ЕГАИС идентификатор: {}", kLog, t.sActRegID);
            bWithRegId = true;
        }
    }
    const int iCurrent = sent.IntValue;
    Logger().Debug("{}текущий статус документа = {}", kLog, iCurrent);
    int iStatus = iCurrent + t.Result;
    if ((bWaybillAct || t.XmlDocType == "WAYBILL") && t.Result == 1 &&
        (iCurrent == 2 || iCurrent == 3))
        iStatus = 3;
    if (OneOf(t.XmlDocType,
              {"ACTWRITEOFF", "ACTWRITEOFF_V2", "ACTWRITEOFFSHOP_V2", "ACTWRITEOFF_V3"}) &&
        t.Result == -1)
        iStatus = -1;
    if (t.XmlDocType == "REQUESTREPEALAWO") iStatus = t.Result == -1 ? -1 : 7;
    if (IgnoreDoubleSend() && t.Result == 0) t.Result = 1;
    Logger().Debug("{}Новый статус документа = {}", kLog, iStatus);
    TDocHeadUpdate matched;
    matched.Status = iStatus;
    if (bWithRegId) matched.WbRegId = RegIdOrNull(t.sActRegID);
    matched.UrlReplyId = "";
    matched.Id = sent.Id;
    const TVariant updated = UpdateDocHead(tx, matched);
    if (updated.IsNull()) {
        Logger().Debug("{}ОШИБКА. Не удалось изменить статус документа.", kLog);
        return THandled::Kept;  // rolled back: the ticket stays
    }
    Logger().Debug("{}Новый статус успешно установлен для ID={}", kLog, updated.AsString());
    t.Comments = Shorten(t.Comments);
    Logger().Debug("{}добавим ответ к запросу с ID={}", kLog, sent.Id);
    tx.Run(kMatchedReplySql, {{"REPLY_TYPE", 16},
                              {"RESULT_CODE", t.Result},
                              {"ERROR_DESCRIPTION", t.Comments},
                              {"ID", sent.Id}});
    Logger().Debug("{}Квитанция успешно обработана. Отправляем на удаление {}", kLog, t.Url);
    return THandled::Stored;
}
