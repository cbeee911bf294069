#include "uWayBillV3Reader.h"

#include <mutex>
#include <set>

#include "uCommon.h"
#include "uLogger.h"
#include "uQorJob.h"
#include "uText.h"
#include "uWayBillStatements.h"

using namespace incoming;

namespace {

std::mutex GSkipDocsLock;
std::set<std::string> GSkipDocs;  // guarded by GSkipDocsLock

}  // namespace

bool SkipDocsContains(const std::string& sURL) {
    std::lock_guard<std::mutex> guard(GSkipDocsLock);
    return GSkipDocs.count(sURL) > 0;
}

void SkipDocsAdd(const std::string& sURL) {
    std::lock_guard<std::mutex> guard(GSkipDocsLock);
    GSkipDocs.insert(sURL);
}

void ResetSkipDocs() {
    std::lock_guard<std::mutex> guard(GSkipDocsLock);
    GSkipDocs.clear();
}

TWayBillV3Reader::TWayBillV3Reader(TQorJob& job, int iVersion)
    : TWayBillV2Reader(job, "WayBill_v" + std::to_string(iVersion), iVersion) {}

bool TWayBillV3Reader::Takes(const std::string& url) {
    return TWayBillV2Reader::Takes(url) && !SkipDocsContains(url);
}

bool TWayBillV3Reader::ForUs(const TCounterpartRecord& consignee, const std::string& sFsrarId,
                             const std::string& sUrl) {
    if (consignee.ClientRegId == sFsrarId) return true;
    Logger().Debug("TEgaisIncomingWayBillJob: ОШИБКА: Настройки программы не соответствуют УТМ.");
    Logger().Debug("TEgaisIncomingWayBillJob: FSRAR ID в настройках: {}", sFsrarId);
    Logger().Debug("TEgaisIncomingWayBillJob: FSRAR ID ТТН: {}", consignee.ClientRegId);
    Logger().Debug("TEgaisIncomingWayBillJob: До устранения несоответствия прием ТТН невозможен.");
    Job().SendMessageToBackOffice(
        "Настройки программы КОР не соответствуют УТМ.\r\nДо устранения несоответствия прием "
        "ТТН ЕГАИС невозможен.");
    SkipDocsAdd(sUrl);
    return false;
}

void TWayBillV3Reader::StoreInforms(TDbTransaction& tx, const TXmlNode& position, int64_t lineId,
                                    const TVariant& shipper) {
    TXmlNode product = GetChildNode(position, "wb:Product");
    TXmlNode faRegId = GetChildNode(position, "wb:FARegId");
    if (!faRegId) throw EQorJobException("Не найден тег wb:FARegId");
    const std::string sFormA = Utf8Left(faRegId.text(), 50);
    const std::string sAlcCode = Utf8Left(ChildText(product, "pref:AlcCode"), 30);

    const TVariant formA = StoreInform(tx, "A", sFormA, shipper, sAlcCode);
    LinkInform(tx, true, formA, lineId);

    TXmlNode informF2 = GetChildNode(position, "wb:InformF2");
    TXmlNode f2RegId = informF2 ? GetChildNode(informF2, "ce:F2RegId") : TXmlNode();
    if (!f2RegId) throw EQorJobException("Не найден тег ce:F2RegId");
    const TVariant formB = StoreInform(tx, "B", Utf8Left(f2RegId.text(), 50), shipper, sAlcCode);
    LinkInform(tx, false, formB, lineId);

    TXmlNode markInfo = GetChildNode(informF2, "ce:MarkInfo");
    if (!markInfo) return;
    int k = 0;
    for (TXmlNode box = markInfo.firstChild(); box; box = box.nextSibling()) {
        if (box.nodeType() != ntElement) continue;
        const int iBox = k++;
        TXmlNode boxNumber = GetChildNode(box, "ce:boxnumber");
        const std::string sBox = boxNumber ? boxNumber.text() : "box-" + std::to_string(iBox);
        TXmlNode amcList = GetChildNode(box, "ce:amclist");
        if (!amcList) continue;
        for (TXmlNode amc = amcList.firstChild(); amc; amc = amc.nextSibling()) {
            if (amc.nodeType() != ntElement) continue;
            const std::string sMark = Trim(amc.text());
            if (sMark.empty()) continue;
            Logger().Debug("Добавим акцизную марку \"{}\"", sMark);
            tx.Run(kMarkSql, {{"ID", lineId},
                              {"MARK_CODE", sMark},
                              {"BOX", sBox},
                              {"FORM1_ID", formA},
                              {"FORM2_ID", formB}});
        }
    }
}
