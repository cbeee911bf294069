// Any text quoted by XPathLiteral is one literal: a query comparing with it finds exactly
// the element holding that text and never fails to compile.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "uXml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (text.empty()) return 0;  // an empty element has no text node to compare
    TXmlDocument doc;
    try {
        doc = LoadXmlFrom("<list><url/><other>x</other></list>");
        TXmlNode url = doc.selectSingleNode("//url[1]");
        url.setText(text);
        // Text XML cannot carry (control characters, broken UTF-8) cannot be stored in
        // the document; the literal is not what is tested then.
        if (LoadXmlFrom(doc.xml()).selectSingleNode("//url[1]").text() != text) return 0;
    } catch (const EXmlException&) {
        return 0;
    }
    const TXmlNodeList found = doc.selectNodes("//url[text() = " + XPathLiteral(text) + "]");
    if (found.length() != 1 || found.item(0).text() != text) std::abort();
    return 0;
}
