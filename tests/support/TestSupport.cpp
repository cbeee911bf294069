#include "TestSupport.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qortest {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qortest.XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    FPath = tmpl;
    ::chmod(FPath.c_str(), 0777);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
}

static std::filesystem::path EnvPath(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::filesystem::path(v) : std::filesystem::path(fallback);
}

std::filesystem::path SourceDir() { return EnvPath("QOR_SOURCE_DIR", QOR_SOURCE_DIR_DEFAULT); }
std::filesystem::path BinaryDir() { return EnvPath("QOR_BINARY_DIR", QOR_BINARY_DIR_DEFAULT); }

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::filesystem::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
}

}  // namespace qortest
