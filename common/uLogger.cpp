#include "uLogger.h"

#include <spdlog/formatter.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <strings.h>
#include <time.h>

#include <array>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>

#include "uLogLayout.h"
#include "uPlatform.h"

namespace {
constexpr size_t kMaxFileSize = 2 * 1024 * 1024;
constexpr size_t kMaxBackupIndex = 30;
constexpr const char* kRootLoggerName = "root";

// The framework's levels, lowest first; an entry is written when its level is at least
// the root level.
constexpr std::array<const char*, 7> kLevelNames = {"all",   "debug", "info", "warn",
                                                    "error", "fatal", "off"};
constexpr int kLevelDebug = 1;
constexpr int kLevelError = 4;

std::atomic<int> gRootLevel{kLevelError};

std::mutex gLoggerLock;  // guards gLogger (the pointer; the logger serialises its sink)
std::shared_ptr<spdlog::logger> gLogger;
int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
std::atomic<int64_t> gStartedMs{SteadyMs()};  // the moment of set-up, for "%r"

// The error attached to the log call in progress on this thread. The logger is
// synchronous, so the formatter runs on the calling thread inside that call.
thread_local const std::exception* tCurrentError = nullptr;

const char* LevelName(spdlog::level::level_enum level) {
    switch (level) {
        case spdlog::level::trace:
            return "all";
        case spdlog::level::debug:
            return "debug";
        case spdlog::level::info:
            return "info";
        case spdlog::level::warn:
            return "warn";
        case spdlog::level::err:
            return "error";
        case spdlog::level::critical:
            return "fatal";
        default:
            return "off";
    }
}

TDateTimeParts LocalParts(spdlog::log_clock::time_point when) {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
    time_t secs = time_t(ms / 1000);
    int milli = int(ms % 1000);
    if (milli < 0) {
        milli += 1000;
        --secs;
    }
    tm local{};
    localtime_r(&secs, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
            local.tm_min,         local.tm_sec,     milli};
}

// Renders spdlog's messages with the service's own layout.
class TLogPatternFormatter : public spdlog::formatter {
public:
    TLogPatternFormatter() {
        FLayout.SetDateFormat(kLogDateFormat);
        FLayout.SetPattern(kLogPattern);
    }

    void format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) override {
        TLogEvent event;
        event.LoggerName = std::string_view(msg.logger_name.data(), msg.logger_name.size());
        event.LevelName = LevelName(msg.level);
        event.Message = std::string_view(msg.payload.data(), msg.payload.size());
        event.Error = tCurrentError;
        event.ThreadId = platform::CurrentThreadId();
        event.Moment = LocalParts(msg.time);
        event.ElapsedMs = SteadyMs() - gStartedMs.load();
        std::string text = FLayout.Format(event);
        dest.append(text.data(), text.data() + text.size());
    }

    std::unique_ptr<spdlog::formatter> clone() const override {
        return std::make_unique<TLogPatternFormatter>();
    }

private:
    TLogPatternLayoutEx FLayout;
};

std::shared_ptr<spdlog::logger> CurrentLogger() {
    std::lock_guard<std::mutex> g(gLoggerLock);
    return gLogger;
}

void Write(spdlog::level::level_enum level, const std::string& message,
           const std::exception* error) {
    auto logger = CurrentLogger();
    if (!logger) return;
    struct TErrorScope {
        explicit TErrorScope(const std::exception* e) { tCurrentError = e; }
        ~TErrorScope() { tCurrentError = nullptr; }
    } scope(error);
    logger->log(level, spdlog::string_view_t(message.data(), message.size()));
}

std::shared_ptr<spdlog::logger> BuildLog() {
    std::filesystem::path file = LogFileName();
    std::filesystem::create_directories(file.parent_path());
    auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(file.string(), kMaxFileSize,
                                                                       kMaxBackupIndex, false);
    sink->set_formatter(std::make_unique<TLogPatternFormatter>());
    auto logger = std::make_shared<spdlog::logger>(kRootLoggerName, std::move(sink));
    logger->set_level(spdlog::level::trace);  // the root level is applied before the call
    logger->flush_on(spdlog::level::trace);   // an unattended service: every entry reaches the disk
    return logger;
}
}  // namespace

void TLogger::Debug(const std::string& message) {
    if (IsDebugEnabled()) Write(spdlog::level::debug, message, nullptr);
}

void TLogger::Debug(const std::string& message, const std::exception& error) {
    if (IsDebugEnabled()) Write(spdlog::level::debug, message, &error);
}

void TLogger::Error(const std::string& message) {
    if (gRootLevel.load() <= kLevelError) Write(spdlog::level::err, message, nullptr);
}

void TLogger::Error(const std::string& message, const std::exception& error) {
    if (gRootLevel.load() <= kLevelError) Write(spdlog::level::err, message, &error);
}

bool TLogger::IsDebugEnabled() const {
    return gRootLevel.load() <= kLevelDebug && CurrentLogger();
}

TLogger& Logger() {
    static TLogger logger;
    return logger;
}

std::filesystem::path LogFileName() {
    return platform::ProgramFolder() / "LOG" / (platform::ProgramBaseName() + ".log");
}

void InitLogger() {
    ShutdownLogger();
    gRootLevel = kLevelError;
    gStartedMs = SteadyMs();
    try {
        auto logger = BuildLog();
        std::lock_guard<std::mutex> g(gLoggerLock);
        gLogger = std::move(logger);
    } catch (const std::exception& e) {
        // The service runs on without a log; if even Error.log cannot be written there is
        // nowhere left to tell.
        std::ofstream out(platform::ProgramFolder() / "Error.log",
                          std::ios::binary | std::ios::trunc);
        out << e.what();
    }
}

void ShutdownLogger() {
    std::shared_ptr<spdlog::logger> old;
    {
        std::lock_guard<std::mutex> g(gLoggerLock);
        old.swap(gLogger);
    }
    if (old) old->flush();
}

void SetLogLevel(const std::string& level) {
    for (size_t i = 0; i < kLevelNames.size(); ++i) {
        if (strcasecmp(level.c_str(), kLevelNames[i]) == 0) {
            gRootLevel = int(i);
            return;
        }
    }
    gRootLevel = kLevelDebug;
}

std::string LogLevelName() {
    return kLevelNames[size_t(gRootLevel.load())];
}
