#include <gtest/gtest.h>

#include "ActJobFixture.h"
#include "uEgaisOutGoingWayBillJob.h"

using qortest::AddRequest;
using qortest::AddWaybill;

namespace {

// The waybill job against the emulator, on an embedded database, run on the test's
// own thread as a worker would run it.
class WaybillJob : public qortest::ActJobTest {
protected:
    void Run() { ActJobTest::Run<TEgaisOutGoingWayBillJob>(); }
    // The UTM_DOC_ID (the waybill's NUMBER is unique per header) of a posted document.
    static std::string PostedNumber(const TPostedDocument& d) {
        // The version-4 namespace has no fixed prefix: the element is found by its name.
        return LoadXmlFrom(d.Body).selectSingleNode("//*[local-name()='NUMBER']").text();
    }
};

TEST_F(WaybillJob, SendsOldestFirstAndClosesEachRequestWithItsTransportId) {
    for (int doc = 1; doc <= 3; ++doc) AddWaybill(doc);
    AddRequest(10, 1, 6, "2026-12-11 10:00:02");
    AddRequest(12, 3, 6, "2026-12-11 10:00:01");
    AddRequest(11, 2, 6, "2026-12-11 10:00:01");  // same moment: the lower ID first
    Run();

    auto posted = Utm.Posted();
    ASSERT_EQ(3u, posted.size());
    EXPECT_EQ("ТН-2", PostedNumber(posted[0]));
    EXPECT_EQ("ТН-3", PostedNumber(posted[1]));
    EXPECT_EQ("ТН-1", PostedNumber(posted[2]));
    for (const auto& d : posted) {
        EXPECT_EQ("Waybill_v4", d.Kind);
        EXPECT_EQ("Waybill_v4", d.FileName);
    }
    const std::pair<int64_t, size_t> requests[] = {{11, 0}, {12, 1}, {10, 2}};
    for (auto [request, at] : requests) {
        int64_t doc = request == 10 ? 1 : request == 11 ? 2 : 3;
        SCOPED_TRACE(request);
        EXPECT_EQ(1, Complete(request));
        EXPECT_EQ("1", Reply(request, 6, "RESULT_CODE"));
        EXPECT_EQ("Документ успешно отправлен на сервер ЕГАИС. UID=" + posted[at].TransportId,
                  Reply(request, 6));
        EXPECT_EQ(1, Header(doc, "STATUS").AsInt64());
        EXPECT_EQ(posted[at].TransportId, Header(doc, "URL_REPLY_ID").AsString());
    }
    // The sent documents are archived under opt/in of the day folder.
    auto day = Now();
    auto parts = DecodeDateTime(day);
    char folder[32];
    std::snprintf(folder, sizeof folder, "%04d/%02d/%02d/opt/in", parts.Year, parts.Month,
                  parts.Day);
    int archived = 0;
    for (auto& f : std::filesystem::directory_iterator(Folders.Home() / folder)) {
        EXPECT_EQ(".xml", f.path().extension());
        ++archived;
    }
    EXPECT_EQ(3, archived);

    Run();  // nothing is sent twice
    EXPECT_EQ(3u, Utm.Posted().size());
}

TEST_F(WaybillJob, AnotherOrganisationsWaybillStaysOpenAndANullOwnerIsOurs) {
    AddWaybill(1, "030000999999");
    AddWaybill(2, "");
    AddRequest(10, 1, 6);
    AddRequest(11, 2, 6);
    Run();
    ASSERT_EQ(1u, Utm.Posted().size());
    EXPECT_EQ("ТН-2", PostedNumber(Utm.Posted()[0]));
    EXPECT_EQ(0, Complete(10));
    EXPECT_EQ("", Reply(10, 6));
    EXPECT_TRUE(Header(1, "STATUS").IsNull());
    EXPECT_EQ(1, Complete(11));
}

TEST_F(WaybillJob, AWaybillWithAQueuedWithdrawalIsNotSent) {
    AddWaybill(1);
    AddRequest(10, 1, 6);
    AddRequest(20, 1, 20);
    Run();
    EXPECT_TRUE(Utm.Posted().empty());
    EXPECT_EQ(7, Header(1, "STATUS").AsInt64());
    EXPECT_EQ("ТТН не отправлена, так, как в очереди есть запрос на ёё отмену.", Reply(10, 6));
    EXPECT_EQ("Отправка ТТН блокирована.", Reply(20, 20));
    EXPECT_EQ(1, Complete(10));
    EXPECT_EQ(1, Complete(20));
}

TEST_F(WaybillJob, MissingDataClosesTheRequestAsFailedWithoutPosting) {
    AddWaybill(1);
    qortest::Exec("UPDATE RG_EGAIS_DOC_HEAD SET UTM_DOC_ID = NULL WHERE ID = 1");
    AddRequest(10, 1, 6);
    Run();
    EXPECT_TRUE(Utm.Posted().empty());
    EXPECT_EQ("-1", Reply(10, 6, "RESULT_CODE"));
    EXPECT_EQ("Поле UTM_DOC_ID заголовка не заполнено.", Reply(10, 6));
    EXPECT_EQ(0, Header(1, "STATUS").AsInt64());
    EXPECT_EQ(1, Complete(10));
}

TEST_F(WaybillJob, ACounterpartyCardTheUtmWouldRefuseClosesTheRequestAsFailed) {
    // The consignee's card lost its region: the UTM would refuse the document, and the
    // shop would learn it only from a ticket hours later.
    AddWaybill(1);
    qortest::Exec("UPDATE S_EGAIS_COUNTERPART SET REGION_CODE = ' ' WHERE ID = 2");
    AddRequest(10, 1, 6);
    Run();
    EXPECT_TRUE(Utm.Posted().empty());
    EXPECT_EQ("-1", Reply(10, 6, "RESULT_CODE"));
    EXPECT_EQ(
        "В карточке контрагента \"АО «Лютик»\" (030000654321) не указан код региона: УТМ не "
        "примет документ.",
        Reply(10, 6));
    EXPECT_EQ(1, Complete(10));
}

// What the UTM answers and how the request ends.
struct AnswerCase {
    const char* Name;
    TUtmFault Fault;
    const char* ForcedId;    // the transport id of the answer, nullptr: a fresh one
    int Complete;            // COMPLETE_FLAG afterwards
    const char* ResultCode;  // "" when no reply is written
    const char* Text;        // the reply's text, or its beginning
    const char* HeaderUid;   // URL_REPLY_ID of the header, nullptr: the transport id
};

class WaybillJobAnswers : public WaybillJob, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(WaybillJobAnswers, CloseTheRequestAsThePostEnded) {
    const AnswerCase& c = GetParam();
    AddWaybill(1);
    AddRequest(10, 1, 6);
    if (c.ForcedId) Utm.ForceNextTransportId(c.ForcedId);
    if (c.Fault.Mode != fmNone) Utm.SetFault(c.Fault);
    Run();
    EXPECT_EQ(c.Complete, Complete(10));
    EXPECT_EQ(c.ResultCode, Reply(10, 6, "RESULT_CODE"));
    EXPECT_EQ(0u, Reply(10, 6).find(c.Text)) << Reply(10, 6);
    if (c.Complete && std::string(c.ResultCode) == "1") {
        std::string uid = c.HeaderUid ? c.HeaderUid : Utm.Posted().at(0).TransportId;
        EXPECT_EQ(uid, Header(1, "URL_REPLY_ID").AsString());
        EXPECT_EQ(1, Header(1, "STATUS").AsInt64());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaybillJobAnswers,
    ::testing::Values(AnswerCase{"NoTransportId",
                                 {},
                                 "",
                                 1,
                                 "1",
                                 "Документ отправлен, но UID отправки не получен.",
                                 "UID_IS_EMPTY"},
                      AnswerCase{"QuoteInTransportId",
                                 {},
                                 "id'with\"quotes",
                                 1,
                                 "1",
                                 "Документ успешно отправлен на сервер ЕГАИС. UID=id'with\"quotes",
                                 nullptr},
                      AnswerCase{
                          "OptInUnreadable",
                          {fmStatus, 500, {}, 1, "GET /opt/in"},
                          nullptr,
                          1,
                          "1",
                          "Документ отправлен, ссылка исходящего документиа не получена. UID=",
                          nullptr},
                      AnswerCase{"HttpErrorStatus",
                                 {fmStatus, 503, {}, 1, "POST /opt/in/Waybill_v4"},
                                 nullptr,
                                 1,
                                 "-1",
                                 "HTTP/1.1 503",
                                 nullptr},
                      AnswerCase{"AnswerCutShortAfterItsStatus",
                                 {fmCutShort, 200, {}, 1, "POST /opt/in/Waybill_v4"},
                                 nullptr,
                                 1,
                                 "1",
                                 "Документ отправлен, но UID отправки не получен.",
                                 "UID_IS_EMPTY"},
                      AnswerCase{"DroppedConnection",
                                 {fmDrop, 500, {}, 1, "POST /opt/in/Waybill_v4"},
                                 nullptr,
                                 0,
                                 "",
                                 "",
                                 nullptr}),
    [](const auto& info) { return std::string(info.param.Name); });

// The UTM took the document and said 200; the rest of its answer was lost. The request
// is closed as sent, so the next run does not register the waybill a second time.
TEST_F(WaybillJob, AWaybillWhoseAnswerWasCutShortIsNeverPostedAgain) {
    AddWaybill(1);
    AddRequest(10, 1, 6);
    Utm.SetFault({fmCutShort, 200, {}, 1, "POST /opt/in/Waybill_v4"});
    Run();
    Run();
    EXPECT_EQ(1u, Utm.Posted().size());
    EXPECT_EQ(1, Complete(10));
}

// A UTM that takes the connection and never answers: the post is given up after
// UtmPostTimeout instead of holding the job for its whole run; the request stays open.
TEST_F(WaybillJob, APostTheUtmNeverAnswersEndsAfterThePostTimeOut) {
    AddWaybill(1);
    AddRequest(10, 1, 6);
    SetSettingProperty("UtmPostTimeout", "1");
    Utm.SetFault({fmDelay, 200, std::chrono::seconds(60), 1, "POST /opt/in/Waybill_v4"});
    const auto start = std::chrono::steady_clock::now();
    Run();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(0, Complete(10));
    EXPECT_EQ("", Reply(10, 6));
}

TEST_F(WaybillJob, AnUnreachableUtmLeavesTheRequestOpen) {
    AddWaybill(1);
    AddRequest(10, 1, 6);
    Utm.Stop();
    Run();
    EXPECT_EQ(0, Complete(10));
    EXPECT_EQ("", Reply(10, 6));
    EXPECT_TRUE(Header(1, "STATUS").IsNull());
}

}  // namespace
