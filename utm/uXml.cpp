#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include "uXml.h"
#include "uXmlImpl.h"

using namespace xmlimpl;

namespace {

std::string XPathErrorText(const xmlimpl::TErrorCollector& e) {
    if (!e.sMessage.empty()) return e.sMessage;
    switch (e.iCode) {
        case XML_XPATH_EXPR_ERROR:
            return "invalid expression";
        case XML_XPATH_UNFINISHED_LITERAL_ERROR:
            return "unfinished literal";
        case XML_XPATH_START_LITERAL_ERROR:
            return "start of literal expected";
        case XML_XPATH_UNDEF_VARIABLE_ERROR:
            return "undefined variable";
        case XML_XPATH_INVALID_PREDICATE_ERROR:
            return "invalid predicate";
        case XML_XPATH_UNKNOWN_FUNC_ERROR:
            return "unregistered function";
        case XML_XPATH_INVALID_ARITY:
            return "invalid number of arguments";
        case XML_XPATH_INVALID_TYPE:
            return "invalid type";
        case XML_XPATH_UNDEF_PREFIX_ERROR:
            return "undefined namespace prefix";
        case XML_XPATH_INVALID_CHAR_ERROR:
            return "invalid character";
        default:
            return "XPath error " + std::to_string(e.iCode);
    }
}

}  // namespace

// ---- TXmlNode

_xmlNode* TXmlNode::Raw() const {
    if (!FDoc) throw EXmlException("Обращение к пустому узлу XML");
    return FNode != nullptr ? FNode : reinterpret_cast<xmlNodePtr>(FDoc->Doc);
}

bool TXmlNode::operator==(const TXmlNode& other) const {
    if (!FDoc || !other.FDoc) return !FDoc && !other.FDoc;
    return FDoc == other.FDoc && Raw() == other.Raw();
}

TXmlNodeType TXmlNode::nodeType() const {
    switch (Raw()->type) {
        case XML_ELEMENT_NODE:
            return ntElement;
        case XML_ATTRIBUTE_NODE:
            return ntAttribute;
        case XML_TEXT_NODE:
            return ntText;
        case XML_CDATA_SECTION_NODE:
            return ntCDataSection;
        case XML_ENTITY_REF_NODE:
            return ntEntityReference;
        case XML_PI_NODE:
            return ntProcessingInstruction;
        case XML_COMMENT_NODE:
            return ntComment;
        case XML_DOCUMENT_NODE:
            return ntDocument;
        default:
            return ntOther;
    }
}

std::string TXmlNode::nodeName() const {
    return QualifiedName(Raw());
}

std::string TXmlNode::localName() const {
    xmlNodePtr n = Raw();
    if (n->type != XML_ELEMENT_NODE && n->type != XML_ATTRIBUTE_NODE) return nodeName();
    return n->ns != nullptr ? Str(n->name) : NodeShortName(Str(n->name));
}

std::string TXmlNode::prefix() const {
    xmlNodePtr n = Raw();
    if (n->type != XML_ELEMENT_NODE && n->type != XML_ATTRIBUTE_NODE) return "";
    if (n->ns != nullptr) return Str(n->ns->prefix);
    std::string s = Str(n->name);
    auto colon = s.find(':');
    return colon == std::string::npos ? "" : s.substr(0, colon);
}

std::string TXmlNode::namespaceURI() const {
    xmlNodePtr n = Raw();
    BindNames(*FDoc, TopOf(n));
    bool bNamed = n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE;
    return bNamed && n->ns != nullptr ? Str(n->ns->href) : "";
}

std::string TXmlNode::nodeValue() const {
    xmlNodePtr n = Raw();
    switch (n->type) {
        case XML_ELEMENT_NODE:
        case XML_DOCUMENT_NODE:
            return "";
        default:
            return TakeXmlString(xmlNodeGetContent(n));
    }
}

void TXmlNode::setNodeValue(const std::string& sValue) {
    xmlNodePtr n = Raw();
    if (n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_NODE)
        throw EXmlException("Узел " + nodeName() + " не имеет значения");
    setText(sValue);
}

std::string TXmlNode::text() const {
    return TakeXmlString(xmlNodeGetContent(Raw()));
}

void TXmlNode::setText(const std::string& sText) {
    xmlNodePtr n = Raw();
    switch (n->type) {
        case XML_ELEMENT_NODE:
        case XML_ATTRIBUTE_NODE:
            ReplaceContent(*FDoc, n, sText);
            break;
        case XML_DOCUMENT_NODE:
            throw EXmlException("Документу XML нельзя задать текст");
        default:
            xmlNodeSetContentLen(n, BAD_CAST sText.data(), static_cast<int>(sText.size()));
    }
}

TXmlNode TXmlNode::parentNode() const {
    xmlNodePtr n = Raw();
    return n->type == XML_DOCUMENT_NODE ? TXmlNode() : Wrap(FDoc, n->parent);
}

TXmlNode TXmlNode::firstChild() const {
    return Wrap(FDoc, Raw()->children);
}
TXmlNode TXmlNode::lastChild() const {
    return Wrap(FDoc, Raw()->last);
}
TXmlNode TXmlNode::nextSibling() const {
    xmlNodePtr n = Raw();
    return n->type == XML_DOCUMENT_NODE ? TXmlNode() : Wrap(FDoc, n->next);
}
TXmlNode TXmlNode::previousSibling() const {
    xmlNodePtr n = Raw();
    return n->type == XML_DOCUMENT_NODE ? TXmlNode() : Wrap(FDoc, n->prev);
}
bool TXmlNode::hasChildNodes() const {
    return Raw()->children != nullptr;
}

TXmlNodeList TXmlNode::childNodes() const {
    TXmlNodeList list;
    for (xmlNodePtr c = Raw()->children; c != nullptr; c = c->next)
        list.FItems.push_back(Wrap(FDoc, c));
    return list;
}

TXmlAttributes TXmlNode::attributes() const {
    TXmlAttributes attrs;
    if (Raw()->type == XML_ELEMENT_NODE) attrs.FElement = *this;
    return attrs;
}

std::optional<std::string> TXmlNode::getAttribute(const std::string& sName) const {
    xmlNodePtr n = Raw();
    if (n->type != XML_ELEMENT_NODE) return std::nullopt;
    if (IsXmlnsName(sName)) {
        std::string sPrefix = sName == "xmlns" ? "" : sName.substr(6);
        for (xmlNsPtr ns = n->nsDef; ns != nullptr; ns = ns->next)
            if (Str(ns->prefix) == sPrefix) return Str(ns->href);
        return std::nullopt;
    }
    xmlAttrPtr a = FindAttribute(n, sName);
    if (a == nullptr) return std::nullopt;
    return TakeXmlString(xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a)));
}

void TXmlNode::setAttribute(const std::string& sName, const std::string& sValue) {
    xmlNodePtr n = Raw();
    if (n->type != XML_ELEMENT_NODE) throw EXmlException("Атрибуты есть только у элементов");
    CheckName(sName);
    if (IsXmlnsName(sName)) {
        DeclareNamespace(n, sName, sValue);
        return;
    }
    if (xmlAttrPtr a = FindAttribute(n, sName)) {
        ReplaceContent(*FDoc, reinterpret_cast<xmlNodePtr>(a), sValue);
        return;
    }
    TXmlNode attr = ownerDocument().createAttribute(sName);
    attr.setText(sValue);
    attributes().setNamedItem(attr);
}

TXmlNode TXmlNode::appendChild(const TXmlNode& child) {
    return insertBefore(child, TXmlNode());
}

TXmlNode TXmlNode::insertBefore(const TXmlNode& child, const TXmlNode& refChild) {
    xmlNodePtr parent = Raw();
    xmlNodePtr c = child.Raw();
    xmlNodePtr ref = refChild ? refChild.Raw() : nullptr;
    if (child.FDoc != FDoc || c->doc != FDoc->Doc)
        throw EXmlException("Узел XML принадлежит другому документу");
    if (parent->type != XML_ELEMENT_NODE && parent->type != XML_DOCUMENT_NODE)
        throw EXmlException("Узел " + nodeName() + " не может иметь дочерних узлов");
    if (c->type == XML_ATTRIBUTE_NODE || c->type == XML_DOCUMENT_NODE)
        throw EXmlException("Узел " + child.nodeName() + " нельзя вставить как дочерний");
    if (ref != nullptr && ref->parent != parent)
        throw EXmlException("Опорный узел не является дочерним узлом " + nodeName());
    for (xmlNodePtr p = parent; p != nullptr; p = p->parent)
        if (p == c) throw EXmlException("Узел нельзя вставить внутрь него самого");
    if (parent->type == XML_DOCUMENT_NODE) {
        if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE)
            throw EXmlException("Текст нельзя вставить на верхний уровень документа");
        xmlNodePtr root = xmlDocGetRootElement(FDoc->Doc);
        if (c->type == XML_ELEMENT_NODE && root != nullptr && root != c)
            throw EXmlException("У документа XML уже есть корневой элемент");
    }
    if (c == ref) return child;
    if (c->parent != nullptr) xmlUnlinkNode(c);
    LinkChild(parent, c, ref);
    // A moved subtree keeps its namespaces: declarations it lost are added back.
    if (c->type == XML_ELEMENT_NODE) xmlReconciliateNs(FDoc->Doc, c);
    return child;
}

TXmlNode TXmlNode::removeChild(const TXmlNode& child) {
    xmlNodePtr c = child.Raw();
    if (child.FDoc != FDoc || c->parent != Raw() || c->type == XML_ATTRIBUTE_NODE)
        throw EXmlException("Узел не является дочерним узлом " + nodeName());
    xmlUnlinkNode(c);
    Track(*FDoc, c);
    return child;
}

TXmlNodeList TXmlNode::selectNodes(const std::string& sXPath) const {
    xmlNodePtr n = Raw();
    BindNames(*FDoc, TopOf(n));
    xmlimpl::TErrorCollector errors;
    xmlimpl::TThreadErrorGuard guard(errors);
    std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> ctx(
        xmlXPathNewContext(FDoc->Doc), &xmlXPathFreeContext);
    if (!ctx) throw EXmlException("libxml2: cannot create an XPath context");
    ctx->error = &xmlimpl::TErrorCollector::Handler;
    ctx->userData = &errors;
    for (const auto& b : EgaisPrefixes())
        xmlXPathRegisterNs(ctx.get(), BAD_CAST b.Prefix, BAD_CAST EgaisNamespace(b.Path).c_str());
    for (const auto& [sPrefix, sUri] : FDoc->ExtraNamespaces)
        xmlXPathRegisterNs(ctx.get(), BAD_CAST sPrefix.c_str(), BAD_CAST sUri.c_str());
    ctx->node = n;
    std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> res(
        xmlXPathEvalExpression(BAD_CAST sXPath.c_str(), ctx.get()), &xmlXPathFreeObject);
    if (!res)
        throw EXmlException("Ошибка в выражении XPath \"" + sXPath +
                            "\": " + XPathErrorText(errors));
    if (res->type != XPATH_NODESET)
        throw EXmlException("Выражение XPath \"" + sXPath + "\" не даёт набор узлов");
    TXmlNodeList list;
    if (xmlNodeSetPtr set = res->nodesetval) {
        xmlXPathNodeSetSort(set);
        for (int i = 0; i < set->nodeNr; ++i)
            if (TXmlNode node = Wrap(FDoc, set->nodeTab[i])) list.FItems.push_back(node);
    }
    return list;
}

TXmlNode TXmlNode::selectSingleNode(const std::string& sXPath) const {
    return selectNodes(sXPath).item(0);
}

std::string TXmlNode::xml() const {
    xmlNodePtr n = Raw();
    BindNames(*FDoc, TopOf(n));
    if (n->type == XML_DOCUMENT_NODE) return SerializeDocument(reinterpret_cast<xmlDocPtr>(n));
    return Serialize(n);
}

TXmlDocument TXmlNode::ownerDocument() const {
    Raw();
    return TXmlDocument(FDoc);
}

// ---- TXmlNodeList, TXmlAttributes

TXmlNode TXmlNodeList::item(int i) const {
    return i >= 0 && i < length() ? FItems[static_cast<size_t>(i)] : TXmlNode();
}

int TXmlAttributes::length() const {
    if (!FElement) return 0;
    int i = 0;
    for (xmlAttrPtr a = FElement.Raw()->properties; a != nullptr; a = a->next) ++i;
    return i;
}

TXmlNode TXmlAttributes::item(int i) const {
    if (!FElement || i < 0) return TXmlNode();
    xmlAttrPtr a = FElement.Raw()->properties;
    for (; a != nullptr && i > 0; a = a->next) --i;
    return Wrap(FElement.FDoc, reinterpret_cast<xmlNodePtr>(a));
}

TXmlNode TXmlAttributes::getNamedItem(const std::string& sName) const {
    if (!FElement) return TXmlNode();
    return Wrap(FElement.FDoc, reinterpret_cast<xmlNodePtr>(FindAttribute(FElement.Raw(), sName)));
}

TXmlNode TXmlAttributes::setNamedItem(const TXmlNode& attr) {
    if (!FElement) throw EXmlException("Атрибуты есть только у элементов");
    xmlNodePtr el = FElement.Raw();
    xmlNodePtr a = attr.Raw();
    if (a->type != XML_ATTRIBUTE_NODE || attr.FDoc != FElement.FDoc)
        throw EXmlException("setNamedItem ждёт атрибут этого документа");
    if (a->parent == el) return attr;
    if (a->parent != nullptr)
        throw EXmlException("Атрибут " + attr.nodeName() + " уже принадлежит элементу");
    std::string sName = attr.nodeName();
    if (IsXmlnsName(sName)) {
        DeclareNamespace(el, sName, attr.nodeValue());
        return attr;
    }
    if (xmlAttrPtr old = FindAttribute(el, sName)) {
        xmlUnlinkNode(reinterpret_cast<xmlNodePtr>(old));
        Track(*FElement.FDoc, reinterpret_cast<xmlNodePtr>(old));
    }
    LinkAttribute(el, reinterpret_cast<xmlAttrPtr>(a));
    return attr;
}

TXmlNode TXmlAttributes::removeNamedItem(const std::string& sName) {
    if (!FElement) return TXmlNode();
    xmlAttrPtr a = FindAttribute(FElement.Raw(), sName);
    if (a == nullptr) return TXmlNode();
    xmlUnlinkNode(reinterpret_cast<xmlNodePtr>(a));
    Track(*FElement.FDoc, reinterpret_cast<xmlNodePtr>(a));
    return Wrap(FElement.FDoc, reinterpret_cast<xmlNodePtr>(a));
}
