// Any bytes given to the loader of received documents either give a document whose
// queries and serialisation work, or an EXmlException; nothing else.
#include <cstddef>
#include <cstdint>
#include <string>

#include "uXml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        TXmlDocument doc = LoadXmlFrom(std::string(reinterpret_cast<const char*>(data), size));
        for (const TXmlNode& url : doc.selectNodes("//url")) (void)url.text();
        (void)doc.selectSingleNode("ns:Documents/ns:Document/*");
        (void)doc.xml();
    } catch (const EXmlException&) {
    }
    return 0;
}
