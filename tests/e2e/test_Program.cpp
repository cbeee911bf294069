#include <gtest/gtest.h>
#include <signal.h>

#include "FbTestDb.h"
#include "Process.h"
#include "ProgramHome.h"
#include "TcpRelay.h"
#include "TestSupport.h"

using namespace std::chrono_literals;

namespace {

constexpr const char* kNoDatabase =
    "Не удается подключиться к базе данных и загрузить параметры работы.";
constexpr const char* kLoaded = "Параметры работы успешно загружены....";

// A home folder with its .ini for a database on the local server reached through a
// relay, which the test cuts and restores.
class Program : public ::testing::Test {
protected:
    Program() : Db(qortest::FbLocation::Server), Home(Db.ParamsViaPort(Relay.Port()), {}) {}
    std::unique_ptr<qortest::Process> Start() { return Home.Start(); }
    std::string Log() const { return Home.Log(); }
    bool LogShows(const std::string& text, std::chrono::milliseconds timeout = 20s) const {
        return Home.LogShows(text, timeout);
    }
    // Byte 0 of the status channel in the program's runtime folder.
    int StatusByte() const {
        std::string channel =
            qortest::ReadFile(Home.Runtime() / "{5E3AF946-4976-4787-8607-F49D7A19E992}");
        return channel.size() == 4096 ? channel[0] : -1;
    }
    // Positions of the lines in the log, in the order given; -1 for a missing one.
    std::vector<long> Positions(const std::vector<std::string>& lines) const {
        std::string log = qortest::ReadFile(Log());
        std::vector<long> at;
        size_t from = 0;
        for (const auto& l : lines) {
            size_t p = log.find(l, from);
            at.push_back(p == std::string::npos ? -1 : long(p));
            if (p != std::string::npos) from = p;
        }
        return at;
    }

    qortest::FbTestDb Db;
    qortest::TcpRelay Relay;
    qortest::ProgramHome Home;
};

TEST_F(Program, RetriesUntilTheDatabaseIsReachableThenStopsOnSigterm) {
    Relay.Cut();
    auto svc = Start();
    ASSERT_TRUE(LogShows(kNoDatabase));
    EXPECT_EQ(4, StatusByte());
    // The retry comes every 5 s: wait for the second attempt.
    qortest::WaitUntil([&] { return qortest::CountInFile(Log(), kNoDatabase) >= 2; }, 20s);
    EXPECT_GE(qortest::CountInFile(Log(), kNoDatabase), 2);

    Relay.Restore();
    ASSERT_TRUE(LogShows(kLoaded));
    EXPECT_EQ(1, qortest::CountInFile(Log(), "Версия сервиса 1.1.8.10"));
    EXPECT_EQ(std::string::npos, qortest::ReadFile(Log()).find("TQorSvc.Destroy"));

    svc->Signal(SIGTERM);
    EXPECT_EQ(0, svc->Wait(20s)) << svc->Errors();
    auto at = Positions({kLoaded, "TQorSvc.Destroy ->", "Waiting for all will be stopped",
                         "All in pool", "TQorSvc.Destroy <-"});
    for (size_t i = 0; i < at.size(); ++i) EXPECT_GE(at[i], 0) << "line " << i << " missing";
    EXPECT_EQ(1, qortest::CountInFile(Log(), "All in pool"));
    EXPECT_EQ("MyServiceApp DEBUG mode. Press enter to exit.\n", svc->Output());
}

TEST_F(Program, ASecondCopyExitsAtOnceAndSilently) {
    auto first = Start();
    ASSERT_TRUE(LogShows(kLoaded));
    auto second = Start();
    EXPECT_EQ(0, second->Wait(10s));
    EXPECT_EQ("", second->Output());
    EXPECT_EQ("", second->Errors());
    EXPECT_TRUE(first->Running());
    first->Signal(SIGINT);
    EXPECT_EQ(0, first->Wait(20s));
}

TEST_F(Program, WithoutInputItRunsUntilASignal) {
    auto svc = Start();
    svc->CloseInput();  // as under systemd: standard input ends at once
    ASSERT_TRUE(LogShows(kLoaded));
    EXPECT_TRUE(svc->Running());
    svc->Signal(SIGTERM);
    EXPECT_EQ(0, svc->Wait(20s));
    EXPECT_GE(Positions({"TQorSvc.Destroy <-"})[0], 0);
}

TEST_F(Program, EnterOnTheConsoleFreesTheModule) {
    auto svc = Start();
    ASSERT_TRUE(LogShows(kLoaded));
    svc->WriteInput("\n");
    EXPECT_EQ(0, svc->Wait(20s));
    auto at = Positions({"TQorSvc.Destroy ->", "All in pool", "TQorSvc.Destroy <-"});
    for (size_t i = 0; i < at.size(); ++i) EXPECT_GE(at[i], 0) << "line " << i << " missing";
}

}  // namespace
