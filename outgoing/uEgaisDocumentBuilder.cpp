#include "uEgaisDocumentBuilder.h"

#include <charconv>
#include <limits>

#include "uDateTime.h"

namespace {

const char* const cXsiUri = "http://www.w3.org/2001/XMLSchema-instance";
const char* const cXsUri = "http://www.w3.org/2001/XMLSchema";

// The names of the kinds, by value.
const char* const cKindNames[] = {
    "dtIncomingWayBill",
    "dtOutgoingWaybill",
    "dtOutgoingWaybillV2",
    "dtOutgoingWayBillV3",
    "dtOutgoingWayBillV4",
    "dtReceptionAct",
    "dtWriteOffAct",
    "dtDictionary",
    "dtDictionaryEx",
    "dtChargeOnAct",
    "dtQueryAP_AlcCode",
    "dtQueryAP_INN",
    "dtQueryFormA",
    "dtQueryFormB",
    "dtQueryMarkCodes",
    "dtConfirmAct",
    "dtRejectAct",
    "dwWithdrawSendedWaybill",
    "dtRests",
    "dtResendWaybill",
    "dwRepealWaybillAct",
    "dwRepealActCahergeOn",
    "dtRepealActWriteOff",
    "dtShopRests",
    "dtTransferToShop",
    "dtTransferFromShop",
    "dtWriteOffShopAct",
    "dtChargeOnShop",
    "dtReceptionActV2",
    "dtSetTTNVersion",
    "dtReceptionActV3",
    "dtActFixBarCode",
    "dtActUnFixBarCode",
    "dtQueryMarkRest",
    "dtQueryAP_AlcCode_v1",
    "dtReceptionActV4",
};
constexpr int cKindCount = static_cast<int>(sizeof cKindNames / sizeof cKindNames[0]);


}  // namespace

std::string DocTypeName(int DocType) {
    return DocType >= 0 && DocType < cKindCount ? cKindNames[DocType] : "";
}

std::string FloatToXmlText(double Value) {
    // std::to_chars never consults the locale, so every thread writes ".".
    char buf[64];
    auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, Value, std::chars_format::general, 15);
    if (ec != std::errc()) return "";
    return std::string(buf, end);
}

std::string XmlValueText(const TVariant& Value) {
    if (Value.IsNull()) return "";
    if (Value.IsFloat()) return FloatToXmlText(Value.AsDouble());
    if (Value.IsDateTime()) return FormatXmlDate(Value.AsDateTime());
    return Value.AsString();
}

// ---- frame

void TDocBuilder::NewDocument() {
    FXml = TXmlDocument::Create();
    FXml.setProperty("SelectionLanguage", "XPath");
    // The EGAIS prefixes are bound in every query of a document anyway; the builder's
    // own list is a part of them.
    FXml.setProperty("SelectionNamespaces", EgaisSelectionNamespaces());
}

TXmlDocument TDocBuilder::BuildDocumentFromDb(TDocType DocType, int64_t DocId) {
    FDocId = DocId;
    NewDocument();
    try {
        AddDocumentHeader(DocType);
        BuildBody(DocType);
        FXml.setValidateOnParse(true);
        const TXmlParseError& error = FXml.parseError();
        if (error.errorCode != 0) throw EDocumentBuilderException(error.srcText);
    } catch (...) {
        FXml = TXmlDocument();  // a half-built document never leaves the builder
        throw;
    }
    return FXml;
}

void TDocBuilder::BuildBody(TDocType DocType) {
    switch (DocType) {
        case dtOutgoingWaybill:
            BuildWayBillDocument();
            return;
        case dtOutgoingWaybillV2:
            BuildWayBillV2Document();
            return;
        case dtOutgoingWayBillV3:
            BuildWayBillV3Document();
            return;
        case dtOutgoingWayBillV4:
            BuildWayBillV4Document();
            return;
        case dtReceptionAct:
            BuildReceptionAct(0);
            return;
        case dwWithdrawSendedWaybill:
            BuildReceptionAct(1);
            return;
        case dtReceptionActV2:
            BuildReceptionActV2();
            return;
        case dtReceptionActV3:
            BuildReceptionActV3();
            return;
        case dtReceptionActV4:
            BuildReceptionActV4();
            return;
        case dtConfirmAct:
            BuildConfirmAct("Accepted");
            return;
        case dtRejectAct:
            BuildConfirmAct("Rejected");
            return;
        case dtSetTTNVersion:
            if (FDocId < std::numeric_limits<int32_t>::min() ||
                FDocId > std::numeric_limits<int32_t>::max())
                throw ERangeError("Range check error: " + std::to_string(FDocId));
            break;
        default:
            break;
    }
    const int iKind = static_cast<int>(DocType);
    if (iKind <= 0 || iKind >= cKindCount) return;  // no body: the document stays as it is
    throw EDocumentBuilderException("TDocBuilder: документ вида " + DocTypeName(iKind) + " (" +
                                    std::to_string(iKind) + ") пока не поддерживается");
}

void TDocBuilder::AddDocumentHeader(TDocType DocType) {
    switch (DocType) {
        case dtOutgoingWaybill: return AddWayBillXmlHeader();
        case dtOutgoingWaybillV2: return AddWayBillV2XmlHeader();
        case dtOutgoingWayBillV3: return AddWayBillV3XmlHeader();
        case dtOutgoingWayBillV4: return AddWayBillV4XmlHeader();
        case dtReceptionAct:
        case dwWithdrawSendedWaybill: return AddActXmlHeader();
        case dtWriteOffAct: return AddWriteOffXmlHeader();
        case dtDictionary:
        case dtDictionaryEx: return AddPartnerXmlHeader();
        case dtChargeOnAct: return AddChargeOnXmlHeader();
        case dtQueryAP_AlcCode:
        case dtQueryAP_INN:
        case dtRests:
        case dtShopRests:
        case dtQueryAP_AlcCode_v1: return AddQueryAPHeader();
        case dtQueryFormA:
        case dtQueryFormB: return AddQueryFormAXmlHeader();
        case dtQueryMarkCodes: return AddQueryMarkCodesXmlHeader();
        case dtConfirmAct:
        case dtRejectAct: return AddConfirmActHeader();
        case dtResendWaybill: return AddResendWaybillHeader();
        case dwRepealWaybillAct: return AddRepealWaybillActHeader();
        case dwRepealActCahergeOn: return AddRepealActChargeOnHeader();
        case dtRepealActWriteOff: return AddRepealActWriteOffHeader();
        case dtTransferToShop: return AddTransferXmlHeader("TransferToShop");
        case dtTransferFromShop: return AddTransferXmlHeader("TransferFromShop");
        case dtWriteOffShopAct: return AddWriteOffShopXmlHeader();
        case dtChargeOnShop: return AddChargeOnShopHeader();
        case dtReceptionActV2: return AddActV2XmlHeader();
        case dtSetTTNVersion: return AddInfoTTNVersionHeader();
        case dtReceptionActV3: return AddActV3XmlHeader();
        case dtActFixBarCode: return AddActBarCodeHeader(true);
        case dtActUnFixBarCode: return AddActBarCodeHeader(false);
        case dtQueryMarkRest: return AddQueryMarkRestHeader();
        case dtReceptionActV4: return AddActV4XmlHeader();
        case dtIncomingWayBill: return;
    }
}

void TDocBuilder::AddXmlHeader(const char* sVersion, const std::vector<TNamespaceDecl>& Decls) {
    FXml.appendChild(
        FXml.createProcessingInstruction("xml", "version=\"1.0\" encoding=\"UTF-8\""));
    TXmlNode root = FXml.appendChild(FXml.createElement("ns:Documents"));
    if (!root) throw EDocumentBuilderException("msxml internal error");
    TXmlAttributes attributes = root.attributes();
    TXmlNode version = FXml.createAttribute("Version");
    version.setText(sVersion);
    attributes.setNamedItem(version);
    for (const TNamespaceDecl& decl : Decls) {
        const std::string sPrefix = decl.Prefix;
        TXmlNode attr = FXml.createAttribute("xmlns:" + sPrefix);
        attr.setText(sPrefix == "xsi"  ? std::string(cXsiUri)
                     : sPrefix == "xs" ? std::string(cXsUri)
                                       : EgaisNamespace(decl.Path));
        attributes.setNamedItem(attr);
    }
}

#define QOR_HEADER(Version, ...) AddXmlHeader(Version, {__VA_ARGS__})
#define QOR_NS {"ns", "WB_DOC_SINGLE_01"}
#define QOR_XSI {"xsi", ""}

void TDocBuilder::AddWayBillXmlHeader() {
    QOR_HEADER("1.0", {"wb", "TTNSingle"}, {"pref", "ProductRef"}, {"oref", "ClientRef"}, QOR_NS);
}
void TDocBuilder::AddWayBillV2XmlHeader() {
    QOR_HEADER("1.0", QOR_XSI, QOR_NS, {"oref", "ClientRef_v2"}, {"pref", "ProductRef_v2"},
               {"wb", "TTNSingle_v2"});
}
void TDocBuilder::AddWayBillV3XmlHeader() {
    QOR_HEADER("1.0", QOR_XSI, QOR_NS, {"oref", "ClientRef_v2"}, {"pref", "ProductRef_v2"},
               {"wb", "TTNSingle_v3"}, {"ce", "CommonV3"});
}
void TDocBuilder::AddWayBillV4XmlHeader() {
    QOR_HEADER("1.0", QOR_XSI, QOR_NS, {"oref", "ClientRef_v2"}, {"pref", "ProductRef_v2"},
               {"wb", "TTNSingle_v4"}, {"ce", "CommonV3"});
}
void TDocBuilder::AddActXmlHeader() {
    QOR_HEADER("1.0", {"wa", "ActTTNSingle"}, {"pref", "ProductRef"}, {"oref", "ClientRef"}, QOR_NS);
}
void TDocBuilder::AddActV2XmlHeader() {
    QOR_HEADER("1.0", {"wa", "ActTTNSingle_v2"}, {"pref", "ProductRef"}, {"oref", "ClientRef"},
               QOR_NS);
}
void TDocBuilder::AddActV3XmlHeader() {
    QOR_HEADER("1.0", QOR_XSI, QOR_NS, {"wa", "ActTTNSingle_v3"}, {"ce", "CommonV3"});
}
void TDocBuilder::AddActV4XmlHeader() {
    QOR_HEADER("1.0", QOR_XSI, QOR_NS, {"wa", "ActTTNSingle_v4"}, {"c", "Common"}, {"ce", "CommonV3"});
}
void TDocBuilder::AddConfirmActHeader() {
    QOR_HEADER("1.0", {"wt", "ConfirmTicket"}, QOR_XSI, QOR_NS);
}
void TDocBuilder::AddWriteOffXmlHeader() {
    QOR_HEADER("1.0", QOR_NS, {"pref", "ProductRef_v2"}, {"awr", "ActWriteOff_v3"},
               {"ce", "CommonV3"});
}
void TDocBuilder::AddWriteOffShopXmlHeader() {
    QOR_HEADER("1.0", QOR_XSI, QOR_NS, {"pref", "ProductRef_v2"}, {"oref", "ClientRef_v2"},
               {"awr", "ActWriteOffShop_v2"}, {"ce", "CommonEnum"});
}
void TDocBuilder::AddChargeOnXmlHeader() {
    QOR_HEADER("1.0", QOR_XSI, QOR_NS, {"oref", "ClientRef_v2"}, {"pref", "ProductRef_v2"},
               {"iab", "ActInventoryF1F2Info"}, {"ainp", "ActChargeOn_v2"}, {"ce", "CommonEnum"});
}
void TDocBuilder::AddChargeOnShopHeader() {
    QOR_HEADER("2.0", QOR_XSI, QOR_NS, {"oref", "ClientRef_v2"}, {"pref", "ProductRef_v2"},
               {"ainp", "ActChargeOnShop_v2"}, {"ce", "CommonEnum"});
}
void TDocBuilder::AddTransferXmlHeader(const std::string& sTransferDirection) {
    std::vector<TNamespaceDecl> decls{QOR_NS, {"xs", ""}, {"c", "Common"}, {"pref", "ProductRef_v2"}};
    if (sTransferDirection == "TransferToShop")
        decls.push_back({"tts", "TransferToShop"});
    else if (sTransferDirection == "TransferFromShop")
        decls.push_back({"tfs", "TransferFromShop"});
    AddXmlHeader("1.0", decls);
}
void TDocBuilder::AddActBarCodeHeader(bool bFixMode) {
    if (bFixMode)
        QOR_HEADER("1.0", QOR_XSI, QOR_NS, {"pref", "ProductRef_v2"}, {"awr", "ActFixBarCode"},
                   {"ce", "CommonV3"});
    else
        QOR_HEADER("1.0", QOR_XSI, QOR_NS, {"pref", "ProductRef_v2"}, {"awr", "ActUnFixBarCode"},
                   {"ce", "CommonV3"});
}
void TDocBuilder::AddRepealWaybillActHeader() {
    QOR_HEADER("1.0", QOR_NS, QOR_XSI, {"qp", "RequestRepealWB"});
}
void TDocBuilder::AddRepealActChargeOnHeader() {
    QOR_HEADER("1.0", QOR_NS, QOR_XSI, {"qp", "RequestRepealACO"});
}
void TDocBuilder::AddRepealActWriteOffHeader() {
    QOR_HEADER("1.0", QOR_NS, QOR_XSI, {"qp", "RequestRepealAWO"});
}
void TDocBuilder::AddResendWaybillHeader() {
    QOR_HEADER("1.0", QOR_XSI, QOR_NS, {"qp", "QueryParameters"});
}
void TDocBuilder::AddInfoTTNVersionHeader() {
    QOR_HEADER("1.0", QOR_XSI, QOR_NS, {"qp", "InfoVersionTTN"});
}
void TDocBuilder::AddQueryMarkCodesXmlHeader() {
    QOR_HEADER("1.0", QOR_XSI, QOR_NS, {"bk", "QueryBarcode"}, {"ce", "CommonEnum"});
}
void TDocBuilder::AddQueryMarkRestHeader() {
    QOR_HEADER("1.0", {"qp", "QueryParameters"}, {"oref", "ClientRef"}, QOR_NS);
}
void TDocBuilder::AddQueryFormAXmlHeader() {
    QOR_HEADER("1.0", QOR_XSI, QOR_NS, {"qf", "QueryFormF1F2"});
}
void TDocBuilder::AddPartnerXmlHeader() {
    QOR_HEADER("1.0", {"qp", "QueryParameters"}, {"oref", "ClientRef"}, QOR_NS);
}
void TDocBuilder::AddQueryAPHeader() {
    QOR_HEADER("1.0", QOR_NS, {"qp", "QueryParameters"});
}

#undef QOR_XSI
#undef QOR_NS
#undef QOR_HEADER

// ---- body frame

TXmlNode TDocBuilder::BodyRoot() const {
    // The root is looked up by its local name: it lives in the ns namespace, so an
    // unprefixed XPath step would not match it.
    TXmlNode root = FXml ? FXml.documentElement() : TXmlNode();
    if (!root || root.localName() != "Documents")
        throw EDocumentBuilderException("not root node");
    return root;
}

TXmlNode TDocBuilder::AppendElement(TXmlNode Parent, const std::string& sName) {
    return Parent.appendChild(FXml.createElement(sName));
}

TXmlNode TDocBuilder::AppendText(TXmlNode Parent, const std::string& sName,
                                 const std::string& sText) {
    TXmlNode node = AppendElement(Parent, sName);
    node.setText(sText);
    return node;
}

TXmlNode TDocBuilder::AppendDocumentElement(TXmlNode Root, const std::string& FsRarId,
                                            const std::string& sDocElement) {
    TXmlNode owner = AppendElement(Root, "ns:Owner");
    AppendText(owner, "ns:FSRAR_ID", FsRarId);
    TXmlNode document = AppendElement(Root, "ns:Document");
    return AppendElement(document, sDocElement);
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
