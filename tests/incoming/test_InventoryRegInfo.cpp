#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "IncomingEnv.h"
#include "uInventoryRegInfoJob.h"

namespace {

using incomingtest::IncomingEnv;
using qortest::Exec;
using qortest::Value;

constexpr const char* kHeadSql =
    "SELECT WB_REG_ID, URL_REPLY_ID FROM RG_EGAIS_DOC_HEAD WHERE ID = 900060";
// Each line's Form A and Form B with the product they name.
constexpr const char* kLinesSql =
    "SELECT t.POSITION_ID, a.INFORM_TYPE || ':' || a.INFORM_REG_ID, a.EGAIS_PRODUCT_ID, "
    "b.INFORM_TYPE || ':' || b.INFORM_REG_ID, b.EGAIS_PRODUCT_ID FROM RG_EGAIS_DOC_TABLE t "
    "LEFT JOIN S_EGAIS_INFORMS a ON a.ID = t.INFORM1_ID "
    "LEFT JOIN S_EGAIS_INFORMS b ON b.ID = t.INFORM2_ID ORDER BY t.POSITION_ID";

class InventoryRegInfo : public IncomingEnv {
protected:
    // A charge-on act of two lines (the registration names a third); line 1 holds
    // registrations from before, line 2 none.
    void Act(const std::string& sRegId, const std::string& sNumber) {
        Exec("INSERT INTO S_EGAIS_PRODUCT (ID, ALC_CODE) VALUES (900007, '0150320000001193421')");
        Exec(
            "INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES "
            "(900081, 'A', 'FA-OLD')");
        Exec(
            "INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES "
            "(900082, 'B', 'FB-OLD')");
        Exec(
            "INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, UTM_DOC_ID, ACT_NUMBER, "
            "WB_REG_ID, STATUS) VALUES (900060, 2, 'ПНБ-2026', :NUMBER, :REG_ID, 2)",
            {{"NUMBER", sNumber}, {"REG_ID", sRegId}});
        Exec(
            "INSERT INTO RG_EGAIS_DOC_TABLE (EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, "
            "INFORM1_ID, INFORM2_ID) VALUES (900060, 1, 900007, 900081, 900082)");
        Exec(
            "INSERT INTO RG_EGAIS_DOC_TABLE (EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID) "
            "VALUES (900060, 2, 900007)");
    }
    void Run() {
        RefreshList();
        TEgaisInventoryRegInfoJob job;
        job.SetLimitJobRunningTime(990000);
        job.Perform();
    }
    bool Recorded(const std::string& url) {
        const std::vector<std::string> links = RecordedLinks();
        return std::find(links.begin(), links.end(), url) != links.end();
    }
};

struct InventoryCase {
    const char* File;
    const char* Number;       // the act's own number
    const char* StoredRegId;  // the act's WB_REG_ID before
    const char* Head;
    const char* Lines;
};

TEST_F(InventoryRegInfo, TheActGetsItsNumberAndEachOfItsLinesItsFormAAndFormB) {
    const InventoryCase cases[] = {
        {"InventoryRegInfo_F2.xml", "ИНВ-28", "ACO-0000020417", "ACO-0000020417|-\n",
         "1|A:FA-000002600000010|900007|B:FB-000002600000010|900007\n"
         "2|A:FA-000002600000020|900007|B:FB-000002600000020|900007\n"},
        // stored without its number: found by its own number, the reply id from the list
        {"InventoryRegInfo_B.xml", "ИНВ-18", "UID_IS_EMPTY", "ACO-0000010417|ОТВЕТ-7F3A\n",
         "1|A:FA-000001600000010|900007|B:FB-000001600000010|900007\n"
         "2|A:FA-000001600000020|900007|B:FB-000001600000020|900007\n"},
    };
    for (const InventoryCase& c : cases) {
        SCOPED_TRACE(c.File);
        Fresh();
        Act(c.StoredRegId, c.Number);
        const std::string url =
            Utm.PlaceIncoming("INVENTORYREGINFO", Fixture(c.File), "ОТВЕТ-7F3A");
        Run();
        EXPECT_EQ(c.Head, Rows(kHeadSql));
        EXPECT_EQ(c.Lines, Rows(kLinesSql));
        // Position 3 is not the act's: nothing is stored for it.
        EXPECT_EQ(4, Count("S_EGAIS_INFORMS"));
        EXPECT_NE(std::string::npos, Log().find("нет позиции 3. Пропускаем позицию."));
        EXPECT_TRUE(Recorded(url));
    }
}

TEST_F(InventoryRegInfo, APositionWithoutOneOfItsFormsKeepsTheOneTheLineHas) {
    Act("ACO-0000020417", "ИНВ-28");
    std::string doc = Fixture("InventoryRegInfo_F2.xml");
    const std::string formA = "<aint:InformF1RegId>FA-000002600000010</aint:InformF1RegId>";
    doc.erase(doc.find(formA), formA.size());
    const std::string url = Utm.PlaceIncoming("INVENTORYREGINFO", doc);
    Run();
    EXPECT_EQ(
        "1|A:FA-OLD|-|B:FB-000002600000010|900007\n"
        "2|A:FA-000002600000020|900007|B:FB-000002600000020|900007\n",
        Rows(kLinesSql));
    EXPECT_EQ(
        0, Value("SELECT COUNT(*) FROM S_EGAIS_INFORMS WHERE TRIM(INFORM_REG_ID) = ''").AsInt64());
    EXPECT_TRUE(Recorded(url));
}

TEST_F(InventoryRegInfo, AnUnknownActAMissingRootAndARecordedAddressAreLeftAlone) {
    Act("ACO-0000099999", "ИНВ-99");
    const std::string unknown =
        Utm.PlaceIncoming("INVENTORYREGINFO", Fixture("InventoryRegInfo_F2.xml"));
    const std::string noRoot = Utm.PlaceIncoming(
        "INVENTORYREGINFO",
        "<ns:Documents xmlns:ns=\"http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\"><ns:Document/>"
        "</ns:Documents>");
    const std::string recorded =
        Utm.PlaceIncoming("INVENTORYREGINFO", Fixture("InventoryRegInfo_B.xml"));
    RecordOldLink(recorded);
    Run();
    EXPECT_FALSE(Recorded(unknown));
    EXPECT_FALSE(Recorded(noRoot));
    EXPECT_EQ("ACO-0000099999|-\n", Rows(kHeadSql));
    EXPECT_EQ(2, Count("S_EGAIS_INFORMS"));
    EXPECT_NE(std::string::npos, Log().find("В БД не найден документ с ACT_REG_ID=ACO-0000020417"));
    EXPECT_NE(std::string::npos,
              Log().find("TEgaisInventoryRegInfoJob: в " + noRoot + " не найден aint:Header"));
    const std::vector<std::string> requests = Utm.Requests();
    EXPECT_EQ(0, std::count(requests.begin(), requests.end(),
                            "GET " + recorded.substr(recorded.find("/opt/"))));
}

}  // namespace
