// Storing a supplier's version-4 waybill of 2,000 positions (each with its Form A and
// Form B and four excise marks in two boxes) through the local server, against the same
// statements executed bare: one prepared statement per kind, the same rows, one
// transaction.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <memory>

#include "FbTestDb.h"
#include "uCommon.h"
#include "uDbProvider.h"
#include "uEgaisStorage.h"
#include "uIncomingWayBillJob.h"
#include "uLogger.h"
#include "uWayBillStatements.h"
#include "uXml.h"

namespace {

constexpr int kPositions = 2000;
constexpr const char* kFsrarId = "010000000001";

std::string Num(int i, int width) {
    std::string s = std::to_string(i);
    return std::string(width > int(s.size()) ? width - s.size() : 0, '0') + s;
}

std::string Party(const char* tag, const std::string& id, const std::string& name) {
    return std::string("<") + tag +
           "><oref:UL><oref:INN>7712345678</oref:INN><oref:KPP>771201001"
           "</oref:KPP><oref:ClientRegId>" +
           id + "</oref:ClientRegId><oref:FullName>" + name + "</oref:FullName><oref:ShortName>" +
           name +
           "</oref:ShortName><oref:address><oref:Country>"
           "643</oref:Country><oref:RegionCode>77</oref:RegionCode><oref:description>г. Москва"
           "</oref:description></oref:address></oref:UL></" +
           tag + ">";
}

std::string Mark(int i, int k) {
    return "22N" + Num(i, 8) + Num(k, 2) + std::string(55, 'X');
}

std::string Waybill() {
    std::string s =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ns:Documents "
        "xmlns:ns=\"http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\" "
        "xmlns:oref=\"http://fsrar.ru/WEGAIS/ClientRef_v2\" "
        "xmlns:pref=\"http://fsrar.ru/WEGAIS/ProductRef_v2\" "
        "xmlns:wb=\"http://fsrar.ru/WEGAIS/TTNSingle_v4\" "
        "xmlns:ce=\"http://fsrar.ru/WEGAIS/CommonV3\">"
        "<ns:Document><ns:WayBill_v4><wb:Identity>BENCH-1</wb:Identity><wb:Header><wb:Type>"
        "WBInvoiceFromMe</wb:Type><wb:NUMBER>Б-1</wb:NUMBER><wb:Date>2026-12-09</wb:Date>"
        "<wb:ShippingDate>2026-12-10</wb:ShippingDate><wb:Transport><wb:TRAN_TYPE>413</"
        "wb:TRAN_TYPE>"
        "<wb:TRAN_CAR>А123ВС77</wb:TRAN_CAR></wb:Transport>" +
        Party("wb:Shipper", "020000000002", "ООО «Поставщик»") +
        Party("wb:Consignee", kFsrarId, "АО «Лютик»") + "</wb:Header><wb:Content>";
    for (int i = 1; i <= kPositions; ++i) {
        s += "<wb:Position><wb:Identity>" + std::to_string(i) +
             "</wb:Identity><wb:Product>"
             "<pref:FullName>Водка «Тест» " +
             std::to_string(i) + "</pref:FullName><pref:AlcCode>" + Num(i, 19) +
             "</pref:AlcCode><pref:Capacity>0.5000</pref:Capacity><pref:AlcVolume>"
             "40.000</pref:AlcVolume><pref:ProductVCode>200</pref:ProductVCode>" +
             Party("pref:Producer", "030000000003", "АО «Завод»") +
             "</wb:Product><wb:Quantity>4</wb:Quantity><wb:Price>345.50</wb:Price><wb:FARegId>FA-" +
             Num(i, 15) + "</wb:FARegId><wb:InformF2><ce:F2RegId>FB-" + Num(i, 15) +
             "</ce:F2RegId><ce:MarkInfo>";
        for (int box = 0; box < 2; ++box)
            s += "<ce:boxpos><ce:boxnumber>BOX-" + Num(i * 2 + box, 8) +
                 "</ce:boxnumber><ce:amclist>"
                 "<ce:amc>" +
                 Mark(i, box * 2) + "</ce:amc><ce:amc>" + Mark(i, box * 2 + 1) +
                 "</ce:amc></ce:amclist></ce:boxpos>";
        s += "</ce:MarkInfo></wb:InformF2></wb:Position>";
    }
    return s + "</wb:Content></ns:WayBill_v4></ns:Document></ns:Documents>";
}

// One server database and the settings for the whole run.
struct TBenchDb {
    TBenchDb() : Db(qortest::FbLocation::Server) {
        setenv("QOREGAIS_HOME", Home.Path().c_str(), 1);
        SetDbParams(Db.Params());
        ClearSettings();
        SetSettingProperty("FSRAR_ID", kFsrarId);
    }
    qortest::TempDir Home;
    qortest::FbTestDb Db;
};

TBenchDb& BenchDb() {
    static TBenchDb db;
    return db;
}

void Clean() {
    TQueryPtr q = NewQuery(TTxMode::Short);
    for (const char* table :
         {"RG_EGAIS_DOC_MARKS", "RG_EGAIS_DOC_TABLE", "RG_EGAIS_DOC_HEAD", "S_EGAIS_INFORMS",
          "S_EGAIS_PRODUCT", "S_EGAIS_COUNTERPART", "S_EGAIS_UTM_LINKS"}) {
        q->SetSQL(std::string("DELETE FROM ") + table);
        q->ExecQuery();
    }
}

void BM_StoreWaybillV4(benchmark::State& state) {
    BenchDb();
    const TXmlDocument xml = LoadXmlFrom(Waybill());
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Clean();
        state.ResumeTiming();
        TEgaisIncomingWayBillJob job;
        job.SetLimitJobRunningTime(990000);
        job.DoBefore();
        TWayBillV3Reader reader(job, 4);
        reader.Take({"http://127.0.0.1:8080/opt/out/WayBill_v4/" + std::to_string(++n), {}, xml});
        job.DoAfter();
    }
    TQueryPtr q = NewQuery(TTxMode::Short);
    q->SetSQL("SELECT COUNT(*) FROM RG_EGAIS_DOC_MARKS");
    q->ExecQuery();
    state.counters["marks"] = double(q->Field(0).AsInt64());
}

// The statements of one storing, each prepared once, in one transaction.
void BM_BareStatements(benchmark::State& state) {
    BenchDb();
    using namespace incoming;
    for (auto _ : state) {
        state.PauseTiming();
        Clean();
        state.ResumeTiming();
        GetDbProvider().LockConnection();
        auto prepared = [](const char* sql) {
            TQueryPtr q = NewQuery(TTxMode::Long, TTxOwner::Connection);
            q->SetSQL(sql);
            q->Prepare();
            return q;
        };
        TQueryPtr party = prepared(kAddCounterPartSql), product = prepared(kAddProductSql),
                  head = prepared(kHeadSql), line = prepared(kLineSql),
                  upsert = prepared(kInformUpsertSql), select = prepared(kInformSelectSql),
                  link1 = prepared(kSetInform1Sql), link2 = prepared(kSetInform2Sql),
                  mark = prepared(kMarkSql);
        auto run = [](TQuery& q, std::initializer_list<std::pair<const char*, TVariant>> params) {
            q.Close();
            for (const auto& [name, value] : params) q.SetParam(name, value);
            q.ExecQuery();
            return q.Eof() ? TVariant() : q.Field(0);
        };
        auto addParty = [&](const char* id) {
            return run(*party, {{"CLIENTREG_ID", id},
                                {"INN", "7712345678"},
                                {"KPP", "771201001"},
                                {"FULL_NAME", "АО «Завод»"},
                                {"SHORT_NAME", "АО «Завод»"},
                                {"COUNTRY", "643"},
                                {"REGION_CODE", "77"},
                                {"DESCRIPTION", "г. Москва"}});
        };
        const TVariant shipper = addParty("020000000002");
        const TVariant consignee = addParty(kFsrarId);
        for (int i = 1; i <= kPositions; ++i) {
            const TVariant producer = addParty("030000000003");
            run(*product, {{"FULL_NAME", "Водка «Тест» " + std::to_string(i)},
                           {"ALC_CODE", Num(i, 19)},
                           {"CAPACITY", "0.5000"},
                           {"ALC_VOLUME", "40.000"},
                           {"V_CODE", "200"},
                           {"PRODUCER", producer}});
        }
        const TVariant headId =
            run(*head, {{"FD_HEAD_ID", 0},
                        {"UTM_DOC_ID", "BENCH-1/2026-12-09/Б-1"},
                        {"UTM_DOC_TYPE", 0},
                        {"DOC_NUMBER", "Б-1"},
                        {"DOC_DATE", "2026-12-09"},
                        {"SHIPPING_DATE", "2026-12-10"},
                        {"SHIPPER", shipper},
                        {"CONSIGNEE", consignee},
                        {"TRAN_TYPE", 413},
                        {"TRAN_CAR", "А123ВС77"},
                        {"ACT_STATUS", 0},
                        {"STATUS", 1},
                        {"QOR_STATE", 255},
                        {"UTM_LINK", "http://127.0.0.1:8080/opt/out/WayBill_v4/1"},
                        {"FSRAR_ID", kFsrarId},
                        {"PROTOCOL_VERSION", 4}});
        for (int i = 1; i <= kPositions; ++i) {
            const TVariant lineId = run(*line, {{"EGAIS_DOC_HEAD_ID", headId},
                                                {"POSITION_ID", i},
                                                {"ALC_CODE", Num(i, 19)},
                                                {"QUANTITY", "4"},
                                                {"PRICE", "345.50"}});
            TVariant forms[2];
            for (int f = 0; f < 2; ++f) {
                const std::string regId = (f ? "FB-" : "FA-") + Num(i, 15);
                const char* type = f ? "B" : "A";
                run(*upsert, {{"INFORM_TYPE", type},
                              {"INFORM_REG_ID", regId},
                              {"SHIPPER", shipper},
                              {"ALC_CODE", Num(i, 19)}});
                forms[f] = run(*select, {{"INFORM_REG_ID", regId}, {"INFORM_TYPE", type}});
                run(f ? *link2 : *link1, {{"INFORM_ID", forms[f]}, {"DOC_TABLE_ID", lineId}});
            }
            for (int k = 0; k < 4; ++k)
                run(*mark, {{"ID", lineId},
                            {"MARK_CODE", Mark(i, k)},
                            {"BOX", "BOX-" + Num(i * 2 + k / 2, 8)},
                            {"FORM1_ID", forms[0]},
                            {"FORM2_ID", forms[1]}});
        }
        head->Transaction().Commit();
        GetDbProvider().UnlockConnection();
    }
}

BENCHMARK(BM_StoreWaybillV4)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BareStatements)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
