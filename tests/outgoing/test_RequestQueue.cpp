#include <gtest/gtest.h>

#include <vector>

#include "ActJobFixture.h"
#include "uRequestQueue.h"

namespace {

using qortest::ActJobTest;

// A job that only notes the requests the queue gives it and leaves them open.
class TProbeJob : public TOutgoingRequestJob {
public:
    explicit TProbeJob(const TOutgoingJobRow& row) : TOutgoingRequestJob(row) {}
    std::vector<int64_t> Seen;

protected:
    void RequestStarted(TRequestContext& ctx) override { Seen.push_back(ctx.RequestId); }
    TRequestDecision CheckHeader(TRequestContext&) override { return TRequestDecision::Skip; }
    TOutgoingDocument DocumentFor(const TRequestContext&) override { return {}; }
};

class RequestQueue : public ActJobTest {};

TEST_F(RequestQueue, SelectsTheOpenRequestsOfExactlyTheRowsTypesOldestFirst) {
    // Request t*10+1 of every type t, 10:00:0n; the answered 102 is never selected.
    const int types[] = {6, 8, 10, 11, 13, 16, 20};
    int second = 9;
    for (int t : types)
        qortest::AddRequest(t * 10 + 1, 1, t, "2026-12-11 10:00:0" + std::to_string(second--));
    qortest::AddRequest(102, 1, 10, "2026-12-11 10:00:00");
    qortest::Exec("UPDATE S_EGAIS_REQUEST SET COMPLETE_FLAG = 1 WHERE ID = 102");
    qortest::AddRequest(112, 1, 11, "2026-12-11 10:00:06");  // same moment as 111: by ID

    struct Case {
        TRequestTypes Types;
        std::vector<int64_t> Seen;
    };
    const Case cases[] = {
        {{6}, {61}},
        {{10, 11}, {111, 112, 101}},
        {{20, 8, 16}, {201, 161, 81}},
        {{6, 8, 10, 11}, {111, 112, 101, 81, 61}},
        {{12}, {}},
    };
    for (const Case& c : cases) {
        const TOutgoingJobRow row{.ClassName = "TProbeJob", .RequestTypes = c.Types};
        TProbeJob job(row);
        RunJob(job);
        EXPECT_EQ(c.Seen, job.Seen) << "types from " << *c.Types.begin();
    }
}

TEST(RequestTypes, UnusedSlotsRepeatTheLastType) {
    const TRequestTypes one{7}, two{10, 11}, five{29, 30, 31, 32, 37},
        eight{1, 2, 3, 4, 5, 6, 7, 8};
    const std::pair<const TRequestTypes*, std::vector<int>> cases[] = {
        {&one, {7, 7, 7, 7, 7, 7, 7, 7}},
        {&two, {10, 11, 11, 11, 11, 11, 11, 11}},
        {&five, {29, 30, 31, 32, 37, 37, 37, 37}},
        {&eight, {1, 2, 3, 4, 5, 6, 7, 8}}};
    for (const auto& [types, slots] : cases) {
        std::vector<int> bound;
        for (size_t i = 0; i < TRequestTypes::kSlots; ++i) bound.push_back(types->Slot(i));
        EXPECT_EQ(slots, bound);
    }
    EXPECT_THROW(TRequestTypes({1, 2, 3, 4, 5, 6, 7, 8, 9}), std::length_error);
    EXPECT_THROW(TRequestTypes({}), std::length_error);
}

}  // namespace
