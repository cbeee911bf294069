#pragma once
// The service's log: one root logger writing LOG/QorEgais.log of the program folder,
// rolled at 2 MB with 30 kept files, each entry rendered by TLogPatternLayoutEx.
#include <fmt/format.h>

#include <exception>
#include <filesystem>
#include <string>
#include <type_traits>
#include <utility>

class TLogger {
public:
    void Debug(const std::string& message);
    void Debug(const std::string& message, const std::exception& error);
    // The entry is formatted only when debug entries are written, so that a run at the
    // usual level "error" builds none of them: Logger().Debug("{}: {} rows", sName, n).
    template <typename A, typename... Args>
    requires(!std::is_base_of_v<std::exception, std::remove_cvref_t<A>>) void Debug(
        fmt::format_string<A, Args...> format, A&& arg, Args&&... args) {
        if (IsDebugEnabled())
            Debug(fmt::format(format, std::forward<A>(arg), std::forward<Args>(args)...));
    }
    void Error(const std::string& message);
    void Error(const std::string& message, const std::exception& error);
    // False when debug entries would be dropped, so that callers can skip building them.
    bool IsDebugEnabled() const;
};

// The root logger; usable before InitLogger and after ShutdownLogger (it then writes
// nowhere) and from any thread.
TLogger& Logger();

// Configures the log under the program folder with the root level "error"; a failure
// leaves its text in Error.log of the program folder and the service runs on without
// a log.
void InitLogger();
// Flushes and closes the log (program end, test fixtures).
void ShutdownLogger();
// Sets the root level by name ignoring case: all, debug, info, warn, error, fatal, off;
// any other name selects debug.
void SetLogLevel(const std::string& level);
// The name of the level in force ("error" until SetLogLevel).
std::string LogLevelName();
// LOG/QorEgais.log of the program folder.
std::filesystem::path LogFileName();
