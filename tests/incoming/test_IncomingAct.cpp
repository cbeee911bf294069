#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "IncomingEnv.h"
#include "uIncomingActJob.h"
#include "uText.h"

namespace {

using incomingtest::IncomingEnv;
using qortest::Exec;
using qortest::Value;

// Our waybill as sent and registered, awaiting the consignee's answer.
constexpr const char* kSentHeadSql =
    "INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, UTM_DOC_ID, DOC_NUMBER, STATUS, "
    "ACT_STATUS, WB_REG_ID) VALUES (900050, 1, 'ВН-2026-000045', 'ВН-45', 2, 0, 'TTN-0500000001')";
constexpr const char* kHeadSql =
    "SELECT STATUS, ACT_STATUS, ACT_NUMBER, CAST(CAST(ACT_DATE AS DATE) AS VARCHAR(10)), "
    "ACT_NOTE FROM RG_EGAIS_DOC_HEAD WHERE ID = 900050";
constexpr const char* kRealSql =
    "SELECT POSITION_ID, CAST(REAL_QUANTITY AS VARCHAR(30)) FROM RG_EGAIS_DOC_TABLE ORDER BY "
    "POSITION_ID";
constexpr const char* kNoReal = "1|-\n2|-\n";

std::string Replaced(std::string s, const std::string& from, const std::string& to) {
    const size_t at = s.find(from);
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

// The act without its positions.
std::string WithoutContent(const std::string& s) {
    const size_t from = s.find("<wa:Content>");
    const size_t to = s.find("</wa:Content>");
    return s.substr(0, from) + s.substr(to + std::string("</wa:Content>").size());
}

class IncomingAct : public IncomingEnv {
protected:
    void SetUp() override {
        IncomingEnv::SetUp();
        Sent();
    }
    void Sent() {
        Exec(kSentHeadSql);
        Exec(
            "INSERT INTO RG_EGAIS_DOC_TABLE (EGAIS_DOC_HEAD_ID, POSITION_ID, QUANTITY) VALUES "
            "(900050, 1, 12)");
        Exec(
            "INSERT INTO RG_EGAIS_DOC_TABLE (EGAIS_DOC_HEAD_ID, POSITION_ID, QUANTITY) VALUES "
            "(900050, 2, 5)");
    }
    void Run() {
        RefreshList();
        TEgaisIncomingActJob job;
        job.SetLimitJobRunningTime(990000);
        job.Perform();
    }
    bool Recorded(const std::string& url) {
        const std::vector<std::string> links = RecordedLinks();
        return std::find(links.begin(), links.end(), url) != links.end();
    }
};

struct ActCase {
    const char* Kind;
    const char* File;
    std::string Act;  // the fixture's text, or "" for the fixture as it is
    const char* Head;
    const char* Real;
};

TEST_F(IncomingAct, EveryVersionAcceptedRejectedOrWithDifferencesLandsOnTheSentWaybill) {
    const char* const kActHead = "|ПА-2026/0157|2026-12-11|Бой при разгрузке: 2 бут.\n";
    const std::string differences = std::string("3|0") + kActHead;
    const std::string accepted = std::string("4|1") + kActHead;
    const std::string rejected = std::string("5|-1") + kActHead;
    const std::string unknown = std::string("2|0") + kActHead;
    std::vector<ActCase> cases;
    for (const auto& [kind, file] :
         std::vector<std::pair<const char*, const char*>>{{"WayBillAct_v4", "WayBillAct_v4.xml"},
                                                          {"WayBillAct_v3", "WayBillAct_v3.xml"},
                                                          {"WayBillAct_v2", "WayBillAct_v2.xml"},
                                                          {"WayBillAct", "WayBillAct.xml"}}) {
        const std::string act = Fixture(file);
        const std::string answer = Contains(act, ">Accepted<") ? ">Accepted<" : ">Differences<";
        cases.push_back({kind, file, act, differences.c_str(), "1|10.0000\n2|4.5000\n"});
        cases.push_back({kind, file, Replaced(WithoutContent(act), answer, "> accepted <"),
                         accepted.c_str(), kNoReal});
        cases.push_back(
            {kind, file, Replaced(act, answer, ">Rejected<"), rejected.c_str(), kNoReal});
        // An answer this service does not know changes only the act's own fields.
        cases.push_back({kind, file, Replaced(act, answer, ">Unknown<"), unknown.c_str(), kNoReal});
    }
    for (const ActCase& c : cases) {
        SCOPED_TRACE(std::string(c.File) + ": " + c.Head);
        Fresh();
        Sent();
        const std::string url = Utm.PlaceIncoming(c.Kind, c.Act);
        Run();
        EXPECT_EQ(c.Head, Rows(kHeadSql));
        EXPECT_EQ(c.Real, Rows(kRealSql));
        EXPECT_TRUE(Recorded(url));
    }
}

TEST_F(IncomingAct, ActsThatCannotLandAreDeletedOrLeftAsTheirFaultDemands) {
    const std::string act = Fixture("WayBillAct_v4.xml");
    // Never to find a waybill: deleted, nothing changed.
    const std::string foreign =
        Utm.PlaceIncoming("WayBillAct_v4", Replaced(act, "TTN-0500000001", "TTN-0599999999"));
    // Without an answer: deleted, nothing changed.
    const std::string noAnswer = Utm.PlaceIncoming(
        "WayBillAct_v4", Replaced(act, "<wa:IsAccept>Differences</wa:IsAccept>", ""));
    // A position our waybill does not have: all of it rolled back, left for later.
    const std::string badPosition = Utm.PlaceIncoming(
        "WayBillAct_v4",
        Replaced(act, "<wa:Identity>2</wa:Identity>", "<wa:Identity>7</wa:Identity>"));
    // Not XML: left for later, and the acts after it are still read.
    const std::string broken = Utm.PlaceIncoming("WayBillAct_v4", "<ns:Documents>");
    const std::string good = Utm.PlaceIncoming(
        "WayBillAct_v4", Replaced(WithoutContent(act), "Differences", "Accepted"));
    // An older version is read in the same run: an act left in the UTM must not hold
    // back the others.
    const std::string older = Utm.PlaceIncoming("WayBillAct_v3", Fixture("WayBillAct_v3.xml"));
    Run();
    EXPECT_TRUE(Recorded(foreign));
    EXPECT_TRUE(Recorded(noAnswer));
    EXPECT_FALSE(Recorded(badPosition));
    EXPECT_FALSE(Recorded(broken));
    EXPECT_TRUE(Recorded(good));
    EXPECT_TRUE(Recorded(older));
    // The version 3 act with differences came last.
    EXPECT_EQ("3|0|ПА-2026/0157|2026-12-11|Бой при разгрузке: 2 бут.\n", Rows(kHeadSql));
    EXPECT_EQ("1|10.0000\n2|4.5000\n", Rows(kRealSql));
    EXPECT_NE(std::string::npos, Log().find("Unable to obtain id from RG_EGAIS_DOC_HEAD"));
    EXPECT_NE(std::string::npos, Log().find("Unable to obtain id from RG_EGAIS_DOC_TABLE"));
    EXPECT_NE(std::string::npos, Log().find("TEgaisIncomingActJob: тег \"IsAccept\" не найден."));
}

}  // namespace
