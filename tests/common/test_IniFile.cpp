#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "TestSupport.h"
#include "uIniFile.h"

namespace {
using qortest::ReadFile;
using qortest::TempDir;
using qortest::WriteFile;

TEST(IniFile, ReadsSectionsAndKeysIgnoringCase) {
    TempDir dir;
    WriteFile(dir.Path() / "a.ini",
              "; comment=ignored\r\n"
              "[QOR_SETTINGS]\r\n"
              "UTM_PORT = 8081 \r\n"
              "LOG_LEVEL=\r\n"
              "# hidden=1\r\n"
              "[task_flags]\n"
              "TicketJobEnabled=0\n"
              "UTM_PORT=9999\n");
    TIniFile ini(dir.Path() / "a.ini");
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    } cases[] = {
        {"QOR_SETTINGS", "UTM_PORT", "8081"},  // trimmed
        {"qor_settings", "utm_port", "8081"},
        {"QOR_SETTINGS", "LOG_LEVEL", ""},  // present but empty: not the default
        {"QOR_SETTINGS", "hidden", "<none>"},
        {"QOR_SETTINGS", "TicketJobEnabled", "<none>"},  // belongs to another section
        {"TASK_FLAGS", "TicketJobEnabled", "0"},
        {"TASK_FLAGS", "UTM_PORT", "9999"},
        {"DATABASE", "DbName", "<none>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ini.ReadString(c.section, c.key, "<none>"), c.expected)
            << c.section << "/" << c.key;
    EXPECT_TRUE(ini.ValueExists("QOR_SETTINGS", "log_level"));
    EXPECT_FALSE(ini.ValueExists("QOR_SETTINGS", "hidden"));
}

TEST(IniFile, FallsBackToWindows1251) {
    TempDir dir;
    // "[S]\r\nName=Значение" in Windows-1251
    WriteFile(dir.Path() / "a.ini", "[S]\r\nName=\xC7\xED\xE0\xF7\xE5\xED\xE8\xE5\r\n");
    TIniFile ini(dir.Path() / "a.ini");
    EXPECT_EQ(ini.ReadString("S", "Name", ""), "Значение");
}

// 0x98 is no letter in Windows-1251; a hand-typed one beside UTF-8 text once crashed the
// program before its first log line.
TEST(IniFile, AByteWindows1251LacksIsDropped) {
    TempDir dir;
    const std::pair<std::string, std::string> cases[] = {
        {"A\x98"
         "B",
         "AB"},
        {"\x98", ""},
        {"\xC7\xED\x98", "Зн"},
        {"\x98\x98\x98 \xE5", "е"},
    };
    for (const auto& [raw, expected] : cases) {
        WriteFile(dir.Path() / "a.ini", "[S]\r\nName=" + raw + "\r\nNext=1\r\n");
        TIniFile ini(dir.Path() / "a.ini");
        EXPECT_EQ(ini.ReadString("S", "Name", "<none>"), expected);
        EXPECT_EQ(ini.ReadString("S", "Next", ""), "1");
    }
}

TEST(IniFile, ANewFileIsTheOwnersAloneAndARewrittenOneKeepsModeAndOwner) {
    TempDir dir;
    const auto path = dir.Path() / "QorEgais.ini";
    auto modeOf = [&] { return std::filesystem::status(path).permissions(); };
    using std::filesystem::perms;
    TIniFile(path).WriteString("DATABASE", "Password", "packed");
    EXPECT_EQ(modeOf(), perms::owner_read | perms::owner_write);

    std::filesystem::permissions(path, perms::owner_read | perms::owner_write | perms::group_read);
    const bool bRoot = geteuid() == 0;
    if (bRoot) {
        ASSERT_EQ(0, chown(path.c_str(), 4321, 4322));
    }
    TIniFile(path).WriteString("DATABASE", "User", "SYSDBA");
    EXPECT_EQ(modeOf(), perms::owner_read | perms::owner_write | perms::group_read);
    if (bRoot) {
        struct stat st {};
        ASSERT_EQ(0, stat(path.c_str(), &st));
        EXPECT_EQ(4321u, st.st_uid);
        EXPECT_EQ(4322u, st.st_gid);
    }
    EXPECT_EQ(TIniFile(path).ReadString("DATABASE", "Password", ""), "packed");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "QorEgais.ini.tmp"));
}

TEST(IniFile, WritesInPlaceKeepingTheRestOfTheFile) {
    TempDir dir;
    auto path = dir.Path() / "a.ini";
    WriteFile(path, "; keep me\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
    TIniFile ini(path);
    ini.WriteString("A", "z", "3");         // new key in an existing section
    ini.WriteString("b", "Y", "двадцать");  // existing key, other letter case
    ini.WriteString("C", "w", "4");         // new section
    EXPECT_EQ(ReadFile(path),
              "; keep me\r\n[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\nY=двадцать\r\n\r\n[C]\r\nw=4\r\n");
    TIniFile again(path);
    EXPECT_EQ(again.ReadString("B", "y", ""), "двадцать");
    EXPECT_EQ(again.ReadString("C", "W", ""), "4");
}

TEST(IniFile, MissingFileReadsEmptyAndFirstWriteCreatesIt) {
    TempDir dir;
    auto path = dir.Path() / "new.ini";
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("S", "k", "dflt"), "dflt");
    ini.WriteString("S", "k", "v");
    EXPECT_EQ(ReadFile(path), "[S]\r\nk=v\r\n");
}

TEST(IniFile, LineBreaksInAValueCannotAddKeys) {
    TempDir dir;
    auto path = dir.Path() / "a.ini";
    TIniFile ini(path);
    ini.WriteString("QOR_SETTINGS", "FSRAR_ID", "0300\r\n[DATABASE]\r\nDbName=/evil.fdb\n");
    TIniFile again(path);
    EXPECT_EQ(again.ReadString("DATABASE", "DbName", "<none>"), "<none>");
    EXPECT_EQ(again.ReadString("QOR_SETTINGS", "FSRAR_ID", ""),
              "0300  [DATABASE]  DbName=/evil.fdb");
}

TEST(IniFile, RefusedWriteRaisesWithTheFileName) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path() / "dir.ini");
    const std::filesystem::path paths[] = {
        dir.Path() / "dir.ini",                   // a folder stands where the file should be
        dir.Path() / "missing" / "QorEgais.ini",  // the folder does not exist
    };
    for (const auto& path : paths) {
        TIniFile ini(path);
        try {
            ini.WriteString("S", "k", "v");
            ADD_FAILURE() << "no error for " << path;
        } catch (const EIniFileException& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + path.string());
        }
    }
}
}  // namespace
