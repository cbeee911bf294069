#include "uEgaisDocumentBuilder.h"

#include <charconv>
#include <limits>

#include "uCommon.h"
#include "uDateTime.h"
#include "uDocumentBodies.h"

namespace {

const char* const cXsiUri = "http://www.w3.org/2001/XMLSchema-instance";
const char* const cXsUri = "http://www.w3.org/2001/XMLSchema";

[[noreturn]] void RaiseNotBuilt(const TDocKind& Kind) {
    throw EDocumentBuilderException("TDocBuilder: документ вида " + std::string(Kind.Name) + " (" +
                                    std::to_string(Kind.Kind) + ") пока не поддерживается");
}

// This kind's DocId is a 32-bit value: a larger one is refused before anything else.
void SetTTNVersionBody(TDocFrame& F) {
    if (F.DocId() < std::numeric_limits<int32_t>::min() ||
        F.DocId() > std::numeric_limits<int32_t>::max())
        throw ERangeError("Range check error: " + std::to_string(F.DocId()));
    RaiseNotBuilt(F.Kind());
}

constexpr TNamespaceDecl NS{"ns", "WB_DOC_SINGLE_01"};
constexpr TNamespaceDecl XSI{"xsi"};
constexpr TNamespaceDecl XS{"xs"};

// Every kind, by value: name, Version of the root, its namespace declarations in
// order, and the body (nullptr: not written yet).
// clang-format off
constexpr TDocKind cKinds[] = {
    {dtIncomingWayBill, "dtIncomingWayBill", nullptr, {},
     [](TDocFrame&) {}},  // read from the UTM, never built: the document stays empty
    {dtOutgoingWaybill, "dtOutgoingWaybill", "1.0",
     {{"wb", "TTNSingle"}, {"pref", "ProductRef"}, {"oref", "ClientRef"}, NS},
     [](TDocFrame& F) { BuildWayBill(F, 1); }},
    {dtOutgoingWaybillV2, "dtOutgoingWaybillV2", "1.0",
     {XSI, NS, {"oref", "ClientRef_v2"}, {"pref", "ProductRef_v2"}, {"wb", "TTNSingle_v2"}},
     [](TDocFrame& F) { BuildWayBill(F, 2); }},
    {dtOutgoingWayBillV3, "dtOutgoingWayBillV3", "1.0",
     {XSI, NS, {"oref", "ClientRef_v2"}, {"pref", "ProductRef_v2"}, {"wb", "TTNSingle_v3"},
      {"ce", "CommonV3"}},
     [](TDocFrame& F) { BuildWayBill(F, 3); }},
    {dtOutgoingWayBillV4, "dtOutgoingWayBillV4", "1.0",
     {XSI, NS, {"oref", "ClientRef_v2"}, {"pref", "ProductRef_v2"}, {"wb", "TTNSingle_v4"},
      {"ce", "CommonV3"}},
     [](TDocFrame& F) { BuildWayBill(F, 4); }},
    {dtReceptionAct, "dtReceptionAct", "1.0",
     {{"wa", "ActTTNSingle"}, {"pref", "ProductRef"}, {"oref", "ClientRef"}, NS},
     [](TDocFrame& F) { BuildReceptionAct(F, 1, 0); }},
    {dtWriteOffAct, "dtWriteOffAct", "1.0",
     {NS, {"pref", "ProductRef_v2"}, {"awr", "ActWriteOff_v3"}, {"ce", "CommonV3"}}, nullptr},
    {dtDictionary, "dtDictionary", "1.0",
     {{"qp", "QueryParameters"}, {"oref", "ClientRef"}, NS}, nullptr},
    {dtDictionaryEx, "dtDictionaryEx", "1.0",
     {{"qp", "QueryParameters"}, {"oref", "ClientRef"}, NS}, nullptr},
    {dtChargeOnAct, "dtChargeOnAct", "1.0",
     {XSI, NS, {"oref", "ClientRef_v2"}, {"pref", "ProductRef_v2"},
      {"iab", "ActInventoryF1F2Info"}, {"ainp", "ActChargeOn_v2"}, {"ce", "CommonEnum"}}, nullptr},
    {dtQueryAP_AlcCode, "dtQueryAP_AlcCode", "1.0", {NS, {"qp", "QueryParameters"}}, nullptr},
    {dtQueryAP_INN, "dtQueryAP_INN", "1.0", {NS, {"qp", "QueryParameters"}}, nullptr},
    {dtQueryFormA, "dtQueryFormA", "1.0", {XSI, NS, {"qf", "QueryFormF1F2"}}, nullptr},
    {dtQueryFormB, "dtQueryFormB", "1.0", {XSI, NS, {"qf", "QueryFormF1F2"}}, nullptr},
    {dtQueryMarkCodes, "dtQueryMarkCodes", "1.0",
     {XSI, NS, {"bk", "QueryBarcode"}, {"ce", "CommonEnum"}}, nullptr},
    {dtConfirmAct, "dtConfirmAct", "1.0", {{"wt", "ConfirmTicket"}, XSI, NS},
     [](TDocFrame& F) { BuildConfirmAct(F, "Accepted"); }},
    {dtRejectAct, "dtRejectAct", "1.0", {{"wt", "ConfirmTicket"}, XSI, NS},
     [](TDocFrame& F) { BuildConfirmAct(F, "Rejected"); }},
    {dwWithdrawSendedWaybill, "dwWithdrawSendedWaybill", "1.0",
     {{"wa", "ActTTNSingle"}, {"pref", "ProductRef"}, {"oref", "ClientRef"}, NS},
     [](TDocFrame& F) { BuildReceptionAct(F, 1, 1); }},
    {dtRests, "dtRests", "1.0", {NS, {"qp", "QueryParameters"}}, nullptr},
    {dtResendWaybill, "dtResendWaybill", "1.0", {XSI, NS, {"qp", "QueryParameters"}}, nullptr},
    {dwRepealWaybillAct, "dwRepealWaybillAct", "1.0", {NS, XSI, {"qp", "RequestRepealWB"}},
     nullptr},
    {dwRepealActCahergeOn, "dwRepealActCahergeOn", "1.0", {NS, XSI, {"qp", "RequestRepealACO"}},
     nullptr},
    {dtRepealActWriteOff, "dtRepealActWriteOff", "1.0", {NS, XSI, {"qp", "RequestRepealAWO"}},
     nullptr},
    {dtShopRests, "dtShopRests", "1.0", {NS, {"qp", "QueryParameters"}}, nullptr},
    {dtTransferToShop, "dtTransferToShop", "1.0",
     {NS, XS, {"c", "Common"}, {"pref", "ProductRef_v2"}, {"tts", "TransferToShop"}}, nullptr},
    {dtTransferFromShop, "dtTransferFromShop", "1.0",
     {NS, XS, {"c", "Common"}, {"pref", "ProductRef_v2"}, {"tfs", "TransferFromShop"}}, nullptr},
    {dtWriteOffShopAct, "dtWriteOffShopAct", "1.0",
     {XSI, NS, {"pref", "ProductRef_v2"}, {"oref", "ClientRef_v2"}, {"awr", "ActWriteOffShop_v2"},
      {"ce", "CommonEnum"}}, nullptr},
    {dtChargeOnShop, "dtChargeOnShop", "2.0",
     {XSI, NS, {"oref", "ClientRef_v2"}, {"pref", "ProductRef_v2"}, {"ainp", "ActChargeOnShop_v2"},
      {"ce", "CommonEnum"}}, nullptr},
    {dtReceptionActV2, "dtReceptionActV2", "1.0",
     {{"wa", "ActTTNSingle_v2"}, {"pref", "ProductRef"}, {"oref", "ClientRef"}, NS},
     [](TDocFrame& F) { BuildReceptionAct(F, 2, 0); }},
    {dtSetTTNVersion, "dtSetTTNVersion", "1.0", {XSI, NS, {"qp", "InfoVersionTTN"}},
     SetTTNVersionBody},
    {dtReceptionActV3, "dtReceptionActV3", "1.0",
     {XSI, NS, {"wa", "ActTTNSingle_v3"}, {"ce", "CommonV3"}},
     [](TDocFrame& F) { BuildReceptionAct(F, 3, 0); }},
    {dtActFixBarCode, "dtActFixBarCode", "1.0",
     {XSI, NS, {"pref", "ProductRef_v2"}, {"awr", "ActFixBarCode"}, {"ce", "CommonV3"}}, nullptr},
    {dtActUnFixBarCode, "dtActUnFixBarCode", "1.0",
     {XSI, NS, {"pref", "ProductRef_v2"}, {"awr", "ActUnFixBarCode"}, {"ce", "CommonV3"}}, nullptr},
    {dtQueryMarkRest, "dtQueryMarkRest", "1.0",
     {{"qp", "QueryParameters"}, {"oref", "ClientRef"}, NS}, nullptr},
    {dtQueryAP_AlcCode_v1, "dtQueryAP_AlcCode_v1", "1.0", {NS, {"qp", "QueryParameters"}}, nullptr},
    {dtReceptionActV4, "dtReceptionActV4", "1.0",
     {XSI, NS, {"wa", "ActTTNSingle_v4"}, {"c", "Common"}, {"ce", "CommonV3"}},
     [](TDocFrame& F) { BuildReceptionAct(F, 4, 0); }},
};
// clang-format on
constexpr int cKindCount = static_cast<int>(sizeof cKinds / sizeof cKinds[0]);

constexpr bool KindsInValueOrder() {
    for (int i = 0; i < cKindCount; ++i)
        if (cKinds[i].Kind != i) return false;
    return true;
}
static_assert(KindsInValueOrder(), "cKinds is indexed by the kind's value");

const TDocKind& KnownKind(int DocType) {
    const TDocKind* kind = FindDocKind(DocType);
    if (!kind)
        throw EDocumentBuilderException("TDocBuilder: неизвестный вид документа (" +
                                        std::to_string(DocType) + ")");
    return *kind;
}

// The root of the envelope, or "not root node".
TXmlNode BodyRoot(const TXmlDocument& Xml) {
    // The root is looked up by its local name: it lives in the ns namespace, so an
    // unprefixed XPath step would not match it.
    TXmlNode root = Xml ? Xml.documentElement() : TXmlNode();
    if (!root || root.localName() != "Documents") throw EDocumentBuilderException("not root node");
    return root;
}

}  // namespace

const TDocKind* FindDocKind(int DocType) {
    return DocType >= 0 && DocType < cKindCount ? &cKinds[DocType] : nullptr;
}

std::string DocTypeName(int DocType) {
    const TDocKind* kind = FindDocKind(DocType);
    return kind ? kind->Name : "";
}

std::string FloatToXmlText(double Value) {
    // std::to_chars never consults the locale, so every thread writes ".".
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, Value, std::chars_format::general, 15);
    if (ec != std::errc()) return "";
    return std::string(buf, end);
}

std::string XmlValueText(const TVariant& Value) {
    if (Value.IsNull()) return "";
    if (Value.IsFloat()) return FloatToXmlText(Value.AsDouble());
    if (Value.IsDateTime()) return FormatXmlDate(Value.AsDateTime());
    return Value.AsString();
}

std::string XmlText(const TQuery& Row, const std::string& sColumn) {
    return XmlValueText(Row.FieldByName(sColumn));
}

// ---- builder

void TDocBuilder::NewDocument() {
    FXml = TXmlDocument::Create();
    FXml.setProperty("SelectionLanguage", "XPath");
    // The EGAIS prefixes are bound in every query of a document anyway; the builder's
    // own list is a part of them.
    FXml.setProperty("SelectionNamespaces", EgaisSelectionNamespaces());
}

TXmlDocument TDocBuilder::BuildDocumentFromDb(TDocType DocType, int64_t DocId) {
    NewDocument();
    try {
        AddDocumentHeader(DocType);
        BuildBody(DocType, DocId);
        FXml.setValidateOnParse(true);
        const TXmlParseError& error = FXml.parseError();
        if (error.errorCode != 0) throw EDocumentBuilderException(error.srcText);
    } catch (...) {
        FXml = TXmlDocument();  // a half-built document never leaves the builder
        throw;
    }
    return FXml;
}

void TDocBuilder::AddDocumentHeader(TDocType DocType) {
    const TDocKind& kind = KnownKind(DocType);
    if (!kind.Version) return;
    FXml.appendChild(FXml.createProcessingInstruction("xml", "version=\"1.0\" encoding=\"UTF-8\""));
    TXmlNode root = FXml.appendChild(FXml.createElement("ns:Documents"));
    if (!root) throw EDocumentBuilderException("msxml internal error");
    TXmlAttributes attributes = root.attributes();
    TXmlNode version = FXml.createAttribute("Version");
    version.setText(kind.Version);
    attributes.setNamedItem(version);
    for (const TNamespaceDecl& decl : kind.Namespaces) {
        if (!decl.Prefix) break;
        const std::string sPrefix = decl.Prefix;
        TXmlNode attr = FXml.createAttribute("xmlns:" + sPrefix);
        attr.setText(sPrefix == "xsi"  ? std::string(cXsiUri)
                     : sPrefix == "xs" ? std::string(cXsUri)
                                       : EgaisNamespace(decl.Path));
        attributes.setNamedItem(attr);
    }
}

void TDocBuilder::BuildBody(TDocType DocType, int64_t DocId) {
    const TDocKind& kind = KnownKind(DocType);
    if (!kind.Body) RaiseNotBuilt(kind);
    if (kind.Version) BodyRoot(FXml);  // the bodies fill the envelope
    TDocFrame frame(FXml, kind, DocId);
    kind.Body(frame);
}

// ---- frame

TDocFrame::TDocFrame(TXmlDocument& Xml, const TDocKind& Kind, int64_t DocId)
    : FXml(Xml), FKind(Kind), FDocId(DocId) {}

TDocFrame::~TDocFrame() = default;

TDbTransaction& TDocFrame::Db() {
    if (!FDb) FDb = std::make_unique<TDbTransaction>();
    return *FDb;
}

TXmlNode TDocFrame::Element(TXmlNode Parent, const std::string& sName) {
    return Parent.appendChild(FXml.createElement(sName));
}

TXmlNode TDocFrame::Text(TXmlNode Parent, const std::string& sName, const std::string& sText) {
    TXmlNode node = Element(Parent, sName);
    node.setText(sText);
    return node;
}

TXmlNode TDocFrame::Document(const std::string& sElement) {
    TXmlNode root = BodyRoot(FXml);
    TXmlNode owner = Element(root, "ns:Owner");
    Text(owner, "ns:FSRAR_ID", GetSettingProperty("FSRAR_ID").value_or(""));
    return Element(Element(root, "ns:Document"), sElement);
}

std::string TDocBuilder::GetCounterpartCode(const std::string& sCountryCode, std::string& sINN,
                                            std::string& sKPP) {
    std::string result = "UL";
    if (sKPP.empty()) result = "FL";
    if (sINN.empty()) result = "FO";
    if (sCountryCode != "643") result = "FO";
    if (sCountryCode == "398" || sCountryCode == "112") result = "TS";
    if (result == "FO" || result == "TS") {
        sINN.clear();
        sKPP.clear();
    }
    return result;
}
