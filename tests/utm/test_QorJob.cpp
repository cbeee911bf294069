#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "UtmJobEnv.h"
#include "uMaintenanceJobs.h"
#include "uPlatform.h"
#include "uQorJob.h"
#include "uXml.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using qortest::Query;
using qortest::Value;
using utmtest::kFsrarId;
using utmtest::TLatch;
using utmtest::TWorker;
using utmtest::UtmJobEnv;

class THttpTestJob : public TQorHttpJob {
public:
    const char* ClassName() const override { return "THttpTestJob"; }
    void DoJob() override {}
};

class TDbTestJob : public TQorJob {
public:
    const char* ClassName() const override { return "TDbTestJob"; }
    void DoJob() override {}
};

struct TimeoutCase {
    uint32_t Limit, ConnectTimeout;
};

class ConnectTimeout : public ::testing::TestWithParam<TimeoutCase> {
protected:
    qortest::ProgramFolders Folders;
};

TEST_P(ConnectTimeout, IsAQuarterOfTheLimitButNeverBelowTwoSeconds) {
    THttpTestJob job;
    job.SetLimitJobRunningTime(GetParam().Limit);
    job.DoBefore();
    EXPECT_EQ(GetParam().ConnectTimeout, job.Http().ConnectTimeout());
    EXPECT_EQ("UTF-8", job.Http().AcceptCharset());
    EXPECT_EQ(0u, job.Http().ReadTimeout());
}

INSTANTIATE_TEST_SUITE_P(Limits, ConnectTimeout,
                         ::testing::Values(TimeoutCase{990000, 247500}, TimeoutCase{2000, 2000},
                                           TimeoutCase{8003, 2000}, TimeoutCase{8004, 2001},
                                           TimeoutCase{0, 2000}));

class HttpJobAbort : public ::testing::Test {
protected:
    qortest::ProgramFolders Folders;
};

TEST_F(HttpJobAbort, AStopRequestWinsOverTheTimeLimit) {
    uint32_t ticks = 1000;
    platform::SetTickSource([&] { return ticks; });
    struct Case {
        bool Stopped;
        uint32_t Elapsed;
        const char* Message;  // nullptr: no abort
    };
    for (Case c :
         {Case{true, 5000, "Thread were stopped or terminated"},
          Case{true, 0, "Thread were stopped or terminated"},
          Case{false, 5000, "Unable to perform job on limit time"}, Case{false, 100, nullptr}}) {
        TQorJobThread thread;  // never started: its stop flag is all that counts
        thread.SetStopped(c.Stopped);
        THttpTestJob job;
        job.SetLimitJobRunningTime(100);
        job.SetOwnedThread(&thread);
        ticks = 1000;
        job.DoBefore();
        ticks += c.Elapsed;
        try {
            job.CheckForAbort();
            EXPECT_EQ(nullptr, c.Message);
        } catch (const EQorJobAbort& e) {
            ASSERT_NE(nullptr, c.Message);
            EXPECT_STREQ(c.Message, e.what());
        }
    }
    platform::SetTickSource(nullptr);
}

// The refresh job, telling the test when its transfer is under way.
class TWatchedRefreshJob : public TEgaisRefreshJob {
public:
    explicit TWatchedRefreshJob(TLatch& inTransfer) : FInTransfer(inTransfer) {}
    void DoHttp() override {
        FInTransfer.Notify();
        TEgaisRefreshJob::DoHttp();
    }

private:
    TLatch& FInTransfer;
};

using HttpJob = UtmJobEnv;

TEST_F(HttpJob, AStopRequestEndsASlowTransferAtOnce) {
    Utm.SetFault(utmtest::Fault(fmDelay, 500, 60s, -1));
    TLatch inTransfer;
    auto job = std::make_unique<TWatchedRefreshJob>(inTransfer);
    job->SetLimitJobRunningTime(600000);
    TWorker worker(std::move(job));
    worker.Run();
    ASSERT_TRUE(inTransfer.Wait(10s));

    worker.Stop();
    // The answer would come after a minute; the stop ends the run long before.
    ASSERT_TRUE(worker.WaitForRuns(1, 3s));
    EXPECT_NE(
        std::string::npos,
        Log().find("TEgaisRefreshJob \r\n(EQorJobAbort - \"Thread were stopped or terminated\")"));
    IBuffer b = NewBuffer();
    EXPECT_EQ(-1, UTMBuffer()->ReadIncomingDocs(b));
}

TEST_F(HttpJob, DeleteNeverRaisesAndLeavesTheStatus) {
    std::string url = Utm.PlaceIncoming("WayBill_v4", "<a/>");
    THttpTestJob job;
    job.SetLimitJobRunningTime(600000);
    job.DoBefore();
    job.DeleteDocumentFromUtm(url);
    EXPECT_EQ(200, job.Http().ResponseCode());
    job.DeleteDocumentFromUtm(url);
    EXPECT_EQ(404, job.Http().ResponseCode());
    Utm.Stop();  // the UTM is down
    job.DeleteDocumentFromUtm(url);
    EXPECT_EQ(-1, job.Http().ResponseCode());
    EXPECT_NE(std::string::npos, Log().find("DeleteDocument URL: " + url));
}

using LinkBook = UtmJobEnv;

TEST_F(LinkBook, RecordingTwiceKeepsOneRowAndItsId) {
    THttpTestJob job;
    const std::string link = "http://127.0.0.1:8080/opt/out/WayBill_v4/7";
    EXPECT_FALSE(job.UrlMarkedForDelete(link));
    int64_t first = job.MarkForDelete(link);
    int64_t second = job.MarkForDelete(link);
    EXPECT_EQ(first, second);
    TQueryPtr q = Query("SELECT ID, FSRAR_ID FROM S_EGAIS_UTM_LINKS WHERE UTM_LINK = :LINK",
                        {{"LINK", link}});
    ASSERT_FALSE(q->Eof());
    EXPECT_EQ(first, q->Field(0).AsInt64());
    EXPECT_EQ(kFsrarId, q->Field(1).AsString());
    q->Next();
    EXPECT_TRUE(q->Eof());
    EXPECT_TRUE(job.UrlMarkedForDelete(link));
    EXPECT_FALSE(job.UrlMarkedForDelete(link + "0"));
}

TEST_F(LinkBook, ALinkOfAnotherOrganisationCountsAsMarked) {
    const std::string link = "http://127.0.0.1:8080/opt/out/Ticket/3";
    RecordOldLink(link, "020000000002");
    THttpTestJob job;
    EXPECT_TRUE(job.UrlMarkedForDelete(link));
    // Recording it for this organisation adds a row of its own.
    job.MarkForDelete(link);
    EXPECT_EQ(2, Value("SELECT COUNT(*) FROM S_EGAIS_UTM_LINKS").AsInt64());
}

TEST_F(LinkBook, RecordingAgainRenewsTheMoment) {
    const std::string link = "http://127.0.0.1:8080/opt/out/Ticket/4";
    RecordOldLink(link);
    THttpTestJob job;
    job.MarkForDelete(link);
    TDateTime moment = Value("SELECT LAST_MODIFIED FROM S_EGAIS_UTM_LINKS WHERE UTM_LINK = :LINK",
                             {{"LINK", link}})
                           .AsDateTime();
    EXPECT_LT(SecondsBetween(moment, Now()), 60);
}

TEST_F(LinkBook, TheCallersFormLivesAndDiesWithTheCallersTransaction) {
    THttpTestJob job;
    const std::string link = "http://127.0.0.1:8080/opt/out/WayBill_v3/42";
    {
        TQueryPtr q = NewQuery(TTxMode::Long);
        q->SetSQL("SELECT 1 FROM RDB$DATABASE");
        q->ExecQuery();
        EXPECT_GT(job.MarkForDelete(link, *q), 0);
        q->Transaction().Rollback();
    }
    EXPECT_FALSE(job.UrlMarkedForDelete(link));
    {
        TQueryPtr q = NewQuery(TTxMode::Long);
        job.MarkForDelete(link, *q);
        q->Transaction().Commit();
    }
    EXPECT_TRUE(job.UrlMarkedForDelete(link));
    EXPECT_NE(std::string::npos, Log().find("TQorHttpJob.MarkForDelete2(" + link + ")"));
}

TEST_F(LinkBook, ALinkTooLongForTheTableIsNotRecorded) {
    THttpTestJob job;
    EXPECT_ANY_THROW(job.MarkForDelete("http://127.0.0.1/" + std::string(300, 'x')));
    EXPECT_EQ(0, Value("SELECT COUNT(*) FROM S_EGAIS_UTM_LINKS").AsInt64());
}

TEST_F(LinkBook, AMessageToTheBackOffice) {
    THttpTestJob job;
    job.SendMessageToBackOffice("Накладная \"42\" принята");
    TQueryPtr q =
        Query("SELECT SENDER, RECEIVER, SHORT_MESSAGE, MESSAGE_STATE FROM S_P_RMK_SHORT_MESSAGES");
    ASSERT_FALSE(q->Eof());
    EXPECT_EQ("QOR-service", q->Field(0).AsString());
    EXPECT_EQ("BackOffice", q->Field(1).AsString());
    EXPECT_EQ("Накладная \"42\" принята", q->Field(2).AsString());
    EXPECT_EQ(0, q->Field(3).AsInteger());
    EXPECT_NE(std::string::npos,
              Log().find("TQorHttpJob: Отправляем в офис сообщение \"Накладная \"42\" принята\""));
}

TEST(XmlFileName, TheLastTwoPartsOfTheName) {
    struct Case {
        const char* Name;
        const char* File;
    } cases[] = {
        {"http://127.0.0.1:8080/opt/out/WayBill_v3/42", "WayBill_v3_42.xml"},
        {"http://utm:8080/opt/in/WayBill_v4/5", "WayBill_v4_5.xml"},
        {"C:\\archive\\ticket", "ticket.xml"},
        {"Debug/Waybill_v4", "Debug_Waybill_v4.xml"},
        {"WayBill", "WayBill.xml"},
        {"http://utm:8080/opt/out/Ticket//9/", "Ticket_9.xml"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.File, TQorJob::XmlFileName(c.Name)) << c.Name;
}

// Files below the program folder, as paths relative to it.
std::vector<std::string> FilesUnder(const fs::path& home, const std::string& stem) {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(home))
        if (e.is_regular_file() && e.path().filename().string().rfind(stem, 0) == 0)
            files.push_back(fs::relative(e.path(), home).string());
    std::sort(files.begin(), files.end());
    return files;
}

using Archive = UtmJobEnv;

TEST_F(Archive, TakenNamesGetNumberedAndSentDocumentsGoToOptIn) {
    TDbTestJob job;
    TXmlDocument doc = LoadXmlFrom("<Documents><n>1</n></Documents>");
    const std::string url = "http://127.0.0.1:8080/opt/out/WayBill_v3/42";
    std::vector<bool> taken;
    for (int i = 0; i < 3; ++i) {
        bool already = true;
        job.SaveXmlToFs(doc, url, already);
        taken.push_back(already);
    }
    EXPECT_EQ((std::vector<bool>{false, true, true}), taken);
    std::vector<std::string> files = FilesUnder(Folders.Home(), "WayBill_v3_42");
    ASSERT_EQ(3u, files.size());
    std::regex day(R"(\d{4}/\d{2}/\d{2}/WayBill_v3_42(_1|_2)?\.xml)");
    for (const auto& f : files) EXPECT_TRUE(std::regex_match(f, day)) << f;
    EXPECT_EQ("WayBill_v3_42.xml", fs::path(files[0]).filename());
    EXPECT_EQ("WayBill_v3_42_1.xml", fs::path(files[1]).filename());
    EXPECT_EQ("WayBill_v3_42_2.xml", fs::path(files[2]).filename());
    EXPECT_NE(std::string::npos, qortest::ReadFile(Folders.Home() / files[0]).find("<n>1</n>"));

    bool sentTaken = true;
    job.SaveXmlToFs(std::string("<sent/>"), "http://127.0.0.1:8080/opt/in/WayBill_v4/5", sentTaken);
    EXPECT_FALSE(sentTaken);
    std::vector<std::string> sent = FilesUnder(Folders.Home(), "WayBill_v4_5");
    ASSERT_EQ(1u, sent.size());
    EXPECT_TRUE(
        std::regex_match(sent[0], std::regex(R"(\d{4}/\d{2}/\d{2}/opt/in/WayBill_v4_5\.xml)")))
        << sent[0];
    EXPECT_EQ("<sent/>", qortest::ReadFile(Folders.Home() / sent[0]));
}

TEST_F(Archive, WhenTenNumberedNamesAreTakenNothingIsSaved) {
    TDbTestJob job;
    TXmlDocument doc = LoadXmlFrom("<a/>");
    for (int i = 0; i < 12; ++i) job.SaveXmlToFs(doc, "/opt/out/Ticket/1");
    EXPECT_EQ(11u, FilesUnder(Folders.Home(), "Ticket_1").size());
}

TEST_F(Archive, AFolderThatCannotBeMadeIsLoggedAndRaised) {
    TDbTestJob job;
    // A file where the year folder should be.
    TDateTimeParts today = DecodeDateTime(Now());
    qortest::WriteFile(Folders.Home() / std::to_string(today.Year), "in the way");
    EXPECT_ANY_THROW(job.SaveXmlToFs(LoadXmlFrom("<a/>"), "/opt/out/Ticket/1"));
    EXPECT_NE(std::string::npos, Log().find("File: \""));
}

TEST_F(Archive, DebugCopiesCarryTheTickCount) {
    TDbTestJob job;
    job.DebugSaveXml(LoadXmlFrom("<dbg/>"), "Waybill_v4");
    std::vector<std::string> files = FilesUnder(Folders.Home(), "Waybill_v4_");
    ASSERT_EQ(1u, files.size());
    EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(Debug\.XML/Waybill_v4_\d+\.xml)")))
        << files[0];
}

}  // namespace
