#include "XsdValidator.h"

#include <libxml/parser.h>
#include <libxml/xmlschemas.h>
#include <libxml/xmlversion.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "TestSupport.h"

namespace qortest {

namespace {

void Collect(void* pLines, const xmlError* pError) {
    auto* lines = static_cast<std::vector<std::string>*>(pLines);
    std::string text = pError->message ? pError->message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    lines->push_back("line " + std::to_string(pError->line) + ": " + text);
}

// libxml2 2.12 made the handler's error parameter const.
#if LIBXML_VERSION >= 21200
void CollectHandler(void* pLines, const xmlError* pError) {
#else
void CollectHandler(void* pLines, xmlErrorPtr pError) {
#endif
    Collect(pLines, pError);
}

}  // namespace

std::filesystem::path XsdDir() {
    const char* dir = std::getenv("QOR_XSD_DIR");
    if (dir && *dir) return dir;
    return SourceDir() / ".." / "shared" / "xsd";
}

const XsdSchema* XsdSchema::Shared() {
    static const std::unique_ptr<XsdSchema> schema = []() -> std::unique_ptr<XsdSchema> {
        const std::filesystem::path main = XsdDir() / "WB_DOC_SINGLE_01.xsd";
        if (!std::filesystem::exists(main)) return nullptr;
        std::vector<std::string> errors;
        xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt(main.c_str());
        if (!parser) throw std::runtime_error("cannot read " + main.string());
        xmlSchemaSetParserStructuredErrors(parser, CollectHandler, &errors);
        xmlSchemaPtr parsed = xmlSchemaParse(parser);
        xmlSchemaFreeParserCtxt(parser);
        if (!parsed)
            throw std::runtime_error("the schemas in " + XsdDir().string() + " do not parse:\n" +
                                     JoinLines(errors));
        return std::unique_ptr<XsdSchema>(new XsdSchema(parsed));
    }();
    return schema.get();
}

XsdSchema::~XsdSchema() {
    xmlSchemaFree(static_cast<xmlSchemaPtr>(FSchema));
}

std::vector<std::string> XsdSchema::Validate(const std::string& sXml) const {
    std::vector<std::string> errors;
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
        xmlReadMemory(sXml.data(), static_cast<int>(sXml.size()), nullptr, nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        &xmlFreeDoc);
    if (!doc) return {"not well-formed XML"};
    std::unique_ptr<xmlSchemaValidCtxt, decltype(&xmlSchemaFreeValidCtxt)> ctxt(
        xmlSchemaNewValidCtxt(static_cast<xmlSchemaPtr>(FSchema)), &xmlSchemaFreeValidCtxt);
    xmlSchemaSetValidStructuredErrors(ctxt.get(), CollectHandler, &errors);
    const int rc = xmlSchemaValidateDoc(ctxt.get(), doc.get());
    if (rc != 0 && errors.empty()) errors.push_back("invalid (code " + std::to_string(rc) + ")");
    return errors;
}

void ExpectFolderValid(const XsdSchema& schema, const std::filesystem::path& dir) {
    int iFiles = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".xml") continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++iFiles;
        const std::vector<std::string> errors = schema.Validate(ReadFile(entry.path()));
        EXPECT_TRUE(errors.empty()) << JoinLines(errors);
    }
    EXPECT_GT(iFiles, 0) << "no documents in " << dir;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

}  // namespace qortest
