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

// A version-4 waybill from partner 2 as the incoming road stores it, received with one
// bottle short and one excise mark missing, and the back office's request for the act.
const std::string kIncomingWaybill = std::string(qortest::kWaybillBaseSql) + R"(
INSERT INTO RG_EGAIS_DOC_HEAD (ID, FSRAR_ID, UTM_DOC_TYPE, PROTOCOL_VERSION, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE,
    STATUS, WB_REG_ID, ACT_NUMBER, ACT_STATUS, ACT_DATE, ACT_NOTE) VALUES
  (1, '030000123456', 0, 4, 'WB-IN-1', 'П-77', 2, 1, 1, 'TTN-0000000077', 'АКТ-77', 0, '2026-12-10', 'Недостача');
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, QUANTITY, REAL_QUANTITY, INFORM1_ID, INFORM2_ID) VALUES
  (11, 1, 1, 1, 2, 1, 1, 2);
INSERT INTO RG_EGAIS_DOC_MARKS (ID, EGAIS_DOC_HEAD_ID, EGAIS_DOC_TABLE_ID, MARK_CODE, CHECKED) VALUES (1, 1, 11, 'MARK-FOUND', 1);
INSERT INTO RG_EGAIS_DOC_MARKS (ID, EGAIS_DOC_HEAD_ID, EGAIS_DOC_TABLE_ID, MARK_CODE, CHECKED) VALUES (2, 1, 11, 'MARK-MISSING', 0);
INSERT INTO S_EGAIS_REQUEST (ID, EGAIS_DOC_ID, REQUEST_TYPE) VALUES (10, 1, 8);
)";

class ReceptionAct : public ::testing::Test {
protected:
    ReceptionAct() : Db(qortest::FbLocation::Server, kIncomingWaybill) {}

    // The program works on its own time: bounded polling of the request.
    bool WaitComplete(std::chrono::seconds timeout) {
        return qortest::WaitUntil(
            [] {
                return Value("SELECT COALESCE(COMPLETE_FLAG, 0) FROM S_EGAIS_REQUEST WHERE ID = 10")
                           .AsInt64() == 1;
            },
            timeout);
    }
    static std::string TextIn(const TXmlDocument& doc, const std::string& sLocalName) {
        TXmlNode n = doc.selectSingleNode("//*[local-name()=" + XPathLiteral(sLocalName) + "]");
        return n ? n.text() : "<none>";
    }

    qortest::ProviderDb Db;
    qortest::EmulatedUtm Utm;
};

TEST_F(ReceptionAct, TheActOfAVersionFourWaybillIsSentAndTheRequestAnswered) {
    qortest::ProgramHome home(Db.Params(), {"OutGoingActsJobEnabled"}, Utm.Settings());
    auto svc = home.Start();
    ASSERT_TRUE(WaitComplete(30s)) << qortest::ReadFile(home.Log());
    svc->Signal(SIGTERM);
    EXPECT_EQ(0, svc->Wait(20s));

    auto posted = Utm.Posted();
    ASSERT_EQ(1u, posted.size());
    EXPECT_EQ("WayBillAct_v4", posted[0].Kind);
    EXPECT_EQ("WayBillAct_v4.xml", posted[0].FileName);
    TXmlDocument act = LoadXmlFrom(posted[0].Body);
    EXPECT_TRUE(act.selectSingleNode("/ns:Documents/ns:Document/*[local-name()='WayBillAct_v4']"));
    EXPECT_EQ("Differences", TextIn(act, "IsAccept"));
    EXPECT_EQ("TTN-0000000077", TextIn(act, "WBRegId"));
    EXPECT_EQ("FB-000000000000001", TextIn(act, "InformF2RegId"));
    EXPECT_EQ("1", TextIn(act, "RealQuantity"));
    EXPECT_EQ("MARK-MISSING", TextIn(act, "MarkInfo"));

    EXPECT_EQ(255, Value("SELECT QOR_STATE FROM RG_EGAIS_DOC_HEAD WHERE ID = 1").AsInt64());
    EXPECT_EQ(posted[0].TransportId,
              Value("SELECT URL_REPLY_ID FROM RG_EGAIS_DOC_HEAD WHERE ID = 1").AsString());
    EXPECT_EQ(1, Value("SELECT STATUS FROM RG_EGAIS_DOC_HEAD WHERE ID = 1").AsInt64());
    EXPECT_EQ(1, Value("SELECT RESULT_CODE FROM S_EGAIS_REPLY WHERE REQUEST_ID = 10 AND "
                       "REPLY_TYPE = 8")
                     .AsInt64());
    EXPECT_EQ("Документ успешно отправлен на сервер ЕГАИС. UID=" + posted[0].TransportId,
              Value("SELECT ERROR_DESCRIPTION FROM S_EGAIS_REPLY WHERE REQUEST_ID = 10 AND "
                    "REPLY_TYPE = 8")
                  .AsString());
}

}  // namespace
