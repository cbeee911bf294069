#include "uQorSvc.h"

#include "uLogger.h"

TQorSvc::TQorSvc(TJobTable jobTable, TScheduleJob::TSettingsLoader loadSettings) {
    Logger().Debug("TQorSvc.CreateNew ->");
    try {
        FChannel = CreateChannel(kStatusChannelName);
        Logger().Debug("Channel was created {}", FChannel);
        FManager =
            std::make_unique<TQorThreadManager>(std::move(jobTable), std::move(loadSettings));
    } catch (const std::exception& e) {
        Logger().Error(ClassName(), e);
        ReleaseChannel(FChannel);
        throw;
    }
    Logger().Debug("TQorSvc.CreateNew <-");
}

TQorSvc::~TQorSvc() {
    Logger().Debug("TQorSvc.Destroy ->");
    try {
        ReleaseChannel(FChannel);
        FChannel = -1;
        FManager.reset();
    } catch (const std::exception& e) {
        Logger().Error(ClassName(), e);
    }
    Logger().Debug("TQorSvc.Destroy <-");
}

void TQorSvc::WriteState(unsigned char state) {
    try {
        WriteTo(FChannel, &state, 1);
    } catch (const std::exception& e) {
        Logger().Error(ClassName(), e);
    }
}

void TQorSvc::ServiceStart(bool& /*Started*/) {
    Logger().Debug("TQorSvc.ServiceStart ->");
    if (FManager) {
        FManager->Start();
        WriteState(4);
    }
    Logger().Debug("TQorSvc.ServiceStart <-");
}

void TQorSvc::ServiceStop(bool& /*Stopped*/) {
    Logger().Debug("TQorSvc.ServiceStop ->");
    if (FManager) {
        FManager->Stop();
        WriteState(1);
    }
    Logger().Debug("TQorSvc.ServiceStop <-");
}

void TQorSvc::ServiceShutdown() {
    if (FManager) FManager->Stop();
}
