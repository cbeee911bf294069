#include <gtest/gtest.h>

#include <optional>

#include "ActJobFixture.h"
#include "uEgaisOutgoingActJob.h"

namespace {

using qortest::ActJobTest;
using qortest::Exec;

class ActJob : public ActJobTest {
protected:
    // An incoming waybill from partner 2 with one line (Form B 2 of the base, or none),
    // which the back office answers with ACT_STATUS.
    static void AddIncoming(int64_t id, const TVariant& protocolVersion,
                            const TVariant& actStatus = 1, bool withFormB = true) {
        const std::string sId = std::to_string(id);
        Exec(
            "INSERT INTO RG_EGAIS_DOC_HEAD (ID, FSRAR_ID, UTM_DOC_TYPE, PROTOCOL_VERSION, "
            "SHIPPER, CONSIGNEE, STATUS, WB_REG_ID, ACT_NUMBER, ACT_STATUS, ACT_DATE) VALUES (:ID, "
            ":FSRAR_ID, 0, :VERSION, 2, 1, 5, :WB_REG_ID, :ACT_NUMBER, :ACT_STATUS, '2026-12-10')",
            {{"ID", id},
             {"FSRAR_ID", qortest::kOurFsrarId},
             {"VERSION", protocolVersion},
             {"WB_REG_ID", "TTN-" + sId},
             {"ACT_NUMBER", "А-" + sId},
             {"ACT_STATUS", actStatus}});
        Exec(
            "INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, "
            "EGAIS_PRODUCT_ID, QUANTITY, REAL_QUANTITY, INFORM1_ID, INFORM2_ID) VALUES (:ID, "
            ":HEAD, 1, 1, 6, 5, 1, :FORM_B)",
            {{"ID", id * 10}, {"HEAD", id}, {"FORM_B", withFormB ? TVariant(2) : TVariant()}});
    }
};

TEST_F(ActJob, VersionIsTheLargerOfTheDefaultAndTheWaybillsOwn) {
    const TVariant docVersions[] = {TVariant(), 1, 2, 3, 4};  // headers 1 to 5
    for (int doc = 1; doc <= 5; ++doc) AddIncoming(doc, docVersions[doc - 1]);
    struct Case {
        std::optional<std::string> setting;
        int versions[5];  // sent for headers 1 to 5
    };
    const Case cases[] = {
        {std::nullopt, {1, 1, 2, 3, 4}}, {"1", {1, 1, 2, 3, 4}}, {"2", {2, 2, 2, 3, 4}},
        {"3", {3, 3, 3, 3, 4}},          {"4", {1, 1, 2, 3, 4}}, {"x", {1, 1, 2, 3, 4}},
    };
    int64_t request = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE("DefaultProtocolVersion=" + c.setting.value_or("<unset>"));
        Utm.ResetSettings();
        if (c.setting) SetSettingProperty("DefaultProtocolVersion", *c.setting);
        Utm.Reset();
        for (int doc = 1; doc <= 5; ++doc)
            qortest::AddRequest(++request, doc, 8, "2026-12-11 10:00:0" + std::to_string(doc));
        Run<TEgaisOutgoingActJob>();

        auto posted = Utm.Posted();
        ASSERT_EQ(5u, posted.size());
        for (int doc = 1; doc <= 5; ++doc) {
            const auto& d = posted[doc - 1];
            const int v = c.versions[doc - 1];
            const std::string kind = v == 1 ? "WayBillAct" : "WayBillAct_v" + std::to_string(v);
            SCOPED_TRACE("header " + std::to_string(doc));
            EXPECT_EQ("TTN-" + std::to_string(doc), TextIn(d.Body, "WBRegId"));
            EXPECT_EQ(kind, d.Kind);
            EXPECT_EQ(kind + ".xml", d.FileName);
            EXPECT_EQ(kind, DocumentElement(d.Body));
        }
    }
}

TEST_F(ActJob, ASentActRecordsItsTransportIdAndLeavesTheStatus) {
    AddIncoming(1, 4, 0);
    qortest::AddRequest(10, 1, 8);
    Run<TEgaisOutgoingActJob>();

    auto posted = Utm.Posted();
    ASSERT_EQ(1u, posted.size());
    EXPECT_EQ("Differences", TextIn(posted[0].Body, "IsAccept"));
    EXPECT_EQ("5", TextIn(posted[0].Body, "RealQuantity"));
    EXPECT_EQ(1, Complete(10));
    EXPECT_EQ("1", Reply(10, 8, "RESULT_CODE"));
    EXPECT_EQ("Документ успешно отправлен на сервер ЕГАИС. UID=" + posted[0].TransportId,
              Reply(10, 8));
    EXPECT_EQ(1, Replies(10));
    EXPECT_EQ(posted[0].TransportId, Header(1, "URL_REPLY_ID").AsString());
    EXPECT_EQ(255, Header(1, "QOR_STATE").AsInt64());
    EXPECT_EQ(5, Header(1, "STATUS").AsInt64());  // not touched by a sent act

    Run<TEgaisOutgoingActJob>();
    EXPECT_EQ(1u, Utm.Posted().size());
}

struct FailureCase {
    const char* Name;
    TVariant ProtocolVersion;
    TVariant ActStatus;  // null: none
    bool WithFormB;
    TUtmFault Fault;
    const char* Text;  // the reply's text, or its beginning
};

class ActJobFailures : public ActJob, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ActJobFailures, AreAnsweredAsATicketWithStatusOne) {
    const FailureCase& c = GetParam();
    AddIncoming(1, c.ProtocolVersion, c.ActStatus, c.WithFormB);
    qortest::AddRequest(10, 1, 8);
    if (c.Fault.Mode != fmNone) Utm.SetFault(c.Fault);
    Run<TEgaisOutgoingActJob>();

    EXPECT_TRUE(Utm.Posted().empty());
    EXPECT_EQ(1, Complete(10));
    EXPECT_EQ("-1", Reply(10, 16, "RESULT_CODE"));
    EXPECT_EQ(0u, Reply(10, 16).find(c.Text)) << Reply(10, 16);
    EXPECT_EQ(1, Replies(10));
    EXPECT_EQ(1, Header(1, "STATUS").AsInt64());
    EXPECT_EQ(255, Header(1, "QOR_STATE").AsInt64());
    TVariant uid = Header(1, "URL_REPLY_ID");
    EXPECT_FALSE(uid.IsNull());
    EXPECT_EQ("", uid.AsString());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ActJobFailures,
    ::testing::Values(
        FailureCase{"DifferencesWithoutFormB",
                    4,
                    0,
                    false,
                    {},
                    "Для некоторых позиций накладной нет справок Б. Нет возможности отправить "
                    "акт расхождений."},
        FailureCase{"UnsendableActStatus", 2, TVariant(), true, {}, "invalid document status"},
        FailureCase{
            "NoSuchFormatVersion", 5, 1, true, {}, "Неизвестная версия протокола документа: 5"},
        FailureCase{"HttpErrorStatus",
                    3,
                    1,
                    true,
                    {fmStatus, 503, {}, 1, "POST /opt/in/WayBillAct_v3"},
                    "HTTP/1.1 503"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ActJob, AnotherOrganisationsWaybillStaysOpen) {
    AddIncoming(1, 4);
    Exec("UPDATE RG_EGAIS_DOC_HEAD SET FSRAR_ID = '030000999999' WHERE ID = 1");
    qortest::AddRequest(10, 1, 8);
    Run<TEgaisOutgoingActJob>();
    EXPECT_TRUE(Utm.Posted().empty());
    EXPECT_EQ(0, Complete(10));
    EXPECT_EQ(0, Replies(10));
}

}  // namespace
