// The waybill bodies (EGAIS "TTN") of format versions 1 to 4.
#include <cmath>

#include "uCommon.h"
#include "uCounterpart.h"
#include "uText.h"
#include "uDbProvider.h"
#include "uEgaisDocumentBuilder.h"
#include "uWaybillStatements.h"
#include "uLogger.h"

// The waybill's header with its counterparties, as the waybill and act bodies read it.
const char* const cSqlWayBillHead =
    "SELECT \r\n"
    "    h.*, \r\n"
    "    COALESCE(h.PROTOCOL_VERSION, 1) as DocProtocolVersion, \r\n"
    "    sh.INN AS shINN, \r\n"
    "    sh.KPP AS shKPP , \r\n"
    "    sh.FULL_NAME AS shFULL_NAME, \r\n"
    "    sh.SHORT_NAME AS shSHORT_NAME, \r\n"
    "    sh.COUNTRY AS shCOUNTRY, \r\n"
    "    sh.REGION_CODE AS shREGION_CODE, \r\n"
    "    sh.CITY AS shCITY, \r\n"
    "    sh.HOUSE AS shHOUSE, \r\n"
    "    sh.DESCRIPTION AS shDESCRIPTION, \r\n"
    "    sh.POSTCODE AS shPOSTCODE, \r\n"
    "    sh.BUILDING AS shBUILDING, \r\n"
    "    sh.LITER AS shLITER, \r\n"
    "    sh.CLIENTREG_ID AS shCLIENTREG_ID, \r\n"
    "    sh.AREA AS shAREA, \r\n"
    "    sh.PLACE AS shPLACE, \r\n"
    "    sh.STREET AS shSTREET, \r\n"
    "    sh.TYPE_PREFIX AS shTYPE_PREFIX, \r\n"
    "    COALESCE(sh.PROTOCOL_VERSION, 1) as ShProtocolVersion, \r\n"
    "    c.INN AS cINN, \r\n"
    "    c.KPP AS cKPP, \r\n"
    "    c.FULL_NAME AS cFULL_NAME, \r\n"
    "    c.SHORT_NAME AS cSHORT_NAME, \r\n"
    "    c.COUNTRY AS cCOUNTRY, \r\n"
    "    c.REGION_CODE AS cREGION_CODE, \r\n"
    "    c.CITY AS cCITY, \r\n"
    "    c.HOUSE AS cHOUSE, \r\n"
    "    c.DESCRIPTION AS cDESCRIPTION, \r\n"
    "    c.POSTCODE AS cPOSTCODE, \r\n"
    "    c.BUILDING AS cBUILDING, \r\n"
    "    c.LITER AS cLITER, \r\n"
    "    c.CLIENTREG_ID AS cCLIENTREG_ID, \r\n"
    "    c.AREA AS cAREA, \r\n"
    "    c.PLACE AS cPLACE, \r\n"
    "    c.STREET AS cSTREET, \r\n"
    "    c.TYPE_PREFIX AS cTYPE_PREFIX, \r\n"
    "    sup.INN AS supINN, \r\n"
    "    sup.KPP AS supKPP, \r\n"
    "    sup.FULL_NAME AS supFULL_NAME, \r\n"
    "    sup.SHORT_NAME AS supSHORT_NAME, \r\n"
    "    sup.COUNTRY AS supCOUNTRY, \r\n"
    "    sup.REGION_CODE AS supREGION_CODE, \r\n"
    "    sup.CITY AS supCITY, \r\n"
    "    sup.HOUSE AS supHOUSE, \r\n"
    "    sup.DESCRIPTION AS supDESCRIPTION, \r\n"
    "    sup.POSTCODE AS supPOSTCODE, \r\n"
    "    sup.BUILDING AS supBUILDING, \r\n"
    "    sup.LITER AS supLITER, \r\n"
    "    sup.CLIENTREG_ID AS supCLIENTREG_ID, \r\n"
    "    sup.AREA AS supAREA, \r\n"
    "    sup.PLACE AS supPLACE, \r\n"
    "    sup.STREET AS supSTREET, \r\n"
    "    sup.TYPE_PREFIX AS supTYPE_PREFIX \r\n"
    "FROM rg_egais_doc_head h \r\n"
    "  LEFT JOIN S_EGAIS_COUNTERPART sh on sh.ID = h.SHIPPER \r\n"
    "    LEFT JOIN S_EGAIS_COUNTERPART c on c.ID = h.CONSIGNEE \r\n"
    "      LEFT JOIN S_EGAIS_COUNTERPART sup on sup.ID = h.SUPPLIER \r\n"
    "WHERE h.ID = :ID ";

namespace {


const char* const cSqlWayBillLines =
    "SELECT \r\n"
    "      p.FULL_NAME, p.SHORT_NAME, p.ALC_CODE, p.CAPACITY,  \r\n"
    "      p.ALC_VOLUME, p.V_CODE,  \r\n"
    "      c.CLIENTREG_ID AS cCLIENTREG_ID, \r\n"
    "      c.INN AS cINN, \r\n"
    "      c.KPP AS cKPP, \r\n"
    "      c.FULL_NAME AS cFULL_NAME, \r\n"
    "      c.SHORT_NAME AS cSHORT_NAME, \r\n"
    "      c.COUNTRY AS cCOUNTRY, \r\n"
    "      c.REGION_CODE AS cREGION_CODE, \r\n"
    "      c.AREA AS cAREA, \r\n"
    "      c.CITY AS cCITY, \r\n"
    "      c.PLACE AS cPLACE, \r\n"
    "      c.STREET AS cSTREET, \r\n"
    "      c.HOUSE AS cHOUSE, \r\n"
    "      c.DESCRIPTION AS cDESCRIPTION, \r\n"
    "      c.POSTCODE AS cPOSTCODE, \r\n"
    "      c.BUILDING AS cBUILDING, \r\n"
    "      c.LITER AS cLITER, \r\n"
    "      c.TYPE_PREFIX AS cTYPE_PREFIX, \r\n"
    "      i.CLIENTREG_ID AS iCLIENTREG_ID, \r\n"
    "      i.INN AS iINN, \r\n"
    "      i.KPP AS iKPP, \r\n"
    "      i.FULL_NAME AS iFULL_NAME, \r\n"
    "      i.SHORT_NAME AS iSHORT_NAME, \r\n"
    "      i.COUNTRY AS iCOUNTRY, \r\n"
    "      i.REGION_CODE AS iREGION_CODE, \r\n"
    "      i.AREA AS iAREA, \r\n"
    "      i.CITY AS iCITY, \r\n"
    "      i.PLACE AS iPLACE, \r\n"
    "      i.STREET AS iSTREET, \r\n"
    "      i.HOUSE AS iHOUSE, \r\n"
    "      i.DESCRIPTION AS iDESCRIPTION, \r\n"
    "      i.POSTCODE AS iPOSTCODE, \r\n"
    "      i.BUILDING AS iBUILDING, \r\n"
    "      i.LITER AS iLITER, \r\n"
    "      i.TYPE_PREFIX AS iTYPE_PREFIX, \r\n"
    "      t.* \r\n"
    "FROM RG_EGAIS_DOC_TABLE t \r\n"
    "  LEFT OUTER JOIN S_EGAIS_INFORMS fa on fa.id=t.INFORM1_ID \r\n"
    "  LEFT JOIN S_EGAIS_PRODUCT p on (t.EGAIS_PRODUCT_ID = p.ID) \r\n"
    "    LEFT JOIN S_EGAIS_COUNTERPART c ON c.ID = COALESCE(fa.PRODUCER, p.PRODUCER) \r\n"
    "      LEFT JOIN S_EGAIS_COUNTERPART i ON i.ID = COALESCE(p.IMPORTER,fa.IMPORTER) \r\n"
    "WHERE t.EGAIS_DOC_HEAD_ID = :ID \r\n"
    "ORDER BY t.POSITION_ID";

const char* const cSqlWayBillInforms =
    "SELECT * \r\n"
    "FROM \r\n"
    "  S_EGAIS_INFORMS \r\n"
    "WHERE \r\n"
    "   ID IN ((select INFORM1_ID from RG_EGAIS_DOC_TABLE WHERE ID=:ID),\r\n"
    "   (select INFORM2_ID from RG_EGAIS_DOC_TABLE WHERE ID=:ID))\r\n"
    "ORDER BY \r\n"
    "  INFORM_TYPE ";

const char* const cSqlWayBillMarks =
    "SELECT * \r\n"
    "FROM RG_EGAIS_DOC_PDF417 \r\n"
    "WHERE (CHAR_LENGTH(MARK_CODE) > 67) AND (EGAIS_DOC_TABLE_ID = :ID) \r\n"
    "ORDER BY ID ";


// The current row of a query, read by column name; NULL reads as "".
class TRow {
public:
    explicit TRow(const TQuery& q) : FQuery(q) {}
    TVariant Value(const std::string& sName) const { return FQuery.FieldByName(sName); }
    bool IsNull(const std::string& sName) const { return Value(sName).IsNull(); }
    std::string Text(const std::string& sName) const { return XmlValueText(Value(sName)); }
    // Not NULL and not blank.
    bool IsSet(const std::string& sName) const { return !Trim(Text(sName)).empty(); }

private:
    const TQuery& FQuery;
};

// The values of one counterparty in a row, by the columns' prefix ("sh", "c", ...).
struct TCounterpartCols {
    std::string ClientRegId, FullName, ShortName, Inn, Kpp, Country, RegionCode, TypePrefix,
        Description;

    TCounterpartCols(const TRow& row, const std::string& sPrefix)
        : ClientRegId(row.Text(sPrefix + "CLIENTREG_ID")),
          FullName(row.Text(sPrefix + "FULL_NAME")),
          ShortName(row.Text(sPrefix + "SHORT_NAME")),
          Inn(row.Text(sPrefix + "INN")),
          Kpp(row.Text(sPrefix + "KPP")),
          Country(row.Text(sPrefix + "COUNTRY")),
          RegionCode(row.Text(sPrefix + "REGION_CODE")),
          TypePrefix(row.Text(sPrefix + "TYPE_PREFIX")),
          Description(row.Text(sPrefix + "DESCRIPTION")) {}

    // The record's kind: its own prefix, else the one its country and numbers give
    // (which may clear the numbers).
    std::string Kind() {
        if (!TypePrefix.empty()) return TypePrefix;
        return TDocBuilder::GetCounterpartCode(Country, Inn, Kpp);
    }
};

// The participants of a version-1 waybill, each with its own checks and texts.
enum TPartyRole { prShipper, prConsignee, prSupplier, prProducer, prImporter };

TQueryPtr OpenQuery(const char* sSql, int64_t iId) {
    TQueryPtr q = NewQuery(TTxMode::Long);
    q->SetSQL(sSql);
    q->SetParam("ID", iId);
    q->ExecQuery();
    return q;
}

void Rerun(TQuery& q, int64_t iId) {
    q.SetParam("ID", iId);
    q.ExecQuery();
}

}  // namespace

void TDocBuilder::BuildWayBillDocument() {
    BuildWayBill(1);
}
void TDocBuilder::BuildWayBillV2Document() {
    BuildWayBill(2);
}
void TDocBuilder::BuildWayBillV3Document() {
    BuildWayBill(3);
}
void TDocBuilder::BuildWayBillV4Document() {
    BuildWayBill(4);
}

namespace {

// Builds one waybill body; the version selects the differences between the formats.
class TWayBillBody {
public:
    TWayBillBody(TXmlDocument& Xml, int64_t iDocId, int iVersion)
        : FXml(Xml), FDocId(std::to_string(iDocId)), FVersion(iVersion) {}

    TXmlNode Element(TXmlNode parent, const std::string& sName) {
        return parent.appendChild(FXml.createElement(sName));
    }
    TXmlNode Text(TXmlNode parent, const std::string& sName, const std::string& sText) {
        TXmlNode node = Element(parent, sName);
        node.setText(sText);
        return node;
    }
    // The column's text as the element, only when the column is set (not NULL, not blank).
    void TextWhenSet(TXmlNode parent, const std::string& sName, const TRow& row,
                     const std::string& sColumn) {
        if (row.IsSet(sColumn)) Text(parent, sName, row.Text(sColumn));
    }

    void Header(TXmlNode wb, const TRow& head);
    void Lines(TXmlNode wb, int64_t iHeadId);

private:
    void Transport(TXmlNode header, const TRow& head);
    void HeaderCounterpart(TXmlNode header, const char* sElement, const TRow& head,
                           const std::string& sPrefix);
    void Counterpart(TXmlNode parent, TCounterpartCols& cols, const std::string& sKind);
    void CounterpartV1(TXmlNode element, const TRow& row, const std::string& sPrefix,
                       TPartyRole role);
    void Position(TXmlNode content, const TRow& line);
    void Certificates(TXmlNode position, const TRow& line, const std::string& sPositionId);

    TXmlDocument& FXml;
    std::string FDocId;
    int FVersion;
    TQueryPtr FInforms;
    TQueryPtr FMarks;
};

void TWayBillBody::Header(TXmlNode wb, const TRow& head) {
    Text(wb, "wb:Identity", head.Text("UTM_DOC_ID"));
    TXmlNode header = Element(wb, "wb:Header");
    const TVariant docType = head.Value("UTM_DOC_TYPE");
    const bool bReturn = !docType.IsNull() && docType.AsInt64() == 7;
    const char* sType = bReturn ? "WBReturnFromMe" : "WBInvoiceFromMe";

    if (FVersion == 4) {
        Text(header, "wb:Type", sType);
        Text(header, "wb:NUMBER", head.Text("DOC_NUMBER"));
        Text(header, "wb:Date", head.Text("R_DATETIME"));
        Text(header, "wb:ShippingDate", head.Text("SHIPPING_DATE"));
        Transport(header, head);
        HeaderCounterpart(header, "wb:Shipper", head, "sh");
        HeaderCounterpart(header, "wb:Consignee", head, "c");
    } else {
        Text(header, "wb:NUMBER", head.Text("DOC_NUMBER"));
        Text(header, "wb:Date", head.Text("R_DATETIME"));
        Text(header, "wb:ShippingDate", head.Text("SHIPPING_DATE"));
        Text(header, "wb:Type", sType);
        if (FVersion == 1) {
            Text(header, "wb:UnitType", head.Text("UNIT_TYPE"));
            CounterpartV1(Element(header, "wb:Shipper"), head, "sh", prShipper);
            CounterpartV1(Element(header, "wb:Consignee"), head, "c", prConsignee);
            if (!head.IsNull("supINN"))
                CounterpartV1(Element(header, "wb:Supplier"), head, "sup", prSupplier);
        } else {
            HeaderCounterpart(header, "wb:Shipper", head, "sh");
            HeaderCounterpart(header, "wb:Consignee", head, "c");
        }
        Transport(header, head);
    }
    Text(header, "wb:Base", head.Text("BASE"));
    Text(header, "wb:Note", head.Text("NOTE"));
}

void TWayBillBody::Transport(TXmlNode header, const TRow& head) {
    TXmlNode transport = Element(header, "wb:Transport");
    if (FVersion == 4) {
        const std::string sShipperInn = Trim(head.Text("shINN"));
        const std::string sConsigneeInn = Trim(head.Text("cINN"));
        if (sShipperInn == sConsigneeInn)
            Text(transport, "wb:ChangeOwnership", "NotChange");
        else if (!sShipperInn.empty() && !sConsigneeInn.empty())
            Text(transport, "wb:ChangeOwnership", "IsChange");
        Text(transport, "wb:TRAN_TYPE", head.IsSet("TRAN_TYPE") ? head.Text("TRAN_TYPE") : "413");
        Text(transport, "wb:TRANSPORT_TYPE", "car");
        Text(transport, "wb:TRAN_COMPANY", head.Text("TRAN_COMPANY"));
        Text(transport, "wb:TRANSPORT_REGNUMBER", head.Text("TRAN_CAR"));
    } else {
        TextWhenSet(transport, "wb:TRAN_TYPE", head, "TRAN_TYPE");
        Text(transport, "wb:TRAN_COMPANY", head.Text("TRAN_COMPANY"));
        Text(transport, "wb:TRAN_CAR", head.Text("TRAN_CAR"));
    }
    TextWhenSet(transport, "wb:TRAN_TRAILER", head, "TRAN_TRAILER");
    Text(transport, "wb:TRAN_CUSTOMER", head.Text("TRAN_CUSTOMER"));
    Text(transport, "wb:TRAN_DRIVER", head.Text("TRAN_DRIVER"));
    Text(transport, "wb:TRAN_LOADPOINT", head.Text("TRAN_LOADPOINT"));
    Text(transport, "wb:TRAN_UNLOADPOINT", head.Text("TRAN_UNLOADPOINT"));
    TextWhenSet(transport, "wb:TRAN_REDIRECT", head, "TRAN_REDIRECT");
    Text(transport, "wb:TRAN_FORWARDER", head.Text("TRAN_FORWARDER"));
}

void TWayBillBody::HeaderCounterpart(TXmlNode header, const char* sElement,
                                     const TRow& head, const std::string& sPrefix) {
    TCounterpartCols cols(head, sPrefix);
    if (FVersion == 4 && sPrefix == "c") {
        // The unloading point is the consignee's address when it says more.
        const std::string sUnload = head.Text("TRAN_UNLOADPOINT");
        if (Utf8Length(cols.Description) < Utf8Length(sUnload)) cols.Description = sUnload;
    }
    const std::string sKind = cols.Kind();
    if (cols.ClientRegId.empty() || cols.FullName.empty()) return;
    Counterpart(Element(header, sElement), cols, sKind);
}

void TWayBillBody::Counterpart(TXmlNode parent, TCounterpartCols& cols,
                               const std::string& sKind) {
    // Checked here so that the job records the refusal instead of retrying it forever.
    if (cols.ClientRegId.empty())
        throw EDocumentBuilderException(CounterpartWithoutIdMessage(cols.FullName));
    AddCounterpartToXml(FXml, parent, cols.ClientRegId, cols.FullName, cols.ShortName, cols.Inn,
                        cols.Kpp, cols.Country, cols.RegionCode, sKind, cols.Description);
}

void TWayBillBody::CounterpartV1(TXmlNode element, const TRow& row,
                                 const std::string& sPrefix, TPartyRole role) {
    const std::string sInn = sPrefix + "INN", sKpp = sPrefix + "KPP";
    const std::string sRegId = sPrefix + "CLIENTREG_ID";
    switch (role) {
        case prShipper:
        case prConsignee:
            if (!row.IsSet(sInn))
                throw EDocumentBuilderException(role == prShipper ? "Shippers inn is not found"
                                                                  : "Consignees inn is not found");
            Text(element, "oref:INN", row.Text(sInn));
            break;
        case prSupplier:
            Text(element, "oref:INN", row.Text(sInn));
            break;
        default:
            TextWhenSet(element, "oref:INN", row, sInn);
    }
    switch (role) {
        case prShipper:
            if (!row.IsSet(sKpp)) throw EDocumentBuilderException("Shippers kpp is not found");
            Text(element, "oref:KPP", row.Text(sKpp));
            break;
        case prSupplier:
            Text(element, "oref:KPP", row.Text(sKpp));
            break;
        default:
            TextWhenSet(element, "oref:KPP", row, sKpp);
    }
    if (!row.IsSet(sRegId)) {
        static const char* const cTexts[] = {
            "Shippers ClientRegId is empty", "Consignees ClientRegId is Empty",
            "Suppliers ClientRegId is empty", "Producer ClientRegId is empty",
            "Importer ClientRegId is empty"};
        throw EDocumentBuilderException(cTexts[role]);
    }
    Text(element, "oref:ClientRegId", row.Text(sRegId));
    Text(element, "oref:FullName", row.Text(sPrefix + "FULL_NAME"));
    TextWhenSet(element, "oref:ShortName", row, sPrefix + "SHORT_NAME");
    TXmlNode address = Element(element, "oref:address");
    Text(address, "oref:Country", row.Text(sPrefix + "COUNTRY"));
    TextWhenSet(address, "oref:RegionCode", row, sPrefix + "REGION_CODE");
    Text(address, "oref:description", row.Text(sPrefix + "DESCRIPTION"));
}

void TWayBillBody::Lines(TXmlNode wb, int64_t iHeadId) {
    TQueryPtr lines = OpenQuery(cSqlWayBillLines, iHeadId);
    TXmlNode content = Element(wb, "wb:Content");
    for (; !lines->Eof(); lines->Next()) Position(content, TRow(*lines));
}

void TWayBillBody::Position(TXmlNode content, const TRow& line) {
    const std::string sPositionId = line.Text("POSITION_ID");
    const bool bDebug = Logger().IsDebugEnabled();  // per-line texts are built only when logged
    if (bDebug)
        Logger().Debug("TEgaisDocBuilder: Накладная с ID=" + FDocId + ": добавим позицию №" +
                       sPositionId);
    TXmlNode position = Element(content, "wb:Position");
    Text(position, "wb:Identity", sPositionId);

    TXmlNode product = Element(position, "wb:Product");
    Text(product, "pref:FullName", line.Text("FULL_NAME"));
    TextWhenSet(product, "pref:ShortName", line, "SHORT_NAME");
    Text(product, "pref:AlcCode", line.Text("ALC_CODE"));
    TextWhenSet(product, "pref:Capacity", line, "CAPACITY");
    TextWhenSet(product, "pref:AlcVolume", line, "ALC_VOLUME");
    Text(product, "pref:ProductVCode", line.Text("V_CODE"));
    const bool bProducer = !line.IsNull("cCLIENTREG_ID") || !line.IsNull("cFULL_NAME");
    if (FVersion == 1) {
        if (bProducer) CounterpartV1(Element(product, "pref:Producer"), line, "c", prProducer);
        if (!line.IsNull("iINN") || !line.IsNull("iKPP"))
            CounterpartV1(Element(product, "pref:Importer"), line, "i", prImporter);
    } else {
        Text(product, "pref:UnitType", line.IsNull("CAPACITY") ? "Unpacked" : "Packed");
        if (bProducer) {
            TCounterpartCols producer(line, "c");
            const std::string sKind = producer.Kind();
            Counterpart(Element(product, "pref:Producer"), producer, sKind);
        }
    }

    const TVariant quantity = line.Value("QUANTITY");
    // A return carries a negative quantity; EGAIS wants the amount.
    const std::string sQuantity =
        quantity.IsNull() ? "" : FloatToXmlText(std::fabs(quantity.AsDouble()));
    Text(position, "wb:Quantity", sQuantity);
    Text(position, "wb:Price", line.Text("PRICE"));
    if (const std::string s = line.Text("PACK"); !s.empty()) Text(position, "wb:Pack_ID", s);
    if (const std::string s = line.Text("PART_NUMBER"); !s.empty()) Text(position, "wb:Party", s);
    Certificates(position, line, sPositionId);

    if (bDebug)
        Logger().Debug("TEgaisDocBuilder: Накладная с ID=" + FDocId + ", позиция №" +
                       sPositionId + ": Количество=" + sQuantity);
}

void TWayBillBody::Certificates(TXmlNode position, const TRow& line,
                                const std::string& sPositionId) {
    if (Logger().IsDebugEnabled())
        Logger().Debug("TEgaisDocBuilder: Накладная с ID=" + FDocId + ", позиция №" +
                       sPositionId + ": Запросим справки по формам 1 и 2");
    const int64_t iLineId = line.Value("ID").AsInt64();
    if (!FInforms)
        FInforms = OpenQuery(cSqlWayBillInforms, iLineId);
    else
        Rerun(*FInforms, iLineId);
    if (FInforms->Eof())
        throw EDocumentBuilderException(FVersion == 1
                                            ? "Couldn't obtain inform record"
                                            : "Не удалось найти справки по формама 1 и 2.");
    TXmlNode informB;  // the position's Form B container, made by its first row
    for (; !FInforms->Eof(); FInforms->Next()) {
        const TRow inform(*FInforms);
        const std::string sType = Trim(inform.Text("INFORM_TYPE"));
        const std::string sRegId = inform.Text("INFORM_REG_ID");
        if (sType == "A") {
            if (FVersion >= 3)
                Text(position, "wb:FARegId", sRegId);
            else
                Text(Element(position, FVersion == 2 ? "wb:InformF1" : "wb:InformA"),
                     "pref:RegId", sRegId);
        } else if (sType == "B") {
            if (FVersion == 1) {
                if (!informB) informB = Element(position, "wb:InformB");
                Text(Element(informB, "pref:InformBItem"), "pref:BRegId", sRegId);
            } else if (FVersion == 2) {
                if (!informB) informB = Element(position, "wb:InformF2");
                Text(Element(informB, "pref:InformF2Item"), "pref:F2RegId", sRegId);
            } else {
                if (!informB) informB = Element(position, "wb:InformF2");
                Text(informB, "ce:F2RegId", sRegId);
                if (!FMarks)
                    FMarks = OpenQuery(cSqlWayBillMarks, iLineId);
                else
                    Rerun(*FMarks, iLineId);
                if (!FMarks->Eof()) {
                    TXmlNode amcList =
                        Element(Element(Element(informB, "ce:MarkInfo"), "ce:boxpos"), "ce:amclist");
                    for (; !FMarks->Eof(); FMarks->Next())
                        Text(amcList, "ce:amc", TRow(*FMarks).Text("MARK_CODE"));
                }
            }
        }
    }
}

}  // namespace

void TDocBuilder::BuildWayBill(int iVersion) {
    const std::string FsRarId = GetSettingProperty("FSRAR_ID").value_or("");
    TXmlNode root = BodyRoot();

    TQueryPtr head = OpenQuery(cSqlWayBillHead, FDocId);
    if (head->Eof())
        throw EDocumentBuilderException(iVersion == 1 ? "Couldn't obtain document record"
                                                      : "Не могу получить заголовок накладной.");
    const TRow row(*head);
    if (row.IsNull("UTM_DOC_ID"))
        throw EDocumentBuilderException(iVersion == 1 ? "UTM_DOC_ID is undefined"
                                                      : "Поле UTM_DOC_ID заголовка не заполнено.");
    if (row.IsNull("DOC_NUMBER")) throw EDocumentBuilderException("Номер накладной не указан");

    static const char* const cElements[] = {"", "ns:WayBill", "ns:WayBill_v2", "ns:WayBill_v3",
                                            "ns:WayBill_v4"};
    TXmlNode wb = AppendDocumentElement(root, FsRarId, cElements[iVersion]);
    const std::string sDocId = std::to_string(FDocId);
    if (iVersion == 4)
        Logger().Debug("TEgaisDocBuilder: Соберем заголовок (V4) накладной ID=" + sDocId);
    else if (iVersion == 3)
        Logger().Debug("TEgaisDocBuilder: Соберем заголовок (V3) накладной ID=" + sDocId);
    else
        Logger().Debug("TEgaisDocBuilder: Соберем заголовок накладной ID=" + sDocId);

    TWayBillBody body(FXml, FDocId, iVersion);
    body.Header(wb, row);
    head.reset();
    Logger().Debug("TEgaisDocBuilder: Заголовок накладной ID=" + sDocId +
                   " успешно собран. Добавим позиции накладной.");
    body.Lines(wb, FDocId);
}
