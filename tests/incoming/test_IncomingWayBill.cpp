#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "IncomingEnv.h"
#include "uEgaisStorage.h"
#include "uIncomingWayBillJob.h"

namespace {

using incomingtest::IncomingEnv;
using qortest::Exec;
using qortest::Value;

// The head, its lines with their registrations, and the marks of the last stored waybill.
constexpr const char* kHeadSql =
    "SELECT h.UTM_DOC_ID, h.UTM_DOC_TYPE, h.DOC_NUMBER, CAST(CAST(h.DOC_DATE AS DATE) AS "
    "VARCHAR(10)), CAST(h.SHIPPING_DATE AS VARCHAR(10)), "
    "h.STATUS, h.QOR_STATE, h.ACT_STATUS, h.PROTOCOL_VERSION, h.FSRAR_ID, s.CLIENTREG_ID, "
    "c.CLIENTREG_ID, h.SUPPLIER, h.TRAN_TYPE, h.TRAN_COMPANY, h.TRAN_CAR, h.UNIT_TYPE, h.BASE, "
    "h.NOTE FROM RG_EGAIS_DOC_HEAD h LEFT JOIN S_EGAIS_COUNTERPART s ON s.ID = h.SHIPPER "
    "LEFT JOIN S_EGAIS_COUNTERPART c ON c.ID = h.CONSIGNEE ORDER BY h.ID";
constexpr const char* kLinesSql =
    "SELECT t.POSITION_ID, p.ALC_CODE, CAST(t.QUANTITY AS VARCHAR(30)), CAST(t.PRICE AS "
    "VARCHAR(30)), t.PACK, t.PART_NUMBER, a.INFORM_TYPE || ':' || a.INFORM_REG_ID, "
    "b.INFORM_TYPE || ':' || b.INFORM_REG_ID, (SELECT COUNT(*) FROM RG_EGAIS_DOC_MARKS m WHERE "
    "m.EGAIS_DOC_TABLE_ID = t.ID AND m.EGAIS_DOC_HEAD_ID = t.EGAIS_DOC_HEAD_ID AND m.INFORM1_ID = "
    "a.ID AND m.INFORM2_ID = b.ID) FROM RG_EGAIS_DOC_TABLE t "
    "LEFT JOIN S_EGAIS_PRODUCT p ON p.ID = t.EGAIS_PRODUCT_ID "
    "LEFT JOIN S_EGAIS_INFORMS a ON a.ID = t.INFORM1_ID "
    "LEFT JOIN S_EGAIS_INFORMS b ON b.ID = t.INFORM2_ID ORDER BY t.ID";
constexpr const char* kMarksSql =
    "SELECT t.POSITION_ID, m.BOX_NUMBER, m.MARK_CODE FROM RG_EGAIS_DOC_MARKS m JOIN "
    "RG_EGAIS_DOC_TABLE t ON t.ID = m.EGAIS_DOC_TABLE_ID ORDER BY m.ID";
constexpr const char* kProductsSql =
    "SELECT p.ALC_CODE, p.FULL_NAME, p.SHORT_NAME, CAST(p.CAPACITY AS VARCHAR(30)), "
    "CAST(p.ALC_VOLUME AS VARCHAR(30)), p.V_CODE, c.CLIENTREG_ID FROM S_EGAIS_PRODUCT p "
    "LEFT JOIN S_EGAIS_COUNTERPART c ON c.ID = p.PRODUCER ORDER BY p.ALC_CODE";

// Marks and box numbers of the shapes the schemas allow, as EGAIS sends them.
const std::string kMarkA = "22N00001XPEK1VN7QI911AA01121600223030ST5YOFLKF82YPIHDN5AHVAMOKD7C";
const std::string kMark150 = "236200000000010524001" + std::string(128, '0');
std::string Box(int i) {
    return "0204600000000000000000000" + std::to_string(i);
}

class IncomingWayBill : public IncomingEnv {
protected:
    // One run of a fresh job on this thread, as a worker runs it.
    void Run() {
        RefreshList();
        TEgaisIncomingWayBillJob job;
        job.SetLimitJobRunningTime(990000);
        job.Perform();
    }
    int Gets(const std::string& url) const {
        auto requests = Utm.Requests();
        return int(
            std::count(requests.begin(), requests.end(), "GET " + url.substr(url.find("/opt/"))));
    }
};

struct VersionCase {
    const char* Kind;
    const char* File;
    std::string Head, Lines, Marks, Products;
};

TEST_F(IncomingWayBill, StoresEveryVersionWithItsLinesRegistrationsAndMarks) {
    const VersionCase cases[] = {
        {"WayBill_v4", "WayBill_v4.xml",
         "ТТН-4-0001/2026-12-09/РН-000123/4|0|РН-000123/4|2026-12-09|2026-12-10|"
         "1|255|0|4|010000000001|020000000002|010000000001|-|413|ООО «Быстрая "
         "доставка»|ГАЗель А123ВС77|-|Договор поставки № 17 от 01.02.2026|Поставка к Новому году\n",
         "1|0150320000001193421|4.0000|1234.57|-|П-2026-11|A:FA-000000041111111|B:FB-"
         "000000041111111|4\n"
         "2|0300000000000000042|30.5000|95.50|КЕГ-30|-|A:FA-000000042222222|B:FB-000000042222222|"
         "0\n"
         "3|0150320000001193433|2.0000|1500.00|-|-|A:FA-000000043333333|B:FB-000000043333333|2\n",
         "1|" + Box(1) + "|" + kMarkA + "VJQ\n1|" + Box(1) + "|" + kMarkA + "VJR\n1|" + Box(2) +
             "|" + kMarkA + "VJS\n1|" + Box(2) + "|" + kMarkA + "VJT\n3|" + Box(3) + "|" +
             kMark150 + "1\n3|box-1|" + kMark150 + "2\n",
         "0150320000001193421|Водка «Пшеничная слеза» 0,5 л|Пшеничная слеза|0.5000|40.000|200|"
         "030000000003\n"
         "0150320000001193433|Коньяк «Старый город» пятилетний 0,7 л|Старый город 5|0.7000|40.000|"
         "230|030000000003\n"
         "0300000000000000042|Пиво светлое «Жигулёвское» разливное||-|4.500|500|030000000004\n"},
        {"WayBill_v3", "WayBill_v3.xml",
         "ТТН-3-0001/2026-12-09/РН-000123/3|0|РН-000123/3|2026-12-09|2026-12-10|"
         "1|255|0|3|010000000001|020000000002|010000000001|-|413|ООО «Быстрая "
         "доставка»|ГАЗель А123ВС77|-|Договор поставки № 17 от 01.02.2026|Поставка к Новому году\n",
         "1|0150320000001193421|4.0000|1234.57|-|П-2026-11|A:FA-000000031111111|B:FB-"
         "000000031111111|4\n" +
             std::to_string(int32_t(CRC32("поз-2"))) +
             "|0300000000000000042|30.5000|95.50|КЕГ-30|-|A:FA-000000032222222|B:FB-"
             "000000032222222|0\n"
             "3|0150320000001193433|2.0000|1500.00|-|-|A:FA-000000033333333|B:FB-"
             "000000033333333|2\n",
         "1|" + Box(1) + "|" + kMarkA + "V3Q\n1|" + Box(1) + "|" + kMarkA + "V3R\n1|" + Box(2) +
             "|" + kMarkA + "V3S\n1|" + Box(2) + "|" + kMarkA + "V3T\n3|" + Box(3) + "|" +
             kMark150.substr(0, 148) + "31\n3|box-1|" + kMark150.substr(0, 148) + "32\n",
         "0150320000001193421|Водка «Пшеничная слеза» 0,5 л|Пшеничная слеза|0.5000|40.000|200|"
         "030000000003\n"
         "0150320000001193433|Коньяк «Старый город» пятилетний 0,7 л|Старый город 5|0.7000|40.000|"
         "230|030000000003\n"
         "0300000000000000042|Пиво светлое «Жигулёвское» разливное||10.0000|4.500|500|"
         "030000000004\n"},
        {"WayBill_v2", "WayBill_v2.xml",
         "ТТН-2-0001/2026-12-09/РН-000123/2|4|РН-000123/2|2026-12-09|2026-12-10|"
         "1|255|0|2|010000000001|020000000002|010000000001|-|0|-|КамАЗ Е555КХ50|-|-|-\n",
         "10|0000000000002000001|12.0000|350.00|-|-|A:FA-000000021111111|B:FB-000000021111111|0\n"
         "11|0000000000002000002|6.0000|720.50|-|-|A:FA-000000022222222|B:FB-000000022222222|0\n",
         "",
         "0000000000002000001|Вино столовое красное сухое «Кубань» 0,75 л||0.7500|12.000|403|"
         "030000000004\n"
         "0000000000002000002|Вино игристое «Абрау» 0,75 л||10.0000|11.000|440|030000000004\n"},
        {"WayBill", "WayBill.xml",
         "ТТН-1-0001/2026-12-08/РН-000123/1|0|РН-000123/1|2026-12-08|2026-12-09|"
         "1|255|0|1|010000000001|020000000002|010000000001|-|-|ООО «Быстрая "
         "доставка»|-|Packed|Договор № 1|-\n",
         "1|0000000000001000001|20.0000|180.00|-|ПАРТИЯ-1|A:FA-000000011111111|B:FB-"
         "000000011111111|0\n"
         "2|0000000000001000002|10.0000|420.25|-|-|A:FA-000000012222222|B:FB-000000012222222|0\n",
         "",
         "0000000000001000001|Настойка горькая «Перцовая» 0,25 л||0.2500|35.000|237|030000000005\n"
         "0000000000001000002|Водка «Уральская» 1 л||10.0000|40.000|200|-\n"},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.Kind);
        Fresh();
        const std::string url = Utm.PlaceIncoming(c.Kind, Fixture(c.File));
        Run();
        EXPECT_EQ(c.Head, Rows(kHeadSql));
        EXPECT_EQ(c.Lines, Rows(kLinesSql));
        EXPECT_EQ(c.Marks, Rows(kMarksSql));
        EXPECT_EQ(c.Products, Rows(kProductsSql));
        EXPECT_EQ(url, Value("SELECT UTM_LINK FROM RG_EGAIS_DOC_HEAD").AsString());
        EXPECT_EQ(std::vector<std::string>{url}, RecordedLinks());
        // The document stays in the UTM until the garbage remover deletes it; a UTM
        // document already stored is neither fetched nor stored again.
        EXPECT_EQ(std::vector<std::string>{url}, Utm.IncomingUrls());
        Run();
        EXPECT_EQ(1, Count("RG_EGAIS_DOC_HEAD"));
        EXPECT_EQ(1, Gets(url));
    }
}

TEST_F(IncomingWayBill, CounterpartiesAreUpdatedNotDuplicatedAndKeepTheirTaxNumbers) {
    Utm.PlaceIncoming("WayBill_v4", Fixture("WayBill_v4.xml"));
    Run();
    EXPECT_EQ(
        "010000000001|5047000001|504701001|АО «Лютик»|Лютик|643|50\n"
        "020000000002|7712345678|771201001|Общество с ограниченной ответственностью «Винный "
        "погреб»|ООО «Винный погреб»|643|77\n"
        "030000000003|3301000001|330101001|АО «Владимирский ликёро-водочный завод»|ВЛВЗ|643|33\n"
        "030000000004|5001000004|500101001|ООО «Пивоварня Химки»|-|643|50\n",
        Rows("SELECT CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE FROM "
             "S_EGAIS_COUNTERPART ORDER BY CLIENTREG_ID"));
}

TEST_F(IncomingWayBill, AWaybillForAnotherParticipantIsRefusedOnceAndSkippedFromThenOn) {
    SetSettingProperty("FSRAR_ID", "010000000999");
    const std::string url = Utm.PlaceIncoming("WayBill_v4", Fixture("WayBill_v4.xml"));
    Run();
    EXPECT_EQ(0, Count("RG_EGAIS_DOC_HEAD"));
    EXPECT_EQ(0, Count("RG_EGAIS_DOC_TABLE"));
    EXPECT_TRUE(RecordedLinks().empty());
    EXPECT_EQ(
        "QOR-service|BackOffice|Настройки программы КОР не соответствуют УТМ.\r\nДо "
        "устранения несоответствия прием ТТН ЕГАИС невозможен.|0\n",
        Rows("SELECT SENDER, RECEIVER, SHORT_MESSAGE, MESSAGE_STATE FROM "
             "S_P_RMK_SHORT_MESSAGES"));
    EXPECT_TRUE(SkipDocsContains(url));
    EXPECT_NE(std::string::npos,
              Log().find("TEgaisIncomingWayBillJob: FSRAR ID ТТН: 010000000001"));

    Run();  // not fetched again, no second message, and it stays in the UTM
    EXPECT_EQ(1, Gets(url));
    EXPECT_EQ(1, Count("S_P_RMK_SHORT_MESSAGES"));
    EXPECT_EQ(std::vector<std::string>{url}, Utm.IncomingUrls());
}

// A job that is told to stop at its n-th abort check, and counts the checks.
class TStoppingJob : public TEgaisIncomingWayBillJob {
public:
    explicit TStoppingJob(int iStopAt) : FStopAt(iStopAt) {}
    void CheckForAbort() override {
        if (++Checks == FStopAt) throw EQorJobException("thread were stopped or terminated");
        TEgaisIncomingWayBillJob::CheckForAbort();
    }
    // Transfers are not checked, so that the count does not depend on their progress.
    void DoHttp() override {}
    int Checks = 0;

private:
    int FStopAt;
};

TEST_F(IncomingWayBill, AStopInTheMiddleOfStoringLeavesNothingAndTheNextRunStoresItWhole) {
    const std::string url = Utm.PlaceIncoming("WayBill_v4", Fixture("WayBill_v4.xml"));
    RefreshList();
    int iChecks = 0;
    {
        TStoppingJob counting(-1);
        counting.SetLimitJobRunningTime(990000);
        counting.Perform();
        iChecks = counting.Checks;
    }
    ASSERT_EQ(1, Count("RG_EGAIS_DOC_HEAD"));
    for (const char* table : {"RG_EGAIS_DOC_MARKS", "RG_EGAIS_DOC_TABLE", "RG_EGAIS_DOC_HEAD",
                              "S_EGAIS_INFORMS", "S_EGAIS_UTM_LINKS"})
        Exec(std::string("DELETE FROM ") + table);

    // The last check is the one before the third position: two positions with their
    // registrations and marks are written by then.
    TStoppingJob stopping(iChecks);
    stopping.SetLimitJobRunningTime(990000);
    stopping.Perform();
    EXPECT_EQ(iChecks, stopping.Checks);
    for (const char* table : {"RG_EGAIS_DOC_HEAD", "RG_EGAIS_DOC_TABLE", "RG_EGAIS_DOC_MARKS",
                              "S_EGAIS_INFORMS", "S_EGAIS_UTM_LINKS"})
        EXPECT_EQ(0, Count(table)) << table;
    EXPECT_NE(std::string::npos, Log().find("thread were stopped or terminated"));

    Run();
    EXPECT_EQ(1, Count("RG_EGAIS_DOC_HEAD"));
    EXPECT_EQ(3, Count("RG_EGAIS_DOC_TABLE"));
    EXPECT_EQ(6, Count("RG_EGAIS_DOC_MARKS"));
    EXPECT_EQ(std::vector<std::string>{url}, RecordedLinks());
}

struct BadCase {
    const char* Name;
    std::vector<std::pair<std::string, std::string>> Replace;
    const char* Log;  // what the log must show
};

TEST_F(IncomingWayBill, ABrokenWaybillLeavesNothingStaysInTheUtmAndTheNextOneIsStored) {
    const std::string good = Fixture("WayBill_v4.xml");
    const BadCase cases[] = {
        {"not well-formed", {{"</ns:Documents>", ""}}, "EXmlException"},
        {"no Form B",
         {{"<ce:F2RegId>FB-000000043333333</ce:F2RegId>", ""}},
         "Не найден тег ce:F2RegId"},
        {"quantity not a number",
         {{"<wb:Quantity>2</wb:Quantity>", "<wb:Quantity>два</wb:Quantity>"}},
         "EDbError"},
        {"no header",
         {{"<wb:Header>", "<wb:Head>"}, {"</wb:Header>", "</wb:Head>"}},
         "Не удалось найти тег wb:Header"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Fresh();
        std::string bad = good;
        for (const auto& [from, to] : c.Replace) bad.replace(bad.find(from), from.size(), to);
        std::string next = good;
        next.replace(next.find("ТТН-4-0001"), std::string("ТТН-4-0001").size(), "ТТН-4-0002");
        const std::string badUrl = Utm.PlaceIncoming("WayBill_v4", bad);
        const std::string nextUrl = Utm.PlaceIncoming("WayBill_v4", next);
        const size_t iLogFrom = Log().size();
        Run();
        EXPECT_NE(std::string::npos, Log().find(c.Log, iLogFrom));
        EXPECT_EQ("ТТН-4-0002/2026-12-09/РН-000123/4\n",
                  Rows("SELECT UTM_DOC_ID FROM RG_EGAIS_DOC_HEAD"));
        EXPECT_EQ(3, Count("RG_EGAIS_DOC_TABLE"));
        EXPECT_EQ(6, Count("RG_EGAIS_DOC_MARKS"));
        EXPECT_EQ(std::vector<std::string>{nextUrl}, RecordedLinks());
        EXPECT_EQ((std::vector<std::string>{badUrl, nextUrl}), Utm.IncomingUrls());
    }
}

TEST_F(IncomingWayBill, StoredCounterpartsKeepWhatIsNotGivenAndProductsNeverChange) {
    TEgaisIncomingWayBillJob job;
    job.SetLimitJobRunningTime(990000);
    job.DoBefore();
    TQueryPtr q = NewQuery(TTxMode::Short);
    std::string sLongName;
    for (int i = 0; i < 200; ++i) sLongName += "Ж";
    TCounterpartRecord full;
    full.ClientRegId = "020000000002";
    full.Inn = "7712345678";
    full.Kpp = "771201001";
    full.FullName = sLongName;
    full.ShortName = "Погреб";
    full.Country = "643";
    full.RegionCode = "77";
    full.Descr = "г. Москва";
    const int64_t first = AddCounterPart(*q, full);
    TCounterpartRecord partial;
    partial.ClientRegId = "020000000002";
    partial.Kpp = "";
    partial.FullName = "ООО «Погреб»";
    partial.City = "Москва";
    partial.FsrarId = "0200000000";
    const int64_t second = AddCounterPart(*q, partial);
    EXPECT_EQ(first, second);
    EXPECT_EQ(
        "020000000002|7712345678|771201001|ООО «Погреб»|Погреб|643|77|Москва|г. "
        "Москва|0200000000\n",
        Rows("SELECT CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, "
             "CITY, DESCRIPTION, FSRAR_ID FROM S_EGAIS_COUNTERPART"));
    // A name longer than its column is cut to its first 150 characters.
    TCounterpartRecord longName;
    longName.ClientRegId = "020000000009";
    longName.FullName = sLongName;
    const int64_t third = AddCounterPart(*q, longName);
    EXPECT_EQ(int64_t(150), Value("SELECT CHAR_LENGTH(FULL_NAME) FROM S_EGAIS_COUNTERPART WHERE "
                                  "CLIENTREG_ID = '020000000009'")
                                .AsInt64());

    const int64_t product = AddProduct(
        *q, {"Водка «Тест»", "Тест", "0000000000000000001", "0.5", "40", "  200 ", first});
    const int64_t again =
        AddProduct(*q, {"Другое имя", "", "0000000000000000001", "0.7", "38", "300", third});
    EXPECT_EQ(product, again);
    EXPECT_EQ("Водка «Тест»|Тест|0.5000|200\n",
              Rows("SELECT FULL_NAME, SHORT_NAME, CAST(CAPACITY AS VARCHAR(20)), V_CODE FROM "
                   "S_EGAIS_PRODUCT"));
}

// A lock held by another connection is waited out; eleven conflicts in a row give up.
TEST_F(IncomingWayBill, ALockConflictIsTriedAgainUntilTheOtherTransactionEnds) {
    TEgaisIncomingWayBillJob job;
    job.SetLimitJobRunningTime(990000);
    job.DoBefore();
    TQueryPtr q = NewQuery(TTxMode::Short);
    TCounterpartRecord party;
    party.ClientRegId = "020000000002";
    party.FullName = "ООО";
    const int64_t id = AddCounterPart(*q, party);
    party.FullName = "ООО «Новое»";
    for (bool bRelease : {true, false}) {
        SCOPED_TRACE(bRelease ? "released after three conflicts" : "never released");
        utmtest::TLatch locked, release;
        std::thread holder([&] {
            SetDbParams(Db->Params());
            TQueryPtr h = NewQuery(TTxMode::Long);
            h->SetSQL(
                "UPDATE S_EGAIS_COUNTERPART SET CITY = 'x' WHERE CLIENTREG_ID = '020000000002'");
            h->ExecQuery();
            locked.Notify();
            release.Wait(std::chrono::seconds(30));
            h->Transaction().Rollback();
            h.reset();
            FreeDbProvider();
        });
        const bool bLocked = locked.Wait(std::chrono::seconds(30));
        EXPECT_TRUE(bLocked);
        int checks = 0;
        auto check = [&] {
            if (++checks == 3 && bRelease) release.Notify();
        };
        if (!bLocked) {
            release.Notify();
        } else if (bRelease) {
            const int64_t result = AddCounterPart(*q, party, check);
            EXPECT_EQ(id, result);
            EXPECT_EQ(4, checks);
        } else {
            EXPECT_THROW(AddCounterPart(*q, party, check), EDbError);
            EXPECT_EQ(10, checks);  // the eleventh conflict is raised at once
            release.Notify();
        }
        holder.join();
    }
}

}  // namespace
