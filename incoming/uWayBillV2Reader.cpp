#include "uWayBillV2Reader.h"

#include "uCommon.h"
#include "uLogger.h"
#include "uQorJob.h"
#include "uText.h"

using namespace incoming;

namespace {

struct TVersionTexts {
    const char* RootPath;
    const char* RootTag;
    const char* RootNameLog;
    const char* IdentityLog;
};

TVersionTexts TextsOf(int iVersion) {
    switch (iVersion) {
        case 4:
            return {"ns:Documents/ns:Document/ns:WayBill_v4", "ns:WayBill_v4",
                    "TEgaisIncomingWayBillJob: V4 RootName=", ">> Waybill V4 identity "};
        case 3:
            return {"ns:Documents/ns:Document/ns:WayBill_v3", "ns:WayBill_v3",
                    "TEgaisIncomingWayBillJob: V3 RootName=", ">> Waybill V3 identity "};
        default:
            return {"ns:Documents/ns:Document/ns:WayBill_v2", "ns:WayBill_v2",
                    "TEgaisIncomingWayBillJob: RootName=", ">> Waybill identity "};
    }
}

bool ReadParty(const TXmlNode& node, TCounterpartRecord& r) {
    return node && LoadCounterPart(node, r);
}

// A party the header must name (sTag), or false after saying what is missing; sWhose
// ends the line of a party that cannot be read.
bool ReadHeaderParty(const TXmlNode& header, const std::string& sTag, const char* sWhose,
                     TCounterpartRecord& r) {
    TXmlNode node = GetChildNode(header, sTag);
    if (!node) {
        Logger().Debug("TEgaisIncomingWayBillJob: Не удалось найти тег {}", sTag);
        return false;
    }
    if (ReadParty(node, r)) return true;
    Logger().Debug("TEgaisIncomingWayBillJob: Не удалось найти загрузить данные о {}.", sWhose);
    return false;
}

}  // namespace

TWayBillV2Reader::TWayBillV2Reader(TQorJob& job) : TWayBillV2Reader(job, "WayBill_v2", 2) {}

TWayBillV2Reader::TWayBillV2Reader(TQorJob& job, std::string sKind, int iVersion)
    : TWayBillReader(job, std::move(sKind), iVersion) {}

bool TWayBillV2Reader::ForUs(const TCounterpartRecord&, const std::string&, const std::string&) {
    return true;
}

THandled TWayBillV2Reader::Handle(const TIncomingDocument& doc, TDbTransaction& tx) {
    const TVersionTexts texts = TextsOf(Version());
    TXmlNode root = doc.Xml.selectSingleNode(texts.RootPath);
    if (!root) root = doc.Xml.firstChild();
    if (!root) {
        Logger().Debug("TEgaisIncomingWayBillJob: Не удалось найти тег {}", texts.RootTag);
        return THandled::Kept;
    }
    Logger().Debug("{}{}", texts.RootNameLog, root.nodeName());

    std::string sIdentity;
    if (TXmlNode identity = GetChildNode(root, "wb:Identity")) {
        sIdentity = identity.text();
    } else {
        sIdentity = "0";
        Logger().Debug("TEgaisIncomingWayBillJob *** Накладная не содрежит поле wb:Identity! ***");
    }
    TXmlNode header = GetChildNode(root, "wb:Header");
    if (!header) {
        Logger().Debug("TEgaisIncomingWayBillJob: Не удалось найти тег wb:Header");
        return THandled::Kept;
    }
    TWayBillHead head;
    head.Key =
        sIdentity + "/" + ChildText(header, "wb:Date") + "/" + ChildText(header, "wb:NUMBER");
    head.DocType = ChildText(header, "wb:Type") == "WBReturnFromMe" ? 4 : 0;
    Logger().Debug("{}{}", texts.IdentityLog, head.Key);

    TCounterpartRecord shipper;
    if (!ReadHeaderParty(header, "wb:Shipper", "поставщике", shipper)) return THandled::Kept;
    Job().CheckForAbort();
    TQueryPtr parties = NewQuery(TTxMode::Short);
    Logger().Debug("Добавим поставщика...");
    head.Shipper = StoreParty(*parties, shipper);

    TCounterpartRecord consignee;
    if (!ReadHeaderParty(header, "wb:Consignee", "покупателе", consignee)) return THandled::Kept;
    const std::string sFsrarId = GetSettingProperty("FSRAR_ID").value_or("");
    if (!ForUs(consignee, sFsrarId, doc.Url)) return THandled::Kept;
    Job().CheckForAbort();
    Logger().Debug("Добавим покупателя...");
    head.Consignee = StoreParty(*parties, consignee);

    TCounterpartRecord supplier;
    if (ReadParty(GetChildNode(header, "wb:Supplier"), supplier)) {
        Job().CheckForAbort();
        Logger().Debug("Добавим покупателя...");
        head.Supplier = StoreParty(*parties, supplier);
    }
    Job().CheckForAbort();
    TXmlNode content = GetChildNode(root, "wb:Content");
    if (!content) {
        Logger().Debug("TEgaisIncomingWayBillJob: Не удалось найти тег wb:Content");
        return THandled::Kept;
    }
    if (!content.hasChildNodes()) return THandled::Kept;

    std::vector<TWayBillLine> lines;
    const bool bRead = WithProducts([&](TQuery& products) {
        for (TXmlNode position = content.firstChild(); position;
             position = position.nextSibling()) {
            if (position.nodeType() != ntElement) continue;
            Job().CheckForAbort();
            TXmlNode product = GetChildNode(position, "wb:Product");
            if (!product) {
                Logger().Debug("TEgaisIncomingWayBillJob: Не удалось найти тег wb:Product");
                return false;
            }
            // A product without a readable producer has none: it never inherits the
            // producer of the position before it.
            TVariant producerId;
            TCounterpartRecord producer;
            if (ReadParty(GetChildNode(product, "pref:Producer"), producer)) {
                Logger().Debug(">> Добавим или обновим производителя {}", producer.ClientRegId);
                producerId = StoreParty(*parties, producer);
            }
            const std::string sFullName = ChildText(product, "pref:FullName");
            std::string sCapacity = ChildText(product, "pref:Capacity");
            if (Version() < 4 && !GetChildNode(product, "pref:Capacity")) sCapacity = "10";
            Logger().Debug(">> Добавим или обновим информацию о товаре {}", sFullName);
            AddProduct(products, {sFullName, ChildText(product, "pref:ShortName"),
                                  ChildText(product, "pref:AlcCode"), sCapacity,
                                  ChildText(product, "pref:AlcVolume"),
                                  ChildText(product, "pref:ProductVCode"), producerId});

            lines.push_back(LineOf(position, ChildText(product, "pref:AlcCode"),
                                   [&](const std::string& sName, size_t iMaxChars) {
                                       return ChildValue(position, "wb:" + sName, iMaxChars);
                                   }));
        }
        return true;
    });
    if (!bRead) return THandled::Kept;

    const TXmlNode transport = GetChildNode(header, "wb:Transport");
    TWayBillHeader values;
    values.Number = ChildText(header, "wb:NUMBER");
    values.Date = ChildValue(header, "wb:Date");
    values.ShippingDate = ChildValue(header, "wb:ShippingDate");
    values.TranType = ChildValue(transport, "wb:TRAN_TYPE");
    for (const TTransportField& f : TransportFields()) {
        // Version 4 has no TRAN_CAR: the car's registration number has its own element.
        const std::string sName =
            Version() >= 4 && std::string(f.Name) == "TRAN_CAR" ? "TRANSPORT_REGNUMBER" : f.Name;
        values.Transport.push_back(ChildValue(transport, "wb:" + sName, f.MaxChars));
    }
    values.Base = ChildValue(header, "wb:Base", 150);
    values.Note = ChildValue(header, "wb:Note", 200);
    CompleteHead(head, values, doc.Url, sFsrarId);
    return Store(tx, head, lines);
}

void TWayBillV2Reader::StoreInforms(TDbTransaction& tx, const TXmlNode& position, int64_t lineId,
                                    const TVariant& shipper) {
    TXmlNode product = GetChildNode(position, "wb:Product");
    TXmlNode informF1 = GetChildNode(position, "wb:InformF1");
    if (!informF1) throw EQorJobException("Не найден тег wb:InformF1");
    const std::string sAlcCode = Utf8Left(ChildText(product, "pref:AlcCode"), 30);
    const TVariant formA =
        StoreInform(tx, "A", Utf8Left(ChildText(informF1, "pref:RegId"), 50), shipper, sAlcCode);
    LinkInform(tx, true, formA, lineId);

    TXmlNode informF2 = GetChildNode(position, "wb:InformF2");
    if (!informF2) return;
    for (TXmlNode item = informF2.firstChild(); item; item = item.nextSibling()) {
        if (item.nodeType() != ntElement) continue;
        TXmlNode f2RegId = GetChildNode(item, "pref:F2RegId");
        if (!f2RegId) throw EQorJobException("Не найден тег pref:F2RegId");
        const TVariant formB =
            StoreInform(tx, "B", Utf8Left(f2RegId.text(), 50), shipper, sAlcCode);
        LinkInform(tx, false, formB, lineId);  // the last one stays
    }
}
