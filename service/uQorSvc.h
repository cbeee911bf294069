#pragma once
// The service module: owns the thread manager and publishes the service state on the
// status channel.
#include <memory>

#include "uIpc.h"
#include "uQorThreadManager.h"

class TQorSvc {
public:
    // Creates the status channel and the thread manager; on failure logs "TQorSvc" with
    // the error and re-raises.
    explicit TQorSvc(TJobTable jobTable, TScheduleJob::TSettingsLoader loadSettings = LoadSettings);
    // Frees the manager, which stops and frees every thread; errors are logged only.
    ~TQorSvc();
    TQorSvc(const TQorSvc&) = delete;
    TQorSvc& operator=(const TQorSvc&) = delete;

    const char* ClassName() const { return "TQorSvc"; }
    void ServiceStart(bool& Started);
    void ServiceStop(bool& Stopped);
    void ServiceShutdown();
    TQorThreadManager* Manager() const { return FManager.get(); }

private:
    void WriteState(unsigned char state);

    TChannelHandle FChannel = -1;
    std::unique_ptr<TQorThreadManager> FManager;
};
