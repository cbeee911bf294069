#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "Process.h"
#include "TestSupport.h"

using namespace std::chrono_literals;

namespace {

// The line of the demonstration's output that begins with `prefix`, "" when none does.
std::string LineStartingWith(const std::string& output, const std::string& prefix) {
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) return line;
    return "";
}

std::string RegexLiteral(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

const char* const kUuid = "([0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12})";

// The script names the folders of the programs it starts; these are for anything that
// would fall back on the environment.
class Demo : public ::testing::Test {
protected:
    qortest::ProgramFolders Folders;
};

// The demonstration command as a user runs it, on the programs of this build; twice in
// the same home folder, since a second run must clean up after the first.
TEST_F(Demo, TheTypicalEventRunsEndToEndTwiceInARow) {
    qortest::TempDir tmp;
    const std::string home = (tmp.Path() / "home").string();
    const std::string buildDir = std::filesystem::path(QOREGAIS_EXE).parent_path().string();
    const std::string script = (qortest::SourceDir() / "scripts" / "demo.sh").string();

    const std::regex request(
        "Request 1 \\(waybill ТН-1\\): closed, reply 6 = 1 \"Документ "
        "успешно отправлен на сервер ЕГАИС\\. UID=" +
        std::string(kUuid) + "\"");
    const std::regex transport("Transport id: " + std::string(kUuid) +
                               "; header status after the ticket: 2 \\(EGAIS id TTN-\\d+\\); "
                               "reply 16 = 1 \"Накладная зарегистрирована\"");
    const std::regex incoming(
        "Incoming waybill РН-000123/4 from ООО «Винный погреб» stored as "
        "header (\\d+) with 3 lines");
    const std::regex act(
        "Reception act ПА-\\d+ for EGAIS id TTN-0412345671: request \\d+ closed, reply 8 = 1");
    const std::regex archived("Archived: 5 documents under " + RegexLiteral(home) +
                              "/\\d{4}/\\d{2}/\\d{2}");

    std::vector<std::string> transportIds;
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        qortest::Process demo("/bin/bash", {script, home}, {{"QOREGAIS_BUILD_DIR", buildDir}});
        ASSERT_EQ(0, demo.Wait(120s)) << demo.Output() << demo.Errors();
        const std::string out = demo.Output();

        std::smatch m;
        const std::string requestLine = LineStartingWith(out, "Request ");
        ASSERT_TRUE(std::regex_match(requestLine, m, request)) << out;
        const std::string sentId = m[1];
        const std::string transportLine = LineStartingWith(out, "Transport id: ");
        ASSERT_TRUE(std::regex_match(transportLine, m, transport)) << out;
        EXPECT_EQ(sentId, m[1]) << "the ticket answers another transport id";
        transportIds.push_back(sentId);
        const std::string incomingLine = LineStartingWith(out, "Incoming waybill ");
        EXPECT_TRUE(std::regex_match(incomingLine, m, incoming)) << out;
        EXPECT_TRUE(std::regex_match(LineStartingWith(out, "Reception act "), act)) << out;
        EXPECT_TRUE(std::regex_match(LineStartingWith(out, "Archived: "), archived)) << out;
        EXPECT_EQ("Log: " + home + "/LOG/QorEgais.log", LineStartingWith(out, "Log: "));
    }
    // A fresh start each time: the second run sent its own waybill, not the first's again.
    ASSERT_EQ(2u, transportIds.size());
    EXPECT_NE(transportIds[0], transportIds[1]);
}

// A folder the demonstration did not make is never emptied.
TEST_F(Demo, RefusesAForeignHomeFolderAndLeavesItAlone) {
    qortest::TempDir tmp;
    const std::filesystem::path keep = tmp.Path() / "notes.txt";
    qortest::WriteFile(keep, "mine");
    qortest::Process demo(
        "/bin/bash", {(qortest::SourceDir() / "scripts" / "demo.sh").string(), tmp.Path().string()},
        {{"QOREGAIS_BUILD_DIR", std::filesystem::path(QOREGAIS_EXE).parent_path().string()}});
    EXPECT_EQ(1, demo.Wait(60s));
    EXPECT_NE(std::string::npos, demo.Errors().find("not made by the demonstration"))
        << demo.Errors();
    EXPECT_EQ("mine", qortest::ReadFile(keep));
}

}  // namespace
