#include "uPlatform.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "Exception.h"

EOSError::EOSError(int code, const std::string& what) : Exception(what), FErrorCode(code) {}

void RaiseLastOSError(const std::string& call) {
    int code = errno;
    throw EOSError(code, "System Error.  Code: " + std::to_string(code) + ".\r\n" +
                             std::strerror(code) + " (" + call + ")");
}

const char* ErrorClassName(const std::exception& e) {
    if (auto* own = dynamic_cast<const Exception*>(&e)) return own->ClassName();
    return "Exception";
}

namespace platform {

namespace {
std::mutex gTickLock;  // guards gTickSource
std::function<uint32_t()> gTickSource;

std::filesystem::path FolderFromEnv(const char* name, const std::filesystem::path& fallback) {
    const char* v = std::getenv(name);
    if (v && *v) return std::filesystem::path(v);
    return fallback;
}
}  // namespace

std::filesystem::path ProgramFolder() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return FolderFromEnv("QOREGAIS_HOME", ec ? std::filesystem::current_path() : exe.parent_path());
}

std::string ProgramBaseName() {
    return "QorEgais";
}

std::filesystem::path IniFilePath() {
    return ProgramFolder() / (ProgramBaseName() + ".ini");
}

std::filesystem::path RuntimeFolder() {
    return FolderFromEnv("QOREGAIS_RUNTIME_DIR", "/dev/shm");
}

uint32_t GetTickCount() {
    {
        std::lock_guard<std::mutex> g(gTickLock);
        if (gTickSource) return gTickSource();
    }
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void SetTickSource(std::function<uint32_t()> source) {
    std::lock_guard<std::mutex> g(gTickLock);
    gTickSource = std::move(source);
}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(::syscall(SYS_gettid));
}

void SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace platform
