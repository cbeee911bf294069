#pragma once
// A pooled worker thread: it owns one job and runs it once each time it is released to
// run (the gate opens), then hands itself back to its manager and waits again.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "uDateTime.h"
#include "uQorAbstractJob.h"

// The process-wide announcement of a lost database connection: raised by the first
// worker that recognises the loss, cleared by the scheduler once it has discarded the
// connections.
extern std::atomic<bool> bGlobalDBConnectionError;
extern std::atomic<TDateTime> dtGlobalDBConnectionErrorMoment;

class TBaseQorThread {
public:
    using TThreadEvent = std::function<void(TBaseQorThread*)>;

    // The thread is created stopped: Start() launches it and it blocks at the gate.
    TBaseQorThread();
    // Frees the job, asks the thread to end, opens the gate and waits for the end.
    virtual ~TBaseQorThread();
    TBaseQorThread(const TBaseQorThread&) = delete;
    TBaseQorThread& operator=(const TBaseQorThread&) = delete;

    void Start();

    bool GetStopped() const;
    // false opens the gate for one run; true asks a running job to abort and keeps a
    // thread that was released but has not begun its run from beginning it. The gate
    // stays open until the thread is parked, so that such a thread still comes back.
    void SetStopped(bool value);
    // Stops the thread and closes its gate: it waits there until released again. Done
    // by the manager when the thread hands itself back after a run.
    void Park();
    TThreadEvent GetOnReleaseThread() const;
    void SetOnReleaseThread(TThreadEvent value);
    void Lock() { FLock.lock(); }
    void UnLock() { FLock.unlock(); }
    // Blocks until the gate is open.
    void MakeReadyToUse();

    TQorAbstractJob* GetJob() const;
    // Frees the current job and takes ownership of the new one.
    void SetJob(std::unique_ptr<TQorAbstractJob> value);
    std::string JobName() const;

    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    // When set, the thread deletes itself (and its job) once its body ends.
    void SetFreeOnTerminate(bool value) { FFreeOnTerminate = value; }

protected:
    // Called before every run; nothing here.
    virtual void InitObjects() {}

private:
    void Execute();
    void HandleRunError(const std::exception* e);

    mutable std::mutex FLock;  // guards FStopped, FOnReleaseThread, FJob, FJobName
    bool FStopped = true;
    TThreadEvent FOnReleaseThread;
    std::unique_ptr<TQorAbstractJob> FJob;
    std::string FJobName;

    std::mutex FGateLock;  // guards FGateOpen
    std::condition_variable FGateChanged;
    bool FGateOpen = false;

    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFreeOnTerminate{false};
    std::thread FThread;
};

// The worker thread the manager hands out; its Job is the job it runs.
class TQorJobThread : public TBaseQorThread {
public:
    TQorAbstractJob* Job() const { return GetJob(); }
    void SetJobObject(std::unique_ptr<TQorAbstractJob> value) { SetJob(std::move(value)); }
};
