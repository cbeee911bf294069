#pragma once
// What the exchange-job tests share: program folders with a debug log, an embedded
// database made from db/, an in-process UTM and the settings that point the jobs at it,
// and helpers to run a job on a real worker thread and to await its runs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "DbQueries.h"
#include "EmulatedUtm.h"
#include "FbTestDb.h"
#include "TestSupport.h"
#include "uBaseQorThread.h"
#include "uCommon.h"
#include "uHttpClient.h"
#include "uLogger.h"
#include "uUtm.h"

namespace utmtest {

inline constexpr const char* kFsrarId = "010000000001";

// A fault of the emulator, the other fields at their defaults.
inline TUtmFault Fault(TUtmFaultMode mode, int status, std::chrono::milliseconds delay, int count) {
    TUtmFault f;
    f.Mode = mode;
    f.Status = status;
    f.Delay = delay;
    f.Count = count;
    return f;
}

// One embedded database for the whole suite; every test starts with empty tables.
class UtmJobEnv : public qortest::SuiteDbTest {
protected:
    void SetUp() override {
        qortest::SuiteDbTest::SetUp();
        InitLogger();
        SetLogLevel("debug");
        InitUTMBuffer();
        qortest::Exec("DELETE FROM S_EGAIS_UTM_LINKS");
        qortest::Exec("DELETE FROM S_P_RMK_SHORT_MESSAGES");
    }
    void TearDown() override {
        Utm.Stop();
        ShutdownLogger();
        SetLogLevel("error");
        ClearSettings();
        DoneUTMBuffer();
        qortest::SuiteDbTest::TearDown();
    }

    // A link recorded well before any run (the trigger keeps an explicit moment).
    static void RecordOldLink(const std::string& link, const std::string& fsrarId = kFsrarId) {
        qortest::Exec(
            "INSERT INTO S_EGAIS_UTM_LINKS (UTM_LINK, FSRAR_ID, LAST_MODIFIED) "
            "VALUES (:LINK, :FSRAR_ID, '2020-01-01 00:00:00')",
            {{"LINK", link}, {"FSRAR_ID", fsrarId}});
    }
    static std::vector<std::string> RecordedLinks() {
        std::vector<std::string> links;
        for (TQueryPtr q =
                 qortest::Query("SELECT UTM_LINK FROM S_EGAIS_UTM_LINKS ORDER BY UTM_LINK");
             !q->Eof(); q->Next())
            links.push_back(q->Field(0).AsString());
        return links;
    }
    // Fetches the emulator's current list into the shared list.
    static void RefreshList() {
        THttpClient http;
        ASSERT_EQ(200, UTMBuffer()->Refresh(http));
    }
    static std::string Log() { return qortest::ReadFile(LogFileName()); }

    qortest::ProgramFolders Folders;
    qortest::EmulatedUtm Utm{kFsrarId};
};

// A worker thread that runs its job once per release and reports each hand-back.
class TWorker {
public:
    explicit TWorker(std::unique_ptr<TQorAbstractJob> job) {
        FThread.SetOnReleaseThread([this](TBaseQorThread* t) {
            t->Park();
            {
                std::lock_guard<std::mutex> g(FLock);
                ++FRuns;
            }
            FChanged.notify_all();
        });
        job->SetOwnedThread(&FThread);
        FThread.SetJob(std::move(job));
        FThread.Start();
    }
    void Run() { FThread.SetStopped(false); }
    void Stop() { FThread.SetStopped(true); }
    // Waits until `runs` runs have ended; false when that takes longer than `timeout`.
    bool WaitForRuns(int runs, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> g(FLock);
        return FChanged.wait_for(g, timeout, [&] { return FRuns >= runs; });
    }

private:
    std::mutex FLock;  // guards FRuns
    std::condition_variable FChanged;
    int FRuns = 0;
    TQorJobThread FThread;  // last: it ends before the fields its callback uses
};

// Opens once its Notify has been called; tests await it.
class TLatch {
public:
    void Notify() {
        {
            std::lock_guard<std::mutex> g(FLock);
            FOpen = true;
        }
        FChanged.notify_all();
    }
    bool Wait(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> g(FLock);
        return FChanged.wait_for(g, timeout, [&] { return FOpen; });
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FOpen = false;
};

}  // namespace utmtest
