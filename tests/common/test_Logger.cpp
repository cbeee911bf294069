#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Exception.h"
#include "TestSupport.h"
#include "uLogLayout.h"
#include "uLogger.h"
#include "uPlatform.h"

namespace {
QOR_DECLARE_EXCEPTION(EQorJobAbort, Exception)

using qortest::ReadFile;
using qortest::TempDir;
using qortest::WriteFile;

TLogEvent SampleEvent(const std::exception* error = nullptr) {
    TLogEvent e;
    e.LoggerName = "root";
    e.LevelName = "error";
    e.Message = "Сообщение";
    e.Error = error;
    e.ThreadId = 4242;
    e.Moment = {2026, 12, 11, 11, 42, 13, 123};
    e.ElapsedMs = 77;
    return e;
}

std::string Render(const std::string& pattern, const TLogEvent& event) {
    TLogPatternLayoutEx layout;
    layout.SetDateFormat(kLogDateFormat);
    layout.SetPattern(pattern);
    return layout.Format(event);
}

TEST(LogPatternLayout, ServicePatternRendersWholeEntry) {
    EQorJobAbort abort("x");
    std::runtime_error foreign("boom");
    Exception silent("");
    struct Case {
        const std::exception* error;
        const char* errorText;
    } cases[] = {
        {nullptr, ""},
        {&abort, "EQorJobAbort - \"x\""},
        {&foreign, "Exception - \"boom\""},
        {&silent, ""},  // an error without a message prints nothing
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Render(kLogPattern, SampleEvent(c.error)),
                  std::string("[2026.12.11 11:42:13.123][4242] error root  - Сообщение\r\n(") +
                      c.errorText + ")\r\n")
            << c.errorText;
    }
}

TEST(LogPatternLayout, ConversionsAndModifiers) {
    struct Case {
        const char* pattern;
        const char* expected;
    } cases[] = {
        {"%-5p|", "error|"},
        {"%-7p|", "error  |"},
        {"%7p|", "  error|"},
        {"%.3m", "Соо"},              // precision cuts characters, not bytes
        {"%-12m|", "Сообщение   |"},  // width counts characters
        {"%%", "%"},
        {"100%% %c", "100% root"},
        {"%6t|%.6t", "  4242|004242"},
        {"%r", "77"},
        {"%-20d|", "2026.12.11 11:42:13.123|"},  // the date ignores modifiers
        {"%C %F %l %M %L", "Unknown Unknown Unknown Unknown Unknown"},
        {"[%x]%n", "[]\r\n"},
        {"no conversions", "no conversions"},
        {"%-11", "Сообщение  "},  // a pattern that ends inside a conversion prints the message
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Render(c.pattern, SampleEvent()), c.expected) << c.pattern;
}

TEST(LogPatternLayout, DateFormats) {
    TDateTimeParts m{2026, 1, 2, 3, 4, 5, 6};
    struct Case {
        const char* format;
        const char* expected;
    } cases[] = {
        {"yyyy.mm.dd hh:nn:ss.zzz", "2026.01.02 03:04:05.006"},
        {"d.m.yy h:n:s z", "2.1.26 3:4:5 6"},
        {"dd.mm.yyyy 'hh' hh", "02.01.2026 hh 03"},
        {"YYYY-MM-DD", "2026-01-02"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatDateTimeParts(c.format, m), c.expected) << c.format;
}

// A program folder of its own for each test; the log is shut at the end.
class LoggerFile : public ::testing::Test {
protected:
    void TearDown() override {
        ShutdownLogger();
        SetLogLevel("error");
    }
    std::filesystem::path LogFile() const { return Folders.Home() / "LOG" / "QorEgais.log"; }
    std::string LogText() {
        ShutdownLogger();  // flushes
        return ReadFile(LogFile());
    }

    qortest::ProgramFolders Folders;
};

TEST_F(LoggerFile, ErrorWithoutErrorObjectWritesMessageAndEmptyBrackets) {
    InitLogger();
    EXPECT_EQ(LogFileName(), LogFile());
    Logger().Error("Версия 1.1.8.10");
    std::string text = LogText();
    std::regex entry("\\[\\d{4}\\.\\d{2}\\.\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\]\\[" +
                     std::to_string(platform::CurrentThreadId()) +
                     "\\] error root  - Версия 1\\.1\\.8\\.10\r\n\\(\\)\r\n");
    EXPECT_TRUE(std::regex_match(text, entry)) << text;
}

TEST_F(LoggerFile, LevelDecidesWhatIsWritten) {
    struct Case {
        const char* level;
        const char* selected;
        bool debug, error;
    } cases[] = {
        {"Error", "error", false, true}, {"ERROR", "error", false, true},
        {"error", "error", false, true}, {"verbose", "debug", true, true},
        {"Debug", "debug", true, true},  {"all", "all", true, true},
        {"warn", "warn", false, true},   {"fatal", "fatal", false, false},
        {"OFF", "off", false, false},    {"", "debug", true, true},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(Folders.Home() / "LOG");
        InitLogger();
        EXPECT_EQ(LogLevelName(), "error") << "a new log starts at level error";
        SetLogLevel(c.level);
        EXPECT_EQ(LogLevelName(), c.selected) << c.level;
        EXPECT_EQ(Logger().IsDebugEnabled(), c.debug) << c.level;
        Logger().Debug("trace line");
        Logger().Error("error line");
        std::string text = LogText();
        EXPECT_EQ(text.find("] debug root  - trace line\r\n") != std::string::npos, c.debug)
            << c.level;
        EXPECT_EQ(text.find("] error root  - error line\r\n") != std::string::npos, c.error)
            << c.level;
    }
}

// A value whose formatting is counted: at level error nothing is formatted at all.
struct TCountedValue {
    int* Formatted;
};

}  // namespace

template <>
struct fmt::formatter<TCountedValue> : fmt::formatter<int> {
    auto format(const TCountedValue& v, fmt::format_context& ctx) const {
        ++*v.Formatted;
        return fmt::formatter<int>::format(42, ctx);
    }
};

namespace {

TEST_F(LoggerFile, FormattedDebugEntriesAreBuiltOnlyWhenWritten) {
    int formatted = 0;
    InitLogger();
    Logger().Debug("запрос №{}: {}", 7, TCountedValue{&formatted});
    EXPECT_EQ(0, formatted);
    SetLogLevel("debug");
    Logger().Debug("запрос №{}: {}", 7, TCountedValue{&formatted});
    EXPECT_EQ(1, formatted);
    const std::string text = LogText();
    EXPECT_NE(std::string::npos, text.find("] debug root  - запрос №7: 42\r\n")) << text;
    EXPECT_EQ(text.find("запрос"), text.rfind("запрос"));
}

TEST_F(LoggerFile, ContinuesAnExistingLogAndIsSilentWhenNotSetUp) {
    Logger().Error("before set-up");  // nowhere to write yet; must not fail
    EXPECT_FALSE(std::filesystem::exists(LogFile()));

    std::filesystem::create_directories(LogFile().parent_path());
    WriteFile(LogFile(), "earlier run\r\n");
    InitLogger();
    Logger().Error("this run", EQorJobAbort("stop"));
    ShutdownLogger();
    Logger().Error("after shutdown");
    std::string text = ReadFile(LogFile());
    EXPECT_EQ(text.rfind("earlier run\r\n[", 0), 0u) << text;
    EXPECT_NE(text.find(" - this run\r\n(EQorJobAbort - \"stop\")\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("after shutdown"), std::string::npos);
    EXPECT_EQ(text.find("before set-up"), std::string::npos);
}

TEST_F(LoggerFile, SetUpFailureGoesToErrorLogAndServiceRunsOn) {
    WriteFile(Folders.Home() / "LOG", "a file where the folder should be");
    WriteFile(Folders.Home() / "Error.log", "an older failure that must be replaced");
    InitLogger();
    Logger().Error("nowhere to go");
    std::string error = ReadFile(Folders.Home() / "Error.log");
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find("older failure"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(Folders.Home() / "LOG"), "a file where the folder should be");
}

TEST_F(LoggerFile, EntriesFromManyThreadsStayWhole) {
    InitLogger();
    SetLogLevel("debug");
    constexpr int kThreads = 4, kEntries = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kEntries; ++i) {
                Logger().Debug("thread " + std::to_string(t) + " entry " + std::to_string(i));
                if (i == kEntries / 2)
                    SetLogLevel(t % 2 ? "debug" : "all");  // level changes in flight
            }
        });
    for (auto& th : threads) th.join();
    std::string text = LogText();
    std::regex entry(
        "\\[[0-9.: ]{23}\\]\\[\\d+\\] debug root  - thread \\d entry \\d+\r\n\\(\\)\r\n");
    auto begin = std::sregex_iterator(text.begin(), text.end(), entry);
    size_t covered = 0, count = 0;
    for (auto it = begin; it != std::sregex_iterator(); ++it, ++count)
        covered += size_t(it->length());
    EXPECT_EQ(count, size_t(kThreads * kEntries));
    EXPECT_EQ(covered, text.size()) << "no entry is torn or interleaved";
}

TEST_F(LoggerFile, RollsOverPastTwoMegabytes) {
    InitLogger();
    const std::string big(100 * 1024, 'x');
    for (int i = 0; i < 25; ++i) Logger().Error(big);  // about 2.5 MB
    ShutdownLogger();
    auto rolled = Folders.Home() / "LOG" / "QorEgais.1.log";
    ASSERT_TRUE(std::filesystem::exists(rolled));
    EXPECT_LE(std::filesystem::file_size(rolled), 2u * 1024 * 1024);
    EXPECT_LE(std::filesystem::file_size(LogFile()), 2u * 1024 * 1024);
    EXPECT_GT(std::filesystem::file_size(LogFile()), 0u);
}
}  // namespace
