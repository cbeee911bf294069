// Our own v4 waybill as the consignee's service reads it: what one organisation sends
// must come back whole at the other, the car number included.
#include <gtest/gtest.h>

#include "IncomingEnv.h"
#include "XsdValidator.h"
#include "uEgaisDocumentBuilder.h"
#include "uIncomingWayBillJob.h"

namespace {

using incomingtest::IncomingEnv;

constexpr const char* kShipperId = "030000123456";

// The shipper's back office: a waybill to us (kFsrarId) with a car, two lines, their
// Form A and B, and marks of both lengths a waybill sends.
const char* const kSent[] = {
    "INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, "
    "REGION_CODE, DESCRIPTION) VALUES (1, '030000123456', '7701234567', '770101001', 'ООО "
    "\"Ромашка\"', 'Ромашка', '643', '77', 'г. Москва, ул. Ленина, д. 1')",
    "INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, "
    "REGION_CODE, DESCRIPTION) VALUES (2, '010000000001', '5047000001', '504701001', 'АО "
    "«Лютик»', 'Лютик', '643', ' 50', 'Московская обл., г. Химки')",
    "INSERT INTO S_EGAIS_PRODUCT (ID, FULL_NAME, SHORT_NAME, ALC_CODE, CAPACITY, ALC_VOLUME, "
    "V_CODE, PRODUCER) VALUES (1, 'Водка \"Столичная\" 0,5 л', 'Столичная', "
    "'0000000000012345678', 0.5, 40, '200', 1)",
    "INSERT INTO S_EGAIS_PRODUCT (ID, FULL_NAME, ALC_CODE, CAPACITY, ALC_VOLUME, V_CODE, "
    "PRODUCER) VALUES (2, 'Коньяк «Старый город» 0,7 л', '0150320000001193433', 0.7, 40, '230', "
    "1)",
    "INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (1, 'A', "
    "'FA-000000012345671')",
    "INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (2, 'B', "
    "'FB-000000012345672')",
    "INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (3, 'A', "
    "'FA-000000012345673')",
    "INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (4, 'B', "
    "'FB-000000012345674')",
    "INSERT INTO RG_EGAIS_DOC_HEAD (ID, FSRAR_ID, UTM_DOC_TYPE, UTM_DOC_ID, DOC_NUMBER, "
    "R_DATETIME, SHIPPING_DATE, SHIPPER, CONSIGNEE, TRAN_TYPE, TRAN_COMPANY, TRAN_CAR, "
    "TRAN_TRAILER, TRAN_CUSTOMER, TRAN_DRIVER, TRAN_LOADPOINT, TRAN_UNLOADPOINT, TRAN_FORWARDER, "
    "BASE, NOTE) VALUES (1, '030000123456', 1, 'WB-0001', 'ТН-15/3', '2026-12-09 14:30:00', "
    "'2026-12-10', 1, 2, 413, 'ООО \"Перевозчик\"', 'ГАЗель А123ВС77', 'АВ1234 77', 'ООО "
    "Ромашка', 'Иванов И.И.', 'г. Москва, ул. Ленина, д. 1', 'Московская обл., г. Химки, склад "
    "№2', 'Петров', 'Договор №5 от 01.01.2026', 'Поставка к Новому году')",
    "INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, "
    "QUANTITY, PRICE, PACK, PART_NUMBER, INFORM1_ID, INFORM2_ID) VALUES (11, 1, 1, 1, 12, 345.5, "
    "'P-1', 'П-7', 1, 2)",
    "INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, "
    "QUANTITY, PRICE, INFORM1_ID, INFORM2_ID) VALUES (12, 1, 2, 2, 2, 1500, 3, 4)",
    "INSERT INTO RG_EGAIS_DOC_PDF417 (ID, EGAIS_DOC_TABLE_ID, MARK_CODE) VALUES (101, 11, "
    "RPAD('101102000000010524001', 150, 'A0Z9'))",
    "INSERT INTO RG_EGAIS_DOC_PDF417 (ID, EGAIS_DOC_TABLE_ID, MARK_CODE) VALUES (102, 11, "
    "RPAD('22N0000123456789ABCDEFG10120000000001', 68, 'Zz9'))",
    "INSERT INTO RG_EGAIS_DOC_PDF417 (ID, EGAIS_DOC_TABLE_ID, MARK_CODE) VALUES (103, 12, "
    "RPAD('101102000000020524001', 150, 'B1Y8'))",
};

// The header as both sides hold it; the date column differs: the sender's document date
// is R_DATETIME, the receiver's DOC_DATE.
std::string HeadSql(const char* sDateColumn) {
    return std::string("SELECT h.DOC_NUMBER, CAST(CAST(h.") + sDateColumn +
           " AS DATE) AS VARCHAR(10)), CAST(CAST(h.SHIPPING_DATE AS DATE) AS VARCHAR(10)), "
           "h.TRAN_TYPE, h.TRAN_COMPANY, h.TRAN_CAR, h.TRAN_TRAILER, h.TRAN_CUSTOMER, "
           "h.TRAN_DRIVER, h.TRAN_LOADPOINT, h.TRAN_UNLOADPOINT, h.TRAN_FORWARDER, h.BASE, "
           "h.NOTE, s.CLIENTREG_ID, s.INN, s.KPP, c.CLIENTREG_ID, c.INN, c.KPP "
           "FROM RG_EGAIS_DOC_HEAD h JOIN S_EGAIS_COUNTERPART s ON s.ID = h.SHIPPER "
           "JOIN S_EGAIS_COUNTERPART c ON c.ID = h.CONSIGNEE";
}
constexpr const char* kLinesSql =
    "SELECT t.POSITION_ID, p.ALC_CODE, p.FULL_NAME, CAST(t.QUANTITY AS VARCHAR(30)), "
    "CAST(t.PRICE AS VARCHAR(30)), t.PACK, t.PART_NUMBER, a.INFORM_TYPE || ':' || "
    "a.INFORM_REG_ID, b.INFORM_TYPE || ':' || b.INFORM_REG_ID FROM RG_EGAIS_DOC_TABLE t "
    "JOIN S_EGAIS_PRODUCT p ON p.ID = t.EGAIS_PRODUCT_ID "
    "LEFT JOIN S_EGAIS_INFORMS a ON a.ID = t.INFORM1_ID "
    "LEFT JOIN S_EGAIS_INFORMS b ON b.ID = t.INFORM2_ID ORDER BY t.POSITION_ID";
// The marks a waybill sends (longer than 67 characters), and those the reader stored.
constexpr const char* kSentMarksSql =
    "SELECT t.POSITION_ID, m.MARK_CODE FROM RG_EGAIS_DOC_PDF417 m JOIN RG_EGAIS_DOC_TABLE t ON "
    "t.ID = m.EGAIS_DOC_TABLE_ID WHERE CHAR_LENGTH(m.MARK_CODE) > 67 ORDER BY 1, 2";
constexpr const char* kReadMarksSql =
    "SELECT t.POSITION_ID, m.MARK_CODE FROM RG_EGAIS_DOC_MARKS m JOIN RG_EGAIS_DOC_TABLE t ON "
    "t.ID = m.EGAIS_DOC_TABLE_ID ORDER BY 1, 2";

class WayBillRoundTrip : public IncomingEnv {};

TEST_F(WayBillRoundTrip, OurV4WaybillIsReadBackWholeByTheConsignee) {
    // The shipper's service builds the waybill.
    SetSettingProperty("FSRAR_ID", kShipperId);
    for (const char* sql : kSent) qortest::Exec(sql);
    const std::string sentHead = Rows(HeadSql("R_DATETIME"));
    const std::string sentLines = Rows(kLinesSql);
    const std::string sentMarks = Rows(kSentMarksSql);
    ASSERT_NE(sentMarks, "");
    TDocBuilder builder;
    const std::string sDocument = builder.BuildDocumentFromDb(dtOutgoingWayBillV4, 1).xml();

    // The consignee's service, on a database of its own, reads it from its UTM.
    Fresh();
    qortest::Exec("DELETE FROM RG_EGAIS_DOC_PDF417");
    SetSettingProperty("FSRAR_ID", utmtest::kFsrarId);
    Utm.PlaceIncoming("WayBill_v4", sDocument);
    RefreshList();
    TEgaisIncomingWayBillJob job;
    job.SetLimitJobRunningTime(990000);
    job.Perform();

    ASSERT_EQ(1, Count("RG_EGAIS_DOC_HEAD")) << sDocument;
    EXPECT_EQ(sentHead, Rows(HeadSql("DOC_DATE")));
    EXPECT_NE(std::string::npos, sentHead.find("|ГАЗель А123ВС77|"));
    EXPECT_EQ("WB-0001/2026-12-09/ТН-15/3|4\n",
              Rows("SELECT UTM_DOC_ID, PROTOCOL_VERSION FROM RG_EGAIS_DOC_HEAD"));
    EXPECT_EQ(sentLines, Rows(kLinesSql));
    EXPECT_EQ(sentMarks, Rows(kReadMarksSql));
}

// The readers are tested on the shape EGAIS really sends: every fixture validates.
TEST(IncomingFixtures, ValidateAgainstTheSchemas) {
    const qortest::XsdSchema* schema = qortest::XsdSchema::Shared();
    if (!schema)
        GTEST_SKIP() << "EGAIS schemas not found in " << qortest::XsdDir().string()
                     << " (set QOR_XSD_DIR)";
    qortest::ExpectFolderValid(*schema, qortest::SourceDir() / "tests/incoming/fixtures");
}

}  // namespace
