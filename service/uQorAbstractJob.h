#pragma once
// Root of every unit of work a worker thread runs: the run protocol (before, work,
// after), the run's tick times and the one place where long jobs ask whether to give up.
#include <cstdint>
#include <string>

#include "Exception.h"

// Raised only to abort a run (time limit or stop request).
QOR_DECLARE_EXCEPTION(EQorJobAbort, Exception)
// A job's own failure.
QOR_DECLARE_EXCEPTION(EQorJobException, Exception)
// A request that cannot, or need not, be carried out now.
QOR_DECLARE_EXCEPTION(EEmptyException, Exception)

class TBaseQorThread;

class TQorAbstractJob {
public:
    TQorAbstractJob() = default;
    virtual ~TQorAbstractJob() = default;
    TQorAbstractJob(const TQorAbstractJob&) = delete;
    TQorAbstractJob& operator=(const TQorAbstractJob&) = delete;

    // The class name printed in log lines.
    virtual const char* ClassName() const = 0;

    // DoBefore, DoJob and, always, DoAfter; an error of DoJob continues to the caller.
    void Perform();

    virtual void DoBefore();
    virtual void DoJob() = 0;
    virtual void DoAfter();
    // Raises EQorJobAbort "Unable to perform job on limit time" once the run is longer
    // than the limit (elapsed ticks modulo 2^32, so a wrap of the counter is harmless).
    virtual void CheckForAbort();
    [[noreturn]] void RaiseAbortByTimeOut();

    uint32_t GetLimitJobRunningTime() const { return FLimitJobRunningTime; }
    void SetLimitJobRunningTime(uint32_t value) { FLimitJobRunningTime = value; }
    uint32_t GetStartJobTime() const { return FStartedJobTime; }
    void SetStartJobTime(uint32_t value) { FStartedJobTime = value; }
    uint32_t FinishedJobTime() const { return FFinishedJobTime; }
    TBaseQorThread* GetOwnedThread() const { return FOwnedThread; }
    void SetOwnedThread(TBaseQorThread* value) { FOwnedThread = value; }

protected:
    // True when the owning thread has a terminate request or its stop flag is set.
    bool OwnerStopRequested() const;

    uint32_t FStartedJobTime = 0;
    uint32_t FFinishedJobTime = 0;
    uint32_t FLimitJobRunningTime = 0;
    TBaseQorThread* FOwnedThread = nullptr;  // not owned
};
