#pragma once
// Inner state of the libxml2 DOM wrapper; private to utm/.
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "uXml.h"

namespace xmlimpl {

// One document with everything the handles may still point at. Detached nodes stay
// alive until the document goes; documents replaced by loadXML likewise.
struct TDocState {
    xmlDocPtr Doc = nullptr;
    std::vector<xmlDocPtr> Retired;
    std::unordered_set<xmlNodePtr> Detached;  // created or removed; freed if still loose
    int Unbound = 0;  // created names whose prefix is not yet bound to a namespace
    std::vector<std::pair<std::string, std::string>> ExtraNamespaces;  // prefix, URI
    TXmlParseError ParseError;

    TDocState();
    ~TDocState();
    TDocState(const TDocState&) = delete;
    TDocState& operator=(const TDocState&) = delete;
};

// Collects the first error that libxml2 reports during one call, so that nothing
// reaches stderr and each call sees only its own errors.
struct TErrorCollector {
    bool bHas = false;
    int iCode = 0;
    std::string sMessage;
    int iLine = 0;
    int iColumn = 0;

    void Take(const xmlError* error);
    static void Handler(void* userData, xmlErrorPtr error);
};

// Routes the thread's fall-back libxml2 error channel to a collector for its lifetime.
class TThreadErrorGuard {
public:
    explicit TThreadErrorGuard(TErrorCollector& collector);
    ~TThreadErrorGuard();
    TThreadErrorGuard(const TThreadErrorGuard&) = delete;
    TThreadErrorGuard& operator=(const TThreadErrorGuard&) = delete;

private:
    xmlStructuredErrorFunc FPrevious;
    void* FPreviousContext;
};

void InitLibXml();

std::string Str(const xmlChar* s);
std::string TakeXmlString(xmlChar* s);  // frees s
// "prefix:local", "#text", "#comment", "#document", ...
std::string QualifiedName(const xmlNode* n);
bool IsXmlnsName(const std::string& sName);
void CheckName(const std::string& sName);  // raises on a name that is not a QName

// Keeps a created or removed node alive until the document goes.
void Track(TDocState& st, xmlNodePtr n);
// Flags a created node whose prefixed (or unprefixed) name is bound later.
void MarkUnbound(TDocState& st, xmlNodePtr n);
xmlNodePtr TopOf(xmlNodePtr n);
// Binds the flagged names under top to the namespaces now in scope.
void BindNames(TDocState& st, xmlNodePtr top);

// Links child under parent before ref (nullptr: at the end).
void LinkChild(xmlNodePtr parent, xmlNodePtr child, xmlNodePtr ref);
void LinkAttribute(xmlNodePtr element, xmlAttrPtr attr);
xmlAttrPtr FindAttribute(xmlNodePtr element, const std::string& sName);
// Replaces the children of an element or attribute by one text node.
void ReplaceContent(TDocState& st, xmlNodePtr n, const std::string& sText);
// "xmlns" or "xmlns:p" on an element: declares or redeclares the namespace.
void DeclareNamespace(xmlNodePtr element, const std::string& sAttrName, const std::string& sUri);

std::string Serialize(xmlNodePtr n);
std::string SerializeDocument(xmlDocPtr doc);

// A handle on n (the document itself for the document node); nil for nullptr.
TXmlNode Wrap(const std::shared_ptr<TDocState>& doc, xmlNodePtr n);

}  // namespace xmlimpl
