#include <gtest/gtest.h>

#include "TestSupport.h"
#include "uPlatform.h"
#include "uQorAbstractJob.h"

namespace {

class TFixedClock {
public:
    TFixedClock() {
        platform::SetTickSource([this] { return Now; });
    }
    ~TFixedClock() { platform::SetTickSource(nullptr); }
    uint32_t Now = 0;
};

class TPlainJob : public TQorAbstractJob {
public:
    const char* ClassName() const override { return "TPlainJob"; }
    void DoJob() override {
        if (Fail) throw EQorJobException("failed");
    }
    void DoAfter() override {
        TQorAbstractJob::DoAfter();
        ++AfterCalls;
    }
    bool Fail = false;
    int AfterCalls = 0;
};

struct AbortCase {
    const char* Name;
    uint32_t Start;
    uint32_t Now;
    uint32_t Limit;
    bool Aborts;
};

class JobBaseAbort : public ::testing::TestWithParam<AbortCase> {
protected:
    qortest::ProgramFolders Folders;
};

TEST_P(JobBaseAbort, ChecksElapsedTimeAgainstTheLimit) {
    const auto& c = GetParam();
    TFixedClock clock;
    TPlainJob job;
    job.SetLimitJobRunningTime(c.Limit);
    clock.Now = c.Start;
    job.DoBefore();
    clock.Now = c.Now;
    if (c.Aborts) {
        try {
            job.CheckForAbort();
            FAIL() << "no abort";
        } catch (const EQorJobAbort& e) {
            EXPECT_STREQ("Unable to perform job on limit time", e.what());
            EXPECT_STREQ("EQorJobAbort", e.ClassName());
        }
    } else {
        EXPECT_NO_THROW(job.CheckForAbort());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JobBaseAbort,
    ::testing::Values(AbortCase{"ZeroLimitOneMsLater", 1000, 1001, 0, true},
                      AbortCase{"ExactlyAtTheLimit", 1000, 1500, 500, false},
                      AbortCase{"OneMsPastTheLimit", 1000, 1501, 500, true},
                      // The counter wraps between start and check: 32 ms have passed.
                      AbortCase{"WrapWithinLimit", 0xFFFFFFF0u, 0x10u, 100, false},
                      AbortCase{"WrapPastLimit", 0xFFFFFF00u, 0x100u, 100, true}),
    [](const auto& info) { return std::string(info.param.Name); });

class JobBase : public ::testing::Test {
protected:
    qortest::ProgramFolders Folders;
};

TEST_F(JobBase, PerformRunsDoAfterAlsoWhenTheJobFails) {
    TPlainJob job;
    job.Perform();
    EXPECT_EQ(1, job.AfterCalls);
    job.Fail = true;
    EXPECT_THROW(job.Perform(), EQorJobException);
    EXPECT_EQ(2, job.AfterCalls);
}

}  // namespace
