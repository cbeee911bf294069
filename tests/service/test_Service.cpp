#include <gtest/gtest.h>

#include "TestSupport.h"
#include "uCommon.h"
#include "uIpc.h"
#include "uQorSvc.h"
#include "uSharedFile.h"

namespace {

class Service : public ::testing::Test {
protected:
    ~Service() override { ClearSettings(); }
    // Byte 0 of the status channel as another process would read it.
    int ChannelState() {
        platform::TSharedFile reader(kStatusChannelName, kStatusChannelSize);
        return reader.Data()[0];
    }
    qortest::ProgramFolders Folders;
};

TEST_F(Service, StatusChannelReadsFourWhileRunningAndOneAfterStop) {
    TQorSvc svc(TJobTable{}, [] { ClearSettings(); });
    bool flag = true;
    svc.ServiceStart(flag);
    EXPECT_EQ(4, ChannelState());
    EXPECT_TRUE(svc.Manager()->Active());
    svc.ServiceStop(flag);
    EXPECT_EQ(1, ChannelState());
    EXPECT_FALSE(svc.Manager()->Active());
    EXPECT_EQ(4096u, std::filesystem::file_size(Folders.Runtime() / kStatusChannelName));
}

TEST_F(Service, ARestartedManagerRunsTheSchedulerAgain) {
    TQorSvc svc(TJobTable{}, [] { ClearSettings(); });
    bool flag = true;
    svc.ServiceStart(flag);
    svc.ServiceStop(flag);
    svc.ServiceStart(flag);
    EXPECT_EQ(4, ChannelState());
    EXPECT_EQ(1, svc.Manager()->ActiveThreads().Count());  // the scheduler, out of the pool
    svc.ServiceStop(flag);
    EXPECT_EQ(1, svc.Manager()->ThreadPool().Count());
}

}  // namespace
