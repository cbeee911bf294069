#pragma once
// The service's thread manager: the pool plus the scheduler thread, started and stopped
// by the service module.
#include "uCommon.h"
#include "uQorAbstractThreadManager.h"
#include "uScheduleJob.h"

class TQorThreadManager : public TQorAbstractThreadManager {
public:
    // The job table is what the scheduler starts; the program passes DefaultJobTable().
    explicit TQorThreadManager(TJobTable jobTable,
                               TScheduleJob::TSettingsLoader loadSettings = LoadSettings);
    ~TQorThreadManager() override;

    // Creates (or reuses) the scheduler thread and gives it a new scheduler job.
    void InitSchedullerThread();
    // OnGetThread handler: installs ReleaseThread as the thread's release callback.
    void InitThread(TBaseQorThread* t);
    void Start();
    // Asks every running thread to stop and waits, without a time-out, until all are
    // back in the pool.
    void Stop();
    bool Active() const { return FActive; }
    TBaseQorThread* SchedulerThread() const { return FSchThread; }

private:
    TJobTable FJobTable;
    TScheduleJob::TSettingsLoader FLoadSettings;
    bool FActive = false;
};
