#include <gtest/gtest.h>

#include "FbTestDb.h"
#include "JobProbe.h"
#include "TestSupport.h"
#include "uBaseQorThread.h"
#include "uCommon.h"
#include "uDbProvider.h"
#include "uQorThreadManager.h"

namespace {

// A scheduler with a short cycle over a table of probe jobs. The row "Cycle" cannot
// start its job, so the scheduler tries it again in every cycle: its attempts count
// the cycles.
class Scheduler : public ::testing::Test {
protected:
    // The scheduler opens its connection at the first cycle.
    Scheduler() : Db(qortest::FbLocation::Embedded) {}
    ~Scheduler() override {
        Mgr.reset();
        ClearSettings();
        bGlobalDBConnectionError = false;
    }

    TJobTableRow Row(const std::string& flag, TProbeJob::Mode mode, const char* name,
                     uint32_t limit = 990000) {
        return {flag, [this, mode, name] { return std::make_unique<TProbeJob>(Probe, mode, name); },
                limit, "cannot start " + flag, true};
    }
    TJobTableRow CycleCounter() {
        return {"CycleEnabled",
                [this]() -> std::unique_ptr<TQorAbstractJob> {
                    Cycles.Note([&] { ++Cycles.Runs; });
                    throw EQorJobException("not this time");
                },
                990000, "cannot start the cycle counter", false};
    }
    void Start(TJobTable table, std::vector<std::pair<std::string, std::string>> settings) {
        settings.emplace_back("CYCLE_TIME", "20");
        settings.emplace_back("CycleEnabled", "1");
        table.push_back(CycleCounter());
        Mgr = std::make_unique<TQorThreadManager>(std::move(table), [settings] {
            ClearSettings();
            for (const auto& [name, value] : settings) SetSettingProperty(name, value);
        });
        Mgr->Start();
    }
    bool WaitCycles(int n) {
        int target = Cycles.RunCount() + n;
        return Cycles.WaitFor([&] { return Cycles.Runs >= target; });
    }

    qortest::ProgramFolders Folders;
    qortest::ProviderDb Db;
    JobProbe Probe;
    JobProbe Cycles;
    std::unique_ptr<TQorThreadManager> Mgr;
};

TEST_F(Scheduler, JobsWithFlagZeroAreNeverStarted) {
    Start({Row("AEnabled", TProbeJob::Mode::Count, "TJobA")}, {{"AEnabled", "0"}});
    ASSERT_TRUE(WaitCycles(3));
    EXPECT_EQ(0, Probe.RunCount());
}

TEST_F(Scheduler, AStartedJobIsReRunEveryCycleWithItsTimeLimit) {
    Start({Row("AEnabled", TProbeJob::Mode::Count, "TJobA", 990000),
           Row("REnabled", TProbeJob::Mode::Raise, "TEgaisRefreshJob", 300000)},
          {{"AEnabled", "1"}, {"REnabled", "1"}});
    ASSERT_TRUE(Probe.WaitFor([&] { return Probe.Runs >= 6; }));
    std::lock_guard<std::mutex> g(Probe.Lock);
    EXPECT_EQ(0, Probe.Destroyed) << "a job kind lost its thread";
    int refresh = 0, other = 0;
    for (uint32_t limit : Probe.Limits) {
        if (limit == kRefreshJobLimitTime)
            ++refresh;
        else if (limit == 990000)
            ++other;
        else
            ADD_FAILURE() << "unexpected limit " << limit;
    }
    EXPECT_GE(refresh, 2);  // a job that raised runs again
    EXPECT_GE(other, 2);
}

TEST_F(Scheduler, AFreshConnectionLossWakesNoJobUntilItIsOlderThanFiftySeconds) {
    dtGlobalDBConnectionErrorMoment = Now();
    bGlobalDBConnectionError = true;
    Start({Row("AEnabled", TProbeJob::Mode::Count, "TJobA")}, {{"AEnabled", "1"}});
    ASSERT_TRUE(Probe.WaitFor([&] { return Probe.Runs == 1; }));  // the first run is the start
    ASSERT_TRUE(WaitCycles(5));
    EXPECT_EQ(1, Probe.RunCount());
    EXPECT_TRUE(bGlobalDBConnectionError);

    dtGlobalDBConnectionErrorMoment = IncSecond(Now(), -51);
    ASSERT_TRUE(Probe.WaitFor([&] { return Probe.Runs >= 2; }));
    EXPECT_FALSE(bGlobalDBConnectionError);
}

TEST_F(Scheduler, StopDuringTheSettingsRetryEndsWithoutLoading) {
    JobProbe loads;
    Mgr = std::make_unique<TQorThreadManager>(TJobTable{}, [&] {
        loads.Note([&] { ++loads.Runs; });
        throw Exception("database is down");
    });
    Mgr->Start();
    ASSERT_TRUE(loads.WaitFor([&] { return loads.Runs == 1; }));
    Mgr->Stop();
    EXPECT_EQ(1, loads.RunCount());
    EXPECT_EQ(0, Mgr->ActiveThreads().Count());
}

struct CycleCase {
    const char* Value;
    uint32_t Expected;
};

class SchedulerCycleTime : public ::testing::TestWithParam<CycleCase> {
protected:
    ~SchedulerCycleTime() override { ClearSettings(); }
    qortest::ProgramFolders Folders;
};

TEST_P(SchedulerCycleTime, TakesOnlyAPositiveInteger) {
    ClearSettings();
    if (GetParam().Value) SetSettingProperty("CYCLE_TIME", GetParam().Value);
    TScheduleJob job(TJobTable{}, [] {});
    job.SetLimitRunningTime(20000);
    job.SetLimitRunningTime();
    EXPECT_EQ(GetParam().Expected, job.LimitRunningTime());
}

INSTANTIATE_TEST_SUITE_P(Cases, SchedulerCycleTime,
                         ::testing::Values(CycleCase{"5000", 5000}, CycleCase{nullptr, 20000},
                                           CycleCase{"abc", 20000}, CycleCase{"-5", 20000},
                                           CycleCase{"0", 20000}, CycleCase{"", 20000}));

}  // namespace
