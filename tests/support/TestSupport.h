#pragma once
// Helpers shared by the test suites: temporary folders and the source tree.
#include <filesystem>
#include <string>

namespace qortest {

// A fresh folder under the system's temporary folder (mode 0777, so that the Firebird
// server may create databases in it), removed with its contents at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return FPath; }

private:
    std::filesystem::path FPath;
};

// The project's source folder (QOR_SOURCE_DIR set by CTest) and build folder.
std::filesystem::path SourceDir();
std::filesystem::path BinaryDir();

std::string ReadFile(const std::filesystem::path& p);
void WriteFile(const std::filesystem::path& p, const std::string& text);

}  // namespace qortest
