#pragma once
// Test jobs that report their runs, so that tests await them instead of sleeping.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "uQorAbstractJob.h"

struct JobProbe {
    std::mutex Lock;
    std::condition_variable Changed;
    int Runs = 0;
    int Destroyed = 0;
    int After = 0;                 // DoAfter calls
    int Released = 0;              // threads handed back to the manager
    std::vector<uint32_t> Limits;  // time limit seen at each run

    void Note(std::function<void()> change) {
        {
            std::lock_guard<std::mutex> g(Lock);
            change();
        }
        Changed.notify_all();
    }
    // Waits up to `ms` for the predicate (evaluated under the lock).
    bool WaitFor(std::function<bool()> pred, int ms = 5000) {
        std::unique_lock<std::mutex> g(Lock);
        return Changed.wait_for(g, std::chrono::milliseconds(ms), pred);
    }
    int RunCount() {
        std::lock_guard<std::mutex> g(Lock);
        return Runs;
    }
};

// Counts its runs; optionally raises, or loops until aborted.
class TProbeJob : public TQorAbstractJob {
public:
    enum class Mode { Count, Raise, LoopUntilAbort };
    TProbeJob(JobProbe& probe, Mode mode = Mode::Count, const char* name = "TProbeJob")
        : FProbe(probe), FMode(mode), FName(name) {}
    ~TProbeJob() override {
        FProbe.Note([&] { ++FProbe.Destroyed; });
    }
    const char* ClassName() const override { return FName; }
    void CheckForAbort() override {
        if (OwnerStopRequested()) throw EQorJobAbort("Thread were stopped or terminated");
        TQorAbstractJob::CheckForAbort();
    }
    void DoAfter() override {
        TQorAbstractJob::DoAfter();
        FProbe.Note([&] { ++FProbe.After; });
    }
    void DoJob() override {
        FProbe.Note([&] {
            ++FProbe.Runs;
            FProbe.Limits.push_back(FLimitJobRunningTime);
        });
        if (FMode == Mode::Raise) throw EQorJobException("job failed on purpose");
        if (FMode == Mode::LoopUntilAbort)
            for (;;) {
                CheckForAbort();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
    }

private:
    JobProbe& FProbe;
    Mode FMode;
    const char* FName;
};
