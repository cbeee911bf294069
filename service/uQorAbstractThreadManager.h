#pragma once
// The pool of worker threads: threads handed out and not yet back (active) and idle
// threads kept for reuse (pool), at most 60 of each.
#include <functional>
#include <mutex>
#include <vector>

#include "uBaseQorThread.h"

// A list of threads with its own re-entrant lock. Lock order: a holder of the pool's
// lock may take the active list's lock, never the other way round.
class TThreadList {
public:
    void Lock() { FLock.lock(); }
    void UnLock() { FLock.unlock(); }
    std::recursive_mutex& Mutex() { return FLock; }
    // The calls below take the lock themselves.
    int Count();
    void Add(TBaseQorThread* t);
    void Remove(TBaseQorThread* t);
    // Under Lock(): the entries themselves.
    std::vector<TBaseQorThread*>& Items() { return FItems; }

private:
    std::recursive_mutex FLock;  // guards FItems
    std::vector<TBaseQorThread*> FItems;
};

class TQorAbstractThreadManager {
public:
    using TThreadFactory = std::function<TBaseQorThread*()>;

    TQorAbstractThreadManager();
    virtual ~TQorAbstractThreadManager();
    TQorAbstractThreadManager(const TQorAbstractThreadManager&) = delete;
    TQorAbstractThreadManager& operator=(const TQorAbstractThreadManager&) = delete;

    // An idle thread, or a new one while fewer than PoolSize are active; raises
    // "pool is empty " otherwise. The thread is recorded as active and is still stopped.
    TBaseQorThread* GetThread();
    // As GetThread, but never a parked thread that still keeps another job: that job
    // would be freed by the new one. Starting a new job kind uses this.
    TBaseQorThread* GetFreeThread();
    // Takes a thread back after its run (called on that thread).
    void ReleaseThread(TBaseQorThread* t);
    void DoGetThread(TBaseQorThread* t);
    // Stops, waits for and frees every thread.
    void TerminateThreads();

    int PoolSize() const { return FPoolSize; }
    void SetPoolSize(int value) { FPoolSize = value; }
    void SetThreadClass(TThreadFactory value) { FThreadClass = std::move(value); }
    void SetOnGetThread(TBaseQorThread::TThreadEvent value) { FOnGetthread = std::move(value); }
    TThreadList& ActiveThreads() { return FActiveThreads; }
    TThreadList& ThreadPool() { return FThreadPool; }

protected:
    // Asks every running thread to stop (scheduler first, then the active list from its
    // last entry), without waiting.
    void StopRunningThreads();

    int FPoolSize = 60;
    TBaseQorThread::TThreadEvent FOnGetthread;
    TThreadFactory FThreadClass;
    TThreadList FActiveThreads;
    TThreadList FThreadPool;
    TBaseQorThread* FSchThread = nullptr;
    bool FThreadsTerminated = false;  // a derived destructor has already done it
};
