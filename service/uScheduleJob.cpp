#include "uScheduleJob.h"

#include <chrono>

#include "uBaseQorThread.h"
#include "uCommon.h"
#include "uDbProvider.h"
#include "uLogger.h"
#include "uPlatform.h"
#include "uQorAbstractThreadManager.h"

namespace {
constexpr uint32_t kSettingsRetryMs = 5000;
constexpr uint32_t kTimerSliceMs = 100;
constexpr int64_t kReconnectAfterSeconds = 50;
}  // namespace

TScheduleJob::TScheduleJob(TJobTable jobTable, TSettingsLoader loadSettings)
    : FJobTable(std::move(jobTable)), FLoadSettings(std::move(loadSettings)) {}

TScheduleJob::~TScheduleJob() = default;

void TScheduleJob::CheckForAbort() {
    if (OwnerStopRequested()) throw EQorJobAbort("Thread were stopped or terminated");
}

void TScheduleJob::SetLimitRunningTime() {
    auto value = GetSettingProperty("CYCLE_TIME");
    if (!value) return;
    try {
        int64_t ms = TVariant(*value).AsInt64();
        if (ms <= 0 || ms > int64_t(UINT32_MAX)) {
            Logger().Error("CYCLE_TIME " + *value +
                           " is not a valid cycle length; the cycle stays " +
                           std::to_string(FLimitRunningTime) + " ms");
            return;
        }
        FLimitRunningTime = uint32_t(ms);
    } catch (const EConvertError&) {
        // Not an integer: the cycle keeps its length.
    }
}

void TScheduleJob::PauseUnlessStopped(uint32_t ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!OwnerStopRequested()) {
        auto left = until - std::chrono::steady_clock::now();
        if (left <= std::chrono::milliseconds(0)) return;
        auto slice = std::min<std::chrono::steady_clock::duration>(
            left, std::chrono::milliseconds(kTimerSliceMs));
        std::this_thread::sleep_for(slice);
    }
}

void TScheduleJob::LoadSettingsLoop() {
    for (;;) {
        if (FOwnedThread->Terminated()) return;
        try {
            FLoadSettings();
            Logger().Error("Версия сервиса 1.1.8.10");
            Logger().Error("Параметры работы успешно загружены....");
            return;
        } catch (const std::exception& e) {
            Logger().Error("Не удается подключиться к базе данных и загрузить параметры работы.",
                           e);
            FreeDbProvider();
            CheckForAbort();
            PauseUnlessStopped(kSettingsRetryMs);
            CheckForAbort();
        }
    }
}

void TScheduleJob::DoJob() {
    Logger().Debug("TScheduleJob.DoJob ->");
    if (!FOwnedThread) throw EQorJobException("Thread is not assigned");
    if (!FThreadMgr) throw EQorJobException("Thread manager is not assigned");
    LoadSettingsLoop();
    if (FOwnedThread->Terminated()) return;
    hVelmokEvent = std::make_unique<platform::TNamedEvent>("QOR_VELMOK_EVENT");
    SetLimitRunningTime();
    UpdateLogParams();
    RunCycles();
    Logger().Debug("TScheduleJob.DoJob <-");
}

void TScheduleJob::RunCycles() {
    using clock = std::chrono::steady_clock;
    std::vector<bool> started(FJobTable.size(), false);
    TQueryPtr probe;
    const auto cycle = std::chrono::milliseconds(FLimitRunningTime);
    auto due = clock::now() + cycle;
    while (!FOwnedThread->GetStopped() && !FOwnedThread->Terminated()) {
        auto left = due - clock::now();
        if (left > clock::duration::zero()) {
            std::this_thread::sleep_for(
                std::min<clock::duration>(left, std::chrono::milliseconds(kTimerSliceMs)));
            if (clock::now() < due) {
                CheckForAbort();
                continue;
            }
        }
        if (!probe) {
            // Opens this thread's connection; its transaction is ended at once, so that the
            // scheduler never keeps a transaction open for the life of the service.
            try {
                probe = NewQuery(TTxMode::Long);
                probe->Transaction().Commit();
            } catch (const std::exception&) {
                probe.reset();  // an unreachable database is tried again at the next cycle
            }
        }
        for (size_t i = 0; i < FJobTable.size(); ++i) {
            const auto& row = FJobTable[i];
            auto flag = GetSettingProperty(row.TaskFlag);
            if (!started[i] && flag && *flag == "1") {
                try {
                    NewThreadForJob(row);
                    started[i] = true;
                } catch (const std::exception& e) {
                    Logger().Error(row.FailMessage, e);
                }
            }
            if (row.CheckAbortAfter) CheckForAbort();
        }
        CheckForAbort();
        if (bGlobalDBConnectionError) {
            if (SecondsBetween(dtGlobalDBConnectionErrorMoment.load(), Now()) >
                kReconnectAfterSeconds) {
                Logger().Error("*** Попытаемся восстановить подключение к БД...");
                probe.reset();  // its connection is about to be discarded
                FreeDbProvider();
                bGlobalDBConnectionError = false;
            }
        } else {
            RunReadyThreads();
        }
        due = clock::now() + cycle;
    }
}

void TScheduleJob::NewThreadForJob(const TJobTableRow& row) {
    TBaseQorThread* t = FThreadMgr->GetFreeThread();
    try {
        std::unique_ptr<TQorAbstractJob> job = row.Create();
        bool isRefresh = std::string(job->ClassName()) == "TEgaisRefreshJob";
        job->SetLimitJobRunningTime(isRefresh ? kRefreshJobLimitTime : row.LimitTime);
        job->SetOwnedThread(t);
        t->SetJob(std::move(job));
    } catch (...) {
        FThreadMgr->ReleaseThread(t);  // back to the pool, not active for ever
        throw;
    }
    t->SetStopped(false);
}

void TScheduleJob::RunReadyThreads() {
    auto& pool = FThreadMgr->ThreadPool();
    std::lock_guard<std::recursive_mutex> g(pool.Mutex());
    int n = int(pool.Items().size());
    for (int i = 0; i < n; ++i) FThreadMgr->GetThread()->SetStopped(false);
}
