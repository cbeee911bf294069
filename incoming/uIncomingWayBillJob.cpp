// The incoming waybill job: the run over the UTM list and the readers of versions 2 to 4
// (version 1 is in uIncomingWayBillV1.cpp), with the storing stage they share.
#include "uIncomingWayBillJob.h"

#include <cmath>
#include <mutex>
#include <set>

#include "uCommon.h"
#include "uCounterpart.h"
#include "uEgaisStorage.h"
#include "uHttpClient.h"
#include "uText.h"
#include "uIncomingWayBillParts.h"
#include "uLogger.h"
#include "uUtm.h"

using namespace incoming;

namespace {

constexpr const char* kClass = "TEgaisIncomingWayBillJob";

std::mutex GSkipDocsLock;
std::set<std::string> GSkipDocs;  // guarded by GSkipDocsLock

const char* const kSelectV4 =
    "//url[contains(translate(text(), 'waybill_v4', 'WAYBILL_V4'), 'WAYBILL_V4/')]";
const char* const kSelectV3 =
    "//url[contains(translate(text(), 'waybill_v3', 'WAYBILL_V3'), 'WAYBILL_V3/')]";
const char* const kSelectV2 =
    "//url[contains(translate(text(), 'waybill_v2', 'WAYBILL_V2'), 'WAYBILL_V2/')]";
const char* const kSelectV1 = "//url[contains(translate(text(), 'waybill', 'WAYBILL'), 'WAYBILL/')]";

std::string ChildText(const TXmlNode& parent, const char* sName) {
    TXmlNode n = parent ? GetChildNode(parent, sName) : TXmlNode();
    return n ? n.text() : std::string();
}

// The text cut to iMaxChars, or null when the element is absent.
TVariant ChildValue(const TXmlNode& parent, const char* sName, size_t iMaxChars = 0) {
    TXmlNode n = parent ? GetChildNode(parent, sName) : TXmlNode();
    if (!n) return TVariant::Null();
    return iMaxChars ? TVariant(Utf8Left(n.text(), iMaxChars)) : TVariant(n.text());
}

bool ReadParty(const TXmlNode& node, TCounterpartRecord& r) {
    return node && LoadCounterPart(node, r);
}

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

void AddTransport(TWayBillHead& head, const TXmlNode& transport) {
    struct TField {
        const char* Name;
        size_t MaxChars;
    };
    static const TField fields[] = {
        {"TRAN_COMPANY", 150}, {"TRAN_CAR", 50},          {"TRAN_TRAILER", 50},
        {"TRAN_CUSTOMER", 150}, {"TRAN_DRIVER", 50},      {"TRAN_LOADPOINT", 1000},
        {"TRAN_UNLOADPOINT", 1000}, {"TRAN_REDIRECT", 50}, {"TRAN_FORWARDER", 50},
    };
    for (const TField& f : fields)
        head.Set(f.Name, ChildValue(transport, (std::string("wb:") + f.Name).c_str(), f.MaxChars));
}

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

void TEgaisIncomingWayBillJob::CheckForAbort() {
    if (OwnerStopRequested()) throw EQorJobException("thread were stopped or terminated");
    TQorJob::CheckForAbort();
}

void TEgaisIncomingWayBillJob::DoHttp() {
    TQorJob::DoHttp();
    if (OwnerStopRequested()) throw EQorJobException("tread were stopped during performing");
}

void TEgaisIncomingWayBillJob::DoJob() {
    Logger().Debug("TEgaisIncomingWayBillJob.DoJob ->");
    CheckForAbort();
    std::shared_ptr<TUTMBuffer> utm = UTMBuffer();
    if (!(utm->LastNewsMoment() > dtUtmNewsMoment)) {
        Logger().Debug("TEgaisIncomingWayBillJob: Нет новых документов. Завершаем работу.");
        return;
    }
    IBuffer buffer = NewBuffer();
    if (utm->ReadIncomingDocs(buffer) != 200)
        throw EQorJobException("Не удалось прочитать входящие документы УТМ");
    dtUtmNewsMoment = utm->LastNewsMoment();
    TXmlDocument list = LoadXmlFrom(buffer->Data());

    const TXmlNodeList v4 = list.selectNodes(kSelectV4);
    const TXmlNodeList v3 = list.selectNodes(kSelectV3);
    const TXmlNodeList v2 = list.selectNodes(kSelectV2);
    const TXmlNodeList v1 = list.selectNodes(kSelectV1);

    auto pass = [this](const TXmlNodeList& urls, bool bSkipRefused, auto load) {
        for (const TXmlNode& node : urls) {
            CheckForAbort();
            const std::string sURL = node.text();
            if (bSkipRefused && SkipDocsContains(sURL)) continue;
            try {
                (this->*load)(sURL);
            } catch (const EQorJobAbort&) {
                throw;
            } catch (const std::exception& e) {
                Logger().Debug(kClass, e);
            }
        }
    };
    pass(v4, true, &TEgaisIncomingWayBillJob::LoadWayBillV4);
    pass(v3, true, &TEgaisIncomingWayBillJob::LoadWayBillV3);
    pass(v2, false, &TEgaisIncomingWayBillJob::LoadWayBillV2);
    for (const TXmlNode& node : v1) {
        CheckForAbort();
        if (!LoadWayBillV1(node.text())) break;
    }
    Logger().Debug("TEgaisIncomingWayBillJob.DoJob <-");
}

bool TEgaisIncomingWayBillJob::LoadWayBillV4(const std::string& sURL) { return LoadWayBill(sURL, 4); }
bool TEgaisIncomingWayBillJob::LoadWayBillV3(const std::string& sURL) { return LoadWayBill(sURL, 3); }
bool TEgaisIncomingWayBillJob::LoadWayBillV2(const std::string& sURL) { return LoadWayBill(sURL, 2); }

bool TEgaisIncomingWayBillJob::LoadWayBill(const std::string& sURL, int iVersion) {
    if (UrlMarkedForDelete(sURL)) return false;
    Logger().Debug("TEgaisIncomingWayBillJob.Http.Get(" + sURL + ")");
    std::optional<TXmlDocument> xml = FetchWayBill(sURL);
    return xml && StoreWayBill(*xml, sURL, iVersion);
}

std::optional<TXmlDocument> TEgaisIncomingWayBillJob::FetchWayBill(const std::string& sURL) {
    IBuffer buffer = NewBuffer();
    try {
        buffer->Data() = FHttp->Get(sURL);
    } catch (const EHttpProtocolException& e) {
        Logger().Debug("TEgaisIncomingWayBillJob: Не удалось прочитать " + sURL +
                       ". Код ошибки: " + std::to_string(e.ErrorCode()));
        return std::nullopt;
    }
    return LoadXmlFrom(buffer->Data());
}

bool TEgaisIncomingWayBillJob::StoreWayBill(const TXmlDocument& Xml, const std::string& sURL,
                                            int iVersion) {
    const TVersionTexts texts = TextsOf(iVersion);
    TXmlNode root = Xml.selectSingleNode(texts.RootPath);
    if (!root) root = Xml.firstChild();
    if (!root) {
        Logger().Debug(std::string("TEgaisIncomingWayBillJob: Не удалось найти тег ") + texts.RootTag);
        return false;
    }
    Logger().Debug(texts.RootNameLog + root.nodeName());

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
        return false;
    }
    TWayBillHead head;
    head.Key = sIdentity + "/" + ChildText(header, "wb:Date") + "/" + ChildText(header, "wb:NUMBER");
    head.DocType = ChildText(header, "wb:Type") == "WBReturnFromMe" ? 4 : 0;
    Logger().Debug(texts.IdentityLog + head.Key);

    TXmlNode shipperNode = GetChildNode(header, "wb:Shipper");
    if (!shipperNode) {
        Logger().Debug("TEgaisIncomingWayBillJob: Не удалось найти тег wb:Shipper");
        return false;
    }
    TCounterpartRecord shipper;
    if (!ReadParty(shipperNode, shipper)) {
        Logger().Debug("TEgaisIncomingWayBillJob: Не удалось найти загрузить данные о поставщике.");
        return false;
    }
    CheckForAbort();
    TQueryPtr parties = NewQuery(TTxMode::Short);
    auto store = [&](const TCounterpartRecord& r) {
        return TVariant(AddCounterPart(*parties, r, [this] { CheckForAbort(); }));
    };
    Logger().Debug("Добавим поставщика...");
    head.Shipper = store(shipper);

    TXmlNode consigneeNode = GetChildNode(header, "wb:Consignee");
    if (!consigneeNode) {
        Logger().Debug("TEgaisIncomingWayBillJob: Не удалось найти тег wb:Consignee");
        return false;
    }
    TCounterpartRecord consignee;
    if (!ReadParty(consigneeNode, consignee)) {
        Logger().Debug("TEgaisIncomingWayBillJob: Не удалось найти загрузить данные о покупателе.");
        return false;
    }
    const std::string sFsrarId = GetSettingProperty("FSRAR_ID").value_or("");
    if (iVersion >= 3 && consignee.ClientRegId != sFsrarId) {
        Logger().Debug("TEgaisIncomingWayBillJob: ОШИБКА: Настройки программы не соответствуют УТМ.");
        Logger().Debug("TEgaisIncomingWayBillJob: FSRAR ID в настройках: " + sFsrarId);
        Logger().Debug("TEgaisIncomingWayBillJob: FSRAR ID ТТН: " + consignee.ClientRegId);
        Logger().Debug("TEgaisIncomingWayBillJob: До устранения несоответствия прием ТТН невозможен.");
        SendMessageToBackOffice(
            "Настройки программы КОР не соответствуют УТМ.\r\nДо устранения несоответствия прием "
            "ТТН ЕГАИС невозможен.");
        SkipDocsAdd(sURL);
        return false;
    }
    CheckForAbort();
    Logger().Debug("Добавим покупателя...");
    head.Consignee = store(consignee);

    TCounterpartRecord supplier;
    if (ReadParty(GetChildNode(header, "wb:Supplier"), supplier)) {
        CheckForAbort();
        Logger().Debug("Добавим покупателя...");
        head.Supplier = store(supplier);
    }
    CheckForAbort();
    TXmlNode content = GetChildNode(root, "wb:Content");
    if (!content) {
        Logger().Debug("TEgaisIncomingWayBillJob: Не удалось найти тег wb:Content");
        return false;
    }
    SaveXmlToFs(Xml, sURL);
    if (!content.hasChildNodes()) return false;

    std::vector<TWayBillLine> lines;
    {
        TProductStore products;
        for (TXmlNode position = content.firstChild(); position; position = position.nextSibling()) {
            if (position.nodeType() != ntElement) continue;
            CheckForAbort();
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
                Logger().Debug(">> Добавим или обновим производителя " + producer.ClientRegId);
                producerId = store(producer);
            }
            const std::string sFullName = ChildText(product, "pref:FullName");
            std::string sCapacity = ChildText(product, "pref:Capacity");
            if (iVersion < 4 && !GetChildNode(product, "pref:Capacity")) sCapacity = "10";
            Logger().Debug(">> Добавим или обновим информацию о товаре " + sFullName);
            products.Add({sFullName, ChildText(product, "pref:ShortName"),
                          ChildText(product, "pref:AlcCode"), sCapacity,
                          ChildText(product, "pref:AlcVolume"),
                          ChildText(product, "pref:ProductVCode"), producerId});

            TWayBillLine line;
            line.Node = position;
            line.PositionId = PositionIdOf(ChildText(position, "wb:Identity"));
            line.AlcCode = ChildText(product, "pref:AlcCode");
            line.Quantity = ChildValue(position, "wb:Quantity");
            line.Price = PriceOf(ChildValue(position, "wb:Price"));
            line.Pack = ChildValue(position, "wb:Pack_ID", 20);
            line.Party = ChildValue(position, "wb:Party", 20);
            lines.push_back(std::move(line));
        }
        products.Commit();
    }

    TXmlNode transport = GetChildNode(header, "wb:Transport");
    head.Set("FD_HEAD_ID", 0);
    head.Set("R_DATETIME", TVariant::Null());
    head.Set("UTM_DOC_ID", head.Key);
    head.Set("UTM_DOC_TYPE", head.DocType);
    head.Set("DOC_NUMBER", Utf8Left(ChildText(header, "wb:NUMBER"), 20));
    head.Set("DOC_DATE", ChildValue(header, "wb:Date"));
    head.Set("SHIPPING_DATE", ChildValue(header, "wb:ShippingDate"));
    head.Set("UNIT_TYPE", TVariant::Null());
    head.Set("SHIPPER", head.Shipper);
    head.Set("CONSIGNEE", head.Consignee);
    head.Set("SUPPLIER", head.Supplier);
    head.Set("TRAN_TYPE", TranTypeOf(ChildValue(transport, "wb:TRAN_TYPE")));
    AddTransport(head, transport);
    head.Set("BASE", ChildValue(header, "wb:Base", 150));
    head.Set("NOTE", ChildValue(header, "wb:Note", 200));
    head.Set("ACT_STATUS", 0);
    head.Set("ACT_NUMBER", TVariant::Null());
    head.Set("ACT_DATE", TVariant::Null());
    head.Set("ACT_NOTE", TVariant::Null());
    head.Set("STATUS", 1);
    head.Set("QOR_STATE", 255);
    head.Set("UTM_LINK", Utf8Left(sURL, 300));
    head.Set("FSRAR_ID", sFsrarId);
    head.Set("PROTOCOL_VERSION", iVersion);
    return StoreDocument(sURL, head, lines, iVersion);
}

bool TEgaisIncomingWayBillJob::StoreDocument(const std::string& sURL, const TWayBillHead& Head,
                                             const std::vector<TWayBillLine>& Lines,
                                             int iVersion) {
    TWayBillStatements Q;
    try {
        Q = TWayBillStatements::Open();
        TQuery& h = *Q.Head;
        for (const auto& [name, value] : Head.Params) {
            h.SetParam(name, value);
            Logger().Debug(name + ":" + value.AsString());
        }
        h.ExecQuery();
        const TVariant headId = h.Eof() ? TVariant::Null() : h.FieldByName("ID");
        h.Close();
        if (headId.IsNull())
            throw EQorJobException(iVersion == 1 ? "Cannot obtain identity for RG_EGAIS_DOC_HEAD"
                                                 : "Не удалось получить RG_EGAIS_DOC_HEAD.ID");
        if (iVersion == 1) Logger().Debug("Identity = " + Head.Key);

        TQuery& l = *Q.Line;
        for (const TWayBillLine& line : Lines) {
            // A stop request is seen between positions; the transaction then goes back.
            CheckForAbort();
            l.Close();
            l.SetParam("FD_HEAD_ID", TVariant::Null());
            l.SetParam("R_DATETIME", TVariant::Null());
            l.SetParam("EGAIS_DOC_HEAD_ID", headId);
            l.SetParam("POSITION_ID", line.PositionId);
            l.SetParam("PROD_TYPE", TVariant::Null());
            l.SetParam("ALC_CODE", line.AlcCode);
            l.SetParam("QUANTITY", line.Quantity);
            l.SetParam("REAL_QUANTITY", TVariant::Null());
            l.SetParam("PRICE", line.Price);
            l.SetParam("PACK", line.Pack);
            l.SetParam("PART_NUMBER", line.Party);
            Logger().Debug("Before insert content");
            l.ExecQuery();
            const TVariant lineId = l.Eof() ? TVariant::Null() : l.FieldByName("ID");
            const TVariant productId = l.Eof() ? TVariant::Null() : l.FieldByName("PRODUCT_ID");
            l.Close();
            if (lineId.IsNull() || productId.IsNull())
                throw EQorJobException(iVersion == 1
                                           ? "Cannot obtain identity for RG_EGAIS_DOC_TABLE"
                                           : "Не удалось получить RG_EGAIS_DOC_TABLE.ID");
            if (iVersion >= 3)
                AddInformsV3(Q, line.Node, lineId.AsInt64(), Head.Shipper);
            else if (iVersion == 2)
                AddInformsV2(Q, line.Node, lineId.AsInt64(), Head.Shipper);
            else {
                Logger().Debug("Before insert informs");
                AddInforms(Q, line.Node, lineId.AsInt64(), Head.Shipper);
            }
        }
        MarkForDelete(sURL, *Q.Link);
        Q.Commit();
    } catch (const EQorJobAbort&) {
        Q.Rollback();
        throw;
    } catch (const std::exception& e) {
        Q.Rollback();
        Logger().Debug(kClass, e);
    }
    Q.Rollback();
    return true;
}
