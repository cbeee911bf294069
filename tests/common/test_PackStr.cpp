#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "FbTestDb.h"
#include "TestSupport.h"
#include "uDbProvider.h"
#include "uIniFile.h"
#include "uPlatform.h"

TEST(PackStr, GivesThreeDigitsPerByte) {
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    const std::string packed = PACK_STR(all);
    ASSERT_EQ(packed.size(), all.size() * 3);
    for (size_t i = 0; i < all.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(all[i]);
        const std::string group = packed.substr(i * 3, 3);
        SCOPED_TRACE(group);
        const int high = group[0] - '0';
        if (c < 64)
            EXPECT_TRUE(high >= 4 && high <= 8);  // the random element
        else
            EXPECT_EQ(high, c / 64);
        EXPECT_EQ(group[1] - '0', (c % 64) / 8);
        EXPECT_EQ(group[2] - '0', c % 8);
    }
    EXPECT_EQ(UNPACK_STR(packed), all.substr(' '));  // the leading blanks and controls are lost
}

TEST(PackStr, UnpackGivesBackTheText) {
    struct Case {
        std::string text, expected;
    };
    const Case cases[] = {
        {"masterkey", "masterkey"},
        {"", ""},
        {"a", "a"},
        {"  pass word\t\r\n", "pass word"},
        {"secret;", "secret"},
        {"secret;;", "secret;"},
        {"secret; ", "secret"},
        {"пароль", "пароль"},
        {"~!@#$%^&*()_+{}|:\"<>?", "~!@#$%^&*()_+{}|:\"<>?"},
    };
    for (const Case& c : cases) EXPECT_EQ(UNPACK_STR(PACK_STR(c.text)), c.expected) << c.text;
    // Packing is random: two packings of a text with low bytes differ sooner or later.
    bool differs = false;
    for (int i = 0; i < 20 && !differs; ++i)
        differs = PACK_STR("0123456789") != PACK_STR("0123456789");
    EXPECT_TRUE(differs);
}

TEST(PackStr, UnpackReadsTheNegativeMarker) {
    // "M" negates the code of its group: -(1*64 + 7*8 + 1) = -121, low byte 135.
    EXPECT_EQ(UNPACK_STR("171M171171"), std::string("y\x87y"));
    EXPECT_EQ(UNPACK_STR("9"), "");  // a short tail is not read
}

namespace {

// A program folder of its own for the .ini file.
class DbParams : public ::testing::Test {
protected:
    void SetUp() override { FSaved = GetDbParams(); }
    void TearDown() override {
        SetDbParams(FSaved);
        FreeDbProvider();
    }
    std::string Ini(const std::string& key) const {
        return TIniFile(platform::IniFilePath()).ReadString("DATABASE", key, "<none>");
    }

    qortest::ProgramFolders Folders;
    TDbParams FSaved;
};

}  // namespace

TEST_F(DbParams, IniWithoutDatabaseSectionGainsDefaults) {
    qortest::WriteFile(platform::IniFilePath(), "[QOR_SETTINGS]\nCYCLE_TIME=20000\n");
    LoadDbParams();
    EXPECT_EQ(Ini("DbName"), "127.0.0.1/3050:C:\\ZELMAR\\DATABASE.IB");
    EXPECT_EQ(Ini("User"), "SYSDBA");
    EXPECT_EQ(Ini("Charset"), "UTF8");
    const std::string packed = Ini("Password");
    ASSERT_EQ(packed.rfind("CRPSTR", 0), 0u) << packed;
    EXPECT_EQ(packed.find_first_not_of("0123456789", 6), std::string::npos) << packed;
    EXPECT_EQ(UNPACK_STR(packed.substr(6)), "masterkey");
    EXPECT_EQ(TIniFile(platform::IniFilePath()).ReadString("QOR_SETTINGS", "CYCLE_TIME", ""),
              "20000");

    const TDbParams p = GetDbParams();
    EXPECT_EQ(p.DbName, "127.0.0.1/3050:C:\\ZELMAR\\DATABASE.IB");
    EXPECT_EQ(p.User, "SYSDBA");
    EXPECT_EQ(p.Password, "masterkey");
    EXPECT_EQ(p.Charset, "UTF8");

    // A second start keeps the packed form as it is.
    LoadDbParams();
    EXPECT_EQ(Ini("Password"), packed);
    EXPECT_EQ(GetDbParams().Password, "masterkey");
}

TEST_F(DbParams, UnwritableIniFails) {
    setenv("QOREGAIS_HOME", (Folders.Home() / "no" / "such").c_str(), 1);
    EXPECT_THROW(LoadDbParams(), std::exception);
}

TEST_F(DbParams, PlainPasswordIsPackedAndUsed_Server) {
    qortest::FbTestDb db(qortest::FbLocation::Server);
    const TDbParams target = db.Params();
    qortest::WriteFile(platform::IniFilePath(), "[DATABASE]\nDbName=" + target.DbName +
                                                    "\nUser=sysdba\nPassword=" + target.Password +
                                                    "\nCharset=WIN1251\n");
    LoadDbParams();
    const std::string packed = Ini("Password");
    EXPECT_EQ(packed.rfind("CRPSTR", 0), 0u) << packed;
    EXPECT_NE(packed, "CRPSTR" + target.Password);
    EXPECT_EQ(GetDbParams().Password, target.Password);
    EXPECT_EQ(GetDbParams().Charset, "WIN1251");

    db.RunScript(
        "INSERT INTO S_EGAIS_SETTINGS (PARAM, STRING_VALUE) VALUES ('CYCLE_TIME', 'Цикл');");
    FreeDbProvider();
    TQueryPtr q = GetDbProvider().GetQuery(
        "SELECT CURRENT_USER, STRING_VALUE FROM S_EGAIS_SETTINGS WHERE PARAM = :P", {"P"},
        {"CYCLE_TIME"}, true, false, false, false, true);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->Field(0).AsString(), "SYSDBA");
    EXPECT_EQ(q->Field(1).AsString(), "Цикл");  // converted by the provider from WIN1251
}
