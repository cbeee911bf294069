#include "uWayBillActReader.h"

#include <optional>
#include <vector>

#include "uCommon.h"
#include "uDbProvider.h"
#include "uLogger.h"
#include "uQorJob.h"
#include "uRequestStore.h"
#include "uText.h"
#include "uWayBillReader.h"
#include "uXml.h"

namespace {

constexpr const char* kLog = "TEgaisIncomingActJob: ";
const std::string Q = "\"";

constexpr const char* kLineSql =
    "SELECT FIRST 1 ID FROM RG_EGAIS_DOC_TABLE \r\n"
    "WHERE EGAIS_DOC_HEAD_ID = :ID AND POSITION_ID = :POSITION_ID";
constexpr const char* kRealQuantitySql =
    "UPDATE RG_EGAIS_DOC_TABLE SET REAL_QUANTITY = :REAL_QUANTITY \r\n"
    "WHERE EGAIS_DOC_HEAD_ID = :ID AND POSITION_ID = :POSITION_ID";

std::vector<TXmlNode> ElementChildren(const TXmlNode& parent) {
    std::vector<TXmlNode> out;
    if (!parent) return out;
    for (const TXmlNode& n : parent.childNodes())
        if (n.nodeType() == ntElement) out.push_back(n);
    return out;
}

std::string TrimmedChild(const TXmlNode& parent, const char* sName) {
    TXmlNode n = GetChildNode(parent, sName);
    return n ? Trim(n.text()) : std::string();
}

}  // namespace

TWayBillActReader::TWayBillActReader(TQorJob& job, std::string sKind)
    : TIncomingReader(job), FKind(std::move(sKind)) {}

TIncomingSelection TWayBillActReader::Selection() const {
    TIncomingSelection selection;
    selection.Kinds = {FKind};
    return selection;
}

void TWayBillActReader::Fetching(const std::string& url) {
    Logger().Debug("{}загружаем {}", kLog, url);
}

THandled TWayBillActReader::Handle(const TIncomingDocument& doc, TDbTransaction& tx) {
    const std::string& url = doc.Url;
    TXmlNode root;
    for (const char* name : {"WayBillAct_v4", "WayBillAct_v3", "WayBillAct_v2", "WayBillAct"}) {
        root = doc.Xml.selectSingleNode(std::string("ns:Documents/ns:Document/ns:") + name);
        if (root) break;
    }
    if (!root) throw EQorJobException("Не удалось найти тег ns:WayBillAct_v4 (ns:WayBillAct).");
    // Below the root the elements are taken by their local names: every version has its
    // own namespace for the same names.
    TXmlNode header = GetChildNode(root, "wa:Header");
    if (!header) throw EQorJobException("wa:Header is not found");
    TXmlNode regId = GetChildNode(header, "wa:WBRegId");
    if (!regId) throw EQorJobException("WbRegId is not found");

    TXmlNode isAccept = GetChildNode(header, "wa:IsAccept");
    if (!isAccept) {
        Logger().Debug("{}неправильная структура документа {}", kLog, url);
        Logger().Debug("{}тег {}IsAccept{} не найден.", kLog, Q, Q);
        Logger().Debug("{}Удаляем {}", kLog, url);
        return THandled::Stored;
    }
    const std::string sAnswer = UpperAscii(Trim(isAccept.text()));
    if (sAnswer.empty()) throw EQorJobException("IsAccept is empty");

    const std::vector<TXmlNode> positions = ElementChildren(GetChildNode(root, "wa:Content"));
    const bool bAccepted = sAnswer == "ACCEPTED" || sAnswer == "DIFFERENCES";
    TDocHeadUpdate update;
    update.FindRegId = regId.text();
    update.FindDocTypes = "1,7";
    if (TXmlNode n = GetChildNode(header, "wa:ACTNUMBER")) update.ActNumber = n.text();
    if (TXmlNode n = GetChildNode(header, "wa:ActDate")) update.ActDate = n.text();
    if (TXmlNode n = GetChildNode(header, "wa:Note")) {
        update.ActNote = n.text();
        Logger().Debug("{}комментарий к акту: {}", kLog, n.text());
    }
    if (bAccepted) {
        update.Status = positions.empty() ? 4 : 3;
        update.ActStatus = positions.empty() ? 1 : 0;
    } else if (sAnswer == "REJECTED") {
        update.Status = 5;
        update.ActStatus = -1;
    }
    const TVariant headId = UpdateDocHead(tx, update);
    if (headId.IsNull()) {
        // An act on a waybill we do not have will never find one: it leaves the UTM
        // and nothing is changed.
        Logger().Debug(Job().ClassName(),
                       EQorJobException("Unable to obtain id from RG_EGAIS_DOC_HEAD"));
        return THandled::Stored;
    }
    if (bAccepted) {
        for (const TXmlNode& position : positions) {
            const std::string sIdentity = TrimmedChild(position, "wa:Identity");
            if (sIdentity.empty()) throw EQorJobException("Positions identity does not exist");
            const std::string sReal = TrimmedChild(position, "wa:RealQuantity");
            if (sReal.empty()) throw EQorJobException("Real quantity does not exist");
            // The identity as our waybill sent it, numbered as the waybill's lines are.
            const TVariant positionId = incoming::PositionIdOf(sIdentity);
            if (tx.Value(kLineSql, {{"ID", headId}, {"POSITION_ID", positionId}}).IsNull())
                throw EQorJobException("Unable to obtain id from RG_EGAIS_DOC_TABLE");
            tx.Run(kRealQuantitySql,
                   {{"REAL_QUANTITY", sReal}, {"ID", headId}, {"POSITION_ID", positionId}});
        }
    }
    Logger().Debug("{}{} успешно загружен.", kLog, url);
    return THandled::Stored;
}
