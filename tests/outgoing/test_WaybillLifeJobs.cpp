#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>

#include "ActJobFixture.h"
#include "uDateTime.h"
#include "uEgaisOutGoingWayBillJob.h"
#include "uHttpClient.h"
#include "uInformAUpdateJob.h"
#include "uOutgoingTTNTicketJob.h"
#include "uQorJob.h"
#include "uWithdrawSendedWaybillJob.h"

namespace {

using qortest::ActJobTest;
using qortest::Exec;
using qortest::kOurFsrarId;
using qortest::Value;

class Withdrawal : public ActJobTest {
protected:
    // A waybill we sent: header (UTM_DOC_TYPE 1) with STATUS and WB_REG_ID as given and
    // one line with its Form A and B.
    static void AddSent(int64_t id, const TVariant& status, const TVariant& wbRegId,
                        const TVariant& protocolVersion = TVariant(),
                        const std::string& fsrarId = kOurFsrarId) {
        Exec(
            "INSERT INTO RG_EGAIS_DOC_HEAD (ID, FSRAR_ID, UTM_DOC_TYPE, PROTOCOL_VERSION, SHIPPER, "
            "CONSIGNEE, STATUS, WB_REG_ID, ACT_NUMBER, ACT_STATUS, ACT_DATE) VALUES (:ID, "
            ":FSRAR_ID, 1, :VERSION, 1, 2, :STATUS, :WB_REG_ID, :ACT_NUMBER, -1, '2026-12-10')",
            {{"ID", id},
             {"FSRAR_ID", fsrarId},
             {"VERSION", protocolVersion},
             {"STATUS", status},
             {"WB_REG_ID", wbRegId},
             {"ACT_NUMBER", "О-" + std::to_string(id)}});
        Exec(
            "INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, "
            "QUANTITY, REAL_QUANTITY, INFORM1_ID, INFORM2_ID) "
            "VALUES (:ID, :HEAD, 1, 1, 6, 6, 1, 2)",
            {{"ID", id * 10}, {"HEAD", id}});
    }
};

TEST_F(Withdrawal, TheHeaderDecidesWhetherTheWithdrawalIsRefusedWaitsOrIsSent) {
    AddSent(1, TVariant(), "TTN-1");                     // never sent: refused
    AddSent(2, 1, TVariant());                           // not registered yet: waits
    AddSent(3, 1, "TTN-3");                              // sent
    AddSent(4, 1, "TTN-4", TVariant(), "030000999999");  // another organisation's
    qortest::AddRequest(11, 1, 20, "2026-12-11 10:00:01");
    qortest::AddRequest(12, 2, 20, "2026-12-11 10:00:02");
    qortest::AddRequest(13, 3, 20, "2026-12-11 10:00:03");
    qortest::AddRequest(14, 4, 20, "2026-12-11 10:00:04");
    qortest::AddRequest(15, 99, 20, "2026-12-11 10:00:05");  // no such header
    Run<TWithdrawSendedWaybillJob>();
    Run<TWithdrawSendedWaybillJob>();  // the waiting ones are looked at again, sent once

    auto posted = Utm.Posted();
    ASSERT_EQ(1u, posted.size());
    EXPECT_EQ("TTN-3", TextIn(posted[0].Body, "WBRegId"));
    EXPECT_EQ("WayBillAct", posted[0].Kind);
    EXPECT_EQ("WayBillAct.xml", posted[0].FileName);
    EXPECT_EQ("Rejected", TextIn(posted[0].Body, "IsAccept"));

    EXPECT_EQ(1, Complete(11));
    EXPECT_EQ("1", Reply(11, 20, "RESULT_CODE"));
    EXPECT_EQ("Статус документа не позволяет отзывать его.", Reply(11, 20));
    EXPECT_TRUE(Header(1, "STATUS").IsNull());

    for (int64_t open : {12, 14, 15}) {
        SCOPED_TRACE(open);
        EXPECT_EQ(0, Complete(open));
        EXPECT_EQ(0, Replies(open));
    }
    EXPECT_EQ(1, Header(2, "STATUS").AsInt64());

    EXPECT_EQ(1, Complete(13));
    EXPECT_EQ("1", Reply(13, 8, "RESULT_CODE"));
    EXPECT_EQ("Документ успешно отправлен на сервер ЕГАИС. UID=" + posted[0].TransportId,
              Reply(13, 8));
    EXPECT_EQ(6, Header(3, "STATUS").AsInt64());
    EXPECT_EQ(255, Header(3, "QOR_STATE").AsInt64());
    EXPECT_EQ(posted[0].TransportId, Header(3, "URL_REPLY_ID").AsString());
}

TEST_F(Withdrawal, VersionTwoComesFromTheSettingTwoOrFromTheWaybill) {
    const TVariant docVersions[] = {TVariant(), 1, 2, 4};  // headers 1 to 4
    for (int doc = 1; doc <= 4; ++doc)
        AddSent(doc, 1, "TTN-" + std::to_string(doc), docVersions[doc - 1]);
    struct Case {
        std::optional<std::string> setting;
        int versions[4];
    };
    const Case cases[] = {{std::nullopt, {1, 1, 2, 2}}, {"2", {2, 2, 2, 2}}, {"3", {1, 1, 2, 2}}};
    int64_t request = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE("DefaultProtocolVersion=" + c.setting.value_or("<unset>"));
        Utm.ResetSettings();
        if (c.setting) SetSettingProperty("DefaultProtocolVersion", *c.setting);
        Utm.Reset();
        for (int doc = 1; doc <= 4; ++doc)
            qortest::AddRequest(++request, doc, 20, "2026-12-11 10:00:0" + std::to_string(doc));
        Run<TWithdrawSendedWaybillJob>();
        auto posted = Utm.Posted();
        ASSERT_EQ(4u, posted.size());
        for (int doc = 1; doc <= 4; ++doc) {
            SCOPED_TRACE("header " + std::to_string(doc));
            const auto& d = posted[doc - 1];
            const std::string kind = c.versions[doc - 1] == 2 ? "WayBillAct_v2" : "WayBillAct";
            EXPECT_EQ("TTN-" + std::to_string(doc), TextIn(d.Body, "WBRegId"));
            EXPECT_EQ(kind, d.Kind);
            EXPECT_EQ(kind + ".xml", d.FileName);
            EXPECT_EQ(kind, DocumentElement(d.Body));
        }
    }
}

TEST_F(Withdrawal, AFailedPostClosesTheRequestWithStatusOne) {
    AddSent(1, 6, "TTN-1");
    qortest::AddRequest(10, 1, 20);
    Utm.SetFault({fmStatus, 500, {}, 1, "POST /opt/in/WayBillAct"});
    Run<TWithdrawSendedWaybillJob>();
    EXPECT_EQ(1, Complete(10));
    EXPECT_EQ("-1", Reply(10, 20, "RESULT_CODE"));
    EXPECT_EQ(0u, Reply(10, 20).find("HTTP/1.1 500")) << Reply(10, 20);
    EXPECT_EQ(1, Header(1, "STATUS").AsInt64());
    EXPECT_TRUE(Header(1, "URL_REPLY_ID").IsNull());
}

TEST_F(Withdrawal, AWaybillAndItsWithdrawalBothQueuedSendNothing) {
    qortest::AddWaybill(1);
    qortest::AddRequest(10, 1, 6, "2026-12-11 10:00:01");
    qortest::AddRequest(20, 1, 20, "2026-12-11 10:00:02");
    Run<TEgaisOutGoingWayBillJob>();
    Run<TWithdrawSendedWaybillJob>();
    EXPECT_TRUE(Utm.Posted().empty());
    EXPECT_EQ(7, Header(1, "STATUS").AsInt64());
    EXPECT_EQ(1, Complete(10));
    EXPECT_EQ("1", Reply(10, 6, "RESULT_CODE"));
    EXPECT_EQ("ТТН не отправлена, так, как в очереди есть запрос на ёё отмену.", Reply(10, 6));
    EXPECT_EQ(1, Complete(20));
    EXPECT_EQ("1", Reply(20, 20, "RESULT_CODE"));
    EXPECT_EQ("Отправка ТТН блокирована.", Reply(20, 20));
    EXPECT_EQ(1, Replies(20));
}

// The history collection after the queue, with the shared list on a clock of its own.
class History : public ActJobTest {
protected:
    History() {
        InitUTMBuffer([this] { return FClock; });
    }
    ~History() override { DoneUTMBuffer(); }
    // The emulator's list as the refresh job would fetch it, one second later.
    void RefreshList() {
        FClock = IncSecond(FClock, 1);
        THttpClient http;
        ASSERT_EQ(200, UTMBuffer()->Refresh(http));
    }
    std::vector<std::string> Fetched() const {
        std::vector<std::string> gets;
        for (const auto& r : Utm.Requests())
            if (r.rfind("GET /opt/out/", 0) == 0) gets.push_back(r.substr(4));
        return gets;
    }
    static std::string Path(const std::string& url) { return url.substr(url.find("/opt/out/")); }
    static bool Recorded(const std::string& url) {
        return Value("SELECT COUNT(*) FROM S_EGAIS_UTM_LINKS WHERE UTM_LINK = :LINK",
                     {{"LINK", url}})
                   .AsInt64() == 1;
    }
    std::filesystem::path Archived(const std::string& url) const {
        auto day = DecodeDateTime(Now());
        char folder[16];
        std::snprintf(folder, sizeof folder, "%04d/%02d/%02d", day.Year, day.Month, day.Day);
        return Folders.Home() / folder / TQorJob::XmlFileName(url);
    }

    TDateTime FClock = EncodeDateTime({2026, 12, 11, 10, 0, 0, 0});
    TWithdrawSendedWaybillJob Job;  // keeps the news moment between runs
};

const char* const kHistoryXml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ns:Documents "
    "xmlns:ns=\"http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\"><ns:Document/></ns:Documents>";

TEST_F(History, OnlyHistoryAddressesInAnyCaseAreFetchedOnceAndOnlyWhenTheListHasNews) {
    const std::string upper = Utm.PlaceIncoming("TTNHISTORYF2REG", kHistoryXml);
    const std::string lower = Utm.PlaceIncoming("ttnhistoryf2reg", kHistoryXml);
    const std::string mixed = Utm.PlaceIncoming("TtnHistoryF2Reg", kHistoryXml);
    Utm.PlaceIncoming("WayBill_v4", kHistoryXml);
    Utm.PlaceIncoming("TTNHISTORYF2REGV2", kHistoryXml);  // the kind must end at the slash
    const std::string marked = Utm.PlaceIncoming("TTNHISTORYF2REG", kHistoryXml);
    Exec("INSERT INTO S_EGAIS_UTM_LINKS (UTM_LINK, FSRAR_ID) VALUES (:LINK, '030000999999')",
         {{"LINK", marked}});

    RunJob(Job);  // no list read yet: nothing to look at
    EXPECT_TRUE(Fetched().empty());

    RefreshList();
    RunJob(Job);
    EXPECT_EQ((std::vector<std::string>{Path(upper), Path(lower), Path(mixed)}), Fetched());
    for (const auto& url : {upper, lower, mixed}) {
        SCOPED_TRACE(url);
        EXPECT_TRUE(Recorded(url));
        EXPECT_TRUE(std::filesystem::exists(Archived(url))) << Archived(url);
    }

    RunJob(Job);    // the list has not changed
    RefreshList();  // nor has its size: no news within the same minute
    RunJob(Job);
    EXPECT_EQ(3u, Fetched().size());

    const std::string later = Utm.PlaceIncoming("TTNHISTORYF2REG", kHistoryXml);
    RefreshList();
    RunJob(Job);
    auto fetched = Fetched();
    ASSERT_EQ(4u, fetched.size());
    EXPECT_EQ(Path(later), fetched[3]);
}

TEST_F(History, ADocumentThatCannotBeHadWaitsWhileTheOthersAreArchived) {
    const std::string refused = Utm.PlaceIncoming("TTNHISTORYF2REG", kHistoryXml);
    const std::string broken = Utm.PlaceIncoming("TTNHISTORYF2REG", "<ns:Documents");
    const std::string good = Utm.PlaceIncoming("TTNHISTORYF2REG", kHistoryXml);
    Utm.SetFault({fmStatus, 404, {}, 1, "GET " + Path(refused)});
    RefreshList();
    RunJob(Job);
    EXPECT_FALSE(Recorded(refused));
    EXPECT_FALSE(Recorded(broken));
    EXPECT_TRUE(Recorded(good));

    Utm.PlaceIncoming("WayBill_v4", kHistoryXml);  // news
    RefreshList();
    RunJob(Job);
    EXPECT_TRUE(Recorded(refused));
    EXPECT_FALSE(Recorded(broken));
    auto fetched = Fetched();
    EXPECT_EQ(1, std::count(fetched.begin(), fetched.end(), Path(good)));
}

class TTNTicket : public ActJobTest {
protected:
    // A partner's act about our waybill (UTM_DOC_TYPE 6), or a header of another kind.
    static void AddPartnersAct(int64_t id, int utmDocType = 6) {
        const std::string sId = std::to_string(id);
        Exec(
            "INSERT INTO RG_EGAIS_DOC_HEAD (ID, FSRAR_ID, UTM_DOC_TYPE, STATUS, WB_REG_ID, "
            "ACT_NUMBER, ACT_DATE, ACT_NOTE) VALUES (:ID, :FSRAR_ID, :DOC_TYPE, 2, :WB_REG_ID, "
            ":ACT_NUMBER, '2026-12-09 15:00:00', :ACT_NOTE)",
            {{"ID", id},
             {"FSRAR_ID", kOurFsrarId},
             {"DOC_TYPE", utmDocType},
             {"WB_REG_ID", "TTN-" + sId},
             {"ACT_NUMBER", "АКТ-" + sId},
             {"ACT_NOTE", "Заметка " + sId}});
    }
};

TEST_F(TTNTicket, ConfirmationAndRejectionAreSentAsWayBillTicket) {
    AddPartnersAct(1);
    AddPartnersAct(2);
    qortest::AddRequest(10, 1, 10, "2026-12-11 10:00:01");
    qortest::AddRequest(11, 2, 11, "2026-12-11 10:00:02");
    Run<TOutgoingTTNTicketJob>();

    auto posted = Utm.Posted();
    ASSERT_EQ(2u, posted.size());
    const struct {
        int64_t request, doc;
        int type;
        const char* isConfirm;
    } cases[] = {{10, 1, 10, "Accepted"}, {11, 2, 11, "Rejected"}};
    for (size_t i = 0; i < 2; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.request);
        EXPECT_EQ("WayBillTicket", posted[i].Kind);
        EXPECT_EQ("TTNConfirmTicket", posted[i].FileName);
        EXPECT_EQ("ConfirmTicket", DocumentElement(posted[i].Body));
        EXPECT_EQ(c.isConfirm, TextIn(posted[i].Body, "IsConfirm"));
        EXPECT_EQ("TTN-" + std::to_string(c.doc), TextIn(posted[i].Body, "WBRegId"));
        EXPECT_EQ("2026-12-09", TextIn(posted[i].Body, "TicketDate"));
        EXPECT_EQ(1, Complete(c.request));
        EXPECT_EQ("1", Reply(c.request, c.type, "RESULT_CODE"));
        EXPECT_EQ(1, Replies(c.request));
        EXPECT_EQ(3, Header(c.doc, "STATUS").AsInt64());
        EXPECT_EQ(255, Header(c.doc, "QOR_STATE").AsInt64());
        EXPECT_EQ(posted[i].TransportId, Header(c.doc, "URL_REPLY_ID").AsString());
    }
}

// Another instance answers the request after this one selected it and before it locks
// it: the request is left alone, nothing is posted and no second reply is written.
TEST_F(TTNTicket, ARequestClosedByAnotherInstanceBeforeTheLockIsSkipped) {
    struct TLateJob : TOutgoingTTNTicketJob {
        void RequestStarted(TRequestContext& ctx) override {
            Exec("UPDATE S_EGAIS_REQUEST SET COMPLETE_FLAG = 1 WHERE ID = :ID",
                 {{"ID", ctx.RequestId}});
        }
    };
    AddPartnersAct(1);
    qortest::AddRequest(10, 1, 10, "2026-12-11 10:00:01");
    TLateJob job;
    RunJob(job);
    EXPECT_TRUE(Utm.Posted().empty());
    EXPECT_EQ(0, Replies(10));
    EXPECT_EQ(2, Value("SELECT STATUS FROM RG_EGAIS_DOC_HEAD WHERE ID = 1").AsInt64());
}

TEST_F(TTNTicket, AHeaderThatIsNoPartnersActFailsWithReplyEight) {
    AddPartnersAct(1, 1);
    qortest::AddRequest(10, 1, 11);
    Run<TOutgoingTTNTicketJob>();
    EXPECT_TRUE(Utm.Posted().empty());
    EXPECT_EQ(1, Complete(10));
    EXPECT_EQ("-1", Reply(10, 8, "RESULT_CODE"));
    EXPECT_EQ("Не могу прочитать заголовок документа", Reply(10, 8));
    EXPECT_EQ(1, Header(1, "STATUS").AsInt64());
}

class InformAUpdate : public ActJobTest {
protected:
    InformAUpdate() {
        Exec("INSERT INTO RG_EGAIS_DOC_HEAD (ID, FSRAR_ID, UTM_DOC_TYPE) VALUES (7, :FSRAR_ID, 0)",
             {{"FSRAR_ID", kOurFsrarId}});
    }
    // A certificate; used by a line of waybill 7 unless told otherwise.
    static void AddInform(int64_t id, const std::string& type, const TVariant& regId,
                          const TVariant& bottling = TVariant(),
                          const TVariant& fixNum = TVariant(), bool used = true) {
        Exec(
            "INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID, BOTTLING_DATE, "
            "EGAIS_FIX_NUM) VALUES (:ID, :TYPE, :REG_ID, :BOTTLING, :FIX_NUM)",
            {{"ID", id},
             {"TYPE", type},
             {"REG_ID", regId},
             {"BOTTLING", bottling},
             {"FIX_NUM", fixNum}});
        if (used)
            Exec(
                "INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, INFORM1_ID) "
                "VALUES (:ID, 7, 1, :ID)",
                {{"ID", id}});
    }
    static std::multiset<std::string> Queued() {
        std::multiset<std::string> data;
        for (TQueryPtr q = qortest::Query(
                 "SELECT REQUEST_DATA, EGAIS_DOC_ID, COALESCE(COMPLETE_FLAG, 0) FROM "
                 "S_EGAIS_REQUEST WHERE REQUEST_TYPE = 13 AND LAST_MODIFIED >= 'TODAY'");
             !q->Eof(); q->Next()) {
            EXPECT_EQ(7, q->Field(1).AsInt64());
            EXPECT_EQ(0, q->Field(2).AsInt64());
            data.insert(q->Field(0).AsString());
        }
        return data;
    }
};

TEST_F(InformAUpdate, AtMostFiftyPerRunAndNoCertificateTwiceADay) {
    for (int id = 1001; id <= 1060; ++id) AddInform(id, "A", "FA-" + std::to_string(id));
    Run<TInformAUpdateJob>();
    auto queued = Queued();
    EXPECT_EQ(50u, queued.size());
    EXPECT_EQ(50u, std::set<std::string>(queued.begin(), queued.end()).size());

    Run<TInformAUpdateJob>();  // the ten left over come next, not the fifty again
    queued = Queued();
    EXPECT_EQ(60u, queued.size());
    EXPECT_EQ(60u, std::set<std::string>(queued.begin(), queued.end()).size());

    Run<TInformAUpdateJob>();
    EXPECT_EQ(60u, Queued().size());
}

TEST_F(InformAUpdate, OnlyUsedFormACertificatesWithoutBottlingDataAreQueried) {
    AddInform(2001, "A", "FA-1  ");                               // queried, without the blanks
    AddInform(2002, "A", "FA-2", "2020-01-01");                   // has its bottling date
    AddInform(2003, "A", "FA-3", TVariant(), "FIX-3");            // has its fixation number
    AddInform(2004, "B", "FB-4");                                 // a Form B
    AddInform(2005, "A", "FA-5", TVariant(), TVariant(), false);  // on no waybill line
    AddInform(2006, "A", TVariant());                             // no registration identifier
    AddInform(2007, "A", "   ");                                  // a blank one
    AddInform(2008, "A", "FA-8");  // last asked yesterday: asked again
    AddInform(2009, "A", "FA-9");  // already asked today
    Exec(
        "INSERT INTO S_EGAIS_REQUEST (ID, REQUEST_TYPE, REQUEST_DATA, LAST_MODIFIED) VALUES "
        "(900001, 13, 'FA-8', CAST('YESTERDAY' AS TIMESTAMP) + 0.5)");
    Exec(
        "INSERT INTO S_EGAIS_REQUEST (ID, REQUEST_TYPE, REQUEST_DATA, EGAIS_DOC_ID, "
        "LAST_MODIFIED) VALUES (900002, 13, 'FA-9', 7, CAST('TODAY' AS TIMESTAMP))");
    Run<TInformAUpdateJob>();
    EXPECT_EQ((std::multiset<std::string>{"FA-1", "FA-8", "FA-9"}), Queued());
}

}  // namespace
