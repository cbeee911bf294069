#include <libxml/hash.h>
#include <libxml/parser.h>

#include <climits>
#include <fstream>

#include "uXml.h"
#include "uXmlImpl.h"

using namespace xmlimpl;

namespace {

std::string SourceLine(const std::string& sText, int iLine) {
    if (iLine < 1) return "";
    size_t pos = 0;
    for (int i = 1; i < iLine; ++i) {
        pos = sText.find('\n', pos);
        if (pos == std::string::npos) return "";
        ++pos;
    }
    size_t end = sText.find('\n', pos);
    std::string s = sText.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (!s.empty() && s.back() == '\r') s.pop_back();
    return s;
}

// A DOCTYPE may only name the root element and declare markup: entities (which could
// reach files or expand without bound) and external DTDs are refused.
bool HasUnsafeDtd(xmlDocPtr doc) {
    if (doc->extSubset != nullptr) return true;
    xmlDtdPtr dtd = doc->intSubset;
    if (dtd == nullptr) return false;
    if (dtd->ExternalID != nullptr || dtd->SystemID != nullptr) return true;
    auto count = [](void* table) {
        return table ? xmlHashSize(static_cast<xmlHashTablePtr>(table)) : 0;
    };
    return count(dtd->entities) > 0 || count(dtd->pentities) > 0;
}

// libxml2 reports XPath errors by code only.
void ParserErrorHandler(void* userData, xmlErrorPtr error) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(userData);
    if (ctxt != nullptr && ctxt->_private != nullptr)
        static_cast<xmlimpl::TErrorCollector*>(ctxt->_private)->Take(error);
}

}  // namespace

// ---- TXmlDocument

TXmlDocument TXmlDocument::Create() {
    return TXmlDocument(std::make_shared<TDocState>());
}

void TXmlDocument::setProperty(const std::string& sName, const std::string& sValue) {
    Raw();
    if (sName == "SelectionLanguage") {
        if (sValue != "XPath") throw EXmlException("Поддерживается только язык выборки XPath");
        return;
    }
    if (sName != "SelectionNamespaces")
        throw EXmlException("Неизвестное свойство документа XML: " + sName);
    // xmlns:p="uri" (or 'uri') separated by blanks.
    std::vector<std::pair<std::string, std::string>> bindings;
    size_t pos = 0;
    while (true) {
        pos = sValue.find_first_not_of(" \t\r\n", pos);
        if (pos == std::string::npos) break;
        size_t eq = sValue.find('=', pos);
        if (eq == std::string::npos || sValue.compare(pos, 6, "xmlns:") != 0 ||
            eq + 1 >= sValue.size())
            throw EXmlException("Неверное значение SelectionNamespaces: " + sValue);
        std::string sPrefix = sValue.substr(pos + 6, eq - pos - 6);
        char quote = sValue[eq + 1];
        size_t close =
            (quote == '"' || quote == '\'') ? sValue.find(quote, eq + 2) : std::string::npos;
        if (sPrefix.empty() || close == std::string::npos)
            throw EXmlException("Неверное значение SelectionNamespaces: " + sValue);
        bindings.emplace_back(sPrefix, sValue.substr(eq + 2, close - eq - 2));
        pos = close + 1;
    }
    FDoc->ExtraNamespaces = std::move(bindings);
}

bool TXmlDocument::loadXML(const std::string& sText) {
    TDocState& st = *FDoc;
    Raw();
    if (sText.size() > static_cast<size_t>(INT_MAX)) throw EXmlException("Текст XML слишком велик");
    xmlimpl::TErrorCollector errors;
    xmlimpl::TThreadErrorGuard guard(errors);
    std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> ctxt(xmlNewParserCtxt(),
                                                                      &xmlFreeParserCtxt);
    if (!ctxt) throw EXmlException("libxml2: cannot create a parser");
    ctxt->_private = &errors;
    ctxt->sax->serror = &ParserErrorHandler;
    const int options = XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR |
                        XML_PARSE_NOWARNING | XML_PARSE_BIG_LINES;
    xmlDocPtr doc = xmlCtxtReadMemory(ctxt.get(), sText.data(), static_cast<int>(sText.size()),
                                      nullptr, "UTF-8", options);
    if (doc != nullptr && !errors.bHas && HasUnsafeDtd(doc)) {
        size_t at = sText.find("<!DOCTYPE");
        errors.bHas = true;
        errors.iCode = XML_ERR_ENTITY_PROCESSING;
        errors.sMessage = "DOCTYPE с объявлениями сущностей или внешним DTD не допускается";
        errors.iLine = 1;
        errors.iColumn = 1;
        if (at != std::string::npos) {
            for (size_t i = 0; i < at; ++i) {
                if (sText[i] == '\n') {
                    ++errors.iLine;
                    errors.iColumn = 1;
                } else {
                    ++errors.iColumn;
                }
            }
        }
    }
    if (doc == nullptr || errors.bHas) {
        if (doc != nullptr) xmlFreeDoc(doc);
        st.ParseError = TXmlParseError();
        st.ParseError.errorCode = errors.bHas ? errors.iCode : XML_ERR_DOCUMENT_EMPTY;
        st.ParseError.reason = errors.bHas ? errors.sMessage : "Document is empty";
        st.ParseError.line = errors.iLine;
        st.ParseError.linepos = errors.iColumn;
        st.ParseError.srcText = SourceLine(sText, errors.iLine);
        if (st.ParseError.errorCode == 0) st.ParseError.errorCode = XML_ERR_INTERNAL_ERROR;
        return false;
    }
    if (st.Doc->children == nullptr && st.Detached.empty())
        xmlFreeDoc(st.Doc);
    else
        st.Retired.push_back(st.Doc);
    st.Doc = doc;
    st.ParseError = TXmlParseError();
    return true;
}

const TXmlParseError& TXmlDocument::parseError() const {
    Raw();
    return FDoc->ParseError;
}

void TXmlDocument::setValidateOnParse(bool) {
    Raw();
}

TXmlNode TXmlDocument::documentElement() const {
    return Wrap(FDoc, xmlDocGetRootElement(FDoc ? FDoc->Doc : nullptr));
}

TXmlNode TXmlDocument::createElement(const std::string& sName) {
    Raw();
    CheckName(sName);
    xmlNodePtr n = xmlNewDocNode(FDoc->Doc, nullptr, BAD_CAST sName.c_str(), nullptr);
    if (n == nullptr) throw EXmlException("libxml2: cannot create element " + sName);
    Track(*FDoc, n);
    MarkUnbound(*FDoc, n);
    return Wrap(FDoc, n);
}

TXmlNode TXmlDocument::createAttribute(const std::string& sName) {
    Raw();
    CheckName(sName);
    xmlAttrPtr a = xmlNewDocProp(FDoc->Doc, BAD_CAST sName.c_str(), nullptr);
    if (a == nullptr) throw EXmlException("libxml2: cannot create attribute " + sName);
    auto* n = reinterpret_cast<xmlNodePtr>(a);
    Track(*FDoc, n);
    if (sName.find(':') != std::string::npos && !IsXmlnsName(sName)) MarkUnbound(*FDoc, n);
    return Wrap(FDoc, n);
}

TXmlNode TXmlDocument::createTextNode(const std::string& sText) {
    Raw();
    xmlNodePtr n =
        xmlNewDocTextLen(FDoc->Doc, BAD_CAST sText.data(), static_cast<int>(sText.size()));
    if (n == nullptr) throw EXmlException("libxml2: cannot create a text node");
    Track(*FDoc, n);
    return Wrap(FDoc, n);
}

TXmlNode TXmlDocument::createComment(const std::string& sText) {
    Raw();
    xmlNodePtr n = xmlNewDocComment(FDoc->Doc, BAD_CAST sText.c_str());
    if (n == nullptr) throw EXmlException("libxml2: cannot create a comment");
    Track(*FDoc, n);
    return Wrap(FDoc, n);
}

TXmlNode TXmlDocument::createProcessingInstruction(const std::string& sTarget,
                                                   const std::string& sData) {
    Raw();
    CheckName(sTarget);
    xmlNodePtr n = xmlNewDocPI(FDoc->Doc, BAD_CAST sTarget.c_str(), BAD_CAST sData.c_str());
    if (n == nullptr)
        throw EXmlException("libxml2: cannot create processing instruction " + sTarget);
    Track(*FDoc, n);
    return Wrap(FDoc, n);
}

void TXmlDocument::save(const std::string& sPath) const {
    std::string s = xml();
    std::ofstream f(sPath, std::ios::binary | std::ios::trunc);
    if (f) f.write(s.data(), static_cast<std::streamsize>(s.size()));
    if (f) f.close();
    if (!f) throw EXmlException("Не удалось записать XML в файл " + sPath);
}
