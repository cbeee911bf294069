// Form A and Form B registrations and excise marks of the positions of an incoming
// waybill, stored inside the waybill's transaction.
#include "uCommon.h"
#include "uDbProvider.h"
#include "uText.h"
#include "uIncomingWayBillJob.h"
#include "uLogger.h"
#include "uWayBillStatements.h"

using namespace incoming;

namespace {

std::string ChildText(const TXmlNode& parent, const char* sName) {
    TXmlNode n = parent ? GetChildNode(parent, sName) : TXmlNode();
    return n ? n.text() : std::string();
}

// Upserts one registration and returns its ID.
TVariant StoreInform(TWayBillStatements& Q, const char* sType, const std::string& sRegId,
                     const TVariant& Shipper, const std::string& sAlcCode) {
    TQuery& up = *Q.InformUpsert;
    up.Close();
    up.SetParam("INFORM_TYPE", sType);
    up.SetParam("INFORM_REG_ID", sRegId);
    up.SetParam("SHIPPER", Shipper);
    up.SetParam("ALC_CODE", sAlcCode);
    up.ExecQuery();

    TQuery& sel = *Q.InformSelect;
    sel.Close();
    sel.SetParam("INFORM_REG_ID", sRegId);
    sel.SetParam("INFORM_TYPE", sType);
    sel.ExecQuery();
    TVariant id = sel.Eof() ? TVariant::Null() : sel.FieldByName("ID");
    TVariant product = sel.Eof() ? TVariant::Null() : sel.FieldByName("EGAIS_PRODUCT_ID");
    sel.Close();
    if (id.IsNull() || product.IsNull())
        throw EQorJobException("Cannot obtain identity from s_egais_informs ");
    return id;
}

void LinkInform(TQuery& q, const TVariant& informId, int64_t DocTableId) {
    q.Close();
    q.SetParam("INFORM_ID", informId);
    q.SetParam("DOC_TABLE_ID", DocTableId);
    q.ExecQuery();
}

}  // namespace

TWayBillStatements TWayBillStatements::Open() {
    TWayBillStatements s;
    // Every query of the set works on the connection's transaction, so that one commit
    // covers all of them; the first starts it.
    auto open = [](const char* sql) {
        TQueryPtr q = NewQuery(TTxMode::Long, TTxOwner::Connection);
        q->SetSQL(sql);
        q->Prepare();
        return q;
    };
    s.Head = open(kHeadSql);
    s.Line = open(kLineSql);
    s.InformUpsert = open(kInformUpsertSql);
    s.InformSelect = open(kInformSelectSql);
    s.Inform1 = open(kSetInform1Sql);
    s.Inform2 = open(kSetInform2Sql);
    s.Mark = open(kMarkSql);
    s.Link = NewQuery(TTxMode::Long, TTxOwner::Connection);
    return s;
}

void TWayBillStatements::Commit() { Head->Transaction().Commit(); }

void TWayBillStatements::Rollback() noexcept {
    try {
        if (Head && Head->Transaction().Active()) Head->Transaction().Rollback();
    } catch (const std::exception& e) {
        // A lost connection cannot roll back; the server discards the work itself.
        Logger().Debug("TWayBillStatements.Rollback", e);
    }
}

void TEgaisIncomingWayBillJob::AddInformsV3(TWayBillStatements& Q, const TXmlNode& AXml,
                                            int64_t DocTableId, const TVariant& Shipper) {
    TXmlNode product = GetChildNode(AXml, "wb:Product");
    TXmlNode faRegId = GetChildNode(AXml, "wb:FARegId");
    if (!faRegId) throw EQorJobException("Не найден тег wb:FARegId");
    const std::string sFormA = Utf8Left(faRegId.text(), 50);
    const std::string sAlcCode = Utf8Left(ChildText(product, "pref:AlcCode"), 30);

    const TVariant formA = StoreInform(Q, "A", sFormA, Shipper, sAlcCode);
    LinkInform(*Q.Inform1, formA, DocTableId);

    TXmlNode informF2 = GetChildNode(AXml, "wb:InformF2");
    TXmlNode f2RegId = informF2 ? GetChildNode(informF2, "ce:F2RegId") : TXmlNode();
    if (!f2RegId) throw EQorJobException("Не найден тег ce:F2RegId");
    const TVariant formB = StoreInform(Q, "B", Utf8Left(f2RegId.text(), 50), Shipper, sAlcCode);
    LinkInform(*Q.Inform2, formB, DocTableId);

    TXmlNode markInfo = GetChildNode(informF2, "ce:MarkInfo");
    if (!markInfo) return;
    TQuery& mark = *Q.Mark;
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
            Logger().Debug("Добавим акцизную марку \"" + sMark + "\"");
            mark.Close();
            mark.SetParam("ID", DocTableId);
            mark.SetParam("MARK_CODE", sMark);
            mark.SetParam("BOX", sBox);
            mark.SetParam("FORM1_ID", formA);
            mark.SetParam("FORM2_ID", formB);
            mark.ExecQuery();
        }
    }
}

void TEgaisIncomingWayBillJob::AddInformsV2(TWayBillStatements& Q, const TXmlNode& AXml,
                                            int64_t DocTableId, const TVariant& Shipper) {
    TXmlNode product = GetChildNode(AXml, "wb:Product");
    TXmlNode informF1 = GetChildNode(AXml, "wb:InformF1");
    if (!informF1) throw EQorJobException("Не найден тег wb:InformF1");
    const std::string sAlcCode = Utf8Left(ChildText(product, "pref:AlcCode"), 30);
    const TVariant formA =
        StoreInform(Q, "A", Utf8Left(ChildText(informF1, "pref:RegId"), 50), Shipper, sAlcCode);
    LinkInform(*Q.Inform1, formA, DocTableId);

    TXmlNode informF2 = GetChildNode(AXml, "wb:InformF2");
    if (!informF2) return;
    for (TXmlNode item = informF2.firstChild(); item; item = item.nextSibling()) {
        if (item.nodeType() != ntElement) continue;
        TXmlNode f2RegId = GetChildNode(item, "pref:F2RegId");
        if (!f2RegId) throw EQorJobException("Не найден тег pref:F2RegId");
        const TVariant formB =
            StoreInform(Q, "B", Utf8Left(f2RegId.text(), 50), Shipper, sAlcCode);
        LinkInform(*Q.Inform2, formB, DocTableId);  // the last one stays
    }
}

void TEgaisIncomingWayBillJob::AddInforms(TWayBillStatements& Q, const TXmlNode& AXml,
                                          int64_t DocTableId, const TVariant& Shipper) {
    TXmlNode regId = AXml.selectSingleNode("./wb:InformA/pref:RegId");
    if (!regId) throw EQorJobException("Не найден тег wb:InformA");
    TXmlNode alcCode = AXml.selectSingleNode("./wb:Product/pref:AlcCode");
    const std::string sAlcCode = Utf8Left(alcCode ? alcCode.text() : "", 30);
    const TVariant formA = StoreInform(Q, "A", Utf8Left(regId.text(), 50), Shipper, sAlcCode);
    LinkInform(*Q.Inform1, formA, DocTableId);

    for (const TXmlNode& bRegId :
         AXml.selectNodes("./wb:InformB/pref:InformBItem[*]/pref:BRegId")) {
        const TVariant formB = StoreInform(Q, "B", Utf8Left(bRegId.text(), 50), Shipper, sAlcCode);
        LinkInform(*Q.Inform2, formB, DocTableId);
    }
}
