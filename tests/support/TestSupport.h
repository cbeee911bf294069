#pragma once
// Helpers shared by the test suites: temporary folders, the program's folders, the
// source tree and bounded waiting.
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
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

// Fresh program and runtime folders ($QOREGAIS_HOME, $QOREGAIS_RUNTIME_DIR) for as long
// as it lives; what was set before comes back at its end. Without it a scheduler, a job
// or a started program would write its log and archive into the build folder and open
// the installed service's files in /dev/shm (a file made there by a test run as root
// stops the service from opening it later). Child processes inherit both.
class ProgramFolders {
public:
    ProgramFolders();
    ~ProgramFolders();
    ProgramFolders(const ProgramFolders&) = delete;
    ProgramFolders& operator=(const ProgramFolders&) = delete;
    const std::filesystem::path& Home() const { return FHome.Path(); }
    const std::filesystem::path& Runtime() const { return FRuntime.Path(); }

private:
    TempDir FHome, FRuntime;
    std::optional<std::string> FOldHome, FOldRuntime;
};

// The project's source folder (QOR_SOURCE_DIR set by CTest) and build folder.
std::filesystem::path SourceDir();
std::filesystem::path BinaryDir();

std::string ReadFile(const std::filesystem::path& p);
void WriteFile(const std::filesystem::path& p, const std::string& text);

// Asks `done` every 10 ms until it holds or `timeout` has passed; true when it held.
// For what other threads or processes do on their own time, which a test can only
// observe.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

}  // namespace qortest
