#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "IncomingEnv.h"
#include "uIncomingRegInfoJob.h"
#include "uIncomingWayBillJob.h"
#include "uWayBillReader.h"

namespace {

using incomingtest::IncomingEnv;
using qortest::Exec;
using qortest::Value;

// Each line's position, the registration number of its Form B and that Form B's flag.
constexpr const char* kFormBSql =
    "SELECT t.POSITION_ID, b.INFORM_REG_ID, b.ACT_FLAG FROM RG_EGAIS_DOC_TABLE t "
    "LEFT JOIN S_EGAIS_INFORMS b ON b.ID = t.INFORM2_ID ORDER BY t.ID";

class IncomingRegInfo : public IncomingEnv {
protected:
    void RunWayBills() {
        RefreshList();
        TEgaisIncomingWayBillJob job;
        job.SetLimitJobRunningTime(990000);
        job.Perform();
    }
    void RunRegInfo() {
        RefreshList();
        TEgaisIncomingRegInfoJob job;
        job.SetLimitJobRunningTime(990000);
        job.Perform();
    }
    // A supplier's waybill as the waybill job stores it.
    void StoreWayBill(const std::string& sKind, const std::string& sFile) {
        const std::string url = Utm.PlaceIncoming(sKind, Fixture(sFile));
        RunWayBills();
        ASSERT_EQ(
            1, Value("SELECT COUNT(*) FROM RG_EGAIS_DOC_HEAD WHERE UTM_LINK = :URL", {{"URL", url}})
                   .AsInt64());
    }
    static std::string Position(const std::string& sIdentity) {
        return incoming::PositionIdOf(sIdentity).AsString();
    }
};

struct WayBillCase {
    const char* WayBillKind;
    const char* WayBillFile;
    const char* RegInfoKind;
    const char* RegInfoFile;
    std::string RegId;
    std::string Lines;
};

TEST_F(IncomingRegInfo, AReceivedWaybillOfEveryVersionGetsItsNumberAndEachLineItsFormB) {
    const WayBillCase cases[] = {
        {"WayBill_v4", "WayBill_v4.xml", "FORM2REGINFO", "Form2RegInfo_v4.xml", "TTN-0412345671",
         "1|FB-000004100000001|1\n2|FB-000004100000002|1\n3|FB-000004100000003|1\n"},
        {"WayBill_v3", "WayBill_v3.xml", "FORM2REGINFO", "Form2RegInfo_v3.xml", "TTN-0312345671",
         "1|FB-000003100000001|1\n" + Position("поз-2") + "|FB-000003100000002|1\n" +
             "3|FB-000003100000003|1\n"},
        {"WayBill_v2", "WayBill_v2.xml", "FORMBREGINFO", "FormBRegInfo_v2.xml", "TTN-0212345671",
         "10|FB-000002100000010|1\n11|FB-000002100000011|1\n"},
        {"WayBill", "WayBill.xml", "FORMBREGINFO", "FormBRegInfo_v1.xml", "TTN-0112345671",
         "1|FB-000001100000001|1\n2|FB-000001100000002|1\n"},
        // the newer format under the older kind of address
        {"WayBill_v4", "WayBill_v4.xml", "FORMBREGINFO", "Form2RegInfo_v4.xml", "TTN-0412345671",
         "1|FB-000004100000001|1\n2|FB-000004100000002|1\n3|FB-000004100000003|1\n"},
    };
    for (const WayBillCase& c : cases) {
        SCOPED_TRACE(c.RegInfoFile);
        Fresh();
        StoreWayBill(c.WayBillKind, c.WayBillFile);
        const int64_t iFormsBefore = Count("S_EGAIS_INFORMS");
        const std::string url = Utm.PlaceIncoming(c.RegInfoKind, Fixture(c.RegInfoFile));
        RunRegInfo();
        EXPECT_EQ(c.RegId, Value("SELECT WB_REG_ID FROM RG_EGAIS_DOC_HEAD").AsString());
        EXPECT_EQ(c.Lines, Rows(kFormBSql));
        // The excise marks of a line move with it.
        EXPECT_EQ(0, Value("SELECT COUNT(*) FROM RG_EGAIS_DOC_MARKS m JOIN RG_EGAIS_DOC_TABLE t "
                           "ON t.ID = m.EGAIS_DOC_TABLE_ID WHERE m.INFORM2_ID IS DISTINCT FROM "
                           "t.INFORM2_ID")
                         .AsInt64());
        // The Form B the supplier shipped from stays, no longer flagged as ours.
        EXPECT_EQ(iFormsBefore,
                  Value("SELECT COUNT(*) FROM S_EGAIS_INFORMS WHERE ACT_FLAG IS NULL").AsInt64());
        const std::vector<std::string> recorded = RecordedLinks();
        EXPECT_NE(recorded.end(), std::find(recorded.begin(), recorded.end(), url));
        EXPECT_NE(std::string::npos,
                  Log().find("TEgaisIncomingRegInfoJob: успешно загружен " + url));
    }
}

struct OwnCase {
    int DocType;
    const char* RegInfoKind;
    const char* RegInfoFile;
    const char* Key;
    const char* RegId;
};

TEST_F(IncomingRegInfo, OurOwnAndReturnedWaybillsGetTheNumberAndKeepTheirFormB) {
    const OwnCase cases[] = {
        // a waybill we sent, stored under its identity
        {1, "FORM2REGINFO", "Form2RegInfo_v4.xml", "ТТН-4-0001", "TTN-0412345671"},
        // a return of ours, stored under the waybill key
        {7, "FORMBREGINFO", "FormBRegInfo_v1.xml", "ТТН-1-0001/2026-12-08/РН-000123/1",
         "TTN-0112345671"},
    };
    for (const OwnCase& c : cases) {
        SCOPED_TRACE(c.DocType);
        Fresh();
        Exec("INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID) VALUES (900005, '020000000002')");
        Exec(
            "INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES "
            "(900070, 'B', 'FB-000000700000070')");
        Exec(
            "INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, UTM_DOC_ID, SHIPPER, STATUS) "
            "VALUES (900040, :TYPE, :KEY, 900005, 2)",
            {{"TYPE", c.DocType}, {"KEY", c.Key}});
        for (int pos : {1, 2, 3})
            Exec(
                "INSERT INTO RG_EGAIS_DOC_TABLE (EGAIS_DOC_HEAD_ID, POSITION_ID, INFORM2_ID) "
                "VALUES (900040, :POS, 900070)",
                {{"POS", pos}});
        const std::string url = Utm.PlaceIncoming(c.RegInfoKind, Fixture(c.RegInfoFile));
        RunRegInfo();
        EXPECT_EQ(c.RegId,
                  Value("SELECT WB_REG_ID FROM RG_EGAIS_DOC_HEAD WHERE ID = 900040").AsString());
        EXPECT_EQ("1|FB-000000700000070|-\n2|FB-000000700000070|-\n3|FB-000000700000070|-\n",
                  Rows(kFormBSql));
        EXPECT_EQ(1, Count("S_EGAIS_INFORMS"));
        EXPECT_EQ(std::vector<std::string>{url}, RecordedLinks());
    }
}

TEST_F(IncomingRegInfo, OurWaybillStoredWithoutItsReplyIdTakesTheOneTheListNames) {
    // The reply id reaches the statement as a value, whatever it holds.
    for (const std::string replyId : {"5d1c2b7e-0a4f-4c61-9b0e-3f6a8d2e91c4",
                                      "x'); UPDATE RG_EGAIS_DOC_HEAD SET STATUS=9 --"}) {
        SCOPED_TRACE(replyId);
        Fresh();
        Exec("INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID) VALUES (900005, '020000000002')");
        Exec(
            "INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, UTM_DOC_ID, SHIPPER, STATUS, "
            "URL_REPLY_ID) VALUES (900041, 1, 'ТТН-4-0001', 900005, 2, 'UID_IS_EMPTY')");
        Exec(
            "INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, UTM_DOC_ID, SHIPPER, STATUS, "
            "URL_REPLY_ID) VALUES (900042, 1, 'ВН-2026-000046', 900005, 2, 'UID_IS_EMPTY')");
        const std::string url =
            Utm.PlaceIncoming("FORM2REGINFO", Fixture("Form2RegInfo_v4.xml"), replyId);
        RunRegInfo();
        EXPECT_EQ("900041|TTN-0412345671|" + replyId + "|2\n900042|-|UID_IS_EMPTY|2\n",
                  Rows("SELECT ID, WB_REG_ID, URL_REPLY_ID, STATUS FROM RG_EGAIS_DOC_HEAD "
                       "ORDER BY ID"));
        EXPECT_NE(std::string::npos,
                  Log().find("TEgaisIncomingRegInfoJob: восстановлен URL_REPLY_ID " + replyId +
                             " для накладной с ID=900041"));
        EXPECT_EQ(std::vector<std::string>{url}, RecordedLinks());
    }
}

TEST_F(IncomingRegInfo, ACounterpartyStoredTwiceStillFindsItsWaybillByKeyAndByNumber) {
    StoreWayBill("WayBill_v4", "WayBill_v4.xml");
    Exec(
        "INSERT INTO S_EGAIS_COUNTERPART (CLIENTREG_ID, FULL_NAME) "
        "SELECT CLIENTREG_ID, FULL_NAME FROM S_EGAIS_COUNTERPART WHERE CLIENTREG_ID IN "
        "('020000000002', '010000000001')");
    const int64_t iNewest =
        Value("SELECT MAX(ID) FROM S_EGAIS_COUNTERPART WHERE CLIENTREG_ID = '020000000002'")
            .AsInt64();
    // The key matches no head: only shipper, consignee, number and date find it.
    Exec("UPDATE RG_EGAIS_DOC_HEAD SET UTM_DOC_ID = 'ДРУГОЙ-КЛЮЧ'");
    Utm.PlaceIncoming("FORM2REGINFO", Fixture("Form2RegInfo_v4.xml"));
    RunRegInfo();
    EXPECT_EQ("TTN-0412345671", Value("SELECT WB_REG_ID FROM RG_EGAIS_DOC_HEAD").AsString());
    EXPECT_EQ(3, Value("SELECT COUNT(*) FROM RG_EGAIS_DOC_TABLE t JOIN S_EGAIS_INFORMS b ON "
                       "b.ID = t.INFORM2_ID WHERE b.ACT_FLAG = 1 AND b.SHIPPER = :NEWEST",
                       {{"NEWEST", iNewest}})
                     .AsInt64());
}

TEST_F(IncomingRegInfo, AFailingDocumentIsLeftForLaterAndTheNextOnesAreStored) {
    StoreWayBill("WayBill_v2", "WayBill_v2.xml");
    StoreWayBill("WayBill", "WayBill.xml");
    std::string unknownPosition = Fixture("FormBRegInfo_v2.xml");
    unknownPosition.replace(unknownPosition.find("<wbr:Identity>11<"), 17, "<wbr:Identity>99<");
    const std::vector<std::string> left = {
        Utm.PlaceIncoming("FORMBREGINFO", "<ns:Documents><ns:Document>"),  // not XML
        Utm.PlaceIncoming("FORMBREGINFO", unknownPosition),
    };
    const std::string good = Utm.PlaceIncoming("FORMBREGINFO", Fixture("FormBRegInfo_v1.xml"));
    RunRegInfo();
    // The v2 waybill: nothing of the document with an unknown position is kept.
    EXPECT_EQ("-\nTTN-0112345671\n", Rows("SELECT WB_REG_ID FROM RG_EGAIS_DOC_HEAD ORDER BY ID"));
    EXPECT_EQ(0, Value("SELECT COUNT(*) FROM S_EGAIS_INFORMS WHERE ACT_FLAG = 1 AND "
                       "INFORM_REG_ID STARTING WITH 'FB-0000021'")
                     .AsInt64());
    EXPECT_EQ(2, Value("SELECT COUNT(*) FROM S_EGAIS_INFORMS WHERE ACT_FLAG = 1").AsInt64());
    const std::vector<std::string> recorded = RecordedLinks();
    EXPECT_NE(recorded.end(), std::find(recorded.begin(), recorded.end(), good));
    for (const std::string& url : left)
        EXPECT_EQ(recorded.end(), std::find(recorded.begin(), recorded.end(), url));
    EXPECT_NE(std::string::npos, Log().find("Unable to update form B"));
}

}  // namespace
