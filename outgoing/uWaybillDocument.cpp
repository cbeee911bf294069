// The waybill bodies (EGAIS "TTN") of format versions 1 to 4.
#include <cmath>

#include "uCommon.h"
#include "uCounterpart.h"
#include "uDocumentBodies.h"
#include "uDocumentStatements.h"
#include "uLogger.h"
#include "uText.h"

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

// The longest wb:Base and wb:Note the schemas of every version take, in characters.
constexpr size_t kMaxWayBillText = 200;

// Not NULL and not blank.
bool IsSet(const TQuery& row, const std::string& sColumn) {
    return !Trim(XmlText(row, sColumn)).empty();
}

bool IsNull(const TQuery& row, const std::string& sColumn) {
    return row.FieldByName(sColumn).IsNull();
}

// The values of one counterparty in a row, by the columns' prefix ("sh", "c", ...).
struct TCounterpartCols {
    std::string ClientRegId, FullName, ShortName, Inn, Kpp, Country, RegionCode, TypePrefix,
        Description;

    TCounterpartCols(const TQuery& row, const std::string& sPrefix)
        : ClientRegId(XmlText(row, sPrefix + "CLIENTREG_ID")),
          FullName(XmlText(row, sPrefix + "FULL_NAME")),
          ShortName(XmlText(row, sPrefix + "SHORT_NAME")),
          Inn(XmlText(row, sPrefix + "INN")),
          Kpp(XmlText(row, sPrefix + "KPP")),
          Country(XmlText(row, sPrefix + "COUNTRY")),
          RegionCode(XmlText(row, sPrefix + "REGION_CODE")),
          TypePrefix(XmlText(row, sPrefix + "TYPE_PREFIX")),
          Description(XmlText(row, sPrefix + "DESCRIPTION")) {}

    // The record's kind: its own prefix, else the one its country and numbers give
    // (which may clear the numbers).
    std::string Kind() {
        if (TypePrefix.empty()) return TDocBuilder::GetCounterpartCode(Country, Inn, Kpp);
        // A foreign record has no Russian tax numbers, whoever chose its kind.
        if (TypePrefix == "FO" || TypePrefix == "TS") {
            Inn.clear();
            Kpp.clear();
        }
        return TypePrefix;
    }
};

// The refusal of a counterparty card that lacks what its record needs.
std::string IncompleteCardMessage(const TCounterpartCols& cols, const char* sWhat) {
    return "В карточке контрагента \"" + cols.FullName + "\" (" + cols.ClientRegId + ") " + sWhat +
           ": УТМ не примет документ.";
}

// The participants of a version-1 waybill, each with its own checks and texts.
enum TPartyRole { prShipper, prConsignee, prSupplier, prProducer, prImporter };

// Builds one waybill body; the version selects the differences between the formats.
class TWayBillBody {
public:
    TWayBillBody(TDocFrame& Frame, int iVersion)
        : F(Frame), FDocId(std::to_string(Frame.DocId())), FVersion(iVersion) {}

    void Header(TXmlNode wb, const TQuery& head);
    void Lines(TXmlNode wb);

private:
    // The column's text as the element, only when the column is set (not NULL, not blank).
    void TextWhenSet(TXmlNode parent, const std::string& sName, const TQuery& row,
                     const std::string& sColumn) {
        if (IsSet(row, sColumn)) F.Text(parent, sName, XmlText(row, sColumn));
    }
    void Transport(TXmlNode header, const TQuery& head);
    void HeaderCounterpart(TXmlNode header, const char* sElement, const TQuery& head,
                           const std::string& sPrefix);
    void Counterpart(TXmlNode parent, TCounterpartCols& cols, const std::string& sKind);
    void CounterpartV1(TXmlNode element, const TQuery& row, const std::string& sPrefix,
                       TPartyRole role);
    void Position(TXmlNode content, const TQuery& line);
    void Certificates(TXmlNode position, const TQuery& line, const std::string& sPositionId);

    TDocFrame& F;
    std::string FDocId;
    int FVersion;
};

void TWayBillBody::Header(TXmlNode wb, const TQuery& head) {
    F.Text(wb, "wb:Identity", XmlText(head, "UTM_DOC_ID"));
    TXmlNode header = F.Element(wb, "wb:Header");
    const bool bReturn = head.Int64("UTM_DOC_TYPE") == 7;
    const char* sType = bReturn ? "WBReturnFromMe" : "WBInvoiceFromMe";

    if (FVersion == 4) {
        F.Text(header, "wb:Type", sType);
        F.Text(header, "wb:NUMBER", XmlText(head, "DOC_NUMBER"));
        F.Text(header, "wb:Date", XmlText(head, "R_DATETIME"));
        F.Text(header, "wb:ShippingDate", XmlText(head, "SHIPPING_DATE"));
        Transport(header, head);
        HeaderCounterpart(header, "wb:Shipper", head, "sh");
        HeaderCounterpart(header, "wb:Consignee", head, "c");
    } else {
        F.Text(header, "wb:NUMBER", XmlText(head, "DOC_NUMBER"));
        F.Text(header, "wb:Date", XmlText(head, "R_DATETIME"));
        F.Text(header, "wb:ShippingDate", XmlText(head, "SHIPPING_DATE"));
        F.Text(header, "wb:Type", sType);
        if (FVersion == 1) {
            // Required by the schema; the back office leaves it empty for ordinary
            // bottled goods.
            F.Text(header, "wb:UnitType",
                   IsSet(head, "UNIT_TYPE") ? Trim(XmlText(head, "UNIT_TYPE")) : "Packed");
            CounterpartV1(F.Element(header, "wb:Shipper"), head, "sh", prShipper);
            CounterpartV1(F.Element(header, "wb:Consignee"), head, "c", prConsignee);
            if (!IsNull(head, "supINN"))
                CounterpartV1(F.Element(header, "wb:Supplier"), head, "sup", prSupplier);
        } else {
            HeaderCounterpart(header, "wb:Shipper", head, "sh");
            HeaderCounterpart(header, "wb:Consignee", head, "c");
        }
        Transport(header, head);
    }
    // The columns hold 1000 characters, the schemas take 200.
    F.Text(header, "wb:Base", Utf8Left(XmlText(head, "BASE"), kMaxWayBillText));
    F.Text(header, "wb:Note", Utf8Left(XmlText(head, "NOTE"), kMaxWayBillText));
}

void TWayBillBody::Transport(TXmlNode header, const TQuery& head) {
    TXmlNode transport = F.Element(header, "wb:Transport");
    if (FVersion == 4) {
        // The v4 schema requires the element. Ownership passes only between two
        // taxpayers of different INN; a party without INN (a foreign consignee) keeps it
        // as far as EGAIS can tell.
        const std::string sShipperInn = Trim(XmlText(head, "shINN"));
        const std::string sConsigneeInn = Trim(XmlText(head, "cINN"));
        const bool bChange =
            !sShipperInn.empty() && !sConsigneeInn.empty() && sShipperInn != sConsigneeInn;
        F.Text(transport, "wb:ChangeOwnership", bChange ? "IsChange" : "NotChange");
        F.Text(transport, "wb:TRAN_TYPE",
               IsSet(head, "TRAN_TYPE") ? XmlText(head, "TRAN_TYPE") : "413");
        F.Text(transport, "wb:TRANSPORT_TYPE", "car");
        F.Text(transport, "wb:TRAN_COMPANY", XmlText(head, "TRAN_COMPANY"));
        // A pick-up by the consignee has no car of ours; the element may be left out
        // but never be empty.
        TextWhenSet(transport, "wb:TRANSPORT_REGNUMBER", head, "TRAN_CAR");
    } else {
        TextWhenSet(transport, "wb:TRAN_TYPE", head, "TRAN_TYPE");
        F.Text(transport, "wb:TRAN_COMPANY", XmlText(head, "TRAN_COMPANY"));
        F.Text(transport, "wb:TRAN_CAR", XmlText(head, "TRAN_CAR"));
    }
    TextWhenSet(transport, "wb:TRAN_TRAILER", head, "TRAN_TRAILER");
    F.Text(transport, "wb:TRAN_CUSTOMER", XmlText(head, "TRAN_CUSTOMER"));
    F.Text(transport, "wb:TRAN_DRIVER", XmlText(head, "TRAN_DRIVER"));
    F.Text(transport, "wb:TRAN_LOADPOINT", XmlText(head, "TRAN_LOADPOINT"));
    F.Text(transport, "wb:TRAN_UNLOADPOINT", XmlText(head, "TRAN_UNLOADPOINT"));
    TextWhenSet(transport, "wb:TRAN_REDIRECT", head, "TRAN_REDIRECT");
    F.Text(transport, "wb:TRAN_FORWARDER", XmlText(head, "TRAN_FORWARDER"));
}

void TWayBillBody::HeaderCounterpart(TXmlNode header, const char* sElement, const TQuery& head,
                                     const std::string& sPrefix) {
    TCounterpartCols cols(head, sPrefix);
    if (FVersion == 4 && sPrefix == "c") {
        // The unloading point is the consignee's address when it says more.
        const std::string sUnload = XmlText(head, "TRAN_UNLOADPOINT");
        if (Utf8Length(cols.Description) < Utf8Length(sUnload)) cols.Description = sUnload;
    }
    const std::string sKind = cols.Kind();
    if (cols.ClientRegId.empty() || cols.FullName.empty()) return;
    Counterpart(F.Element(header, sElement), cols, sKind);
}

void TWayBillBody::Counterpart(TXmlNode parent, TCounterpartCols& cols, const std::string& sKind) {
    // Checked here so that the job records the refusal instead of retrying it forever.
    if (cols.ClientRegId.empty())
        throw EDocumentBuilderException(CounterpartWithoutIdMessage(cols.FullName));
    // The UTM refuses a record without what its kind requires; the back office can mend
    // the card when the request fails with its name.
    const std::string sRegion = Trim(cols.RegionCode);
    if ((sKind == "UL" || sKind == "FL") && (sRegion.empty() || sRegion == "00"))
        throw EDocumentBuilderException(IncompleteCardMessage(cols, "не указан код региона"));
    if (Trim(cols.Country).empty() || Trim(cols.Description).empty())
        throw EDocumentBuilderException(IncompleteCardMessage(cols, "не указаны страна или адрес"));
    AddCounterpartToXml(F.Xml(), parent, cols.ClientRegId, cols.FullName, cols.ShortName, cols.Inn,
                        cols.Kpp, cols.Country, cols.RegionCode, sKind, cols.Description);
}

void TWayBillBody::CounterpartV1(TXmlNode element, const TQuery& row, const std::string& sPrefix,
                                 TPartyRole role) {
    const std::string sInn = sPrefix + "INN", sKpp = sPrefix + "KPP";
    const std::string sRegId = sPrefix + "CLIENTREG_ID";
    switch (role) {
        case prShipper:
        case prConsignee:
            if (!IsSet(row, sInn))
                throw EDocumentBuilderException(role == prShipper ? "Shippers inn is not found"
                                                                  : "Consignees inn is not found");
            F.Text(element, "oref:INN", XmlText(row, sInn));
            break;
        case prSupplier:
            F.Text(element, "oref:INN", XmlText(row, sInn));
            break;
        default:
            TextWhenSet(element, "oref:INN", row, sInn);
    }
    switch (role) {
        case prShipper:
            if (!IsSet(row, sKpp)) throw EDocumentBuilderException("Shippers kpp is not found");
            F.Text(element, "oref:KPP", XmlText(row, sKpp));
            break;
        case prSupplier:
            F.Text(element, "oref:KPP", XmlText(row, sKpp));
            break;
        default:
            TextWhenSet(element, "oref:KPP", row, sKpp);
    }
    if (!IsSet(row, sRegId)) {
        static const char* const cTexts[] = {
            "Shippers ClientRegId is empty", "Consignees ClientRegId is Empty",
            "Suppliers ClientRegId is empty", "Producer ClientRegId is empty",
            "Importer ClientRegId is empty"};
        throw EDocumentBuilderException(cTexts[role]);
    }
    F.Text(element, "oref:ClientRegId", XmlText(row, sRegId));
    F.Text(element, "oref:FullName", XmlText(row, sPrefix + "FULL_NAME"));
    TextWhenSet(element, "oref:ShortName", row, sPrefix + "SHORT_NAME");
    TXmlNode address = F.Element(element, "oref:address");
    F.Text(address, "oref:Country", XmlText(row, sPrefix + "COUNTRY"));
    if (IsSet(row, sPrefix + "REGION_CODE"))  // cards may hold it padded: " 77"
        F.Text(address, "oref:RegionCode", Trim(XmlText(row, sPrefix + "REGION_CODE")));
    F.Text(address, "oref:description", XmlText(row, sPrefix + "DESCRIPTION"));
}

void TWayBillBody::Lines(TXmlNode wb) {
    TXmlNode content = F.Element(wb, "wb:Content");
    for (TQuery& lines = F.Db().Run(cSqlWayBillLines, {{"ID", F.DocId()}}); !lines.Eof();
         lines.Next())
        Position(content, lines);
}

void TWayBillBody::Position(TXmlNode content, const TQuery& line) {
    const std::string sPositionId = XmlText(line, "POSITION_ID");
    const bool bDebug = Logger().IsDebugEnabled();  // per-line texts are built only when logged
    if (bDebug)
        Logger().Debug("TEgaisDocBuilder: Накладная с ID={}: добавим позицию №{}", FDocId,
                       sPositionId);
    TXmlNode position = F.Element(content, "wb:Position");
    F.Text(position, "wb:Identity", sPositionId);

    TXmlNode product = F.Element(position, "wb:Product");
    F.Text(product, "pref:FullName", XmlText(line, "FULL_NAME"));
    TextWhenSet(product, "pref:ShortName", line, "SHORT_NAME");
    F.Text(product, "pref:AlcCode", XmlText(line, "ALC_CODE"));
    TextWhenSet(product, "pref:Capacity", line, "CAPACITY");
    TextWhenSet(product, "pref:AlcVolume", line, "ALC_VOLUME");
    F.Text(product, "pref:ProductVCode", XmlText(line, "V_CODE"));
    const bool bProducer = !IsNull(line, "cCLIENTREG_ID") || !IsNull(line, "cFULL_NAME");
    if (FVersion == 1) {
        if (bProducer) CounterpartV1(F.Element(product, "pref:Producer"), line, "c", prProducer);
        if (!IsNull(line, "iINN") || !IsNull(line, "iKPP"))
            CounterpartV1(F.Element(product, "pref:Importer"), line, "i", prImporter);
    } else {
        F.Text(product, "pref:UnitType", IsNull(line, "CAPACITY") ? "Unpacked" : "Packed");
        if (bProducer) {
            TCounterpartCols producer(line, "c");
            const std::string sKind = producer.Kind();
            Counterpart(F.Element(product, "pref:Producer"), producer, sKind);
        }
    }

    const TVariant quantity = line.FieldByName("QUANTITY");
    // A return carries a negative quantity; EGAIS wants the amount.
    const std::string sQuantity =
        quantity.IsNull() ? "" : FloatToXmlText(std::fabs(quantity.AsDouble()));
    F.Text(position, "wb:Quantity", sQuantity);
    F.Text(position, "wb:Price", XmlText(line, "PRICE"));
    if (const std::string s = XmlText(line, "PACK"); !s.empty()) F.Text(position, "wb:Pack_ID", s);
    if (const std::string s = XmlText(line, "PART_NUMBER"); !s.empty())
        F.Text(position, "wb:Party", s);
    Certificates(position, line, sPositionId);

    if (bDebug)
        Logger().Debug("TEgaisDocBuilder: Накладная с ID={}, позиция №{}: Количество={}", FDocId,
                       sPositionId, sQuantity);
}

void TWayBillBody::Certificates(TXmlNode position, const TQuery& line,
                                const std::string& sPositionId) {
    if (Logger().IsDebugEnabled())
        Logger().Debug(
            "TEgaisDocBuilder: Накладная с ID={}, позиция №{}: Запросим справки по формам 1 и 2",
            FDocId, sPositionId);
    const TVariant lineId = line.FieldByName("ID").AsInt64();
    TQuery& informs = F.Db().Run(cSqlWayBillInforms, {{"ID", lineId}});
    if (informs.Eof())
        throw EDocumentBuilderException(FVersion == 1
                                            ? "Couldn't obtain inform record"
                                            : "Не удалось найти справки по формама 1 и 2.");
    TXmlNode informB;  // the position's Form B container, made by its first row
    for (; !informs.Eof(); informs.Next()) {
        const std::string sType = Trim(XmlText(informs, "INFORM_TYPE"));
        const std::string sRegId = XmlText(informs, "INFORM_REG_ID");
        if (sType == "A") {
            if (FVersion >= 3)
                F.Text(position, "wb:FARegId", sRegId);
            else
                F.Text(F.Element(position, FVersion == 2 ? "wb:InformF1" : "wb:InformA"),
                       "pref:RegId", sRegId);
        } else if (sType == "B") {
            if (FVersion == 1) {
                if (!informB) informB = F.Element(position, "wb:InformB");
                F.Text(F.Element(informB, "pref:InformBItem"), "pref:BRegId", sRegId);
            } else if (FVersion == 2) {
                if (!informB) informB = F.Element(position, "wb:InformF2");
                F.Text(F.Element(informB, "pref:InformF2Item"), "pref:F2RegId", sRegId);
            } else {
                if (!informB) informB = F.Element(position, "wb:InformF2");
                F.Text(informB, "ce:F2RegId", sRegId);
                TQuery& marks = F.Db().Run(cSqlWayBillMarks, {{"ID", lineId}});
                if (!marks.Eof()) {
                    TXmlNode amcList = F.Element(
                        F.Element(F.Element(informB, "ce:MarkInfo"), "ce:boxpos"), "ce:amclist");
                    for (; !marks.Eof(); marks.Next())
                        F.Text(amcList, "ce:amc", XmlText(marks, "MARK_CODE"));
                }
            }
        }
    }
}

}  // namespace

void BuildWayBill(TDocFrame& F, int iVersion) {
    TQuery& head = F.Db().Run(kSqlWayBillHead, {{"ID", F.DocId()}});
    if (head.Eof())
        throw EDocumentBuilderException(iVersion == 1 ? "Couldn't obtain document record"
                                                      : "Не могу получить заголовок накладной.");
    if (IsNull(head, "UTM_DOC_ID"))
        throw EDocumentBuilderException(iVersion == 1 ? "UTM_DOC_ID is undefined"
                                                      : "Поле UTM_DOC_ID заголовка не заполнено.");
    if (IsNull(head, "DOC_NUMBER")) throw EDocumentBuilderException("Номер накладной не указан");

    static const char* const cElements[] = {"", "ns:WayBill", "ns:WayBill_v2", "ns:WayBill_v3",
                                            "ns:WayBill_v4"};
    TXmlNode wb = F.Document(cElements[iVersion]);
    const std::string sDocId = std::to_string(F.DocId());
    if (iVersion == 4)
        Logger().Debug("TEgaisDocBuilder: Соберем заголовок (V4) накладной ID={}", sDocId);
    else if (iVersion == 3)
        Logger().Debug("TEgaisDocBuilder: Соберем заголовок (V3) накладной ID={}", sDocId);
    else
        Logger().Debug("TEgaisDocBuilder: Соберем заголовок накладной ID={}", sDocId);

    TWayBillBody body(F, iVersion);
    body.Header(wb, head);
    head.Close();
    Logger().Debug(
        "TEgaisDocBuilder: Заголовок накладной ID={} успешно собран. Добавим позиции накладной.",
        sDocId);
    body.Lines(wb);
}
