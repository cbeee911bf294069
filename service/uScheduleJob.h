#pragma once
// The scheduler: loads the settings, then once per cycle starts every enabled job kind
// that has not been started yet and wakes every job whose previous run has finished.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "uQorAbstractJob.h"
#include "uSharedFile.h"

class TQorAbstractThreadManager;

// One job kind the scheduler may start.
struct TJobTableRow {
    std::string TaskFlag;  // the TASK_FLAGS setting that enables it ("1")
    std::function<std::unique_ptr<TQorAbstractJob>()> Create;
    uint32_t LimitTime;       // the job's time limit of one run, milliseconds
    std::string FailMessage;  // logged when the start fails
    bool CheckAbortAfter;     // the scheduler looks for a stop request after this row
};
using TJobTable = std::vector<TJobTableRow>;

// The job kinds of the service, in the order they are started.
const TJobTable& DefaultJobTable();

class TScheduleJob : public TQorAbstractJob {
public:
    using TSettingsLoader = std::function<void()>;
    // loadSettings fills the settings at the start of every run (LoadSettings unless a
    // test gives its own).
    TScheduleJob(TJobTable jobTable, TSettingsLoader loadSettings);
    ~TScheduleJob() override;
    const char* ClassName() const override { return "TScheduleJob"; }

    void DoJob() override;
    // A stop or terminate request of the owning thread raises EQorJobAbort
    // "Thread were stopped or terminated"; the scheduler has no time limit.
    void CheckForAbort() override;

    uint32_t LimitRunningTime() const { return FLimitRunningTime; }
    void SetLimitRunningTime(uint32_t value) { FLimitRunningTime = value; }
    // Takes CYCLE_TIME when it is a positive integer; otherwise the cycle stays and the
    // rejected value is logged.
    void SetLimitRunningTime();
    TQorAbstractThreadManager* ThreadMgr() const { return FThreadMgr; }
    void SetThreadMgr(TQorAbstractThreadManager* value) { FThreadMgr = value; }

private:
    void LoadSettingsLoop();
    void RunCycles();
    void NewThreadForJob(const TJobTableRow& row);
    void RunReadyThreads();
    // Sleeps up to ms in slices of 100 ms; returns early when a stop is requested.
    void PauseUnlessStopped(uint32_t ms);

    TJobTable FJobTable;
    TSettingsLoader FLoadSettings;
    uint32_t FLimitRunningTime = 20000;
    TQorAbstractThreadManager* FThreadMgr = nullptr;
    std::unique_ptr<platform::TNamedEvent> hVelmokEvent;
};

// The time limit every refresh job gets, whatever its row asks.
inline constexpr uint32_t kRefreshJobLimitTime = 2000;
