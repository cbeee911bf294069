#include <gtest/gtest.h>

#include "JobProbe.h"
#include "TestSupport.h"
#include "uQorThreadManager.h"

namespace {

// A manager whose threads report every hand-back to the probe.
class ThreadPool : public ::testing::Test {
protected:
    ThreadPool() : Mgr(TJobTable{}, [] {}) {
        Mgr.SetOnGetThread([this](TBaseQorThread* t) {
            t->SetOnReleaseThread([this](TBaseQorThread* th) {
                Mgr.ReleaseThread(th);
                Probe.Note([&] { ++Probe.Released; });
            });
        });
    }
    TBaseQorThread* ThreadWith(TProbeJob::Mode mode) {
        TBaseQorThread* t = Mgr.GetThread();
        auto job = std::make_unique<TProbeJob>(Probe, mode);
        job->SetLimitJobRunningTime(600000);
        job->SetOwnedThread(t);
        t->SetJob(std::move(job));
        return t;
    }

    qortest::ProgramFolders Folders;
    JobProbe Probe;
    TQorThreadManager Mgr;
};

TEST_F(ThreadPool, SixtyActiveThreadsAndAnEmptyPoolRaise) {
    std::vector<TBaseQorThread*> handedOut;
    for (int i = 0; i < 60; ++i) handedOut.push_back(Mgr.GetThread());
    try {
        Mgr.GetThread();
        FAIL() << "a 61st thread was handed out";
    } catch (const Exception& e) {
        EXPECT_STREQ("pool is empty ", e.what());
    }
    for (auto* t : handedOut) Mgr.ReleaseThread(t);
    EXPECT_EQ(60, Mgr.ThreadPool().Count());
    EXPECT_EQ(0, Mgr.ActiveThreads().Count());
}

TEST_F(ThreadPool, AJobThatRaisedRunsAgainWhenReleased) {
    TBaseQorThread* t = ThreadWith(TProbeJob::Mode::Raise);
    t->SetStopped(false);
    ASSERT_TRUE(Probe.WaitFor([&] { return Probe.Released == 1; }));
    EXPECT_EQ(1, Mgr.ThreadPool().Count());
    EXPECT_TRUE(t->GetStopped());

    // Waking the parked thread re-runs the job it keeps.
    EXPECT_EQ(t, Mgr.GetThread());
    t->SetStopped(false);
    ASSERT_TRUE(Probe.WaitFor([&] { return Probe.Released == 2; }));
    EXPECT_EQ(2, Probe.Runs);
    EXPECT_EQ(2, Probe.After);
}

TEST_F(ThreadPool, StopReturnsOnlyAfterTheLongJobsNextAbortCheck) {
    TBaseQorThread* t = ThreadWith(TProbeJob::Mode::LoopUntilAbort);
    t->SetStopped(false);
    ASSERT_TRUE(Probe.WaitFor([&] { return Probe.Runs == 1; }));
    Mgr.Stop();
    std::lock_guard<std::mutex> g(Probe.Lock);
    EXPECT_EQ(1, Probe.After);  // the run had ended through its abort check
    EXPECT_EQ(1, Probe.Released);
    EXPECT_EQ(0, Mgr.ActiveThreads().Count());
    EXPECT_FALSE(Mgr.Active());
}

TEST_F(ThreadPool, ReleasingIntoAFullPoolEndsTheThreadWithItsJob) {
    TBaseQorThread* parked = Mgr.GetThread();
    TBaseQorThread* busy = ThreadWith(TProbeJob::Mode::Count);
    Mgr.ReleaseThread(parked);
    Mgr.SetPoolSize(1);  // the pool is now full
    busy->SetStopped(false);
    ASSERT_TRUE(Probe.WaitFor([&] { return Probe.Destroyed == 1; }));
    EXPECT_EQ(1, Mgr.ThreadPool().Count());
    EXPECT_EQ(0, Mgr.ActiveThreads().Count());
}

TEST_F(ThreadPool, SetJobFreesThePreviousJob) {
    TBaseQorThread* t = ThreadWith(TProbeJob::Mode::Count);
    t->SetJob(std::make_unique<TProbeJob>(Probe));
    EXPECT_EQ(1, Probe.Destroyed);
    Mgr.ReleaseThread(t);
}

TEST_F(ThreadPool, ANewJobKindNeverTakesTheThreadOfAParkedJob) {
    TBaseQorThread* first = ThreadWith(TProbeJob::Mode::Count);
    Mgr.ReleaseThread(first);  // parked, still keeping its job
    TBaseQorThread* second = Mgr.GetFreeThread();
    EXPECT_NE(first, second);
    EXPECT_EQ(0, Probe.Destroyed);
    Mgr.ReleaseThread(second);
    // A parked thread without a job serves again.
    EXPECT_EQ(second, Mgr.GetFreeThread());
    Mgr.ReleaseThread(second);
}

}  // namespace
