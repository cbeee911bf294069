#include "TestSupport.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

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

namespace {

std::optional<std::string> SetEnv(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    std::optional<std::string> before = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv(name, value.c_str(), 1);
    return before;
}

void RestoreEnv(const char* name, const std::optional<std::string>& value) {
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
}

}  // namespace

ProgramFolders::ProgramFolders()
    : FOldHome(SetEnv("QOREGAIS_HOME", FHome.Path().string())),
      FOldRuntime(SetEnv("QOREGAIS_RUNTIME_DIR", FRuntime.Path().string())) {}

ProgramFolders::~ProgramFolders() {
    RestoreEnv("QOREGAIS_RUNTIME_DIR", FOldRuntime);
    RestoreEnv("QOREGAIS_HOME", FOldHome);
}

static std::filesystem::path EnvPath(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::filesystem::path(v) : std::filesystem::path(fallback);
}

std::filesystem::path SourceDir() {
    return EnvPath("QOR_SOURCE_DIR", QOR_SOURCE_DIR_DEFAULT);
}
std::filesystem::path BinaryDir() {
    return EnvPath("QOR_BINARY_DIR", QOR_BINARY_DIR_DEFAULT);
}

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

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace qortest
