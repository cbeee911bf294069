#include <gtest/gtest.h>

#include "BuilderDb.h"
#include "DbQueries.h"
#include "XmlCanon.h"
#include "uCommon.h"
#include "uDbProvider.h"
#include "uEgaisDocumentBuilder.h"
#include "uText.h"

using qortest::CanonicalXml;

namespace {

// One waybill (ID 1, two lines) built in every version, plus headers that each miss
// one piece of data.
const char* const kFixture = R"(
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION, TYPE_PREFIX) VALUES
  (1, '030000123456', '7701234567', '770101001', 'ООО "Ромашка" & <Сыны>', 'Ромашка', '643', '77', 'г. Москва, ул. Ленина, д. 1', NULL);
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION, TYPE_PREFIX) VALUES
  (2, '030000654321', '5001234567', '500101001', 'АО «Лютик»', NULL, '643', '50', 'МО', NULL);
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION, TYPE_PREFIX) VALUES
  (3, '050000000001', '123456789012', NULL, 'ТОО ''Алматы Спирт''', NULL, '398', ' 00 ', 'Алматы', NULL);
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION, TYPE_PREFIX) VALUES
  (4, '010000000004', '7801234567', '780101001', 'ЗАО Ликёрка', 'Ликёрка', '643', '78', 'Санкт-Петербург', 'UL');
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION, TYPE_PREFIX) VALUES
  (5, '030000000005', '7705555555', '770501001', 'ООО Поставщик', NULL, '643', '77', 'Москва', NULL);
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION, TYPE_PREFIX) VALUES
  (6, '030000000006', '7706666666', '770601001', 'ООО Импортёр', NULL, '643', '77', 'Москва', NULL);
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, COUNTRY, REGION_CODE, DESCRIPTION) VALUES
  (7, '030000000007', ' 7701234567 ', '770102002', 'ООО Ромашка, магазин', '643', '77', 'Москва');
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, COUNTRY, DESCRIPTION) VALUES
  (8, '030000000008', NULL, NULL, 'Без ИНН', '643', 'Москва');
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, COUNTRY, DESCRIPTION) VALUES
  (9, '030000000009', '', '770101001', 'Тоже без ИНН', '643', 'Москва');
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, COUNTRY, DESCRIPTION) VALUES
  (10, NULL, '7710101010', '771001001', 'Безымянный завод', '643', 'Москва');
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, COUNTRY, DESCRIPTION) VALUES
  (11, '030000000011', '7711111111', NULL, 'Без КПП', '643', 'Москва');
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, COUNTRY, DESCRIPTION) VALUES
  (12, '  ', '7712121212', '771201001', 'Пустой ид', '643', 'Москва');

INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, COUNTRY, REGION_CODE, DESCRIPTION, TYPE_PREFIX) VALUES
  (13, '050000000013', '600900114077', '600901001', 'ОАО Минск Кристалл', '112', '77', 'Минск', 'TS');
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, COUNTRY, REGION_CODE, DESCRIPTION) VALUES
  (14, '030000000014', '7714141414', '771401001', 'ООО Старая карточка', '643', ' 77', 'Москва');
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, COUNTRY, REGION_CODE, DESCRIPTION) VALUES
  (15, '030000000015', '7715151515', '771501001', 'ООО Без региона', '643', ' 00', 'Москва');
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, COUNTRY, REGION_CODE, DESCRIPTION) VALUES
  (16, '040000000016', NULL, NULL, 'Vinos Lopez S.A.', '724', NULL, '  ');

INSERT INTO S_EGAIS_PRODUCT (ID, FULL_NAME, SHORT_NAME, ALC_CODE, CAPACITY, ALC_VOLUME, V_CODE, PRODUCER, IMPORTER) VALUES
  (1, 'Водка "Столичная" 0,5 л', 'Столичная', '0000000000012345678', 0.5, 40, '200', 1, NULL);
INSERT INTO S_EGAIS_PRODUCT (ID, FULL_NAME, SHORT_NAME, ALC_CODE, CAPACITY, ALC_VOLUME, V_CODE, PRODUCER, IMPORTER) VALUES
  (2, 'Пиво светлое <разливное>', NULL, '0000000000087654321', NULL, 4.5, '500', 3, 6);
INSERT INTO S_EGAIS_PRODUCT (ID, FULL_NAME, ALC_CODE, CAPACITY, ALC_VOLUME, V_CODE, PRODUCER, IMPORTER) VALUES
  (3, 'Настойка', '0000000000000000003', 0.7, 35, '401', 10, NULL);
INSERT INTO S_EGAIS_PRODUCT (ID, FULL_NAME, ALC_CODE, CAPACITY, ALC_VOLUME, V_CODE, PRODUCER, IMPORTER) VALUES
  (4, 'Виски', '0000000000000000004', 0.7, 40, '230', 4, 12);

INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID, PRODUCER) VALUES (1, 'A', 'FA-000000000000001', 4);
INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (2, 'B', 'FB-000000000000001');
INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (3, 'A', 'FA-000000000000002');
INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (4, 'B', 'FB-000000000000002');

INSERT INTO RG_EGAIS_DOC_HEAD (ID, FSRAR_ID, UTM_DOC_TYPE, UTM_DOC_ID, DOC_NUMBER, R_DATETIME, SHIPPING_DATE, UNIT_TYPE,
    SHIPPER, CONSIGNEE, SUPPLIER, TRAN_TYPE, TRAN_COMPANY, TRAN_CAR, TRAN_TRAILER, TRAN_CUSTOMER, TRAN_DRIVER,
    TRAN_LOADPOINT, TRAN_UNLOADPOINT, TRAN_REDIRECT, TRAN_FORWARDER, BASE, NOTE) VALUES
  (1, '030000123456', 1, 'WB-0001', 'ТН-15/3', '2024-03-05 14:30:00', '2024-03-06', 'Packed',
   1, 2, 5, NULL, 'ООО "Перевозчик"', 'А123ВС77', '  ', 'ООО Ромашка', 'Иванов И.И.',
   'г. Москва, ул. Ленина, д. 1', 'Московская обл., г. Химки, склад №2', NULL, 'Петров',
   'Договор №5 от 01.01.2024', 'Примечание: <срочно> & "быстро"');
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, QUANTITY, PRICE, PACK, PART_NUMBER, INFORM1_ID, INFORM2_ID) VALUES
  (12, 1, 2, 2, 2.125, 0.1, '', 'П-7', 3, 4);
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, QUANTITY, PRICE, PACK, PART_NUMBER, INFORM1_ID, INFORM2_ID) VALUES
  (11, 1, 1, 1, -12, 345.5, 'P-1', NULL, 1, 2);
-- Marks of the schemas' amc patterns: 150-character PDF417 codes and a 68-character
-- one; the 67-character code is below the length a waybill sends.
INSERT INTO RG_EGAIS_DOC_PDF417 (ID, EGAIS_DOC_TABLE_ID, MARK_CODE) VALUES (101, 11, RPAD('101102000000010524001', 150, 'A'));
INSERT INTO RG_EGAIS_DOC_PDF417 (ID, EGAIS_DOC_TABLE_ID, MARK_CODE) VALUES (102, 11, RPAD('102', 67, 'B'));
INSERT INTO RG_EGAIS_DOC_PDF417 (ID, EGAIS_DOC_TABLE_ID, MARK_CODE) VALUES (104, 11, RPAD('101102000000040524001', 150, 'C'));
INSERT INTO RG_EGAIS_DOC_PDF417 (ID, EGAIS_DOC_TABLE_ID, MARK_CODE) VALUES (103, 11, RPAD('101102000000030524001', 150, 'D'));
INSERT INTO RG_EGAIS_DOC_PDF417 (ID, EGAIS_DOC_TABLE_ID, MARK_CODE) VALUES (105, 12, RPAD('22N0000123456789ABCDEFG10120000000005', 68, 'E'));

INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE, TRAN_TYPE) VALUES (2, 7, 'WB-2', '2', 1, 7, '  ');
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE, TRAN_TYPE) VALUES (3, 1, 'WB-3', '3', 1, 8, '412');
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE) VALUES (4, 1, 'WB-4', '4', 9, 8);

INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE) VALUES (20, NULL, '20', 1, 2);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE) VALUES (21, 'WB-21', NULL, 1, 2);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE) VALUES (22, 'WB-22', '22', 1, 2);
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, QUANTITY, PRICE) VALUES (221, 22, 1, 1, 1, 1);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE) VALUES (23, 'WB-23', '23', 1, 2);
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, QUANTITY, PRICE, INFORM1_ID) VALUES (231, 23, 1, 3, 1, 1, 3);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE) VALUES (24, 'WB-24', '24', 9, 2);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE) VALUES (25, 'WB-25', '25', 11, 2);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE) VALUES (26, 'WB-26', '26', 1, 8);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE) VALUES (27, 'WB-27', '27', 12, 2);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE) VALUES (28, 'WB-28', '28', 1, 10);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE, SUPPLIER) VALUES (29, 'WB-29', '29', 1, 2, 10);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE) VALUES (30, 'WB-30', '30', 1, 2);
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, QUANTITY, PRICE, INFORM1_ID) VALUES (301, 30, 1, 4, 1, 1, 3);

INSERT INTO S_EGAIS_PRODUCT (ID, FULL_NAME, ALC_CODE, CAPACITY, ALC_VOLUME, V_CODE, PRODUCER) VALUES
  (5, 'Водка "Кристалл"', '0000000000000000005', 0.7, 40, '200', 13);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE, UNIT_TYPE, TRAN_CAR, BASE, NOTE) VALUES
  (31, 1, 'WB-31', '31', 1, 14, NULL, NULL, RPAD('Договор ', 1000, 'ёж'), RPAD('Самовывоз ', 1000, 'ёлка '));
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, QUANTITY, PRICE, INFORM1_ID, INFORM2_ID) VALUES (311, 31, 1, 5, 1, 1, 3, 4);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE) VALUES (32, 'WB-32', '32', 1, 15);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_ID, DOC_NUMBER, SHIPPER, CONSIGNEE) VALUES (33, 'WB-33', '33', 16, 2);
)";

class WaybillDb : public qortest::BuilderDbTest {
protected:
    std::string ExtraSql() const override { return kFixture; }
};

std::string BuilderError(TDocType kind, int64_t id) {
    TDocBuilder builder;
    try {
        builder.BuildDocumentFromDb(kind, id);
    } catch (const EDocumentBuilderException& e) {
        EXPECT_FALSE(builder.Xml()) << "a failed build keeps nothing";
        return e.what();
    }
    ADD_FAILURE() << "built";
    return "";
}

// The text of the first element of that local name, or "<none>".
std::string TextOf(const TXmlDocument& doc, const std::string& sLocalName) {
    TXmlNode n = doc.selectSingleNode("//*[local-name()=" + XPathLiteral(sLocalName) + "][1]");
    return n ? n.text() : "<none>";
}

TEST_F(WaybillDb, EachVersionGivesTheExpectedDocument) {
    const std::pair<TDocType, const char*> cases[] = {
        {dtOutgoingWaybill, "waybill_v1.xml"},
        {dtOutgoingWaybillV2, "waybill_v2.xml"},
        {dtOutgoingWayBillV3, "waybill_v3.xml"},
        {dtOutgoingWayBillV4, "waybill_v4.xml"},
    };
    for (const auto& [kind, file] : cases) {
        SCOPED_TRACE(file);
        TDocBuilder builder;
        TXmlDocument doc = builder.BuildDocumentFromDb(kind, 1);
        const std::string text = doc.xml();
        EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
        const std::string expected =
            qortest::ReadFile(qortest::SourceDir() / "tests/outgoing/expected" / file);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(CanonicalXml(text), CanonicalXml(expected)) << text;
    }
}

TEST_F(WaybillDb, SpecialCharactersAndCyrillicSurviveAsText) {
    TDocBuilder builder;
    TXmlDocument built = builder.BuildDocumentFromDb(dtOutgoingWayBillV4, 1);
    TXmlDocument doc = LoadXmlFrom(built.xml());  // the text as the UTM receives it
    EXPECT_EQ(TextOf(doc, "Note"), "Примечание: <срочно> & \"быстро\"");
    EXPECT_EQ(TextOf(doc, "TRAN_COMPANY"), "ООО \"Перевозчик\"");
    TXmlNode shipper =
        doc.selectSingleNode("//*[local-name()='Shipper']/*/*[local-name()='FullName']");
    ASSERT_TRUE(shipper);
    EXPECT_EQ(shipper.text(), "ООО \"Ромашка\" & <Сыны>");
    TXmlNode producers =
        doc.selectSingleNode("(//*[local-name()='Producer'])[2]/*/*[local-name()='FullName']");
    ASSERT_TRUE(producers);
    EXPECT_EQ(producers.text(), "ТОО 'Алматы Спирт'");
}

TEST_F(WaybillDb, OwnershipChangeAndTransportTypeByVersion) {
    struct Case {
        int64_t id;
        TDocType kind;
        const char* changeOwnership;
        const char* tranType;
        const char* type;
        const char* car;  // v4: left out when the consignee collects the goods
    };
    const Case cases[] = {
        {1, dtOutgoingWayBillV4, "IsChange", "413", "WBInvoiceFromMe", "А123ВС77"},
        {2, dtOutgoingWayBillV4, "NotChange", "413", "WBReturnFromMe",
         "<none>"},  // INNs equal after trimming
        // A consignee without INN (a foreign one): the v4 schema still requires the
        // element, and nothing tells EGAIS of a change.
        {3, dtOutgoingWayBillV4, "NotChange", "412", "WBInvoiceFromMe", "<none>"},
        {4, dtOutgoingWayBillV4, "NotChange", "413", "WBInvoiceFromMe", "<none>"},  // both empty
        {2, dtOutgoingWayBillV3, "<none>", "<none>", "WBReturnFromMe", "<none>"},
        {1, dtOutgoingWaybillV2, "<none>", "<none>", "WBInvoiceFromMe", "<none>"},
        {3, dtOutgoingWaybillV2, "<none>", "412", "WBInvoiceFromMe", "<none>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(DocTypeName(c.kind) + " ID=" + std::to_string(c.id));
        TDocBuilder builder;
        TXmlDocument doc = builder.BuildDocumentFromDb(c.kind, c.id);
        EXPECT_EQ(TextOf(doc, "ChangeOwnership"), c.changeOwnership);
        EXPECT_EQ(TextOf(doc, "TRAN_TYPE"), c.tranType);
        EXPECT_EQ(TextOf(doc, "Type"), c.type);
        EXPECT_EQ(TextOf(doc, "TRANSPORT_REGNUMBER"), c.car);
    }
}

TEST_F(WaybillDb, MissingDataGivesTheBuildersOwnErrors) {
    struct Case {
        int64_t id;
        TDocType kind;
        const char* message;
    };
    const Case cases[] = {
        {999, dtOutgoingWayBillV4, "Не могу получить заголовок накладной."},
        {999, dtOutgoingWaybillV2, "Не могу получить заголовок накладной."},
        {999, dtOutgoingWaybill, "Couldn't obtain document record"},
        {20, dtOutgoingWayBillV4, "Поле UTM_DOC_ID заголовка не заполнено."},
        {20, dtOutgoingWayBillV3, "Поле UTM_DOC_ID заголовка не заполнено."},
        {20, dtOutgoingWaybill, "UTM_DOC_ID is undefined"},
        {21, dtOutgoingWayBillV4, "Номер накладной не указан"},
        {21, dtOutgoingWaybill, "Номер накладной не указан"},
        {22, dtOutgoingWayBillV4, "Не удалось найти справки по формама 1 и 2."},
        {22, dtOutgoingWaybillV2, "Не удалось найти справки по формама 1 и 2."},
        {22, dtOutgoingWaybill, "Couldn't obtain inform record"},
        {23, dtOutgoingWayBillV4, "ClientRegID контрагента \"Безымянный завод\" не указан."},
        {23, dtOutgoingWaybillV2, "ClientRegID контрагента \"Безымянный завод\" не указан."},
        {23, dtOutgoingWaybill, "Producer ClientRegId is empty"},
        {24, dtOutgoingWaybill, "Shippers inn is not found"},
        {25, dtOutgoingWaybill, "Shippers kpp is not found"},
        {26, dtOutgoingWaybill, "Consignees inn is not found"},
        {27, dtOutgoingWaybill, "Shippers ClientRegId is empty"},
        {28, dtOutgoingWaybill, "Consignees ClientRegId is Empty"},
        {29, dtOutgoingWaybill, "Suppliers ClientRegId is empty"},
        {30, dtOutgoingWaybill, "Importer ClientRegId is empty"},
        // Cards the UTM would refuse: a Russian one without region, a foreign one
        // without address.
        {32, dtOutgoingWayBillV4,
         "В карточке контрагента \"ООО Без региона\" (030000000015) не указан код региона: "
         "УТМ не примет документ."},
        {32, dtOutgoingWaybillV2,
         "В карточке контрагента \"ООО Без региона\" (030000000015) не указан код региона: "
         "УТМ не примет документ."},
        {33, dtOutgoingWayBillV3,
         "В карточке контрагента \"Vinos Lopez S.A.\" (040000000016) не указаны страна или "
         "адрес: УТМ не примет документ."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(DocTypeName(c.kind) + " ID=" + std::to_string(c.id));
        EXPECT_EQ(BuilderError(c.kind, c.id), c.message);
    }
}

TEST_F(WaybillDb, HeaderCounterpartsWithoutIdAreLeftOut) {
    // Versions 2 to 4 leave out a shipper or consignee without id or name; version 1
    // refuses the waybill (above).
    TDocBuilder builder;
    TXmlDocument doc = builder.BuildDocumentFromDb(dtOutgoingWayBillV4, 28);
    EXPECT_TRUE(doc.selectSingleNode("//*[local-name()='Shipper']"));
    EXPECT_FALSE(doc.selectSingleNode("//*[local-name()='Consignee']"));
}

TEST_F(WaybillDb, OneBuilderGivesIndependentDocuments) {
    TDocBuilder builder;
    TXmlDocument first = builder.BuildDocumentFromDb(dtOutgoingWayBillV4, 1);
    const std::string firstText = first.xml();
    TXmlDocument second = builder.BuildDocumentFromDb(dtOutgoingWayBillV4, 2);
    EXPECT_EQ(first.xml(), firstText);
    EXPECT_EQ(TextOf(first, "Identity"), "WB-0001");
    EXPECT_EQ(TextOf(second, "Identity"), "WB-2");
    EXPECT_EQ(first.selectNodes("//*[local-name()='Position']").length(), 2);
    EXPECT_EQ(second.selectNodes("//*[local-name()='Position']").length(), 0);
}

TEST_F(WaybillDb, CardValuesAreWrittenAsTheSchemasTakeThem) {
    // Head 31: a consignee card with a padded region, a producer whose card says TS but
    // keeps Russian numbers, no unit type, notes of 1000 Cyrillic characters.
    const std::string sNote =
        qortest::Value("SELECT NOTE FROM RG_EGAIS_DOC_HEAD WHERE ID = 31").AsString();
    const std::string sBase =
        qortest::Value("SELECT BASE FROM RG_EGAIS_DOC_HEAD WHERE ID = 31").AsString();
    for (TDocType kind : {dtOutgoingWaybill, dtOutgoingWaybillV2, dtOutgoingWayBillV4}) {
        SCOPED_TRACE(DocTypeName(kind));
        TDocBuilder builder;
        TXmlDocument doc = LoadXmlFrom(builder.BuildDocumentFromDb(kind, 31).xml());
        EXPECT_EQ(TextOf(doc, "Note"), Utf8Left(sNote, 200));
        EXPECT_EQ(TextOf(doc, "Base"), Utf8Left(sBase, 200));
        TXmlNode region =
            doc.selectSingleNode("//*[local-name()='Consignee']//*[local-name()='RegionCode']");
        ASSERT_TRUE(region);
        EXPECT_EQ(region.text(), "77");
        if (kind == dtOutgoingWaybill) {
            EXPECT_EQ(TextOf(doc, "UnitType"), "Packed");  // required there
            continue;
        }
        EXPECT_TRUE(doc.selectSingleNode("//*[local-name()='Producer']/*[local-name()='TS']"));
        EXPECT_FALSE(doc.selectSingleNode(
            "//*[local-name()='Producer']/*/*[local-name()='INN' or local-name()='KPP']"));
    }
}

}  // namespace
