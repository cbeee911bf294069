// Building a large version-4 waybill from an embedded database.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <memory>

#include "FbTestDb.h"
#include "uCommon.h"
#include "uDbProvider.h"
#include "uEgaisDocumentBuilder.h"

namespace {

constexpr int kLines = 5000;

// One waybill of kLines lines, each with a Form A, a Form B and two excise marks.
std::string WaybillSql() {
    return R"(
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, SHORT_NAME, COUNTRY, REGION_CODE, DESCRIPTION)
  VALUES (1, '030000123456', '7701234567', '770101001', 'ООО "Ромашка"', 'Ромашка', '643', '77', 'г. Москва, ул. Ленина, д. 1');
INSERT INTO S_EGAIS_COUNTERPART (ID, CLIENTREG_ID, INN, KPP, FULL_NAME, COUNTRY, REGION_CODE, DESCRIPTION)
  VALUES (2, '030000654321', '5001234567', '500101001', 'АО «Лютик»', '643', '50', 'Московская обл., г. Химки');
INSERT INTO S_EGAIS_PRODUCT (ID, FULL_NAME, SHORT_NAME, ALC_CODE, CAPACITY, ALC_VOLUME, V_CODE, PRODUCER)
  VALUES (1, 'Водка "Столичная" 0,5 л', 'Столичная', '0000000000012345678', 0.5, 40, '200', 2);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, UTM_DOC_ID, DOC_NUMBER, R_DATETIME, SHIPPING_DATE, SHIPPER, CONSIGNEE,
    TRAN_COMPANY, TRAN_CAR, TRAN_CUSTOMER, TRAN_DRIVER, TRAN_LOADPOINT, TRAN_UNLOADPOINT, TRAN_FORWARDER, BASE, NOTE)
  VALUES (1, 1, 'WB-1', '1', '2024-03-05 14:30:00', '2024-03-06', 1, 2, 'ООО Перевозчик', 'А123ВС77',
    'ООО Ромашка', 'Иванов', 'Москва', 'Химки', 'Петров', 'Договор', 'Примечание');
SET TERM ^ ;
EXECUTE BLOCK AS
DECLARE I INTEGER = 1;
BEGIN
  WHILE (I <= )" +
           std::to_string(kLines) + R"() DO
  BEGIN
    INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (:I * 2, 'A', 'FA-' || LPAD(:I, 15, '0'));
    INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (:I * 2 + 1, 'B', 'FB-' || LPAD(:I, 15, '0'));
    INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, QUANTITY, PRICE, PACK, INFORM1_ID, INFORM2_ID)
      VALUES (:I, 1, :I, 1, :I * 0.25, 345.5, 'P-' || :I, :I * 2, :I * 2 + 1);
    INSERT INTO RG_EGAIS_DOC_PDF417 (ID, EGAIS_DOC_TABLE_ID, MARK_CODE) VALUES (:I * 2, :I, RPAD(:I, 150, 'A'));
    INSERT INTO RG_EGAIS_DOC_PDF417 (ID, EGAIS_DOC_TABLE_ID, MARK_CODE) VALUES (:I * 2 + 1, :I, RPAD(:I, 150, 'B'));
    I = I + 1;
  END
END^
SET TERM ; ^
)";
}

void BM_BuildWayBillV4(benchmark::State& state) {
    static std::unique_ptr<qortest::FbTestDb> db;
    if (!db) db = std::make_unique<qortest::FbTestDb>(qortest::FbLocation::Embedded, WaybillSql());
    SetDbParams(db->Params());
    FreeDbProvider();
    SetSettingProperty("FSRAR_ID", "030000123456");

    size_t bytes = 0;
    for (auto _ : state) {
        TDocBuilder builder;
        TXmlDocument doc = builder.BuildDocumentFromDb(dtOutgoingWayBillV4, 1);
        benchmark::DoNotOptimize(doc);
        state.PauseTiming();
        bytes = doc.xml().size();
        state.ResumeTiming();
    }
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["lines"] = kLines;
    state.counters["xml_bytes"] = static_cast<double>(bytes);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.SetItemsProcessed(state.iterations() * kLines);
    FreeDbProvider();
}
BENCHMARK(BM_BuildWayBillV4)->Unit(benchmark::kMillisecond);

}  // namespace
