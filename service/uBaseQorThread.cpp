#include "uBaseQorThread.h"

#include "uDbProvider.h"
#include "uLogger.h"
#include "uPlatform.h"

std::atomic<bool> bGlobalDBConnectionError{false};
std::atomic<TDateTime> dtGlobalDBConnectionErrorMoment{TDateTime{}};

TBaseQorThread::TBaseQorThread() {
    Park();
}

TBaseQorThread::~TBaseQorThread() {
    {
        std::lock_guard<std::mutex> g(FLock);
        FJob.reset();
    }
    FFreeOnTerminate = false;
    Terminate();
    if (FThread.joinable()) {
        if (FThread.get_id() == std::this_thread::get_id()) {
            FThread.detach();  // the thread is freeing itself
        } else {
            {
                std::lock_guard<std::mutex> g(FGateLock);
                FGateOpen = true;  // a thread parked at the gate must see the request
            }
            FGateChanged.notify_all();
            FThread.join();
        }
    }
}

void TBaseQorThread::Start() {
    FThread = std::thread([this] { Execute(); });
}

bool TBaseQorThread::GetStopped() const {
    std::lock_guard<std::mutex> g(FLock);
    return FStopped;
}

void TBaseQorThread::SetStopped(bool value) {
    std::lock_guard<std::mutex> g(FLock);
    FStopped = value;
    if (!value) {
        {
            std::lock_guard<std::mutex> gate(FGateLock);
            FGateOpen = true;
        }
        FGateChanged.notify_all();
    }
}

void TBaseQorThread::Park() {
    std::lock_guard<std::mutex> g(FLock);
    FStopped = true;
    std::lock_guard<std::mutex> gate(FGateLock);
    FGateOpen = false;
}

TBaseQorThread::TThreadEvent TBaseQorThread::GetOnReleaseThread() const {
    std::lock_guard<std::mutex> g(FLock);
    return FOnReleaseThread;
}

void TBaseQorThread::SetOnReleaseThread(TThreadEvent value) {
    std::lock_guard<std::mutex> g(FLock);
    FOnReleaseThread = std::move(value);
}

void TBaseQorThread::MakeReadyToUse() {
    std::unique_lock<std::mutex> gate(FGateLock);
    FGateChanged.wait(gate, [this] { return FGateOpen; });
}

TQorAbstractJob* TBaseQorThread::GetJob() const {
    std::lock_guard<std::mutex> g(FLock);
    return FJob.get();
}

void TBaseQorThread::SetJob(std::unique_ptr<TQorAbstractJob> value) {
    std::lock_guard<std::mutex> g(FLock);
    FJob = std::move(value);
    FJobName = FJob ? FJob->ClassName() : "";
}

std::string TBaseQorThread::JobName() const {
    std::lock_guard<std::mutex> g(FLock);
    return FJobName;
}

void TBaseQorThread::HandleRunError(const std::exception* e) {
    if (e && IsConnectionLostError(*e) && !bGlobalDBConnectionError) {
        Logger().Error("*** Обрыв соединения с БД ***");
        dtGlobalDBConnectionErrorMoment = Now();
        bGlobalDBConnectionError = true;
    }
    if (e)
        Logger().Error(JobName() + " ", *e);
    else
        Logger().Error(JobName() + " ", Exception("unknown error"));
}

void TBaseQorThread::Execute() {
    while (!Terminated()) {
        MakeReadyToUse();
        if (Terminated()) break;
        try {
            InitObjects();
            // A stop that came between the release and the start skips the run.
            if (TQorAbstractJob* job = GetJob(); job && !GetStopped()) job->Perform();
            platform::SleepMs(5);
        } catch (const std::exception& e) {
            try {
                HandleRunError(&e);
            } catch (...) {
                // A failure to report the error must not end the worker.
            }
        } catch (...) {
            try {
                HandleRunError(nullptr);
            } catch (...) {
                // As above.
            }
        }
        try {
            if (auto release = GetOnReleaseThread()) release(this);
        } catch (...) {
            // The thread goes back to its loop whatever the manager's callback did.
        }
    }
    if (FFreeOnTerminate) delete this;
}
