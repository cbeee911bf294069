#include <gtest/gtest.h>

#include "DbQueries.h"
#include "FbTestDb.h"
#include "JobProbe.h"
#include "TcpRelay.h"
#include "TestSupport.h"
#include "uBaseQorThread.h"
#include "uCommon.h"
#include "uDbProvider.h"
#include "uLogger.h"
#include "uQorThreadManager.h"

namespace {

// A job that works on its thread's connection: it reads the connection's number, lets
// the test cut the network, and reads again.
struct DbRuns {
    JobProbe Probe;
    std::vector<int64_t> Connections;  // Probe.Lock
    bool Hold = true;                  // Probe.Lock: the first run waits for the cut
};

class TDbJob : public TQorAbstractJob {
public:
    explicit TDbJob(DbRuns& runs) : FRuns(runs) {}
    const char* ClassName() const override { return "TDbJob"; }
    void DoBefore() override {
        TQorAbstractJob::DoBefore();
        GetDbProvider().LockConnection();
    }
    void DoAfter() override {
        GetDbProvider().UnlockConnection();
        TQorAbstractJob::DoAfter();
    }
    void DoJob() override {
        int64_t id = ConnectionNumber();
        FRuns.Probe.Note([&] {
            FRuns.Connections.push_back(id);
            ++FRuns.Probe.Runs;
        });
        FRuns.Probe.WaitFor([&] { return !FRuns.Hold; }, 20000);
        ConnectionNumber();  // raises once the network is cut
    }

private:
    static int64_t ConnectionNumber() {
        return qortest::Value("SELECT CURRENT_CONNECTION FROM RDB$DATABASE").AsInt64();
    }
    DbRuns& FRuns;
};

class ConnectionLoss : public ::testing::Test {
protected:
    ConnectionLoss() : Db(qortest::FbLocation::Server) {
        InitLogger();
        SetDbParams(Db.ParamsViaPort(Relay.Port()));
    }
    ~ConnectionLoss() override {
        Mgr.reset();
        ShutdownLogger();
        FreeDbProvider();
        ClearSettings();
        bGlobalDBConnectionError = false;
    }
    std::string Log() { return qortest::ReadFile(LogFileName()); }

    qortest::ProgramFolders Folders;
    qortest::FbTestDb Db;
    qortest::TcpRelay Relay;
    DbRuns Runs;
    std::unique_ptr<TQorThreadManager> Mgr;
};

TEST_F(ConnectionLoss, IsAnnouncedOnceAndTheRunAfterTheReconnectWorks_Server) {
    TJobTable table{{"DbJobEnabled", [this] { return std::make_unique<TDbJob>(Runs); }, 990000,
                     "cannot start the database job", true}};
    Mgr = std::make_unique<TQorThreadManager>(table, [] {
        ClearSettings();
        SetSettingProperty("CYCLE_TIME", "20");
        SetSettingProperty("DbJobEnabled", "1");
    });
    Mgr->Start();
    ASSERT_TRUE(Runs.Probe.WaitFor([&] { return Runs.Probe.Runs == 1; }));

    Relay.Cut();  // under the running job
    Runs.Probe.Note([&] { Runs.Hold = false; });
    ASSERT_TRUE(qortest::WaitUntil([] { return bool(bGlobalDBConnectionError); },
                                   std::chrono::seconds(20)));

    // While the loss is fresh no job runs again; once it is old the scheduler discards
    // the connections and the next run works on a new one.
    Relay.Restore();
    dtGlobalDBConnectionErrorMoment = IncSecond(Now(), -51);
    ASSERT_TRUE(Runs.Probe.WaitFor([&] { return Runs.Probe.Runs >= 2; }, 20000));
    EXPECT_NE(Runs.Connections[0], Runs.Connections[1]);

    std::string log = Log();
    size_t first = log.find("*** Обрыв соединения с БД ***");
    ASSERT_NE(std::string::npos, first);
    EXPECT_EQ(std::string::npos, log.find("*** Обрыв соединения с БД ***", first + 1));
    EXPECT_NE(std::string::npos, log.find("*** Попытаемся восстановить подключение к БД..."));
    EXPECT_NE(std::string::npos, log.find("TDbJob \r\n(EDbError - \""));
}

}  // namespace
