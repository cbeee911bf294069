#include <gtest/gtest.h>
#include <signal.h>

#include "DbQueries.h"
#include "EmulatedUtm.h"
#include "FbTestDb.h"
#include "ProgramHome.h"
#include "WaybillFixture.h"
#include "uDbProvider.h"
#include "uXml.h"

using namespace std::chrono_literals;

namespace {

using qortest::Value;
using qortest::WaitUntil;

// A supplier's document addressed to us.
std::string ToUs(const std::string& sFixture) {
    std::string s =
        qortest::ReadFile(qortest::SourceDir() / "tests" / "incoming" / "fixtures" / sFixture);
    for (size_t at; (at = s.find("010000000001")) != std::string::npos;)
        s.replace(at, 12, qortest::kOurFsrarId);
    return s;
}

std::string TextIn(const TXmlDocument& doc, const std::string& sLocalName) {
    TXmlNode n = doc.selectSingleNode("//*[local-name()=" + XPathLiteral(sLocalName) + "]");
    return n ? n.text() : "<none>";
}

class RegInfoRoad : public ::testing::Test {
protected:
    RegInfoRoad()
        : Db(qortest::FbLocation::Server,
             std::string(qortest::kWaybillBaseSql) + qortest::kGeneratorsAfterBackOffice) {}

    qortest::ProviderDb Db;
    qortest::EmulatedUtm Utm;
};

TEST_F(RegInfoRoad, ASuppliersWaybillIsRegisteredAndThenAnsweredWithAReceptionAct) {
    const std::string waybillUrl = Utm.PlaceIncoming("WayBill_v4", ToUs("WayBill_v4.xml"));
    qortest::ProgramHome home(
        Db.Params(),
        {"RefreshJobEnabled", "IncomingWayBillJobEnabled", "IncomingRegInfoJobEnabled",
         "OutGoingActsJobEnabled", "GarbageRemoverJobEnabled"},
        Utm.Settings());
    auto svc = home.Start();

    int64_t headId = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            headId = Value("SELECT ID FROM RG_EGAIS_DOC_HEAD WHERE UTM_LINK = :LINK",
                           {{"LINK", waybillUrl}})
                         .AsInt64();
            return headId > 0;
        },
        30s))
        << qortest::ReadFile(home.Log());

    // Its registration information follows.
    Utm.PlaceIncoming("FORM2REGINFO", ToUs("Form2RegInfo_v4.xml"));
    ASSERT_TRUE(WaitUntil(
        [&] {
            return Value("SELECT WB_REG_ID FROM RG_EGAIS_DOC_HEAD WHERE ID = :ID", {{"ID", headId}})
                       .AsString() == "TTN-0412345671";
        },
        30s))
        << qortest::ReadFile(home.Log());
    EXPECT_EQ(3, Value("SELECT COUNT(*) FROM RG_EGAIS_DOC_TABLE t JOIN S_EGAIS_INFORMS b ON "
                       "b.ID = t.INFORM2_ID WHERE t.EGAIS_DOC_HEAD_ID = :ID AND b.ACT_FLAG = 1 "
                       "AND b.INFORM_REG_ID STARTING WITH 'FB-0000041'",
                       {{"ID", headId}})
                     .AsInt64());

    // The back office accepts the waybill and asks for the act.
    qortest::Exec(
        "UPDATE RG_EGAIS_DOC_HEAD SET ACT_STATUS = 1, ACT_NUMBER = 'ПА-2026/0001', "
        "ACT_DATE = '2026-12-11' WHERE ID = :ID",
        {{"ID", headId}});
    qortest::AddRequest(20, headId, 8);
    ASSERT_TRUE(WaitUntil(
        [] {
            return Value("SELECT COALESCE(COMPLETE_FLAG, 0) FROM S_EGAIS_REQUEST WHERE ID = 20")
                       .AsInt64() == 1;
        },
        30s))
        << qortest::ReadFile(home.Log());
    EXPECT_EQ(1, Value("SELECT RESULT_CODE FROM S_EGAIS_REPLY WHERE REQUEST_ID = 20 AND "
                       "REPLY_TYPE = 8")
                     .AsInt64());
    const auto posted = Utm.Posted();
    ASSERT_EQ(1u, posted.size());
    EXPECT_EQ("WayBillAct_v4", posted[0].Kind);
    TXmlDocument act = LoadXmlFrom(posted[0].Body);
    EXPECT_EQ("Accepted", TextIn(act, "IsAccept"));
    EXPECT_EQ("TTN-0412345671", TextIn(act, "WBRegId"));

    // Neither the waybill nor its registration information stays in the UTM.
    ASSERT_TRUE(WaitUntil([&] { return Utm.IncomingUrls().empty(); }, 30s))
        << qortest::ReadFile(home.Log());

    svc->Signal(SIGTERM);
    EXPECT_EQ(0, svc->Wait(20s));
}

}  // namespace
