#include "uRegInfoReader.h"

#include <optional>
#include <vector>

#include "uCommon.h"
#include "uCounterpart.h"
#include "uDbProvider.h"
#include "uHttpClient.h"
#include "uLogger.h"
#include "uText.h"
#include "uWayBillReader.h"
#include "uXml.h"

namespace {

constexpr const char* kLog = "TEgaisIncomingRegInfoJob: ";
const std::string Q = "\"";

// A counterparty may be stored more than once under one participant id: every row of
// it is the same organisation, hence "IN" and, where one row is needed, the newest.
//
// The head by the waybill key (received waybills) or by its identity (the waybills we
// send are stored under it); one not registered yet first, then the newest.
constexpr const char* kSetRegIdByKeySql =
    "UPDATE RG_EGAIS_DOC_HEAD SET WB_REG_ID = :WB_REG_ID \r\n"
    "WHERE ID IN ( \r\n"
    "  SELECT FIRST 1 ID FROM RG_EGAIS_DOC_HEAD \r\n"
    "  WHERE ((UTM_DOC_TYPE IN (0, 4, 7) AND UTM_DOC_ID = :UTM_DOC_ID) OR \r\n"
    "         (UTM_DOC_TYPE > 0 AND UTM_DOC_ID = :UTM_DOC_ID2)) \r\n"
    "    AND (WB_REG_ID IS NULL OR WB_REG_ID = :WB_REG_ID) \r\n"
    "    AND SHIPPER IN (SELECT ID FROM S_EGAIS_COUNTERPART WHERE CLIENTREG_ID = :CLIENTREG_ID) "
    "\r\n"
    "  ORDER BY IIF(WB_REG_ID IS NULL, 0, 1), ID DESC) \r\n"
    "RETURNING ID, UTM_DOC_TYPE, URL_REPLY_ID";

// The head by shipper, consignee, number and date when the key finds none.
constexpr const char* kSetRegIdByNumberSql =
    "UPDATE RG_EGAIS_DOC_HEAD SET WB_REG_ID = :WB_REG_ID \r\n"
    "WHERE ID IN ( \r\n"
    "  SELECT FIRST 1 ID FROM RG_EGAIS_DOC_HEAD \r\n"
    "  WHERE SHIPPER IN (SELECT ID FROM S_EGAIS_COUNTERPART WHERE CLIENTREG_ID = :SHIPPER_REG_ID) "
    "\r\n"
    "    AND (WB_REG_ID IS NULL OR WB_REG_ID = :WB_REG_ID) \r\n"
    "    AND CONSIGNEE IN (SELECT ID FROM S_EGAIS_COUNTERPART WHERE CLIENTREG_ID = "
    ":CONSIGNEE_REG_ID) \r\n"
    "    AND DOC_NUMBER = :WBNUMBER \r\n"
    "    AND DOC_DATE = :WBDATE \r\n"
    "  ORDER BY IIF(WB_REG_ID IS NULL, 0, 1), ID DESC) \r\n"
    "RETURNING ID, UTM_DOC_TYPE, URL_REPLY_ID";

constexpr const char* kRestoreReplyIdSql =
    "UPDATE RG_EGAIS_DOC_HEAD SET URL_REPLY_ID = :URL_REPLY_ID WHERE ID = :ID";
constexpr const char* kLineSql =
    "SELECT FIRST 1 ID, INFORM2_ID FROM RG_EGAIS_DOC_TABLE \r\n"
    "WHERE EGAIS_DOC_HEAD_ID = :DOC_ID AND POSITION_ID = :POSITION_ID \r\nORDER BY ID";
constexpr const char* kReleaseFormBSql =
    "UPDATE S_EGAIS_INFORMS SET ACT_FLAG = NULL WHERE ID = :INFORM_ID";
constexpr const char* kFindFormBSql =
    "SELECT FIRST 1 ID FROM S_EGAIS_INFORMS \r\n"
    "WHERE INFORM_REG_ID = :INFORM_REG_ID AND INFORM_TYPE = 'B' \r\nORDER BY ID DESC";
constexpr const char* kFlagFormBSql =
    "UPDATE S_EGAIS_INFORMS SET ACT_FLAG = 1, \r\n"
    "  SHIPPER = COALESCE((SELECT MAX(ID) FROM S_EGAIS_COUNTERPART WHERE CLIENTREG_ID = "
    ":SHIPPER_ID), SHIPPER) \r\n"
    "WHERE ID = :INFORM_ID";
constexpr const char* kAddFormBSql =
    "INSERT INTO S_EGAIS_INFORMS (INFORM_TYPE, ACT_FLAG, INFORM_REG_ID, SHIPPER) \r\n"
    "VALUES ('B', 1, :INFORM_REG_ID, \r\n"
    "  (SELECT MAX(ID) FROM S_EGAIS_COUNTERPART WHERE CLIENTREG_ID = :SHIPPER_ID)) \r\n"
    "RETURNING ID";
constexpr const char* kLinkLineSql =
    "UPDATE RG_EGAIS_DOC_TABLE SET INFORM2_ID = :INFORM_ID \r\n"
    "WHERE EGAIS_DOC_HEAD_ID = :DOC_ID AND POSITION_ID = :POSITION_ID";
constexpr const char* kLinkMarksSql =
    "UPDATE RG_EGAIS_DOC_MARKS SET INFORM2_ID = :INFORM_ID \r\n"
    "WHERE EGAIS_DOC_HEAD_ID = :DOC_ID AND EGAIS_DOC_TABLE_ID IN (SELECT ID FROM "
    "RG_EGAIS_DOC_TABLE WHERE EGAIS_DOC_HEAD_ID = :DOC_ID AND POSITION_ID = :POSITION_ID)";

std::vector<TXmlNode> ElementChildren(const TXmlNode& parent) {
    std::vector<TXmlNode> out;
    for (const TXmlNode& n : parent.childNodes())
        if (n.nodeType() == ntElement) out.push_back(n);
    return out;
}

// The participant id of a counterparty element: its record of a kind ("oref:UL"), or,
// in the first version's vocabulary, the record's fields right under the element.
std::string PartyId(const TXmlNode& party) {
    TCounterpartRecord record;
    if (LoadCounterPart(party, record)) return Trim(record.ClientRegId);
    TXmlNode id = GetChildNode(party, "oref:ClientRegId");
    return id ? Trim(id.text()) : std::string();
}

}  // namespace

TRegInfoReader::TRegInfoReader(TQorJob& job, TFormat format)
    : TIncomingReader(job), FFormat(format) {}

TIncomingSelection TRegInfoReader::Selection() const {
    TIncomingSelection selection;
    selection.Kinds = {Text("FORM2REGINFO", "FORMBREGINFO")};
    return selection;
}

void TRegInfoReader::Fetching(const std::string& url) {
    if (FFormat == TFormat::F2Reg) Logger().Debug("TEgaisIncomingRegInfoJob.Http.Get({})", url);
}

void TRegInfoReader::FetchFailed(const std::string& url, const EHttpProtocolException& e) {
    Logger().Debug("{}Не удалось прочитать {}. Код ошибки: {}", kLog, url, e.ErrorCode());
}

THandled TRegInfoReader::Handle(const TIncomingDocument& doc, TDbTransaction& tx) {
    const std::string& url = doc.Url;
    const bool bForm2 = FFormat == TFormat::F2Reg;
    if (!bForm2) Logger().Debug("{}загружаем {}", kLog, url);
    const std::string sRoot = Text("ns:TTNInformF2Reg", "ns:TTNInformBReg");
    // The format is told by the document, not by its address: either kind of address
    // may hold either format.
    TXmlNode root = doc.Xml.selectSingleNode("ns:Documents/ns:Document/ns:TTNInformF2Reg");
    const bool bF2Body = bool(root);
    if (!root) root = doc.Xml.selectSingleNode("ns:Documents/ns:Document/ns:TTNInformBReg");
    if (!root) {
        Logger().Debug("{}Не удалось найти тег {}", kLog, sRoot);
        return THandled::Kept;
    }
    // Below the root the elements are taken by their local names: the two formats'
    // namespaces differ, their element names do not.
    TXmlNode header = GetChildNode(root, "wbr:Header");
    if (!header) {
        Logger().Debug("{}Не удалось найти тег wbr:Header", kLog);
        return THandled::Kept;
    }
    TXmlNode identity = GetChildNode(header, "wbr:Identity");
    if (!identity || Trim(identity.text()).empty()) {
        Logger().Debug(
            "TEgaisIncomingRegInfoJob *** Справки к накладной не содрежат поле wbr:Identity! ***");
        return THandled::Kept;
    }
    TXmlNode regId = GetChildNode(header, "wbr:WBRegId");
    if (!regId) {
        if (!bForm2) throw EQorJobException("Invalid xml field WbRegId");
        Logger().Debug(
            "TEgaisIncomingRegInfoJob *** Справки к накладной не содрежат поле wbr:WBRegId! ***");
        return THandled::Kept;
    }
    const std::string sWbRegId = Trim(regId.text());
    Logger().Debug("{}ЕГАИС идентификатор {}({})", kLog, sWbRegId, url);
    TXmlNode number = GetChildNode(header, "wbr:WBNUMBER");
    TXmlNode date = GetChildNode(header, "wbr:WBDate");
    if (!number || !date) throw EQorJobException("Не найден номер или дата накладной");
    const std::string sWBNUMBER = number.text();
    const std::string sWBDate = date.text();

    TXmlNode shipper = GetChildNode(header, "wbr:Shipper");
    if (!shipper) {
        Logger().Debug("{}Не удалось найти тег wbr:Shipper", kLog);
        return THandled::Kept;
    }
    const std::string sShipperClientRegId = PartyId(shipper);
    if (sShipperClientRegId.empty()) {
        Logger().Debug("{}Не удалось найти загрузить данные о поставщике.", kLog);
        return THandled::Kept;
    }
    TXmlNode consignee = GetChildNode(header, "wbr:Consignee");
    const std::string sConsigneeClientRegId = consignee ? PartyId(consignee) : std::string();

    const std::string sIdentity = identity.text();
    const std::string sKey = sIdentity + "/" + sWBDate + "/" + sWBNUMBER;
    Logger().Debug("{}Обновим ТТН. Установим идентификатор {} для {}", kLog, sWbRegId, sKey);
    std::optional<int64_t> headId;
    int iDocType = 0;
    std::string sReplyId;
    {
        TQuery& q = tx.Run(kSetRegIdByKeySql, {{"WB_REG_ID", sWbRegId},
                                               {"UTM_DOC_ID", sKey},
                                               {"UTM_DOC_ID2", sIdentity},
                                               {"CLIENTREG_ID", sShipperClientRegId}});
        if (!q.Eof()) {
            headId = q.Int64("ID");
            iDocType = int(q.Int64("UTM_DOC_TYPE").value_or(0));
            sReplyId = q.Text("URL_REPLY_ID");
        }
    }
    if (!headId) {
        Logger().Debug("{}Обновим ТТН. Установим идентификатор {} для ТТН № {}", kLog, sWbRegId,
                       sWBNUMBER);
        TQuery& q = tx.Run(kSetRegIdByNumberSql, {{"WB_REG_ID", sWbRegId},
                                                  {"SHIPPER_REG_ID", sShipperClientRegId},
                                                  {"CONSIGNEE_REG_ID", sConsigneeClientRegId},
                                                  {"WBNUMBER", sWBNUMBER},
                                                  {"WBDATE", sWBDate}});
        if (!q.Eof()) {
            headId = q.Int64("ID");
            iDocType = int(q.Int64("UTM_DOC_TYPE").value_or(0));
            sReplyId = q.Text("URL_REPLY_ID");
        }
        if (!headId)
            throw EQorJobException("Не удалось найти накладную № " + sWBNUMBER + " от " + sWBDate);
    }

    // A waybill of ours stored without the reply id its post was answered with takes the
    // one the list names for this document.
    const std::optional<std::string> listReplyId = doc.Entry.getAttribute("replyId");
    if (iDocType == 1 && sReplyId == "UID_IS_EMPTY" && listReplyId && !listReplyId->empty()) {
        tx.Run(kRestoreReplyIdSql, {{"URL_REPLY_ID", *listReplyId}, {"ID", *headId}});
        Logger().Debug("{}восстановлен URL_REPLY_ID {} для накладной с ID={}", kLog, *listReplyId,
                       *headId);
    }

    TXmlNode content = GetChildNode(root, "wbr:Content");
    if (!content) {
        Logger().Debug("{}Не удалось найти тег wbr:Content.", kLog);
        return THandled::Kept;
    }
    const std::vector<TXmlNode> positions = ElementChildren(content);
    if (positions.empty())
        throw EQorJobException(bForm2 ? "Некорректная справка " + Q + "Б" + Q + ":" + url
                                      : std::string("Invalid form B"));
    // Our own waybills (1) and those returned to us (7) keep the Form B of our stock.
    if (iDocType == 1 || iDocType == 7) {
        Logger().Debug("{}не обновляем справки {}Б{} {}", kLog, Q, Q,
                       Text("для расходных и возвратных ТТН.", "для расходной ТТН."));
        Logger().Debug("{}успешно загружен {}", kLog, url);
        return THandled::Stored;
    }
    for (const TXmlNode& position : positions) {
        TXmlNode posIdentity = GetChildNode(position, "wbr:Identity");
        if (!posIdentity || Trim(posIdentity.text()).empty())
            throw EQorJobException(bForm2 ? "Не заполнен идентификатор позиции."
                                          : "Invalid form B");
        TXmlNode formB = GetChildNode(position, bF2Body ? "wbr:InformF2RegId" : "wbr:InformBRegId");
        if (!formB)
            throw EQorJobException(bForm2 ? "Некорректная позиция справки" : "Invalid form B");
        const std::string sFormB = Trim(formB.text());
        // The number the waybill's reader gave the position.
        const TVariant positionId = incoming::PositionIdOf(posIdentity.text());

        TQuery& line = tx.Run(kLineSql, {{"DOC_ID", *headId}, {"POSITION_ID", positionId}});
        if (line.Eof())
            throw EQorJobException(bForm2 ? "Не удалось обновить справку " + Q + "Б" + Q
                                          : std::string("Unable to update form B"));
        const TVariant previous = line.FieldByName("INFORM2_ID");
        if (!previous.IsNull()) tx.Run(kReleaseFormBSql, {{"INFORM_ID", previous}});
        TVariant informId = tx.Value(kFindFormBSql, {{"INFORM_REG_ID", sFormB}});
        if (informId.IsNull())
            informId = tx.Value(kAddFormBSql,
                                {{"INFORM_REG_ID", sFormB}, {"SHIPPER_ID", sShipperClientRegId}});
        else
            tx.Run(kFlagFormBSql, {{"INFORM_ID", informId}, {"SHIPPER_ID", sShipperClientRegId}});
        tx.Run(kLinkLineSql,
               {{"INFORM_ID", informId}, {"DOC_ID", *headId}, {"POSITION_ID", positionId}});
        if (bF2Body)
            tx.Run(kLinkMarksSql,
                   {{"INFORM_ID", informId}, {"DOC_ID", *headId}, {"POSITION_ID", positionId}});
    }
    Logger().Debug("{}успешно загружен {}", kLog, url);
    return THandled::Stored;
}
