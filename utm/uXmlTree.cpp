// The tree under the handles: ownership of loose nodes, binding of prefixed names,
// linking and serialisation.
#include <libxml/parser.h>
#include <libxml/xmlsave.h>

#include <mutex>

#include "uXmlImpl.h"

namespace xmlimpl {

namespace {

// Marks (in _private) a created node whose qualified name still waits for a namespace.
char gUnboundMark;

bool IsUnbound(const void* node) {
    return static_cast<const xmlNode*>(node)->_private == &gUnboundMark;
}

}  // namespace

void InitLibXml() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

TDocState::TDocState() {
    InitLibXml();
    Doc = xmlNewDoc(BAD_CAST "1.0");
    if (Doc == nullptr) throw EXmlException("libxml2: cannot create a document");
}

TDocState::~TDocState() {
    // Loose trees first (their names may live in a document's dictionary); a tracked
    // node with a parent is freed with that parent's tree.
    std::vector<xmlNodePtr> loose;
    for (xmlNodePtr n : Detached)
        if (n->parent == nullptr) loose.push_back(n);
    for (xmlNodePtr n : loose) xmlFreeNode(n);
    for (xmlDocPtr d : Retired) xmlFreeDoc(d);
    xmlFreeDoc(Doc);
}

void TErrorCollector::Take(const xmlError* error) {
    if (bHas || error == nullptr || error->level < XML_ERR_ERROR) return;
    bHas = true;
    iCode = error->code;
    sMessage = error->message ? error->message : "";
    while (!sMessage.empty() &&
           (sMessage.back() == '\n' || sMessage.back() == '\r' || sMessage.back() == ' '))
        sMessage.pop_back();
    iLine = error->line;
    iColumn = error->int2;
}

void TErrorCollector::Handler(void* userData, xmlErrorPtr error) {
    static_cast<TErrorCollector*>(userData)->Take(error);
}

TThreadErrorGuard::TThreadErrorGuard(TErrorCollector& collector)
    : FPrevious(xmlStructuredError), FPreviousContext(xmlStructuredErrorContext) {
    xmlSetStructuredErrorFunc(&collector, &TErrorCollector::Handler);
}

TThreadErrorGuard::~TThreadErrorGuard() {
    xmlSetStructuredErrorFunc(FPreviousContext, FPrevious);
}

static const char* const XML_DECLARATION = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

std::string Str(const xmlChar* s) {
    return s ? reinterpret_cast<const char*>(s) : std::string();
}

std::string TakeXmlString(xmlChar* s) {
    std::string r = Str(s);
    xmlFree(s);
    return r;
}

bool HasPrefix(const xmlNode* n) {
    return n->ns != nullptr && n->ns->prefix != nullptr;
}

std::string QualifiedName(const xmlNode* n) {
    switch (n->type) {
        case XML_ELEMENT_NODE:
        case XML_ATTRIBUTE_NODE:
            return HasPrefix(n) ? Str(n->ns->prefix) + ":" + Str(n->name) : Str(n->name);
        case XML_TEXT_NODE:
            return "#text";
        case XML_CDATA_SECTION_NODE:
            return "#cdata-section";
        case XML_COMMENT_NODE:
            return "#comment";
        case XML_DOCUMENT_NODE:
            return "#document";
        default:
            return Str(n->name);
    }
}

bool IsXmlnsName(const std::string& sName) {
    return sName == "xmlns" || sName.rfind("xmlns:", 0) == 0;
}

void CheckName(const std::string& sName) {
    if (sName.empty() || xmlValidateQName(BAD_CAST sName.c_str(), 0) != 0)
        throw EXmlException("Недопустимое имя XML: \"" + sName + "\"");
}

void Track(TDocState& st, xmlNodePtr n) {
    st.Detached.insert(n);
}

void MarkUnbound(TDocState& st, xmlNodePtr n) {
    n->_private = &xmlimpl::gUnboundMark;
    ++st.Unbound;
}

// Binds a created name to the namespace its prefix (or the default) has in scope.
void TryBind(TDocState& st, xmlNodePtr n) {
    std::string sName = Str(n->name);
    auto colon = sName.find(':');
    std::string sPrefix = colon == std::string::npos ? "" : sName.substr(0, colon);
    xmlNodePtr scope = n->type == XML_ATTRIBUTE_NODE ? n->parent : n;
    if (scope == nullptr) return;
    xmlNsPtr ns = xmlSearchNs(st.Doc, scope, sPrefix.empty() ? nullptr : BAD_CAST sPrefix.c_str());
    if (sPrefix.empty() && ns != nullptr && (ns->href == nullptr || *ns->href == 0)) ns = nullptr;
    if (ns == nullptr) {
        if (!sPrefix.empty() || n->type == XML_ATTRIBUTE_NODE) return;
        // No default namespace either: stays unbound until one is declared above it.
        return;
    }
    xmlSetNs(n, ns);
    if (!sPrefix.empty()) {
        std::string sLocal = sName.substr(colon + 1);
        xmlNodeSetName(n, BAD_CAST sLocal.c_str());
    }
    n->_private = nullptr;
    --st.Unbound;
}

xmlNodePtr TopOf(xmlNodePtr n) {
    while (n->parent != nullptr) n = n->parent;
    return n;
}

void BindNames(TDocState& st, xmlNodePtr top) {
    if (st.Unbound == 0) return;
    xmlNodePtr n = top;
    while (n != nullptr) {
        if (n->type == XML_ELEMENT_NODE) {
            if (xmlimpl::IsUnbound(n)) TryBind(st, n);
            for (xmlAttrPtr a = n->properties; a != nullptr; a = a->next)
                if (xmlimpl::IsUnbound(a)) TryBind(st, reinterpret_cast<xmlNodePtr>(a));
        }
        bool bDescend =
            n->children != nullptr && (n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_NODE);
        if (bDescend) {
            n = n->children;
            continue;
        }
        while (n != nullptr && n != top && n->next == nullptr) n = n->parent;
        if (n == nullptr || n == top) break;
        n = n->next;
    }
}

// Links child under parent before ref (nullptr: at the end). Done by hand because the
// libxml2 helpers merge adjacent text nodes and free one of them.
void LinkChild(xmlNodePtr parent, xmlNodePtr child, xmlNodePtr ref) {
    child->parent = parent;
    if (ref == nullptr) {
        child->prev = parent->last;
        child->next = nullptr;
        if (parent->last != nullptr)
            parent->last->next = child;
        else
            parent->children = child;
        parent->last = child;
    } else {
        child->next = ref;
        child->prev = ref->prev;
        if (ref->prev != nullptr)
            ref->prev->next = child;
        else
            parent->children = child;
        ref->prev = child;
    }
}

void LinkAttribute(xmlNodePtr element, xmlAttrPtr attr) {
    attr->parent = element;
    attr->next = nullptr;
    attr->prev = nullptr;
    if (element->properties == nullptr) {
        element->properties = attr;
        return;
    }
    xmlAttrPtr last = element->properties;
    while (last->next != nullptr) last = last->next;
    last->next = attr;
    attr->prev = last;
}

xmlAttrPtr FindAttribute(xmlNodePtr element, const std::string& sName) {
    for (xmlAttrPtr a = element->properties; a != nullptr; a = a->next)
        if (QualifiedName(reinterpret_cast<xmlNodePtr>(a)) == sName) return a;
    return nullptr;
}

// Replaces the children of an element or attribute by one text node; the old
// children stay alive, detached, for handles that still point at them.
void ReplaceContent(TDocState& st, xmlNodePtr n, const std::string& sText) {
    while (n->children != nullptr) {
        xmlNodePtr c = n->children;
        xmlUnlinkNode(c);
        Track(st, c);
    }
    if (sText.empty() && n->type == XML_ELEMENT_NODE) return;
    xmlNodePtr t = xmlNewDocTextLen(n->doc, BAD_CAST sText.data(), static_cast<int>(sText.size()));
    if (t == nullptr) throw EXmlException("libxml2: cannot create a text node");
    LinkChild(n, t, nullptr);
}

void DeclareNamespace(xmlNodePtr element, const std::string& sAttrName, const std::string& sUri) {
    std::string sPrefix = sAttrName == "xmlns" ? "" : sAttrName.substr(6);
    for (xmlNsPtr ns = element->nsDef; ns != nullptr; ns = ns->next) {
        if (Str(ns->prefix) == sPrefix) {
            xmlFree(const_cast<xmlChar*>(ns->href));
            ns->href = xmlStrdup(BAD_CAST sUri.c_str());
            return;
        }
    }
    if (xmlNewNs(element, BAD_CAST sUri.c_str(),
                 sPrefix.empty() ? nullptr : BAD_CAST sPrefix.c_str()) == nullptr)
        throw EXmlException("Недопустимое объявление пространства имён: " + sAttrName);
}

std::string Serialize(xmlNodePtr n) {
    std::unique_ptr<xmlBuffer, decltype(&xmlBufferFree)> buf(xmlBufferCreate(), &xmlBufferFree);
    if (!buf) throw EXmlException("libxml2: cannot create a buffer");
    xmlSaveCtxtPtr save = xmlSaveToBuffer(buf.get(), "UTF-8", XML_SAVE_NO_DECL | XML_SAVE_AS_XML);
    if (save == nullptr) throw EXmlException("libxml2: cannot serialise");
    xmlSaveTree(save, n);
    xmlSaveClose(save);
    return std::string(reinterpret_cast<const char*>(xmlBufferContent(buf.get())),
                       static_cast<size_t>(xmlBufferLength(buf.get())));
}

std::string SerializeDocument(xmlDocPtr doc) {
    std::string s = XML_DECLARATION;
    s += "\n";
    for (xmlNodePtr c = doc->children; c != nullptr; c = c->next) {
        // The declaration is written above; a node that stands for it is not repeated.
        if (c->type == XML_PI_NODE && xmlStrcasecmp(c->name, BAD_CAST "xml") == 0) continue;
        s += Serialize(c);
        s += "\n";
    }
    return s;
}

TXmlNode Wrap(const std::shared_ptr<TDocState>& doc, xmlNodePtr n) {
    if (n == nullptr || n->type == XML_NAMESPACE_DECL) return TXmlNode();
    struct TAccess : TXmlNode {
        TAccess(const std::shared_ptr<TDocState>& d, xmlNodePtr p) : TXmlNode(d, p) {}
    };
    return TAccess(doc, n == reinterpret_cast<xmlNodePtr>(doc->Doc) ? nullptr : n);
}

}  // namespace xmlimpl
