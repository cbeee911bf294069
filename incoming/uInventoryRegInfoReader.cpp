#include "uInventoryRegInfoReader.h"

#include <optional>
#include <string>

#include "uCommon.h"
#include "uDbProvider.h"
#include "uLogger.h"
#include "uText.h"
#include "uWayBillReader.h"
#include "uXml.h"

namespace {

constexpr const char* kLog = "TEgaisInventoryRegInfoJob: ";

constexpr const char* kActByRegIdSql =
    "SELECT FIRST 1 ID, UTM_DOC_ID FROM RG_EGAIS_DOC_HEAD \r\n"
    "WHERE UTM_DOC_TYPE = 2 AND WB_REG_ID = :ACT_REG_ID \r\nORDER BY ID DESC";
// An act the UTM took without telling its registration number and reply id.
constexpr const char* kActByNumberSql =
    "SELECT FIRST 1 ID, UTM_DOC_ID FROM RG_EGAIS_DOC_HEAD \r\n"
    "WHERE UTM_DOC_TYPE = 2 AND ACT_NUMBER = :ACT_NUMBER AND WB_REG_ID = 'UID_IS_EMPTY' \r\n"
    "ORDER BY ID DESC";
constexpr const char* kRestoreSql =
    "UPDATE RG_EGAIS_DOC_HEAD \r\n  SET WB_REG_ID = :WB_REG_ID, URL_REPLY_ID = :UID \r\n"
    "WHERE ID = :DOC_ID";
constexpr const char* kLineSql =
    "SELECT FIRST 1 ID, INFORM1_ID, INFORM2_ID FROM RG_EGAIS_DOC_TABLE \r\n"
    "WHERE EGAIS_DOC_HEAD_ID = :DOC_HEAD_ID AND POSITION_ID = :POSITION_ID";
constexpr const char* kAddInformSql =
    "INSERT INTO S_EGAIS_INFORMS (INFORM_TYPE, INFORM_REG_ID, EGAIS_PRODUCT_ID) \r\n"
    "VALUES (:INFORM_TYPE, :INFORM_REG_ID, \r\n"
    "  (SELECT EGAIS_PRODUCT_ID FROM RG_EGAIS_DOC_TABLE WHERE ID = :DOC_TABLE_ID)) \r\n"
    "RETURNING ID";
constexpr const char* kUpdateInformSql =
    "UPDATE S_EGAIS_INFORMS SET \r\n INFORM_TYPE = :INFORM_TYPE, \r\n"
    " INFORM_REG_ID = :INFORM_REG_ID, \r\n"
    " EGAIS_PRODUCT_ID = (SELECT EGAIS_PRODUCT_ID FROM RG_EGAIS_DOC_TABLE WHERE ID = "
    ":DOC_TABLE_ID) \r\n WHERE ID = :INFORM_ID";
constexpr const char* kLinkFormASql =
    "UPDATE RG_EGAIS_DOC_TABLE SET INFORM1_ID = :INFORM_ID WHERE ID = :DOC_TABLE_ID";
constexpr const char* kLinkFormBSql =
    "UPDATE RG_EGAIS_DOC_TABLE SET INFORM2_ID = :INFORM_ID WHERE ID = :DOC_TABLE_ID";

std::string ChildText(const TXmlNode& parent, const char* sName) {
    TXmlNode n = parent ? GetChildNode(parent, sName) : TXmlNode();
    return n ? n.text() : std::string();
}

// Writes the registration sRegId of type sType as the line's Form A or Form B: the one
// the line has, else a new one linked to it.
void StoreInform(TDbTransaction& tx, const char* sType, const std::string& sRegId,
                 const TVariant& current, int64_t lineId, const char* sLinkSql) {
    // A position without this registration says nothing about it: an empty number would
    // wipe or invent a certificate.
    if (Trim(sRegId).empty()) {
        Logger().Debug("{}нет справки {} для позиции с ID={}. Пропускаем.", kLog, sType, lineId);
        return;
    }
    if (!current.IsNull()) {
        tx.Run(kUpdateInformSql, {{"INFORM_TYPE", sType},
                                  {"INFORM_REG_ID", sRegId},
                                  {"DOC_TABLE_ID", lineId},
                                  {"INFORM_ID", current}});
        return;
    }
    const TVariant id =
        tx.Value(kAddInformSql,
                 {{"INFORM_TYPE", sType}, {"INFORM_REG_ID", sRegId}, {"DOC_TABLE_ID", lineId}});
    tx.Run(sLinkSql, {{"INFORM_ID", id}, {"DOC_TABLE_ID", lineId}});
}

}  // namespace

TIncomingSelection TInventoryRegInfoReader::Selection() const {
    TIncomingSelection selection;
    selection.Kinds = {"INVENTORYREGINFO"};
    return selection;
}

THandled TInventoryRegInfoReader::Handle(const TIncomingDocument& doc, TDbTransaction& tx) {
    const std::string& url = doc.Url;
    Logger().Debug("{}Сохраним {}.", kLog, url);
    bool bForm2 = true;
    TXmlNode root = doc.Xml.selectSingleNode("//ns:Document/ns:ActInventoryInformF2Reg");
    if (!root) {
        bForm2 = false;
        root = doc.Xml.selectSingleNode("//ns:Document/ns:ActInventoryInformBReg");
    }
    TXmlNode header = root ? GetChildNode(root, "aint:Header") : TXmlNode();
    if (!header) {
        Logger().Debug("{}в {} не найден aint:Header. Пропускаем.", kLog, url);
        return THandled::Kept;
    }
    TXmlNode actRegId = GetChildNode(header, "aint:ActRegId");
    if (!actRegId) {
        Logger().Debug("{}в {} не найден aint:ActRegId. Пропускаем.", kLog, url);
        return THandled::Kept;
    }
    const std::string sActRegId = Trim(actRegId.text());
    if (sActRegId.empty()) {
        Logger().Debug("{}в {} не указан ACT_REG_ID. Пропускаем.", kLog, url);
        return THandled::Kept;
    }

    std::optional<int64_t> headId;
    std::string sUtmDocId;
    std::string sActNumber;
    {
        TQuery& act = tx.Run(kActByRegIdSql, {{"ACT_REG_ID", sActRegId}});
        if (!act.Eof()) {
            headId = act.Int64("ID");
            sUtmDocId = act.Text("UTM_DOC_ID");
        }
    }
    if (!headId) {
        TXmlNode number = GetChildNode(header, "aint:Number");
        if (!number) {
            Logger().Debug("{}в {} не найден aint:Number. Пропускаем.", kLog, url);
            return THandled::Kept;
        }
        sActNumber = Trim(number.text());
        if (sActNumber.empty()) {
            Logger().Debug("{}в {} не указан номер акта. Пропускаем.", kLog, url);
            return THandled::Kept;
        }
        TQuery& act = tx.Run(kActByNumberSql, {{"ACT_NUMBER", sActNumber}});
        if (!act.Eof()) {
            headId = act.Int64("ID");
            sUtmDocId = act.Text("UTM_DOC_ID");
        }
        if (!headId) {
            Logger().Debug("{}В БД не найден документ с ACT_REG_ID={}. Пропускаем.", kLog,
                           sActRegId);
            return THandled::Kept;
        }
        Logger().Debug("{}Акт найден по номеру ({}). Восстановим WB_REG_ID и URL_REPLY_ID.", kLog,
                       sActNumber);
        const std::optional<std::string> replyId = doc.Entry.getAttribute("replyId");
        if (!replyId) {
            Logger().Debug("{}Не удалось получить URL_REPLY_ID в {}. Пропускаем.", kLog, url);
            return THandled::Kept;
        }
        tx.Run(kRestoreSql, {{"WB_REG_ID", sActRegId}, {"UID", *replyId}, {"DOC_ID", *headId}});
    }

    if (!sUtmDocId.empty() && *headId > 0) {
        TXmlNode content = GetChildNode(root, "aint:Content");
        for (const TXmlNode& position : content ? content.childNodes() : TXmlNodeList()) {
            if (position.nodeType() != ntElement ||
                NodeShortName(position.nodeName()) != "Position")
                continue;
            const std::string sPositionId = Trim(ChildText(position, "aint:Identity"));
            std::string sFormA, sFormB;
            if (bForm2) {
                sFormA = ChildText(position, "aint:InformF1RegId");
                TXmlNode f2 = GetChildNode(position, "aint:InformF2");
                sFormB = ChildText(f2 ? GetChildNode(f2, "aint:InformF2Item") : TXmlNode(),
                                   "aint:F2RegId");
            } else {
                sFormA = ChildText(position, "aint:InformARegId");
                TXmlNode b = GetChildNode(position, "aint:InformB");
                sFormB =
                    ChildText(b ? GetChildNode(b, "aint:InformBItem") : TXmlNode(), "aint:BRegId");
            }
            // The act's lines are numbered as the act was sent: by their identity.
            TQuery& line = tx.Run(kLineSql, {{"DOC_HEAD_ID", *headId},
                                             {"POSITION_ID", incoming::PositionIdOf(sPositionId)}});
            if (line.Eof()) {
                // A registration of a line the act does not have has nothing to land on.
                Logger().Debug("{}в акте ID={} нет позиции {}. Пропускаем позицию.", kLog, *headId,
                               sPositionId);
                continue;
            }
            const int64_t lineId = line.Int64("ID").value_or(0);
            const TVariant formA = line.FieldByName("INFORM1_ID");
            const TVariant formB = line.FieldByName("INFORM2_ID");
            Logger().Debug("Справки постановки на баланс: ID={}, А={}, B={}", lineId, sFormA,
                           sFormB);
            StoreInform(tx, "A", sFormA, formA, lineId, kLinkFormASql);
            StoreInform(tx, "B", sFormB, formB, lineId, kLinkFormBSql);
        }
    }
    return THandled::Stored;
}
