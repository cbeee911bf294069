#include <curl/curl.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>

#include "DbQueries.h"
#include "FbTestDb.h"
#include "ProgramHome.h"
#include "uDbProvider.h"

using namespace std::chrono_literals;

namespace {

size_t Collect(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

// A plain request to the emulator program; returns the body of a 200 answer.
std::string Http(const std::string& method, const std::string& url, const std::string& body = "") {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    std::string answer;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &answer);
    if (method == "POST") {
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE, long(body.size()));
    }
    long status = 0;
    if (curl_easy_perform(curl.get()) != CURLE_OK) throw std::runtime_error("no answer: " + url);
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) throw std::runtime_error(url + ": status " + std::to_string(status));
    return answer;
}

using qortest::WaitUntil;

// The two maintenance jobs of the built program against the built UTM emulator, the
// back office's database on the local server.
class Maintenance : public ::testing::Test {
protected:
    Maintenance() : Db(qortest::FbLocation::Server) {
        Utm = std::make_unique<qortest::Process>(UTM_EMULATOR_EXE, std::vector<std::string>{"0"},
                                                 std::map<std::string, std::string>{});
        std::smatch m;
        WaitUntil(
            [&] {
                Output = Utm->Output();
                return std::regex_search(Output, m, std::regex("PORT (\\d+)\n"));
            },
            10s);
        if (!m.empty()) Port = m[1];
    }
    ~Maintenance() override {
        Utm->Signal(SIGTERM);
        Utm->Wait(10s);
    }
    std::string Base() const { return "http://127.0.0.1:" + Port; }
    std::string Place(const std::string& kind) {
        return Http("POST", Base() + "/control/incoming?kind=" + kind, "<doc/>");
    }
    void RecordOld(const std::string& link) {
        qortest::Exec(
            "INSERT INTO S_EGAIS_UTM_LINKS (UTM_LINK, FSRAR_ID, LAST_MODIFIED) "
            "VALUES (:L, :F, '2020-01-01 00:00:00')",
            {{"L", link}, {"F", kFsrar}});
    }
    int64_t Rows() { return qortest::Value("SELECT COUNT(*) FROM S_EGAIS_UTM_LINKS").AsInt64(); }

    static constexpr const char* kFsrar = "010000000077";
    qortest::ProgramFolders Folders;  // those of the emulator program
    qortest::ProviderDb Db;
    std::unique_ptr<qortest::Process> Utm;
    std::string Output, Port;
};

TEST_F(Maintenance, TheListIsRefreshedEveryCycleAndProcessedDocumentsLeaveUtmAndTable) {
    ASSERT_FALSE(Port.empty()) << Output;
    const std::string processed = Place("WayBill_v4");
    const std::string waiting = Place("Ticket");
    RecordOld(processed);
    RecordOld(Base() + "/opt/in/WayBill_v4/1");
    ASSERT_EQ(2, Rows());

    qortest::ProgramHome home(
        Db.Params(), {"RefreshJobEnabled", "GarbageRemoverJobEnabled"},
        {{"UTM_ADDRESS", "127.0.0.1"}, {"UTM_PORT", Port}, {"FSRAR_ID", kFsrar}});
    auto svc = home.Start();
    // Each refresh run lasts a second at least; a cycle is 200 ms.
    EXPECT_TRUE(WaitUntil(
        [&] { return qortest::CountInFile(home.Log(), "TEgaisRefreshJob.DoJob <-") >= 3; }, 30s));
    EXPECT_TRUE(WaitUntil([&] { return Rows() == 0; }, 30s));
    std::string list = Http("GET", Base() + "/opt/out");
    EXPECT_EQ(std::string::npos, list.find(processed)) << list;
    EXPECT_NE(std::string::npos, list.find(waiting)) << list;
    EXPECT_TRUE(home.LogShows("TEgaisGarbageRemoverJob: обработано 1 ссылок.", 10s));

    svc->Signal(SIGTERM);
    EXPECT_EQ(0, svc->Wait(20s)) << svc->Errors();
    EXPECT_EQ(std::string::npos, qortest::ReadFile(home.Log()).find("cannot create utm"))
        << "a job failed to start";
}

}  // namespace
