// One refresh of the shared list plus one garbage-remover run, over a list of N
// documents and N recorded links (half of them listed, half already gone from the
// UTM), on an embedded database and an in-process UTM. Also the link search alone,
// against the XPath search per link that it replaces.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include "FbTestDb.h"
#include "UtmEmulator.h"
#include "uCommon.h"
#include "uDbProvider.h"
#include "uHttpClient.h"
#include "uMaintenanceJobs.h"
#include "uUtm.h"
#include "uXml.h"

namespace {

constexpr const char* kFsrarId = "010000000001";

void RecordLinks(const std::vector<std::string>& links) {
    TQueryPtr q = NewQuery(TTxMode::Long, TTxOwner::Connection);
    q->SetSQL(
        "INSERT INTO S_EGAIS_UTM_LINKS (UTM_LINK, FSRAR_ID, LAST_MODIFIED) "
        "VALUES (:L, :F, '2020-01-01 00:00:00')");
    for (const auto& link : links) {
        q->SetParam("L", link);
        q->SetParam("F", kFsrarId);
        q->ExecQuery();
    }
    q->Transaction().Commit();
}

void BM_RefreshAndRemoveGarbage(benchmark::State& state) {
    const int n = int(state.range(0));
    qortest::TempDir home;
    setenv("QOREGAIS_HOME", home.Path().c_str(), 1);
    qortest::FbTestDb db(qortest::FbLocation::Embedded);
    SetDbParams(db.Params());
    TUtmEmulator utm;
    ClearSettings();
    SetSettingProperty("FSRAR_ID", kFsrarId);
    SetSettingProperty("UTM_ADDRESS", "127.0.0.1");
    SetSettingProperty("UTM_PORT", std::to_string(utm.Start()));
    InitUTMBuffer();

    std::vector<std::string> links;
    for (int i = 0; i < n; ++i) {
        std::string url = utm.PlaceIncoming(i % 2 ? "Ticket" : "WayBill_v4", "<doc/>");
        if (i % 2 == 0) links.push_back(url);
    }
    for (int i = 0; links.size() < size_t(n); ++i)
        links.push_back(utm.BaseUrl() + "/opt/out/ReplyAP/" + std::to_string(1000000 + i));
    RecordLinks(links);

    for (auto _ : state) {
        THttpClient http;
        UTMBuffer()->Refresh(http);
        TEgaisGarbageRemoverJob job;
        job.SetLimitJobRunningTime(3600000);
        job.Perform();
    }
    state.counters["links"] = n;

    utm.Stop();
    DoneUTMBuffer();
    ClearSettings();
    FreeDbProvider();
    unsetenv("QOREGAIS_HOME");
}
BENCHMARK(BM_RefreshAndRemoveGarbage)
    ->Arg(1000)
    ->Arg(10000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A list of n documents and n links, half of them listed.
struct TListAndLinks {
    TXmlDocument List;
    std::vector<std::string> Links;
};
TListAndLinks MakeListAndLinks(int n) {
    std::string xml = "<A>";
    TListAndLinks r;
    for (int i = 0; i < n; ++i) {
        std::string url = "http://127.0.0.1:8080/opt/out/WayBill_v4/" + std::to_string(i);
        xml += "<url>" + url + "</url>";
        r.Links.push_back(i % 2 ? url
                                : "http://127.0.0.1:8080/opt/out/Ticket/" + std::to_string(i));
    }
    r.List = LoadXmlFrom(xml + "<ver>2</ver></A>");
    return r;
}

void BM_LinksListed(benchmark::State& state) {
    TListAndLinks data = MakeListAndLinks(int(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(LinksListed(data.List, data.Links));
}
BENCHMARK(BM_LinksListed)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_XPathPerLink(benchmark::State& state) {
    TListAndLinks data = MakeListAndLinks(int(state.range(0)));
    for (auto _ : state)
        for (const auto& link : data.Links)
            benchmark::DoNotOptimize(bool(
                data.List.selectSingleNode("//url[contains(text(), " + XPathLiteral(link) + ")]")));
}
BENCHMARK(BM_XPathPerLink)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
