#pragma once
// A small back office for the outgoing road: our organisation, a partner, one product
// with its Form A and B, and waybills with their requests added by the test.
#include <cstdint>
#include <string>

namespace qortest {

inline constexpr const char* kOurFsrarId = "030000123456";

// Counterparties 1 (us, the shipper) and 2 (the consignee), product 1 with informs 1
// (Form A) and 2 (Form B).
// The back office's rows carry their own IDs; what the program adds comes after them.
inline constexpr const char* kGeneratorsAfterBackOffice = R"(
SET GENERATOR GEN_S_EGAIS_COUNTERPART_ID TO 1000;
SET GENERATOR GEN_S_EGAIS_PRODUCT_ID TO 1000;
SET GENERATOR GEN_S_EGAIS_INFORMS_ID TO 1000;
SET GENERATOR GEN_RG_EGAIS_DOC_HEAD_ID TO 1000;
SET GENERATOR GEN_RG_EGAIS_DOC_TABLE_ID TO 1000;
)";

inline constexpr const char* kWaybillBaseSql = R"(
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION) VALUES
  (1, '030000123456', '7701234567', '770101001', 'ООО "Ромашка" & <Сыны>', 'Ромашка', '643', '77', 'г. Москва, ул. Ленина, д. 1');
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION) VALUES
  (2, '030000654321', '5001234567', '500101001', 'АО «Лютик»', 'Лютик', '643', '50', 'Московская обл., г. Химки');
INSERT INTO S_EGAIS_PRODUCT (ID, FULL_NAME, SHORT_NAME, ALC_CODE, CAPACITY, ALC_VOLUME, V_CODE, PRODUCER, IMPORTER) VALUES
  (1, 'Водка "Столичная" 0,5 л', 'Столичная', '0000000000012345678', 0.5, 40, '200', 1, NULL);
INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (1, 'A', 'FA-000000000000001');
INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (2, 'B', 'FB-000000000000001');
)";

// Inserts waybill header `docId` (FSRAR_ID as given, "" for NULL) with `lines` lines
// through the calling thread's connection, committed.
void AddWaybill(int64_t docId, const std::string& fsrarId = kOurFsrarId, int lines = 1);
// Inserts an open request; lastModified "YYYY-MM-DD hh:nn:ss" or "" for now.
void AddRequest(int64_t requestId, int64_t docId, int requestType,
                const std::string& lastModified = "");

}  // namespace qortest
