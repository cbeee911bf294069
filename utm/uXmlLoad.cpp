// Loading EGAIS XML and walking it by element name.
#include <istream>
#include <iterator>

#include "uXml.h"

const char* const EGAIS_NAMESPACE_BASE = "http://fsrar.ru";

std::string EgaisNamespace(const std::string& sPath) {
    return std::string(EGAIS_NAMESPACE_BASE) + "/WEGAIS/" + sPath;
}

const std::vector<TXmlPrefixBinding>& EgaisPrefixes() {
    static const std::vector<TXmlPrefixBinding> bindings = {
        {"ns", "WB_DOC_SINGLE_01"},
        {"c", "Common"},
        {"ce", "CommonEnum"},
        {"oref", "ClientRef"},
        {"pref", "ProductRef"},
        {"wb", "TTNSingle"},
        {"tc", "Ticket"},
        {"wa", "ActTTNSingle"},
        {"ctc", "ConfirmTicket"},
        {"ar", "ActRejectSingle"},
        {"au", "ActUsingSingle"},
        {"ain", "ActInventorySingle"},
        {"ainp", "ActInventoryPartialSingle"},
        {"qp", "QueryParameters"},
        {"rssp", "ReplySSP"},
        {"rs", "ReplySpirit"},
        {"rc", "ReplyClient"},
        {"rap", "ReplyAP"},
        {"rst", "ReplyRests"},
        {"wbr", "TTNInformBReg"},
        {"aint", "ActInventoryInformBReg"},
        {"qf", "QueryFormAB"},
        {"rfa", "ReplyFormA"},
        {"rfb", "ReplyFormB"},
        {"wt", "ConfirmTicket"},
    };
    return bindings;
}

std::string EgaisSelectionNamespaces() {
    std::string s;
    for (const auto& b : EgaisPrefixes()) {
        if (!s.empty()) s += " ";
        s += std::string("xmlns:") + b.Prefix + "=\"" + EgaisNamespace(b.Path) + "\"";
    }
    return s;
}

std::string XPathLiteral(const std::string& sText) {
    if (sText.find('\'') == std::string::npos) return "'" + sText + "'";
    if (sText.find('"') == std::string::npos) return "\"" + sText + "\"";
    // Both quote kinds: pieces without apostrophes in '...', each apostrophe as "'".
    std::string s = "concat(";
    size_t pos = 0;
    bool bFirst = true;
    while (pos <= sText.size()) {
        size_t q = sText.find('\'', pos);
        std::string sPiece =
            sText.substr(pos, q == std::string::npos ? std::string::npos : q - pos);
        if (!sPiece.empty()) {
            s += (bFirst ? "'" : ", '") + sPiece + "'";
            bFirst = false;
        }
        if (q == std::string::npos) break;
        s += bFirst ? "\"'\"" : ", \"'\"";
        bFirst = false;
        pos = q + 1;
    }
    return s + ")";
}

namespace {

// A document's text in an error message: a whole 50 MB document made a 50 MB log entry,
// so only the first kilobyte is kept, cut between characters, with the full size.
std::string Excerpt(const std::string& sText) {
    constexpr size_t kMax = 1024;
    if (sText.size() <= kMax) return sText;
    size_t end = kMax;
    while (end > 0 && (static_cast<unsigned char>(sText[end]) & 0xC0) == 0x80) --end;
    return sText.substr(0, end) + "... (" + std::to_string(sText.size()) + " bytes)";
}

}  // namespace

TXmlDocument LoadXmlFrom(const std::string& AText) {
    TXmlDocument doc = TXmlDocument::Create();
    doc.setProperty("SelectionLanguage", "XPath");
    doc.setProperty("SelectionNamespaces", EgaisSelectionNamespaces());
    // Leading bytes before the markup (a byte-order mark, blanks, anything) are cut off.
    size_t first = AText.find('<');
    bool bCut = first != std::string::npos && first > 0;
    bool bLoaded = bCut ? doc.loadXML(AText.substr(first)) : doc.loadXML(AText);
    doc.setValidateOnParse(true);
    if (!bLoaded) {
        const TXmlParseError& e = doc.parseError();
        throw EXmlException(
            "Ошибка создания XML: " + std::to_string(e.errorCode) + "\r\n" +
            "Описание ошибки: " + e.reason + "\r\n" + "Строка: " + std::to_string(e.line) +
            ", Позиция: " + std::to_string(e.linepos) + "Исходный текст: " + Excerpt(e.srcText) +
            "\r\n" + "XML текст:\r\n" + Excerpt(AText));
    }
    return doc;
}

TXmlDocument LoadXmlFrom(std::istream& AStream) {
    std::string sText((std::istreambuf_iterator<char>(AStream)), std::istreambuf_iterator<char>());
    return LoadXmlFrom(sText);
}

TXmlNode GetChildNode(const TXmlNode& ParentNode, const std::string& sChildName) {
    if (!ParentNode) return TXmlNode();
    const std::string sShort = NodeShortName(sChildName);
    for (TXmlNode child = ParentNode.firstChild(); child; child = child.nextSibling()) {
        std::string sName = child.nodeName();
        if (sName == sChildName || NodeShortName(sName) == sShort) return child;
    }
    return TXmlNode();
}

std::string NodeShortName(const std::string& sNodeName) {
    auto colon = sNodeName.find(':');
    return colon == std::string::npos ? sNodeName : sNodeName.substr(colon + 1);
}
