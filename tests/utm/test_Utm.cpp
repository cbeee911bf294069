#include <gtest/gtest.h>

#include <optional>

#include "UtmEmulator.h"
#include "UtmJobEnv.h"
#include "uCommon.h"
#include "uHttpClient.h"
#include "uUtm.h"

namespace {

struct UrlCase {
    std::optional<std::string> Address, Port;
    std::string Base;  // what every address begins with
};

class UtmUrls : public ::testing::TestWithParam<UrlCase> {
protected:
    void SetUp() override {
        ClearSettings();
        if (GetParam().Address) SetSettingProperty("UTM_ADDRESS", *GetParam().Address);
        if (GetParam().Port) SetSettingProperty("utm_port", *GetParam().Port);
    }
    void TearDown() override { ClearSettings(); }
};

TEST_P(UtmUrls, AllResourcesHangOffTheConfiguredHostAndPort) {
    const std::string& base = GetParam().Base;
    EXPECT_EQ(base + "/opt/out?refresh=true", IncomingDocsUrl(true));
    EXPECT_EQ(base + "/opt/out", IncomingDocsUrl(false));
    EXPECT_EQ(base + "/opt/in", OutGoingUrl());
    EXPECT_EQ(base + "/opt/in/Waybill_v4", OutGoingDocsUrlEx("Waybill_v4"));
    EXPECT_EQ(base + "/opt/in/WayBillAct", OutGoingDocsUrl(true));
    EXPECT_EQ(base + "/opt/in/WayBill", OutGoingDocsUrl(false));
    EXPECT_EQ(base + "/opt/in/QueryClients_v2", OutgoingPartnerUrl());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, UtmUrls,
    ::testing::Values(UrlCase{"utm.shop.local", "8081", "http://utm.shop.local:8081"},
                      UrlCase{"10.0.0.7", std::nullopt, "http://10.0.0.7:8080"},
                      UrlCase{std::nullopt, std::nullopt, "http://localhost:8080"}));

// The shared list against an in-process UTM, with a clock the test moves.
class UtmList : public ::testing::Test {
protected:
    UtmList() : List([this] { return Clock; }) {}
    ~UtmList() override {
        Utm.Stop();
        ClearSettings();
    }

    void At(int64_t seconds) { Clock = IncSecond(Start, seconds); }
    std::string Stored() {
        IBuffer b = NewBuffer();
        EXPECT_EQ(200, List.ReadIncomingDocs(b));
        return b->Data();
    }

    qortest::EmulatedUtm Utm;
    const TDateTime Start = EncodeDateTime({2024, 3, 1, 10, 0, 0, 0});
    TDateTime Clock = Start;
    TUTMBuffer List;
    THttpClient Http;
};

TEST_F(UtmList, BeforeAnyListTheReadReturnsTheLastStatusAndLeavesTheBufferAlone) {
    IBuffer b = NewBuffer();
    b->Data() = "untouched";
    EXPECT_EQ(0, List.ReadIncomingDocs(b));
    EXPECT_EQ("untouched", b->Data());

    Utm.SetFault(utmtest::Fault(fmStatus, 503, std::chrono::milliseconds(0), 1));
    EXPECT_THROW(List.Refresh(Http), EHttpProtocolException);
    EXPECT_EQ(503, List.ReadIncomingDocs(b));

    Utm.Stop();
    EXPECT_THROW(List.Refresh(Http), EHttpConnectionError);
    EXPECT_EQ(-1, List.ReadIncomingDocs(b));
    EXPECT_EQ("untouched", b->Data());
    EXPECT_EQ(TDateTime{}, List.LastNewsMoment());
}

TEST_F(UtmList, AListOfUnchangedSizeIsNewsAgainOnlyAfterNinetySeconds) {
    std::string first = Utm.PlaceIncoming("WayBill_v4", "<a/>");
    ASSERT_EQ(200, List.Refresh(Http));
    EXPECT_EQ(90000u, Http.ReadTimeout());
    EXPECT_EQ(Start, List.LastNewsMoment());
    EXPECT_NE(std::string::npos, Stored().find(first));

    // Same size, other content: within 90 s the stored list stays as it was.
    Utm.Reset();
    std::string second = Utm.PlaceIncoming("WayBill_v4", "<b/>");
    ASSERT_EQ(first.size(), second.size());
    ASSERT_NE(first, second);
    struct Step {
        int64_t Seconds;
        int64_t NewsAt;  // seconds after Start
    };
    for (Step s : {Step{30, 0}, Step{90, 0}, Step{91, 91}, Step{100, 91}}) {
        At(s.Seconds);
        ASSERT_EQ(200, List.Refresh(Http));
        EXPECT_EQ(IncSecond(Start, s.NewsAt), List.LastNewsMoment()) << "at " << s.Seconds << " s";
        EXPECT_EQ(Clock, List.LastReadMoment());
    }
    EXPECT_NE(std::string::npos, Stored().find(second));

    // Another size is news at once, one second later.
    std::string third = Utm.PlaceIncoming("Ticket", "<c/>");
    At(101);
    ASSERT_EQ(200, List.Refresh(Http));
    EXPECT_EQ(Clock, List.LastNewsMoment());
    EXPECT_NE(std::string::npos, Stored().find(third));
}

TEST_F(UtmList, AFailedRefreshKeepsTheListAndItsNewsMoment) {
    std::string url = Utm.PlaceIncoming("WayBill_v4", "<a/>");
    ASSERT_EQ(200, List.Refresh(Http));
    Utm.PlaceIncoming("Ticket", "<t/>");
    At(500);
    Utm.SetFault(utmtest::Fault(fmStatus, 500, std::chrono::milliseconds(0), 1));
    EXPECT_THROW(List.Refresh(Http), EHttpProtocolException);
    Utm.SetFault(utmtest::Fault(fmDrop, 500, std::chrono::milliseconds(0), 1));
    EXPECT_THROW(List.Refresh(Http), EHttpConnectionError);

    EXPECT_EQ(Start, List.LastNewsMoment());
    std::string stored = Stored();
    EXPECT_NE(std::string::npos, stored.find(url));
    EXPECT_EQ(std::string::npos, stored.find("Ticket"));
}

TEST_F(UtmList, AClosedListNoLongerAsksTheUtm) {
    List.Close();
    EXPECT_EQ(0, List.Refresh(Http));

    EXPECT_TRUE(Utm.Requests().empty());
}

TEST(UtmBufferGlobal, InitReplacesTheSharedListByAnEmptyOne) {
    auto old = UTMBuffer();
    InitUTMBuffer();
    auto fresh = UTMBuffer();
    EXPECT_NE(old, fresh);
    EXPECT_EQ(fresh, UTMBuffer());
    IBuffer b = NewBuffer();
    EXPECT_EQ(0, fresh->ReadIncomingDocs(b));
    // The replaced one no longer refreshes, should a job still hold it.
    THttpClient http;
    EXPECT_EQ(0, old->Refresh(http));
    DoneUTMBuffer();
}

}  // namespace
