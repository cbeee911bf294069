// The reader of version-1 waybills: every element is found by XPath over the whole
// document, counterparties are read field by field.
#include "uCommon.h"
#include "uEgaisStorage.h"
#include "uHttpClient.h"
#include "uText.h"
#include "uIncomingWayBillJob.h"
#include "uIncomingWayBillParts.h"
#include "uLogger.h"
#include "uUtm.h"

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

bool TEgaisIncomingWayBillJob::LoadWayBillV1(const std::string& sURL) {
    if (UrlMarkedForDelete(sURL)) return true;
    std::optional<TXmlDocument> fetched = FetchWayBill(sURL);
    if (!fetched) return true;
    TXmlDocument xml = *fetched;

    TWayBillHead head;
    TXmlNode identity = xml.selectSingleNode("//ns:WayBill/wb:Identity");
    head.Key = (identity ? identity.text() : std::string("0")) + "/" +
               Text(xml, "//ns:WayBill/wb:Header/wb:Date") + "/" +
               Text(xml, "//ns:WayBill/wb:Header/wb:NUMBER");
    head.DocType = Text(xml, "//ns:WayBill/wb:Header/wb:Type") == "WBReturnFromMe" ? 4 : 0;
    Logger().Debug(">> Waybill identity " + head.Key);
    SaveXmlToFs(xml, sURL);

    TQueryPtr parties = NewQuery(TTxMode::Short);
    auto store = [&](const TCounterpartRecord& r) {
        return TVariant(AddCounterPart(*parties, r, [this] { CheckForAbort(); }));
    };
    TCounterpartRecord shipper = FlatParty(xml, "//wb:Shipper[1]/oref:");
    if (shipper.ShortName.empty()) shipper.ShortName = shipper.FullName;
    Logger().Debug("Add or update shipper...");
    head.Shipper = store(shipper);
    Logger().Debug(">> Add or update consignee...");
    head.Consignee = store(FlatParty(xml, "//wb:Consignee[1]/oref:"));
    if (xml.selectSingleNode("//wb:Supplier[1]")) {
        Logger().Debug(">> Add or update supplier...");
        head.Supplier = store(FlatParty(xml, "//wb:Supplier[1]/oref:"));
    }

    const TXmlNodeList positions = xml.selectNodes("//wb:Position");
    if (positions.length() == 0) return false;

    std::vector<TWayBillLine> lines;
    {
        TProductStore products;
        for (const TXmlNode& position : positions) {
            CheckForAbort();
            TVariant producerId;
            const TCounterpartRecord producer =
                FlatParty(position, "./wb:Product/pref:Producer/oref:");
            if (!producer.ClientRegId.empty() || !producer.FullName.empty()) {
                Logger().Debug(">> Add or update Producer " + producer.ClientRegId);
                producerId = store(producer);
            }
            const std::string sFullName = Text(position, "./wb:Product/pref:FullName");
            std::string sCapacity = Text(position, "./wb:Product/pref:Capacity");
            if (!position.selectSingleNode("./wb:Product/pref:Capacity")) sCapacity = "10";
            const std::string sAlcCode = Text(position, "./wb:Product/pref:AlcCode");
            Logger().Debug(">> Add or update product " + sFullName);
            products.Add({sFullName, Text(position, "./wb:Product/pref:ShortName"), sAlcCode,
                          sCapacity, Text(position, "./wb:Product/pref:AlcVolume"),
                          Text(position, "./wb:Product/pref:ProductVCode"), producerId});

            TWayBillLine line;
            line.Node = position;
            line.PositionId = PositionIdOf(Text(position, "./wb:Identity"));
            line.AlcCode = sAlcCode;
            line.Quantity = Value(position, "./wb:Quantity");
            line.Price = PriceOf(Value(position, "./wb:Price"));
            line.Pack = Value(position, "./wb:Pack_ID", 20);
            line.Party = Value(position, "./wb:Party", 20);
            lines.push_back(std::move(line));
        }
        products.Commit();
    }

    const std::string h = "//wb:Header/wb:";
    head.Set("FD_HEAD_ID", 0);
    head.Set("R_DATETIME", TVariant::Null());
    head.Set("UTM_DOC_ID", head.Key);
    head.Set("UTM_DOC_TYPE", head.DocType);
    head.Set("DOC_NUMBER", Utf8Left(Text(xml, h + "NUMBER"), 20));
    head.Set("DOC_DATE", Value(xml, h + "Date"));
    head.Set("SHIPPING_DATE", Value(xml, h + "ShippingDate"));
    head.Set("UNIT_TYPE", Value(xml, h + "UnitType", 50));
    head.Set("SHIPPER", head.Shipper);
    head.Set("CONSIGNEE", head.Consignee);
    head.Set("SUPPLIER", head.Supplier);
    head.Set("TRAN_TYPE", TranTypeOf(Value(xml, h + "Transport/wb:TRAN_TYPE")));
    const std::pair<const char*, size_t> transport[] = {
        {"TRAN_COMPANY", 150}, {"TRAN_CAR", 50},          {"TRAN_TRAILER", 50},
        {"TRAN_CUSTOMER", 150}, {"TRAN_DRIVER", 50},      {"TRAN_LOADPOINT", 1000},
        {"TRAN_UNLOADPOINT", 1000}, {"TRAN_REDIRECT", 50}, {"TRAN_FORWARDER", 50},
    };
    for (const auto& [name, maxChars] : transport)
        head.Set(name, Value(xml, h + "Transport/wb:" + name, maxChars));
    head.Set("BASE", Value(xml, h + "Base", 150));
    head.Set("NOTE", Value(xml, h + "Note", 200));
    head.Set("ACT_STATUS", 0);
    head.Set("ACT_NUMBER", TVariant::Null());
    head.Set("ACT_DATE", TVariant::Null());
    head.Set("ACT_NOTE", TVariant::Null());
    head.Set("STATUS", 1);
    head.Set("QOR_STATE", 255);
    head.Set("UTM_LINK", Utf8Left(sURL, 300));
    head.Set("FSRAR_ID", GetSettingProperty("FSRAR_ID").value_or(""));
    head.Set("PROTOCOL_VERSION", 1);
    StoreDocument(sURL, head, lines, 1);
    return true;
}
