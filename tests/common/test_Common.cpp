#include <gtest/gtest.h>

#include <map>

#include "DbQueries.h"
#include "FbTestDb.h"
#include "TestSupport.h"
#include "uCommon.h"
#include "uFbConnection.h"
#include "uIniFile.h"
#include "uLogger.h"
#include "uPlatform.h"

namespace {
using qortest::ReadFile;
using qortest::TempDir;
using qortest::WriteFile;

TEST(CRC32, MatchesTheStandardChecksum) {
    InitCRCTable();
    struct Case {
        std::string text;
        uint32_t crc;
    } cases[] = {
        {"", 0x00000000u},
        {"123456789", 0xCBF43926u},
        {"a", 0xE8B7BE43u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
        {"\xFF", 0xFF000000u},
        {"Привет", 0xA8EAB199u},
        {std::string("a\0b", 3), 0x15E87871u},  // every byte counts, NUL included
    };
    for (const auto& c : cases) EXPECT_EQ(CRC32(c.text), c.crc) << c.text;
}

TEST(StrToDouble, AcceptsEitherDecimalSeparator) {
    struct Case {
        const char* text;
        double value;
    } cases[] = {
        {"1.5", 1.5}, {"1,5", 1.5}, {" 2.25 ", 2.25}, {"-3,75", -3.75},
        {"+4", 4.0},  {"0", 0.0},   {"1e3", 1000.0},  {"12345678.125", 12345678.125},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(StrToDouble(c.text), c.value) << c.text;
}

TEST(StrToDouble, RaisesForTextThatIsNoNumber) {
    for (const char* text :
         {"", " ", "abc", "1.5.6", "1,5.6", "1.000,5", "1 5", "inf", "nan", "1e999", "0x10"})
        EXPECT_THROW(StrToDouble(text), EConvertError) << text;
}

TEST(VarToIntDef, DefaultOnlyForNull) {
    EXPECT_EQ(VarToIntDef(TVariant::Null(), 17), 17);
    EXPECT_EQ(VarToIntDef(TVariant(5), 17), 5);
    EXPECT_EQ(VarToIntDef(TVariant("42"), 17), 42);
    EXPECT_EQ(VarToIntDef(TVariant(int64_t(-3)), 17), -3);
    EXPECT_THROW(VarToIntDef(TVariant("x"), 17), EConvertError);
    EXPECT_THROW(VarToIntDef(TVariant(""), 17), EConvertError);
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { ClearSettings(); }
    void TearDown() override {
        ClearSettings();
        SetLogLevel("error");
    }
};

TEST_F(SettingsTest, LookupIgnoresCaseFirstLineWinsAndEmptyIsAValue) {
    SetSettingProperty("UTM_PORT", "8081");
    SetSettingProperty("Empty", "");
    EXPECT_EQ(GetSettingProperty("utm_port"), "8081");
    EXPECT_EQ(GetSettingProperty("EMPTY"), std::optional<std::string>(""));
    EXPECT_EQ(GetSettingProperty("missing"), std::nullopt);

    SetSettingProperty("utm_PORT", "9000");  // replaces, does not append
    EXPECT_EQ(SettingLines().size(), 2u);
    EXPECT_EQ(GetUtmPort(), "9000");
    SetSettingProperty("Empty", "", true);
    EXPECT_EQ(GetSettingProperty("Empty"), std::nullopt);
}

TEST_F(SettingsTest, UtmAddressDefaultsAndLogLevel) {
    EXPECT_EQ(GetUtmHost(), "localhost");
    EXPECT_EQ(GetUtmPort(), "8080");
    UpdateLogParams();  // no LOG_LEVEL: the level stays
    EXPECT_EQ(LogLevelName(), "error");
    SetSettingProperty("UTM_ADDRESS", "10.0.0.5");
    SetSettingProperty("LOG_LEVEL", "DEBUG");
    EXPECT_EQ(GetUtmHost(), "10.0.0.5");
    UpdateLogParams();
    EXPECT_EQ(LogLevelName(), "debug");
}

TEST_F(SettingsTest, UtmPostTimeoutIsWholeSecondsAndFallsBackTo120) {
    EXPECT_EQ(120000u, GetUtmPostTimeoutMs()) << "absent";
    const std::pair<const char*, uint32_t> cases[] = {
        {"30", 30000},   {" 5 ", 5000}, {"0", 120000}, {"-5", 120000},
        {"1.5", 120000}, {"x", 120000}, {"", 120000},  {"999999999", 120000},
    };
    for (const auto& [text, ms] : cases) {
        SetSettingProperty("UtmPostTimeout", text);
        EXPECT_EQ(ms, GetUtmPostTimeoutMs()) << "'" << text << "'";
    }
}

TEST_F(SettingsTest, MaxDocumentSizeIsWholeMegabytesAndFallsBackTo64) {
    EXPECT_EQ(64ull << 20, GetMaxDocumentSizeBytes()) << "absent";
    const std::pair<const char*, uint64_t> cases[] = {
        {"1", 1ull << 20},   {"512", 512ull << 20}, {"0", 64ull << 20},
        {"-1", 64ull << 20}, {"big", 64ull << 20},  {"99999", 64ull << 20},
    };
    for (const auto& [text, bytes] : cases) {
        SetSettingProperty("MaxDocumentSizeMb", text);
        EXPECT_EQ(bytes, GetMaxDocumentSizeBytes()) << "'" << text << "'";
    }
}

// The .ini half of loading, over lines that stand for the database rows.
class IniMergeTest : public SettingsTest {
protected:
    using Rows = std::vector<std::pair<std::string, std::string>>;
    // Loads from the rows and an .ini of that text; unless bBare, the .ini also holds every
    // flag (at its default, or flagValue for flagKey), so that only the keys under test
    // are written.
    void Merge(const Rows& dbRows, const std::string& iniText, bool bBare = false,
               const std::string& flagKey = "", const std::string& flagValue = "") {
        ClearSettings();
        std::filesystem::remove(IniPath());
        std::string text = iniText;
        if (!bBare) {
            auto line = [&](std::string_view key, std::string_view value) {
                return std::string(key) + "=" + (key == flagKey ? flagValue : std::string(value)) +
                       "\r\n";
            };
            text += "[DEBUG_FLAGS]\r\n";
            for (auto key : DEBUG_FLAGS) text += line(key, "0");
            text += "[TASK_FLAGS]\r\n";
            for (const auto& flag : TASK_FLAGS) text += line(flag.Key, flag.Default);
        }
        if (!text.empty()) WriteFile(IniPath(), text);
        for (const auto& [name, value] : dbRows) AddSettingLine(name, value);
        TIniFile ini(IniPath());
        MergeIniSettings(ini);
    }

    std::string Ini(const std::string& section, const std::string& key) const {
        return TIniFile(IniPath()).ReadString(section, key, "<none>");
    }
    std::filesystem::path IniPath() const { return FDir.Path() / "QorEgais.ini"; }

    TempDir FDir;
};

TEST_F(IniMergeTest, IniValueWinsAndDatabaseValueCompletesTheIni) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> db;
        const char* ini;
        std::optional<std::string> setting;
        const char* iniAfter;
    } cases[] = {
        {"database only", {{"UTM_PORT", "8081"}}, "", "8081", "8081"},
        {"ini overrides",
         {{"UTM_PORT", "8081"}},
         "[QOR_SETTINGS]\r\nUTM_PORT=9000\r\n",
         "9000",
         "9000"},
        {"ini only", {}, "[QOR_SETTINGS]\r\nUTM_PORT=9000\r\n", "9000", "9000"},
        {"blank ini key",
         {{"utm_port", "8081"}},
         "[QOR_SETTINGS]\r\nUTM_PORT=  \r\n",
         "8081",
         "8081"},
        {"neither: default for the next start", {}, "", std::nullopt, "8080"},
        {"blank database value", {{"UTM_PORT", " "}}, "", " ", "8080"},
        {"first database row wins", {{"UTM_PORT", "1"}, {"UTM_PORT", "2"}}, "", "1", "1"},
    };
    for (const auto& c : cases) {
        Merge(c.db, c.ini);
        EXPECT_EQ(GetSettingProperty("UTM_PORT"), c.setting) << c.name;
        EXPECT_EQ(Ini("QOR_SETTINGS", "UTM_PORT"), c.iniAfter) << c.name;
    }
}

TEST_F(IniMergeTest, EmptySourcesWriteEveryDefault) {
    Merge({}, "", true);
    const std::map<std::string, std::string> defaults = {{"FSRAR_ID", "030000000000"},
                                                         {"UTM_ADDRESS", "127.0.0.1"},
                                                         {"UTM_PORT", "8080"},
                                                         {"CYCLE_TIME", "8080"}};
    for (const auto& [key, value] : defaults) {
        EXPECT_EQ(Ini("QOR_SETTINGS", key), value) << key;
        EXPECT_EQ(GetSettingProperty(key), std::nullopt)
            << key << " takes effect from the next start";
    }
    EXPECT_EQ(GetSettingProperty("LOG_LEVEL"), "Error");
    EXPECT_EQ(Ini("QOR_SETTINGS", "LOG_LEVEL"), "<none>");
    for (auto key : DEBUG_FLAGS) EXPECT_EQ(Ini("DEBUG_FLAGS", std::string(key)), "0") << key;
    for (const auto& flag : TASK_FLAGS)
        EXPECT_EQ(Ini("TASK_FLAGS", std::string(flag.Key)), flag.Default) << flag.Key;
    EXPECT_EQ(Ini("TASK_FLAGS", "CardSyncJobEnabled"), "0");

    // The flag lines follow the other lines, in the listed order.
    auto lines = SettingLines();
    ASSERT_EQ(lines.size(), 1 + DEBUG_FLAGS.size() + TASK_FLAGS.size());
    EXPECT_EQ(lines[0].first, "LOG_LEVEL");
    for (size_t i = 0; i < DEBUG_FLAGS.size(); ++i) {
        EXPECT_EQ(lines[1 + i].first, DEBUG_FLAGS[i]);
        EXPECT_EQ(lines[1 + i].second, "0");
    }
    for (size_t i = 0; i < TASK_FLAGS.size(); ++i) {
        EXPECT_EQ(lines[1 + DEBUG_FLAGS.size() + i].first, TASK_FLAGS[i].Key);
        EXPECT_EQ(lines[1 + DEBUG_FLAGS.size() + i].second, TASK_FLAGS[i].Default);
    }

    // A second start finds every key and writes nothing more.
    std::string written = ReadFile(IniPath());
    Merge({}, written, true);
    EXPECT_EQ(ReadFile(IniPath()), written);
    EXPECT_EQ(GetSettingProperty("CYCLE_TIME"), "8080");
}

TEST_F(IniMergeTest, LogLevelComesFromTheIniUnlessItsKeyIsBlank) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> db;
        const char* ini;
        std::optional<std::string> setting;
        const char* iniAfter;
    } cases[] = {
        {"absent key ignores the database", {{"LOG_LEVEL", "Debug"}}, "", "Error", "<none>"},
        {"ini value",
         {{"LOG_LEVEL", "Debug"}},
         "[QOR_SETTINGS]\r\nLOG_LEVEL=Warn\r\n",
         "Warn",
         "Warn"},
        {"blank key takes the database",
         {{"LOG_LEVEL", "Debug"}},
         "[QOR_SETTINGS]\r\nLOG_LEVEL=\r\n",
         "Debug",
         "Debug"},
        {"blank key, no database value",
         {},
         "[QOR_SETTINGS]\r\nLOG_LEVEL=\r\n",
         std::nullopt,
         "DEBUG"},
    };
    for (const auto& c : cases) {
        Merge(c.db, c.ini);
        EXPECT_EQ(GetSettingProperty("LOG_LEVEL"), c.setting) << c.name;
        EXPECT_EQ(Ini("QOR_SETTINGS", "LOG_LEVEL"), c.iniAfter) << c.name;
    }
}

TEST_F(IniMergeTest, IniAloneDecidesIgnoreDoubleSendTicketAndProtocolVersion) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> db;
        const char* ini;
        std::optional<std::string> ticket, protocol;
    } cases[] = {
        {"database lines removed",
         {{"IgnoreDoubleSendTicket", "1"}, {"DefaultProtocolVersion", "2"}},
         "",
         std::nullopt,
         std::nullopt},
        {"duplicates removed too",
         {{"IgnoreDoubleSendTicket", "1"}, {"ignoredoublesendticket", "1"}},
         "[QOR_SETTINGS]\r\nIgnoreDoubleSendTicket=\r\n",
         std::nullopt,
         std::nullopt},
        {"ini replaces",
         {{"IgnoreDoubleSendTicket", "1"}},
         "[QOR_SETTINGS]\r\nIgnoreDoubleSendTicket=0\r\nDefaultProtocolVersion=4\r\n",
         "0",
         "4"},
    };
    for (const auto& c : cases) {
        Merge(c.db, c.ini);
        EXPECT_EQ(GetSettingProperty("IgnoreDoubleSendTicket"), c.ticket) << c.name;
        EXPECT_EQ(GetSettingProperty("DefaultProtocolVersion"), c.protocol) << c.name;
    }
    EXPECT_EQ(Ini("QOR_SETTINGS", "IgnoreDoubleSendTicket"), "0")
        << "nothing written for these keys";
}

TEST_F(IniMergeTest, FlagValuesAreNormalised) {
    struct Case {
        const char* section;
        const char* key;
        const char* ini;
        const char* setting;
    } cases[] = {
        {"TASK_FLAGS", "TicketJobEnabled", "yes", "1"},
        {"TASK_FLAGS", "TicketJobEnabled", "0", "0"},
        {"TASK_FLAGS", "TicketJobEnabled", "1", "1"},
        {"TASK_FLAGS", "CardSyncJobEnabled", "yes", "0"},
        {"TASK_FLAGS", "CardSyncJobEnabled", "1", "1"},
        {"TASK_FLAGS", "CardSyncJobEnabled", "0", "0"},
        {"DEBUG_FLAGS", "TicketDebugSave", "yes", "0"},
        {"DEBUG_FLAGS", "TicketDebugSave", "1", "1"},
        {"DEBUG_FLAGS", "TicketDebugSave", "2", "0"},
    };
    for (const auto& c : cases) {
        Merge({}, "", false, c.key, c.ini);
        EXPECT_EQ(GetSettingProperty(c.key), c.setting) << c.key << "=" << c.ini;
        EXPECT_EQ(Ini(c.section, c.key), c.ini) << "a present value is left as written";
    }
}

TEST_F(IniMergeTest, DatabaseRowNamedLikeAFlagWins) {
    Merge({{"TicketJobEnabled", "0"}}, "", false, "TicketJobEnabled", "1");
    EXPECT_EQ(GetSettingProperty("ticketjobenabled"), "0");
}

TEST_F(IniMergeTest, RefusedIniWriteFails) {
    std::filesystem::create_directory(IniPath());  // the .ini path is a folder
    TIniFile ini(IniPath());
    try {
        MergeIniSettings(ini);
        FAIL() << "no error";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + IniPath().string());
    }
}

// LoadSettings against a real database, with its own program folder for the .ini and
// the log.
class LoadSettingsDb : public qortest::SuiteDbTest {
protected:
    void SetUp() override {
        SuiteDbTest::SetUp();
        ClearSettings();
        qortest::Exec("DELETE FROM S_EGAIS_SETTINGS");
    }
    void TearDown() override {
        ShutdownLogger();
        SetLogLevel("error");
        ClearSettings();
        SuiteDbTest::TearDown();
    }
    static void AddRow(const TVariant& param, const TVariant& value) {
        qortest::Exec("INSERT INTO S_EGAIS_SETTINGS (PARAM, STRING_VALUE) VALUES (:P, :V)",
                      {{"P", param}, {"V", value}});
    }
    std::filesystem::path IniPath() const { return Folders.Home() / "QorEgais.ini"; }
    std::string Ini(const std::string& section, const std::string& key) const {
        return TIniFile(IniPath()).ReadString(section, key, "<none>");
    }

    qortest::ProgramFolders Folders;
};

TEST_F(LoadSettingsDb, DatabaseRowsThenIniThenFlags) {
    AddRow("UTM_PORT", "8081");
    AddRow("LOG_LEVEL", "Debug");
    AddRow(TVariant::Null(), "a row without a name is skipped");
    AddRow("TicketJobEnabled", "0");
    AddRow("ArchivePath", TVariant::Null());
    AddRow("Комментарий", "Значение");
    WriteFile(IniPath(),
              "[QOR_SETTINGS]\r\nUTM_ADDRESS=10.1.1.1\r\n[TASK_FLAGS]\r\nTicketJobEnabled=1\r\n");
    InitLogger();
    SetLogLevel("debug");

    LoadSettings();

    auto lines = SettingLines();
    ASSERT_GE(lines.size(), 5u);
    using Line = std::pair<std::string, std::string>;
    EXPECT_EQ(lines[0], Line("UTM_PORT", "8081"));
    EXPECT_EQ(lines[1], Line("LOG_LEVEL", "Error"));  // the .ini lacks the key
    EXPECT_EQ(lines[2], Line("TicketJobEnabled", "0"));
    EXPECT_EQ(lines[3], Line("ArchivePath", ""));
    EXPECT_EQ(lines[4], Line("Комментарий", "Значение"));
    EXPECT_EQ(GetUtmPort(), "8081");
    EXPECT_EQ(Ini("QOR_SETTINGS", "UTM_PORT"), "8081");
    EXPECT_EQ(GetUtmHost(), "10.1.1.1");
    EXPECT_EQ(GetSettingProperty("ticketjobenabled"),
              "0");  // the database row precedes the flag line
    EXPECT_EQ(GetSettingProperty("CYCLE_TIME"), std::nullopt);
    EXPECT_EQ(Ini("QOR_SETTINGS", "CYCLE_TIME"), "8080");
    EXPECT_EQ(lines.size(),
              5 + 1 + DEBUG_FLAGS.size() + TASK_FLAGS.size());  // UTM_ADDRESS appended

    TConnection* conn = GetDbProvider().FindConnection(platform::CurrentThreadId());
    ASSERT_NE(conn, nullptr);
    EXPECT_FALSE(conn->Connected()) << "the connection is closed after loading";

    ShutdownLogger();
    std::string log = ReadFile(Folders.Home() / "LOG" / "QorEgais.log");
    size_t loading = log.find(" - Загружаем настройки из БД.\r\n");
    size_t loaded = log.find(" - Настройки успешно загружены.\r\n");
    EXPECT_NE(loading, std::string::npos) << log;
    EXPECT_NE(loaded, std::string::npos) << log;
    EXPECT_LT(loading, loaded);
}

TEST_F(LoadSettingsDb, RefusedIniWriteFailsAfterTheDatabaseLines) {
    AddRow("FSRAR_ID", "020000000001");
    std::filesystem::create_directory(IniPath());
    try {
        LoadSettings();
        FAIL() << "no error";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + IniPath().string());
    }
    EXPECT_EQ(GetSettingProperty("FSRAR_ID"), "020000000001") << "lines loaded so far stay";
}

TEST_F(LoadSettingsDb, UnreachableDatabaseRaisesBeforeTheIniIsTouched) {
    AddSettingLine("stale", "from an earlier run");
    SetDbParams({(Folders.Home() / "missing.fdb").string(), "SYSDBA", "x", "UTF8"});
    FreeDbProvider();
    EXPECT_THROW(LoadSettings(), std::exception);
    EXPECT_EQ(GetSettingProperty("stale"), std::nullopt) << "the settings are cleared first";
    EXPECT_FALSE(std::filesystem::exists(IniPath()));
}
}  // namespace
