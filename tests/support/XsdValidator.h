#pragma once
// The regulator's EGAIS schemas as the UTM applies them: WB_DOC_SINGLE_01.xsd declares
// the envelope and imports every document kind, so one schema set checks any document
// we send or read.
#include <filesystem>
#include <string>
#include <vector>

namespace qortest {

// QOR_XSD_DIR when set, else ../shared/xsd beside the source folder (where CI keeps it).
std::filesystem::path XsdDir();

class XsdSchema {
public:
    // The schema set, parsed at the first call and kept for the process (parsing it
    // takes longer than validating many documents); nullptr when the folder has no
    // WB_DOC_SINGLE_01.xsd. A folder whose schemas do not parse raises.
    static const XsdSchema* Shared();

    // The validator's messages ("line N: text"); empty when the document is valid.
    std::vector<std::string> Validate(const std::string& sXml) const;

    XsdSchema(const XsdSchema&) = delete;
    XsdSchema& operator=(const XsdSchema&) = delete;
    ~XsdSchema();

private:
    explicit XsdSchema(void* pSchema) : FSchema(pSchema) {}
    void* FSchema;  // xmlSchemaPtr, kept out of the header
};

// Every .xml file of the folder validates; a failure names the file and the messages.
// An empty folder fails too, so that a moved folder is not a silent pass.
void ExpectFolderValid(const XsdSchema& schema, const std::filesystem::path& dir);

// The messages joined one per line, for a failure text.
std::string JoinLines(const std::vector<std::string>& lines);

}  // namespace qortest
