#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <future>

#include "TestSupport.h"
#include "uPlatform.h"
#include "uSharedFile.h"
#include "uSignals.h"
#include "uSingleInstance.h"

using namespace std::chrono_literals;

namespace {

class Runtime : public ::testing::Test {
protected:
    qortest::ProgramFolders Folders;
};

TEST_F(Runtime, OnlyOneHolderOfTheInstanceLockUntilItEnds) {
    {
        platform::TSingleInstance first("instance");
        ASSERT_TRUE(first.Acquired());
        // flock locks belong to the open file: a second open in this process is refused
        // just as one in another process would be.
        platform::TSingleInstance second("instance");
        EXPECT_FALSE(second.Acquired());
    }
    platform::TSingleInstance again("instance");
    EXPECT_TRUE(again.Acquired());
}

TEST_F(Runtime, SharedFileAndNamedEventAreSeenByEveryMapping) {
    int fd = platform::OpenSharedFile("channel", 4096);
    unsigned char state = 4;
    platform::WriteSharedBytes(fd, &state, 1);
    platform::TSharedFile reader("channel", 4096);
    EXPECT_EQ(4, reader.Data()[0]);
    ::close(fd);

    platform::TNamedEvent writer("event");
    platform::TNamedEvent other("event");
    EXPECT_FALSE(other.IsSet());
    writer.Set();
    EXPECT_TRUE(other.IsSet());
}

TEST(Ticks, ElapsedTimeSurvivesTheWrapOfTheCounter) {
    uint32_t now = 0xFFFFFFF0u;
    platform::SetTickSource([&] { return now; });
    uint32_t start = platform::GetTickCount();
    now = 0x0000000Fu;
    EXPECT_EQ(0x1Fu, platform::TicksElapsed(start, platform::GetTickCount()));
    platform::SetTickSource(nullptr);
}

// The stop signals are blocked in every thread of this process from here on, as the
// service does in main, so that a raised SIGTERM waits for the signal file.
class StopRequest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { platform::BlockStopSignals(); }
    StopRequest() {
        if (pipe(Pipe) != 0) throw std::runtime_error("pipe");
    }
    ~StopRequest() override {
        for (int fd : Pipe)
            if (fd >= 0) ::close(fd);
    }
    std::future<void> Wait() {
        return std::async(std::launch::async, [fd = Pipe[0]] { platform::WaitForStopRequest(fd); });
    }
    int Pipe[2] = {-1, -1};
};

TEST_F(StopRequest, EnterStops) {
    auto done = Wait();
    ASSERT_EQ(1, ::write(Pipe[1], "x", 1));  // other keys do not
    EXPECT_EQ(std::future_status::timeout, done.wait_for(100ms));
    ASSERT_EQ(1, ::write(Pipe[1], "\n", 1));
    EXPECT_EQ(std::future_status::ready, done.wait_for(10s));
}

TEST_F(StopRequest, TheEndOfInputDoesNotStopButSigtermDoes) {
    auto done = Wait();
    ::close(Pipe[1]);
    Pipe[1] = -1;
    EXPECT_EQ(std::future_status::timeout, done.wait_for(200ms));
    ::kill(::getpid(), SIGTERM);
    EXPECT_EQ(std::future_status::ready, done.wait_for(10s));
}

}  // namespace
