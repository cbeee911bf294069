#include "uQorAbstractThreadManager.h"

#include <algorithm>

#include "uLogger.h"
#include "uPlatform.h"

int TThreadList::Count() {
    std::lock_guard<std::recursive_mutex> g(FLock);
    return int(FItems.size());
}

void TThreadList::Add(TBaseQorThread* t) {
    std::lock_guard<std::recursive_mutex> g(FLock);
    FItems.push_back(t);
}

void TThreadList::Remove(TBaseQorThread* t) {
    std::lock_guard<std::recursive_mutex> g(FLock);
    auto it = std::find(FItems.begin(), FItems.end(), t);
    if (it != FItems.end()) FItems.erase(it);
}

TQorAbstractThreadManager::TQorAbstractThreadManager()
    : FThreadClass([] {
          auto* t = new TQorJobThread();
          t->Start();
          return static_cast<TBaseQorThread*>(t);
      }) {}

TQorAbstractThreadManager::~TQorAbstractThreadManager() {
    if (!FThreadsTerminated) TerminateThreads();
}

void TQorAbstractThreadManager::DoGetThread(TBaseQorThread* t) {
    if (FOnGetthread) FOnGetthread(t);
}

TBaseQorThread* TQorAbstractThreadManager::GetThread() {
    int active = FActiveThreads.Count();
    TBaseQorThread* t = nullptr;
    {
        std::lock_guard<std::recursive_mutex> pool(FThreadPool.Mutex());
        auto& items = FThreadPool.Items();
        if (items.empty()) {
            if (active >= FPoolSize) throw Exception("pool is empty ");
            t = FThreadClass();
            DoGetThread(t);
        } else {
            t = items.front();
            DoGetThread(t);
            items.erase(items.begin());
        }
    }
    FActiveThreads.Add(t);
    return t;
}

TBaseQorThread* TQorAbstractThreadManager::GetFreeThread() {
    int active = FActiveThreads.Count();
    TBaseQorThread* t = nullptr;
    {
        std::lock_guard<std::recursive_mutex> pool(FThreadPool.Mutex());
        auto& items = FThreadPool.Items();
        auto it = std::find_if(items.begin(), items.end(),
                               [](TBaseQorThread* p) { return p->GetJob() == nullptr; });
        if (it != items.end()) {
            t = *it;
            DoGetThread(t);
            items.erase(it);
        } else {
            if (active >= FPoolSize) throw Exception("pool is empty ");
            t = FThreadClass();
            DoGetThread(t);
        }
    }
    FActiveThreads.Add(t);
    return t;
}

void TQorAbstractThreadManager::ReleaseThread(TBaseQorThread* t) {
    FActiveThreads.Remove(t);
    std::lock_guard<std::recursive_mutex> pool(FThreadPool.Mutex());
    if (int(FThreadPool.Items().size()) < FPoolSize) {
        t->Park();
        FThreadPool.Items().push_back(t);
    } else {
        t->SetFreeOnTerminate(true);
        t->Terminate();
    }
}

void TQorAbstractThreadManager::StopRunningThreads() {
    if (FSchThread && !FSchThread->GetStopped()) FSchThread->SetStopped(true);
    std::lock_guard<std::recursive_mutex> g(FActiveThreads.Mutex());
    auto& items = FActiveThreads.Items();
    for (auto it = items.rbegin(); it != items.rend(); ++it)
        if (!(*it)->GetStopped()) (*it)->SetStopped(true);
}

void TQorAbstractThreadManager::TerminateThreads() {
    StopRunningThreads();
    Logger().Debug("Waiting for all will be stopped");
    while (FActiveThreads.Count() > 0) platform::SleepMs(50);
    Logger().Debug("All in pool");
    std::lock_guard<std::recursive_mutex> pool(FThreadPool.Mutex());
    auto& items = FThreadPool.Items();
    while (!items.empty()) {
        TBaseQorThread* t = items.back();
        items.pop_back();
        t->Terminate();
        t->SetStopped(false);
        delete t;
    }
    FSchThread = nullptr;
    FThreadsTerminated = true;
}
