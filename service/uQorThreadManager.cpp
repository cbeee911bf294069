#include "uQorThreadManager.h"

#include <algorithm>

#include "uLogger.h"
#include "uPlatform.h"

TQorThreadManager::TQorThreadManager(TJobTable jobTable, TScheduleJob::TSettingsLoader loadSettings)
    : FJobTable(std::move(jobTable)), FLoadSettings(std::move(loadSettings)) {
    Logger().Debug("TQorThreadManager.Create ->");
    FActive = false;
    Logger().Debug("TQorThreadManager.Create <-");
}

TQorThreadManager::~TQorThreadManager() {
    TerminateThreads();
}

void TQorThreadManager::InitThread(TBaseQorThread* t) {
    if (t) t->SetOnReleaseThread([this](TBaseQorThread* th) { ReleaseThread(th); });
}

void TQorThreadManager::InitSchedullerThread() {
    Logger().Debug("TQorThreadManager.InitSchedullerThread ->");
    if (!FSchThread) {
        FSchThread = GetThread();
        SetOnGetThread([this](TBaseQorThread* t) { InitThread(t); });
    } else {
        // A restart after Stop: the parked scheduler thread leaves the pool before it
        // runs again, so that nobody else can hand it out meanwhile.
        std::lock_guard<std::recursive_mutex> pool(FThreadPool.Mutex());
        auto& items = FThreadPool.Items();
        auto it = std::find(items.begin(), items.end(), FSchThread);
        if (it != items.end()) {
            items.erase(it);
            FActiveThreads.Add(FSchThread);
        }
    }
    auto job = std::make_unique<TScheduleJob>(FJobTable, FLoadSettings);
    job->SetLimitRunningTime(20000);
    job->SetThreadMgr(this);
    job->SetOwnedThread(FSchThread);
    FSchThread->SetJob(std::move(job));
    FSchThread->SetOnReleaseThread([this](TBaseQorThread* th) { ReleaseThread(th); });
    FSchThread->SetStopped(false);
    Logger().Debug("TQorThreadManager.InitSchedullerThread <-");
}

void TQorThreadManager::Start() {
    InitSchedullerThread();
    FActive = true;
}

void TQorThreadManager::Stop() {
    StopRunningThreads();
    do {
        platform::SleepMs(5);
    } while (FActiveThreads.Count() > 0);
    FActive = false;
}
