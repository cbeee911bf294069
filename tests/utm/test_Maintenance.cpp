#include <gtest/gtest.h>

#include <algorithm>

#include "UtmJobEnv.h"
#include "uMaintenanceJobs.h"
#include "uXml.h"

using namespace std::chrono_literals;

namespace {

using utmtest::TLatch;
using utmtest::TWorker;
using utmtest::UtmJobEnv;

// The answers of the index must be those of the XPath search it replaces.
TEST(LinksListed, AnswersAsTheContainsSearchOfTheListDoes) {
    TXmlDocument list = LoadXmlFrom(
        "<A><url replyId=\"r1\">http://u:8080/opt/out/WayBill/10</url>"
        "<url> http://u:8080/opt/out/Ticket/3 </url>"
        "<url><![CDATA[http://u:8080/opt/out/ReplyAP/7]]></url>"
        "<url/>"
        "<url>http://u:8080/opt/out/Say'\"Hi/5<b>ignored</b>second text</url>"
        "<other>http://u:8080/opt/out/Other/1</other>"
        "<ver>2</ver></A>");
    std::vector<std::string> links = {
        "http://u:8080/opt/out/WayBill/10",  // as listed
        "http://u:8080/opt/out/WayBill/1",   // a part of a listed address
        "http://u:8080/opt/out/WayBill/100",
        "http://u:8080/opt/out/Ticket/3",  // inside blanks
        "http://u:8080/opt/out/ReplyAP/7",
        "http://u:8080/opt/out/Say'\"Hi/5",  // both quote kinds
        "second text",                       // not in the first text node
        "http://u:8080/opt/out/Other/1",     // not a url element
        "/10 http://u",                      // across two entries
        "",
        "ticket/3",  // letter case counts
        "WayBill",
    };
    std::vector<bool> listed = LinksListed(list, links);
    ASSERT_EQ(links.size(), listed.size());
    for (size_t i = 0; i < links.size(); ++i) {
        bool byXPath =
            bool(list.selectSingleNode("//url[contains(text(), " + XPathLiteral(links[i]) + ")]"));
        EXPECT_EQ(byXPath, bool(listed[i])) << "link \"" << links[i] << "\"";
    }
    EXPECT_EQ((std::vector<bool>{true, true, false, true, true, true, false, false, false, true,
                                 false, true}),
              listed);

    TXmlDocument empty = LoadXmlFrom("<A><ver>2</ver></A>");
    EXPECT_EQ((std::vector<bool>{false, false}), LinksListed(empty, {"", "x"}));
}

class Maintenance : public UtmJobEnv {
protected:
    // One run of the garbage remover on this thread.
    void RemoveGarbage() {
        TEgaisGarbageRemoverJob job;
        job.SetLimitJobRunningTime(600000);
        job.Perform();
    }
    std::vector<std::string> Deletes() const {
        std::vector<std::string> deletes;
        for (const auto& r : Utm.Requests())
            if (r.rfind("DELETE ", 0) == 0) deletes.push_back(r);
        return deletes;
    }
    static std::string Path(const std::string& url) { return url.substr(url.find("/opt/")); }
    bool Listed(const std::string& url) const {
        auto urls = Utm.IncomingUrls();
        return std::find(urls.begin(), urls.end(), url) != urls.end();
    }
};

TEST_F(Maintenance, TheRefreshJobFillsTheSharedList) {
    std::string url = Utm.PlaceIncoming("WayBill_v4", "<a/>");
    TEgaisRefreshJob job;
    job.SetLimitJobRunningTime(2000);
    job.Perform();
    IBuffer b = NewBuffer();
    ASSERT_EQ(200, UTMBuffer()->ReadIncomingDocs(b));
    EXPECT_NE(std::string::npos, b->Data().find(url));
    EXPECT_EQ((std::vector<std::string>{"GET /opt/out?refresh=true"}), Utm.Requests());
}

TEST_F(Maintenance, DeletesFromTheUtmAndForgetsLinksOnceTheListDropsThem) {
    const std::string listed = Utm.PlaceIncoming("WayBill_v4", "<a/>");
    const std::string kept = Utm.PlaceIncoming("Ticket", "<t/>");  // never processed
    const std::string gone =
        "http://127.0.0.1:" + std::to_string(Utm.Port()) + "/opt/out/Ticket/99";
    const std::string sent =
        "http://127.0.0.1:" + std::to_string(Utm.Port()) + "/OPT/IN/WayBill_v4/1";
    const std::string foreign = Utm.PlaceIncoming("Ticket", "<f/>");
    RecordOldLink(listed);
    RecordOldLink(gone);
    RecordOldLink(sent);
    RecordOldLink(foreign, "020000000002");
    RefreshList();

    RemoveGarbage();
    // The listed document is deleted but its row stays while this run's list shows it;
    // the link the UTM no longer has goes; the /opt/in row goes without a request.
    EXPECT_EQ((std::vector<std::string>{"DELETE " + Path(listed), "DELETE " + Path(gone)}),
              Deletes());
    EXPECT_EQ((std::vector<std::string>{foreign, listed}), RecordedLinks());
    EXPECT_FALSE(Listed(listed));
    EXPECT_TRUE(Listed(kept));
    EXPECT_TRUE(Listed(foreign));
    std::string log = Log();
    std::string goneLower = gone;  // the log shows links in lower case
    std::transform(goneLower.begin(), goneLower.end(), goneLower.begin(), ::tolower);
    EXPECT_NE(std::string::npos, log.find("Ссылка " + goneLower + " успешно удалена."));
    EXPECT_NE(std::string::npos, log.find("Ссылка " + goneLower + " удалена."));
    EXPECT_NE(std::string::npos, log.find("TEgaisGarbageRemoverJob: обработано 3 ссылок."));

    RefreshList();
    RemoveGarbage();
    EXPECT_EQ((std::vector<std::string>{foreign}), RecordedLinks());
    EXPECT_EQ(3u, Deletes().size());
    EXPECT_TRUE(Listed(kept));
}

TEST_F(Maintenance, ARefusedDeletionKeepsTheRowAndTheRunGoesOn) {
    const std::string listed = Utm.PlaceIncoming("WayBill_v4", "<a/>");
    const std::string gone =
        "http://127.0.0.1:" + std::to_string(Utm.Port()) + "/opt/out/Ticket/99";
    RecordOldLink(listed);
    RecordOldLink(gone);
    RefreshList();
    Utm.SetFault(utmtest::Fault(fmStatus, 500, std::chrono::milliseconds(0), -1));

    RemoveGarbage();
    EXPECT_EQ(2u, Deletes().size());
    EXPECT_EQ((std::vector<std::string>{listed}), RecordedLinks());
    EXPECT_TRUE(Listed(listed));
    EXPECT_NE(std::string::npos,
              Log().find("TEgaisGarbageRemoverJob\r\n(EQorJobException - \"unable to delete "
                         "document from utm\")"));
}

TEST_F(Maintenance, OnlyLinksRecordedBeforeTheRunAreLookedAt) {
    const std::string url = Utm.PlaceIncoming("Ticket", "<t/>");
    qortest::Exec(
        "INSERT INTO S_EGAIS_UTM_LINKS (UTM_LINK, FSRAR_ID, LAST_MODIFIED) "
        "VALUES (:LINK, :FSRAR_ID, DATEADD(1 DAY TO CURRENT_TIMESTAMP))",
        {{"LINK", url}, {"FSRAR_ID", utmtest::kFsrarId}});
    RefreshList();
    RemoveGarbage();
    EXPECT_TRUE(Deletes().empty());
    EXPECT_EQ((std::vector<std::string>{url}), RecordedLinks());
    EXPECT_NE(std::string::npos, Log().find("TEgaisGarbageRemoverJob: обработано 0 ссылок."));
}

TEST_F(Maintenance, AnEmptyTableIsZeroLinks) {
    RefreshList();
    RemoveGarbage();
    EXPECT_NE(std::string::npos, Log().find("TEgaisGarbageRemoverJob: обработано 0 ссылок."));
    EXPECT_NE(std::string::npos, Log().find("TEgaisGarbageRemoverJob.DoJob <-"));
}

TEST_F(Maintenance, WithoutAListTheRunFails) {
    RecordOldLink(Utm.PlaceIncoming("Ticket", "<t/>"));
    try {
        RemoveGarbage();
        FAIL() << "the run went on without a list";
    } catch (const EQorJobException& e) {
        EXPECT_STREQ("Не удалось прочитать входящие документы УТМ", e.what());
    }
    EXPECT_TRUE(Utm.Requests().empty());
}

// The remover, telling the test when a transfer is under way.
class TWatchedRemover : public TEgaisGarbageRemoverJob {
public:
    explicit TWatchedRemover(TLatch& inTransfer) : FInTransfer(inTransfer) {}
    void DoHttp() override {
        FInTransfer.Notify();
        TEgaisGarbageRemoverJob::DoHttp();
    }

private:
    TLatch& FInTransfer;
};

TEST_F(Maintenance, AStopDuringADeletionEndsTheRunNotJustTheRow) {
    RecordOldLink(Utm.PlaceIncoming("Ticket", "<t/>"));
    RecordOldLink(Utm.PlaceIncoming("Ticket", "<u/>"));
    RefreshList();
    Utm.SetFault(utmtest::Fault(fmDelay, 500, 60s, -1));
    TLatch inTransfer;
    auto job = std::make_unique<TWatchedRemover>(inTransfer);
    job->SetLimitJobRunningTime(600000);
    TWorker worker(std::move(job));
    worker.Run();
    ASSERT_TRUE(inTransfer.Wait(10s));

    worker.Stop();
    ASSERT_TRUE(worker.WaitForRuns(1, 3s));
    // The second row was not reached.
    std::string log = Log();
    size_t first = log.find("DeleteDocument URL: ");
    ASSERT_NE(std::string::npos, first);
    EXPECT_EQ(std::string::npos, log.find("DeleteDocument URL: ", first + 1));
    EXPECT_LE(Deletes().size(), 1u);
    EXPECT_EQ(2u, RecordedLinks().size());
    EXPECT_NE(std::string::npos,
              log.find("TEgaisGarbageRemoverJob \r\n(EQorJobAbort - \"Thread were stopped or "
                       "terminated\")"));
}

}  // namespace
