#include "uWayBillV1Reader.h"

#include "uCommon.h"
#include "uLogger.h"
#include "uQorJob.h"
#include "uText.h"

using namespace incoming;

namespace {

std::string Text(const TXmlNode& from, const std::string& sXPath) {
    TXmlNode n = from.selectSingleNode(sXPath);
    return n ? n.text() : std::string();
}

TVariant Value(const TXmlNode& from, const std::string& sXPath, size_t iMaxChars = 0) {
    TXmlNode n = from.selectSingleNode(sXPath);
    if (!n) return TVariant::Null();
    return iMaxChars ? TVariant(Utf8Left(n.text(), iMaxChars)) : TVariant(n.text());
}

// A counterparty of the version-1 vocabulary, below the element sBase ends with.
TCounterpartRecord FlatParty(const TXmlNode& from, const std::string& sBase) {
    TCounterpartRecord r;
    r.ClientRegId = Text(from, sBase + "ClientRegId");
    r.Inn = Value(from, sBase + "INN");
    r.Kpp = Value(from, sBase + "KPP");
    r.FullName = Text(from, sBase + "FullName");
    r.ShortName = Text(from, sBase + "ShortName");
    const std::string a = sBase + "address/oref:";
    r.Country = Text(from, a + "Country");
    r.RegionCode = Text(from, a + "RegionCode");
    r.City = Text(from, a + "city");
    r.Street = Text(from, a + "street");
    r.House = Text(from, a + "house");
    r.Index = Text(from, a + "Index");
    r.Building = Text(from, a + "building");
    r.Litera = Text(from, a + "liter");
    r.Descr = Text(from, a + "description");
    return r;
}

}  // namespace

TWayBillV1Reader::TWayBillV1Reader(TQorJob& job) : TWayBillReader(job, "WayBill", 1) {}

TOnError TWayBillV1Reader::OnError(const std::exception&) const {
    return Storing() ? TOnError::SkipDocument : TOnError::EndRun;
}

void TWayBillV1Reader::Fetching(const std::string&) {}

THandled TWayBillV1Reader::Handle(const TIncomingDocument& doc, TDbTransaction& tx) {
    const TXmlDocument& xml = doc.Xml;
    TWayBillHead head;
    TXmlNode identity = xml.selectSingleNode("//ns:WayBill/wb:Identity");
    head.Key = (identity ? identity.text() : std::string("0")) + "/" +
               Text(xml, "//ns:WayBill/wb:Header/wb:Date") + "/" +
               Text(xml, "//ns:WayBill/wb:Header/wb:NUMBER");
    head.DocType = Text(xml, "//ns:WayBill/wb:Header/wb:Type") == "WBReturnFromMe" ? 4 : 0;
    Logger().Debug(">> Waybill identity {}", head.Key);

    TQueryPtr parties = NewQuery(TTxMode::Short);
    TCounterpartRecord shipper = FlatParty(xml, "//wb:Shipper[1]/oref:");
    if (shipper.ShortName.empty()) shipper.ShortName = shipper.FullName;
    Logger().Debug("Add or update shipper...");
    head.Shipper = StoreParty(*parties, shipper);
    Logger().Debug(">> Add or update consignee...");
    head.Consignee = StoreParty(*parties, FlatParty(xml, "//wb:Consignee[1]/oref:"));
    if (xml.selectSingleNode("//wb:Supplier[1]")) {
        Logger().Debug(">> Add or update supplier...");
        head.Supplier = StoreParty(*parties, FlatParty(xml, "//wb:Supplier[1]/oref:"));
    }

    const TXmlNodeList positions = xml.selectNodes("//wb:Position");
    if (positions.length() == 0) return THandled::Last;

    std::vector<TWayBillLine> lines;
    WithProducts([&](TQuery& products) {
        for (const TXmlNode& position : positions) {
            Job().CheckForAbort();
            TVariant producerId;
            const TCounterpartRecord producer =
                FlatParty(position, "./wb:Product/pref:Producer/oref:");
            if (!producer.ClientRegId.empty() || !producer.FullName.empty()) {
                Logger().Debug(">> Add or update Producer {}", producer.ClientRegId);
                producerId = StoreParty(*parties, producer);
            }
            const std::string sFullName = Text(position, "./wb:Product/pref:FullName");
            std::string sCapacity = Text(position, "./wb:Product/pref:Capacity");
            if (!position.selectSingleNode("./wb:Product/pref:Capacity")) sCapacity = "10";
            const std::string sAlcCode = Text(position, "./wb:Product/pref:AlcCode");
            Logger().Debug(">> Add or update product {}", sFullName);
            AddProduct(products,
                       {sFullName, Text(position, "./wb:Product/pref:ShortName"), sAlcCode,
                        sCapacity, Text(position, "./wb:Product/pref:AlcVolume"),
                        Text(position, "./wb:Product/pref:ProductVCode"), producerId});

            lines.push_back(
                LineOf(position, sAlcCode, [&](const std::string& sName, size_t iMaxChars) {
                    return Value(position, "./wb:" + sName, iMaxChars);
                }));
        }
        return true;
    });

    const std::string h = "//wb:Header/wb:";
    TWayBillHeader values;
    values.Number = Text(xml, h + "NUMBER");
    values.Date = Value(xml, h + "Date");
    values.ShippingDate = Value(xml, h + "ShippingDate");
    values.UnitType = Value(xml, h + "UnitType", 50);
    values.TranType = Value(xml, h + "Transport/wb:TRAN_TYPE");
    for (const TTransportField& f : TransportFields())
        values.Transport.push_back(Value(xml, h + "Transport/wb:" + f.Name, f.MaxChars));
    values.Base = Value(xml, h + "Base", 150);
    values.Note = Value(xml, h + "Note", 200);
    CompleteHead(head, values, doc.Url, GetSettingProperty("FSRAR_ID").value_or(""));
    return Store(tx, head, lines);
}

void TWayBillV1Reader::StoreInforms(TDbTransaction& tx, const TXmlNode& position, int64_t lineId,
                                    const TVariant& shipper) {
    Logger().Debug("Before insert informs");
    TXmlNode regId = position.selectSingleNode("./wb:InformA/pref:RegId");
    if (!regId) throw EQorJobException("Не найден тег wb:InformA");
    TXmlNode alcCode = position.selectSingleNode("./wb:Product/pref:AlcCode");
    const std::string sAlcCode = Utf8Left(alcCode ? alcCode.text() : "", 30);
    const TVariant formA = StoreInform(tx, "A", Utf8Left(regId.text(), 50), shipper, sAlcCode);
    LinkInform(tx, true, formA, lineId);

    for (const TXmlNode& bRegId :
         position.selectNodes("./wb:InformB/pref:InformBItem[*]/pref:BRegId")) {
        const TVariant formB = StoreInform(tx, "B", Utf8Left(bRegId.text(), 50), shipper, sAlcCode);
        LinkInform(tx, false, formB, lineId);
    }
}
