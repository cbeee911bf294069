// Every document the service sends, built from data shaped as the back office really
// holds it, checked against the regulator's schemas: the UTM refuses a document that
// breaks them, and the shop would only learn it from a rejecting ticket hours later.
#include <gtest/gtest.h>

#include <iostream>

#include "BuilderDb.h"
#include "TestSupport.h"
#include "XsdValidator.h"
#include "uDbProvider.h"
#include "uEgaisDocumentBuilder.h"

namespace {

// Marks as the schemas' amc pattern allows them: the 150-character PDF417 code (two
// 3-digit codes, an 8-digit serial, month, year, a 3-digit code and 129 of [0-9A-Z]) and
// the 68-character one. The waybills send only marks longer than 67 characters.
// Counterparties: 12-digit FSRAR ids, INN of 10 or 12 digits, KPP of 9, two-digit
// regions (one padded as old cards hold it), a foreign consignee, a card whose kind is
// set explicitly to TS although it carries Russian tax numbers.
const char* const kFixture = R"(
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION, TYPE_PREFIX) VALUES
  (1, '030000123456', '7701234567', '770101001', 'ООО "Ромашка" & <Сыны>', 'Ромашка', '643', '77', 'г. Москва, ул. Ленина, д. 1', NULL);
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION, TYPE_PREFIX) VALUES
  (2, '030000654321', '5001234567', '500101001', 'АО «Лютик»', 'Лютик', '643', ' 50 ', 'Московская обл., г. Химки', NULL);
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION, TYPE_PREFIX) VALUES
  (3, '050000000001', '123456789012', NULL, 'ТОО ''Алматы Спирт''', NULL, '398', ' 00 ', 'Казахстан, г. Алматы', NULL);
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION, TYPE_PREFIX) VALUES
  (4, '010000000004', '7801234567', '780101001', 'ЗАО Ликёрка', 'Ликёрка', '643', ' 78', 'Санкт-Петербург, пр. Обуховской обороны, д. 5', 'UL');
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION, TYPE_PREFIX) VALUES
  (5, '030000000005', '7705555555', '770501001', 'ООО Поставщик', NULL, '643', '77', 'г. Москва, ул. Тверская, д. 7', NULL);
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION, TYPE_PREFIX) VALUES
  (6, '030000000006', '7706666666', '770601001', 'ООО Импортёр', NULL, '643', '77', 'г. Москва, ул. Арбат, д. 2', NULL);
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION, TYPE_PREFIX) VALUES
  (7, '040000000007', NULL, NULL, 'Weinkellerei Mueller GmbH', 'Mueller', '276', NULL, 'Deutschland, Mainz, Rheinstrasse 3', NULL);
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION, TYPE_PREFIX) VALUES
  (8, '050000000008', '600900114077', '600901001', 'ОАО Минск Кристалл', NULL, '112', '77', 'Беларусь, г. Минск', 'TS');

INSERT INTO S_EGAIS_PRODUCT (ID, FULL_NAME, SHORT_NAME, ALC_CODE, CAPACITY, ALC_VOLUME, V_CODE, PRODUCER, IMPORTER) VALUES
  (1, 'Водка "Столичная" 0,5 л', 'Столичная', '0000000000012345678', 0.5, 40, '200', 4, NULL);
INSERT INTO S_EGAIS_PRODUCT (ID, FULL_NAME, SHORT_NAME, ALC_CODE, CAPACITY, ALC_VOLUME, V_CODE, PRODUCER, IMPORTER) VALUES
  (2, 'Пиво светлое <разливное>', NULL, '0300000000087654321', NULL, 4.5, '261', 3, 6);
INSERT INTO S_EGAIS_PRODUCT (ID, FULL_NAME, SHORT_NAME, ALC_CODE, CAPACITY, ALC_VOLUME, V_CODE, PRODUCER, IMPORTER) VALUES
  (3, 'Водка "Кристалл" 0,7 л', NULL, '0150000000000000003', 0.7, 40, '200', 8, 6);

INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (1, 'A', 'FA-000000012345671');
INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (2, 'B', 'FB-000000012345672');
INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (3, 'A', 'FA-000000012345673');
INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (4, 'B', 'FB-000000012345674');

INSERT INTO RG_EGAIS_DOC_HEAD (ID, FSRAR_ID, UTM_DOC_TYPE, UTM_DOC_ID, DOC_NUMBER, R_DATETIME, SHIPPING_DATE, UNIT_TYPE,
    SHIPPER, CONSIGNEE, SUPPLIER, TRAN_TYPE, TRAN_COMPANY, TRAN_CAR, TRAN_TRAILER, TRAN_CUSTOMER, TRAN_DRIVER,
    TRAN_LOADPOINT, TRAN_UNLOADPOINT, TRAN_REDIRECT, TRAN_FORWARDER, BASE, NOTE) VALUES
  (1, '030000123456', 1, 'WB-0001', 'ТН-15/3', '2024-03-05 14:30:00', '2024-03-06', 'Packed',
   1, 2, 5, '413', 'ООО "Перевозчик"', 'А123ВС77', 'АВ1234 77', 'ООО Ромашка', 'Иванов И.И.',
   'г. Москва, ул. Ленина, д. 1', 'Московская обл., г. Химки, склад №2', NULL, 'Петров',
   'Договор №5 от 01.01.2024', 'Примечание: <срочно> & "быстро"');
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, QUANTITY, PRICE, PACK, PART_NUMBER, INFORM1_ID, INFORM2_ID) VALUES
  (11, 1, 1, 1, -12, 345.5, 'P-1', NULL, 1, 2);
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, QUANTITY, PRICE, PACK, PART_NUMBER, INFORM1_ID, INFORM2_ID) VALUES
  (12, 1, 2, 2, 2.125, 0.1, NULL, 'П-7', 3, 4);
INSERT INTO RG_EGAIS_DOC_PDF417 (ID, EGAIS_DOC_TABLE_ID, MARK_CODE) VALUES (101, 11, RPAD('101102000000010524001', 150, 'A0Z9'));
INSERT INTO RG_EGAIS_DOC_PDF417 (ID, EGAIS_DOC_TABLE_ID, MARK_CODE) VALUES (102, 11, '1234567890123456789012345678901234567891');
INSERT INTO RG_EGAIS_DOC_PDF417 (ID, EGAIS_DOC_TABLE_ID, MARK_CODE) VALUES (103, 11, RPAD('101102000000020524001', 150, 'B1Y8'));
INSERT INTO RG_EGAIS_DOC_PDF417 (ID, EGAIS_DOC_TABLE_ID, MARK_CODE) VALUES (104, 12, RPAD('22N0000123456789ABCDEFG10120000000001', 68, 'Zz9'));

INSERT INTO RG_EGAIS_DOC_HEAD (ID, FSRAR_ID, UTM_DOC_TYPE, UTM_DOC_ID, DOC_NUMBER, R_DATETIME, SHIPPING_DATE, UNIT_TYPE,
    SHIPPER, CONSIGNEE, TRAN_COMPANY, TRAN_CAR, TRAN_CUSTOMER, TRAN_DRIVER, TRAN_LOADPOINT, TRAN_UNLOADPOINT, BASE, NOTE) VALUES
  (2, '030000123456', 1, 'WB-0002', 'ТН-16', '2024-03-05 14:30:00', '2024-03-06', NULL,
   1, 7, NULL, NULL, 'Weinkellerei Mueller GmbH', NULL, 'г. Москва, ул. Ленина, д. 1', NULL,
   RPAD('Основание: договор поставки №12 ', 1000, 'ёж'), RPAD('Самовывоз получателем. ', 1000, 'ёжик '));
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, QUANTITY, PRICE, INFORM1_ID, INFORM2_ID) VALUES
  (21, 2, 1, 1, 6, 345.5, 1, 2);

INSERT INTO RG_EGAIS_DOC_HEAD (ID, FSRAR_ID, UTM_DOC_TYPE, UTM_DOC_ID, DOC_NUMBER, R_DATETIME, SHIPPING_DATE, UNIT_TYPE,
    SHIPPER, CONSIGNEE, TRAN_COMPANY, TRAN_CAR, TRAN_DRIVER) VALUES
  (3, '030000123456', 7, 'WB-0003', 'ТН-17', '2024-03-05 14:30:00', '2024-03-06', NULL,
   1, 4, 'ООО "Перевозчик"', 'А123ВС77', 'Иванов И.И.');
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, QUANTITY, PRICE, INFORM1_ID, INFORM2_ID) VALUES
  (31, 3, 1, 3, 1, 510, 3, 4);

INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, PROTOCOL_VERSION, WB_REG_ID, ACT_NUMBER, ACT_STATUS, ACT_DATE, ACT_NOTE) VALUES
  (10, 0, 4, 'TTN-0123456789', 'АКТ-1', 0, '2024-03-07 12:30:00', 'Бой: 2 бут. & <недостача>');
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, PROTOCOL_VERSION, WB_REG_ID, ACT_NUMBER, ACT_STATUS, ACT_DATE, ACT_NOTE) VALUES
  (11, 0, 4, 'TTN-0123456790', 'АКТ-2', 1, NULL, NULL);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, PROTOCOL_VERSION, WB_REG_ID, ACT_NUMBER, ACT_STATUS, ACT_DATE, ACT_NOTE) VALUES
  (12, 0, 4, 'TTN-0123456791', 'АКТ-3', -1, '2024-03-07 12:30:00', RPAD('Отказ: ', 1000, 'бой '));
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, QUANTITY, REAL_QUANTITY, INFORM1_ID, INFORM2_ID) VALUES (111, 10, 1, 12, 10, 1, 2);
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, QUANTITY, REAL_QUANTITY, INFORM1_ID, INFORM2_ID) VALUES (112, 10, 2, 0.5, 0.5, 3, 4);
INSERT INTO RG_EGAIS_DOC_MARKS (ID, EGAIS_DOC_HEAD_ID, EGAIS_DOC_TABLE_ID, MARK_CODE, CHECKED) VALUES (201, 10, 111, RPAD('101102000000010524001', 150, 'A0Z9'), 0);
INSERT INTO RG_EGAIS_DOC_MARKS (ID, EGAIS_DOC_HEAD_ID, EGAIS_DOC_TABLE_ID, MARK_CODE, CHECKED) VALUES (202, 10, 111, RPAD('101102000000020524001', 150, 'B1Y8'), 1);
INSERT INTO RG_EGAIS_DOC_MARKS (ID, EGAIS_DOC_HEAD_ID, EGAIS_DOC_TABLE_ID, MARK_CODE, CHECKED) VALUES (203, 10, 111, RPAD('22N0000123456789ABCDEFG10120000000001', 68, 'Zz9'), 0);
INSERT INTO RG_EGAIS_DOC_MARKS (ID, EGAIS_DOC_HEAD_ID, EGAIS_DOC_TABLE_ID, MARK_CODE, CHECKED) VALUES (204, 10, 112, '1234567890123456789012345678901234567890', 0);

INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, WB_REG_ID, ACT_NUMBER, ACT_STATUS, ACT_DATE, ACT_NOTE) VALUES
  (13, 1, 'TTN-0123456792', 'ОТЗ-1', -1, NULL, 'Отзыв накладной');

INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, WB_REG_ID, ACT_NUMBER, ACT_DATE, ACT_NOTE) VALUES
  (30, 6, 'TTN-0123456793', 'АКТ-30', '2024-03-09 08:00:00', 'Согласны & <подписано>');
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, WB_REG_ID, ACT_NUMBER, ACT_DATE, ACT_NOTE) VALUES
  (31, 6, 'TTN-0123456794', 'АКТ-31', NULL, RPAD('Не согласны: ', 1000, 'пересорт '));
)";

class XsdDb : public qortest::BuilderDbTest {
protected:
    std::string ExtraSql() const override { return kFixture; }
};

// The schema set, or the test is skipped with one line saying where it was looked for.
#define QOR_REQUIRE_XSD(schema)                                                     \
    const qortest::XsdSchema* schema = qortest::XsdSchema::Shared();                \
    if (!schema)                                                                    \
        GTEST_SKIP() << "EGAIS schemas not found in " << qortest::XsdDir().string() \
                     << " (set QOR_XSD_DIR)";

TEST_F(XsdDb, EveryKindTheServiceSendsValidates) {
    QOR_REQUIRE_XSD(schema);
    struct Case {
        TDocType Kind;
        int64_t Id;
        const char* What;
    };
    const Case cases[] = {
        {dtOutgoingWaybill, 1, "full waybill, supplier, importer, padded regions"},
        {dtOutgoingWaybill, 3, "return, NULL unit type, explicit TS producer"},
        {dtOutgoingWaybillV2, 1, "full waybill"},
        {dtOutgoingWaybillV2, 2, "foreign consignee, NULL car, long note and base"},
        {dtOutgoingWayBillV3, 1, "full waybill with 150- and 68-character marks"},
        {dtOutgoingWayBillV3, 2, "foreign consignee, NULL car, long note and base"},
        {dtOutgoingWayBillV4, 1, "full waybill with 150- and 68-character marks"},
        {dtOutgoingWayBillV4, 2, "foreign consignee, NULL car, long note and base"},
        {dtOutgoingWayBillV4, 3, "return, explicit TS producer with INN and KPP"},
        {dtReceptionAct, 10, "differences"},
        {dtReceptionAct, 11, "accepted, NULL date"},
        {dtReceptionAct, 12, "rejected, long note"},
        {dtReceptionActV2, 10, "differences"},
        {dtReceptionActV2, 11, "accepted, NULL date"},
        {dtReceptionActV2, 12, "rejected, long note"},
        {dtReceptionActV3, 10, "differences with marks"},
        {dtReceptionActV3, 11, "accepted, NULL date"},
        {dtReceptionActV3, 12, "rejected, long note"},
        {dtReceptionActV4, 10, "differences with marks"},
        {dtReceptionActV4, 11, "accepted, NULL date"},
        {dtReceptionActV4, 12, "rejected, long note"},
        {dwWithdrawSendedWaybill, 13, "withdrawal, NULL date"},
        {dtConfirmAct, 30, "confirmation of a partner's act"},
        {dtRejectAct, 31, "rejection, NULL date, long note"},
    };
    for (const Case& c : cases) {
        const std::string sName = DocTypeName(c.Kind) + " ID=" + std::to_string(c.Id);
        SCOPED_TRACE(sName);
        TDocBuilder builder;
        const std::string text = builder.BuildDocumentFromDb(c.Kind, c.Id).xml();
        const std::vector<std::string> errors = schema->Validate(text);
        EXPECT_TRUE(errors.empty()) << qortest::JoinLines(errors) << text;
        std::cout << (errors.empty() ? "valid:   " : "INVALID: ") << sName << " (" << c.What
                  << ")\n";
    }
}

TEST(XsdFiles, ExpectedOutgoingDocumentsValidate) {
    QOR_REQUIRE_XSD(schema);
    qortest::ExpectFolderValid(*schema, qortest::SourceDir() / "tests/outgoing/expected");
}

}  // namespace
