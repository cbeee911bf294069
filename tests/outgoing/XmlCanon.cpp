#include "XmlCanon.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>
#include <stdexcept>

namespace qortest {

namespace {

std::string Str(const xmlChar* s) {
    return s ? reinterpret_cast<const char*>(s) : "";
}

void Walk(const xmlNode* n, int iDepth, std::string& out) {
    out.append(static_cast<size_t>(iDepth) * 2, ' ');
    out += "{" + (n->ns ? Str(n->ns->href) : std::string()) + "}";
    if (n->ns && n->ns->prefix) out += Str(n->ns->prefix) + ":";
    out += Str(n->name);
    for (const xmlNs* ns = n->nsDef; ns; ns = ns->next)
        out += " xmlns:" + Str(ns->prefix) + "=" + Str(ns->href);
    for (const xmlAttr* a = n->properties; a; a = a->next) {
        xmlChar* v = xmlNodeGetContent(reinterpret_cast<const xmlNode*>(a));
        out += " @" + Str(a->name) + "=" + Str(v);
        xmlFree(v);
    }
    std::string text;
    for (const xmlNode* c = n->children; c; c = c->next)
        if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) text += Str(c->content);
    if (text.find_first_not_of(" \t\r\n") != std::string::npos) out += " = \"" + text + "\"";
    out += "\n";
    for (const xmlNode* c = n->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE) Walk(c, iDepth + 1, out);
}

}  // namespace

std::string CanonicalXml(const std::string& sText) {
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
        xmlReadMemory(sText.data(), static_cast<int>(sText.size()), nullptr, "UTF-8",
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        &xmlFreeDoc);
    if (!doc) throw std::runtime_error("not well-formed XML:\n" + sText);
    std::string out = "encoding=" + Str(doc->encoding) + " version=" + Str(doc->version) + "\n";
    if (const xmlNode* root = xmlDocGetRootElement(doc.get())) Walk(root, 0, out);
    return out;
}

}  // namespace qortest
