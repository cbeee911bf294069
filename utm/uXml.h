#pragma once
// EGAIS XML: a small DOM over libxml2 with XPath 1.0, the fixed EGAIS namespace
// prefixes bound for every query, and the loading helpers the jobs use.
//
// Handles (TXmlDocument, TXmlNode) share ownership of their document, as DOM interface
// references do: a node keeps its document alive, nodes removed from the tree stay
// valid until the document goes. A default-constructed handle is nil. Documents are
// not shared between threads; each thread works on its own.
//
// Elements may be created with qualified names ("ns:Documents") and the namespaces
// declared afterwards with "xmlns:ns" attributes, on the element or on an ancestor, in
// any order: a prefixed name is bound to its namespace as soon as a declaration is in
// scope, at the latest before a query, a serialisation or a save.
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Exception.h"

QOR_DECLARE_EXCEPTION(EXmlException, Exception)

struct _xmlNode;

namespace xmlimpl {
struct TDocState;
}

// The scheme and host that begin every EGAIS namespace.
extern const char* const EGAIS_NAMESPACE_BASE;
// EGAIS_NAMESPACE_BASE + "/WEGAIS/" + sPath.
std::string EgaisNamespace(const std::string& sPath);

struct TXmlPrefixBinding {
    const char* Prefix;
    const char* Path;  // below EGAIS_NAMESPACE_BASE + "/WEGAIS/"
};
// The 25 prefixes bound in every XPath query, in their fixed order.
const std::vector<TXmlPrefixBinding>& EgaisPrefixes();
// The same bindings as declarations: xmlns:ns="..." xmlns:c="..." ...
std::string EgaisSelectionNamespaces();

// An XPath 1.0 string literal for any text: 'text', "text", or concat(...) when the
// text holds both quote kinds. Every query built from data quotes the data with it.
std::string XPathLiteral(const std::string& sText);

enum TXmlNodeType {
    ntOther = 0,
    ntElement = 1,
    ntAttribute = 2,
    ntText = 3,
    ntCDataSection = 4,
    ntEntityReference = 5,
    ntProcessingInstruction = 7,
    ntComment = 8,
    ntDocument = 9,
};

class TXmlNodeList;
class TXmlAttributes;
class TXmlDocument;

class TXmlNode {
public:
    TXmlNode() = default;

    explicit operator bool() const { return FDoc != nullptr; }
    bool operator==(const TXmlNode& other) const;

    TXmlNodeType nodeType() const;
    // The qualified name ("ns:Documents"), "#text", "#comment", "#document", ...
    std::string nodeName() const;
    // The name without prefix (the DOM's baseName).
    std::string localName() const;
    std::string prefix() const;
    std::string namespaceURI() const;
    // Text, CDATA, comment, processing-instruction data, attribute value; "" for
    // elements and the document.
    std::string nodeValue() const;
    void setNodeValue(const std::string& sValue);
    // The concatenated text content of the node and its descendants.
    std::string text() const;
    // Replaces the content by one text node (an attribute: its value).
    void setText(const std::string& sText);

    TXmlNode parentNode() const;
    TXmlNode firstChild() const;
    TXmlNode lastChild() const;
    TXmlNode nextSibling() const;
    TXmlNode previousSibling() const;
    bool hasChildNodes() const;
    // A snapshot of the children in document order.
    TXmlNodeList childNodes() const;

    TXmlAttributes attributes() const;
    // "xmlns" and "xmlns:p" give the namespace declared on this element.
    std::optional<std::string> getAttribute(const std::string& sName) const;
    // "xmlns" and "xmlns:p" declare (or redeclare) a namespace on this element.
    void setAttribute(const std::string& sName, const std::string& sValue);

    // The child is moved from wherever it was; returns it.
    TXmlNode appendChild(const TXmlNode& child);
    // A nil reference node appends.
    TXmlNode insertBefore(const TXmlNode& child, const TXmlNode& refChild);
    TXmlNode removeChild(const TXmlNode& child);

    // XPath 1.0 from this node; nil when nothing matches. A faulty expression or a
    // result that is not a node set raises EXmlException.
    TXmlNode selectSingleNode(const std::string& sXPath) const;
    // The matching nodes in document order.
    TXmlNodeList selectNodes(const std::string& sXPath) const;

    // The node as XML text (UTF-8); for the document, with the declaration
    // <?xml version="1.0" encoding="UTF-8"?> first.
    std::string xml() const;
    TXmlDocument ownerDocument() const;

protected:
    friend class TXmlNodeList;
    friend class TXmlAttributes;
    friend class TXmlDocument;
    TXmlNode(std::shared_ptr<xmlimpl::TDocState> doc, _xmlNode* node)
        : FDoc(std::move(doc)), FNode(node) {}
    _xmlNode* Raw() const;  // raises on a nil handle

    std::shared_ptr<xmlimpl::TDocState> FDoc;
    _xmlNode* FNode = nullptr;  // nullptr with FDoc set: the document node itself
};

class TXmlNodeList {
public:
    TXmlNodeList() = default;
    int length() const { return static_cast<int>(FItems.size()); }
    // Nil outside 0..length()-1.
    TXmlNode item(int i) const;

    std::vector<TXmlNode>::const_iterator begin() const { return FItems.begin(); }
    std::vector<TXmlNode>::const_iterator end() const { return FItems.end(); }

private:
    friend class TXmlNode;
    std::vector<TXmlNode> FItems;
};

// The attributes of an element (namespace declarations are not among them; read them
// with getAttribute).
class TXmlAttributes {
public:
    TXmlAttributes() = default;
    int length() const;
    TXmlNode item(int i) const;
    TXmlNode getNamedItem(const std::string& sName) const;
    // Adds an attribute node made by createAttribute, replacing one of the same name;
    // an "xmlns:p" attribute declares the namespace on the element instead.
    TXmlNode setNamedItem(const TXmlNode& attr);
    TXmlNode removeNamedItem(const std::string& sName);

private:
    friend class TXmlNode;
    TXmlNode FElement;
};

struct TXmlParseError {
    int errorCode = 0;  // 0: no error
    std::string reason;
    int line = 0;
    int linepos = 0;
    std::string srcText;
};

class TXmlDocument : public TXmlNode {
public:
    TXmlDocument() = default;  // nil
    // A new empty document.
    static TXmlDocument Create();

    // "SelectionLanguage" accepts only "XPath"; "SelectionNamespaces" takes
    // declarations (xmlns:p="uri" ...) bound in later queries besides the fixed ones.
    void setProperty(const std::string& sName, const std::string& sValue);
    // Parses UTF-8 text in place of the current content; false on failure, with the
    // diagnosis in parseError(). The parser never reaches the network, never
    // substitutes entities and never loads a DTD; a document whose DOCTYPE declares
    // entities or names an external DTD is refused. Whitespace-only text between
    // elements is dropped.
    bool loadXML(const std::string& sText);
    const TXmlParseError& parseError() const;
    void setValidateOnParse(bool bValue);

    TXmlNode documentElement() const;
    TXmlNode createElement(const std::string& sName);
    TXmlNode createAttribute(const std::string& sName);
    TXmlNode createTextNode(const std::string& sText);
    TXmlNode createComment(const std::string& sText);
    // Target "xml" makes the declaration node: xml() writes it first in any case.
    TXmlNode createProcessingInstruction(const std::string& sTarget, const std::string& sData);

    // Writes xml() to the file (UTF-8); raises EXmlException on failure.
    void save(const std::string& sPath) const;

private:
    friend class TXmlNode;
    explicit TXmlDocument(std::shared_ptr<xmlimpl::TDocState> doc)
        : TXmlNode(std::move(doc), nullptr) {}
};

// Parses a text (UTF-8) into a document ready for queries with the fixed prefixes.
// Anything before the first "<" is cut off. Raises EXmlException with the parser's
// diagnosis and the whole text as passed.
TXmlDocument LoadXmlFrom(const std::string& AText);
// Reads the whole stream (UTF-8 bytes) and parses it as above.
TXmlDocument LoadXmlFrom(std::istream& AStream);

// The first child whose node name equals sChildName or whose local name equals the
// local name of sChildName (exact comparisons, children in document order); nil
// when there is none.
TXmlNode GetChildNode(const TXmlNode& ParentNode, const std::string& sChildName);
// Everything after the first ":"; the name itself when it has none.
std::string NodeShortName(const std::string& sNodeName);
