#include <gtest/gtest.h>
#include <signal.h>

#include <set>

#include "DbQueries.h"
#include "EmulatedUtm.h"
#include "FbTestDb.h"
#include "ProgramHome.h"
#include "WaybillFixture.h"
#include "uDateTime.h"
#include "uDbProvider.h"
#include "uXml.h"

using namespace std::chrono_literals;

namespace {

using qortest::Value;

// The back office on the local server (the programs and the test meet there) and the
// UTM in the test's own process.
class OutgoingWaybill : public ::testing::Test {
protected:
    OutgoingWaybill() : Db(qortest::FbLocation::Server, qortest::kWaybillBaseSql) {}

    qortest::ProgramHome Home() const {
        return qortest::ProgramHome(Db.Params(), {"OutGoingWayBillJobEnabled"}, Utm.Settings());
    }
    // Waits until `n` requests are complete (the programs work on their own time).
    bool WaitComplete(int64_t n, std::chrono::seconds timeout) {
        return qortest::WaitUntil(
            [&] {
                return Value("SELECT COUNT(*) FROM S_EGAIS_REQUEST WHERE COMPLETE_FLAG = 1")
                           .AsInt64() >= n;
            },
            timeout);
    }

    qortest::ProviderDb Db;
    qortest::EmulatedUtm Utm;
};

TEST_F(OutgoingWaybill, TheBackOfficesWaybillIsSentArchivedAndClosed) {
    qortest::AddWaybill(1, qortest::kOurFsrarId, 3);
    qortest::AddRequest(10, 1, 6);
    auto home = Home();
    auto svc = home.Start();
    ASSERT_TRUE(WaitComplete(1, 30s)) << qortest::ReadFile(home.Log());

    auto posted = Utm.Posted();
    ASSERT_EQ(1u, posted.size());
    EXPECT_EQ("Waybill_v4", posted[0].Kind);
    EXPECT_EQ("Waybill_v4", posted[0].FileName);
    EXPECT_EQ(1, Value("SELECT STATUS FROM RG_EGAIS_DOC_HEAD WHERE ID = 1").AsInt64());
    EXPECT_EQ(posted[0].TransportId,
              Value("SELECT URL_REPLY_ID FROM RG_EGAIS_DOC_HEAD WHERE ID = 1").AsString());
    EXPECT_EQ(1, Value("SELECT RESULT_CODE FROM S_EGAIS_REPLY WHERE REQUEST_ID = 10 AND "
                       "REPLY_TYPE = 6")
                     .AsInt64());

    // The archive holds the sent document under opt/in of the day folder.
    auto day = DecodeDateTime(Now());
    char folder[32];
    std::snprintf(folder, sizeof folder, "%04d/%02d/%02d/opt/in", day.Year, day.Month, day.Day);
    auto archived = home.Path() / folder /
                    ("Waybill_v4_" + posted[0].Url.substr(posted[0].Url.rfind('/') + 1) + ".xml");
    ASSERT_TRUE(std::filesystem::exists(archived)) << archived;
    EXPECT_EQ(LoadXmlFrom(posted[0].Body).xml(), LoadXmlFrom(qortest::ReadFile(archived)).xml());

    svc->Signal(SIGTERM);
    EXPECT_EQ(0, svc->Wait(20s));
}

TEST_F(OutgoingWaybill, TwoInstancesOnOneDatabasePostEveryRequestExactlyOnce_Server) {
    const int n = 200;
    for (int doc = 1; doc <= n; ++doc) {
        qortest::AddWaybill(doc);
        qortest::AddRequest(1000 + doc, doc, 6);
    }
    auto homeA = Home();
    auto homeB = Home();
    auto a = homeA.Start();
    auto b = homeB.Start();
    ASSERT_TRUE(WaitComplete(n, 120s));
    a->Signal(SIGTERM);
    b->Signal(SIGTERM);
    EXPECT_EQ(0, a->Wait(30s));
    EXPECT_EQ(0, b->Wait(30s));

    auto posted = Utm.Posted();
    EXPECT_EQ(size_t(n), posted.size());
    std::set<std::string> numbers;
    for (const auto& d : posted) {
        EXPECT_EQ(1, Utm.BodyPostCount(d.Body));
        numbers.insert(LoadXmlFrom(d.Body).selectSingleNode("//*[local-name()='NUMBER']").text());
    }
    EXPECT_EQ(size_t(n), numbers.size());
    EXPECT_EQ(n, Value("SELECT COUNT(*) FROM S_EGAIS_REPLY WHERE REPLY_TYPE = 6 AND "
                       "RESULT_CODE = 1")
                     .AsInt64());
}

}  // namespace
