#include "uQorAbstractJob.h"

#include "uBaseQorThread.h"
#include "uPlatform.h"

void TQorAbstractJob::Perform() {
    DoBefore();
    try {
        DoJob();
    } catch (...) {
        DoAfter();
        throw;
    }
    DoAfter();
}

void TQorAbstractJob::DoBefore() {
    FStartedJobTime = platform::GetTickCount();
}

void TQorAbstractJob::DoAfter() {
    FFinishedJobTime = platform::GetTickCount();
}

void TQorAbstractJob::CheckForAbort() {
    uint32_t elapsed = platform::TicksElapsed(FStartedJobTime, platform::GetTickCount());
    if (elapsed > FLimitJobRunningTime) RaiseAbortByTimeOut();
}

void TQorAbstractJob::RaiseAbortByTimeOut() {
    throw EQorJobAbort("Unable to perform job on limit time");
}

bool TQorAbstractJob::OwnerStopRequested() const {
    return FOwnedThread && (FOwnedThread->Terminated() || FOwnedThread->GetStopped());
}
