// Sending waybill requests through the queue to the emulator, against the emulator's
// own time for bare posts of the same documents.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <memory>

#include "FbTestDb.h"
#include "UtmEmulator.h"
#include "WaybillFixture.h"
#include "uCommon.h"
#include "uDbProvider.h"
#include "uEgaisOutGoingWayBillJob.h"
#include "uHttpClient.h"

namespace {

constexpr int kRequests = 500;
constexpr int kLines = 20;

struct QueueWorld {
    qortest::TempDir Home;
    std::unique_ptr<qortest::FbTestDb> Db;
    TUtmEmulator Utm;
    std::vector<std::string> Bodies;  // the documents posted by the first run

    QueueWorld() {
        setenv("QOREGAIS_HOME", Home.Path().c_str(), 1);
        Db = std::make_unique<qortest::FbTestDb>(qortest::FbLocation::Embedded,
                                                 qortest::kWaybillBaseSql);
        SetDbParams(Db->Params());
        FreeDbProvider();
        Utm.Start();
        ClearSettings();
        SetSettingProperty("FSRAR_ID", qortest::kOurFsrarId);
        SetSettingProperty("UTM_ADDRESS", "127.0.0.1");
        SetSettingProperty("UTM_PORT", std::to_string(Utm.Port()));
        for (int doc = 1; doc <= kRequests; ++doc) {
            qortest::AddWaybill(doc, qortest::kOurFsrarId, kLines);
            qortest::AddRequest(doc, doc, 6);
        }
    }
    // Opens every request again and forgets the posts.
    void Reopen() {
        TQueryPtr q = NewQuery(TTxMode::Long);
        q->SetSQL("UPDATE S_EGAIS_REQUEST SET COMPLETE_FLAG = 0");
        q->ExecQuery();
        q->Close();
        q->SetSQL("DELETE FROM S_EGAIS_REPLY");
        q->ExecQuery();
        q->Transaction().Commit();
        Utm.Reset();
    }
};

QueueWorld& World() {
    static QueueWorld world;
    return world;
}

void BM_SendWaybillRequests(benchmark::State& state) {
    QueueWorld& w = World();
    for (auto _ : state) {
        state.PauseTiming();
        w.Reopen();
        state.ResumeTiming();
        TEgaisOutGoingWayBillJob job;
        job.SetLimitJobRunningTime(9900000);
        job.Perform();
        state.PauseTiming();
        if (w.Utm.Posted().size() != size_t(kRequests))
            state.SkipWithError("not every request was sent");
        if (w.Bodies.empty())
            for (const auto& d : w.Utm.Posted()) w.Bodies.push_back(d.Body);
        state.ResumeTiming();
    }
    state.counters["requests"] = kRequests;
}
BENCHMARK(BM_SendWaybillRequests)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_BarePostsOfTheSameDocuments(benchmark::State& state) {
    QueueWorld& w = World();
    if (w.Bodies.empty()) {
        state.SkipWithError("run BM_SendWaybillRequests first");
        return;
    }
    const std::string url =
        "http://127.0.0.1:" + std::to_string(w.Utm.Port()) + "/opt/in/Waybill_v4";
    for (auto _ : state) {
        THttpClient http;
        for (const auto& body : w.Bodies)
            benchmark::DoNotOptimize(
                http.PostFile(url, "xml_file", "Waybill_v4", body, "application/xml"));
    }
    state.counters["requests"] = kRequests;
}
BENCHMARK(BM_BarePostsOfTheSameDocuments)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
