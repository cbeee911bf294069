#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "UtmJobEnv.h"
#include "uIncomingReader.h"
#include "uQorJob.h"
#include "uXml.h"

namespace fs = std::filesystem;

namespace {

using utmtest::UtmJobEnv;

// A job whose run is whatever the test gives it.
class TTestJob : public TQorJob {
public:
    const char* ClassName() const override { return "TTestJob"; }
    void DoJob() override { Body(); }
    std::function<void()> Body = [] {};
};

// A reader of the kind "Test" that writes one row per document in the document's
// transaction and answers as it is told.
class TTestReader : public TIncomingReader {
public:
    explicit TTestReader(TQorJob& job) : TIncomingReader(job) { FSelection.Kinds = {"Test"}; }

    TIncomingSelection Selection() const override { return FSelection; }
    THandled Handle(const TIncomingDocument& doc, TDbTransaction& tx) override {
        Handled.push_back(doc.Url);
        tx.Run(
            "INSERT INTO S_P_RMK_SHORT_MESSAGES (SENDER, RECEIVER, SHORT_MESSAGE, "
            "MESSAGE_STATE) VALUES ('test', 'test', :TEXT, 0)",
            {{"TEXT", doc.Url}});
        if (Raise && doc.Url == RaiseAt) Raise();
        return doc.Url == LastAt ? THandled::Last : Result;
    }
    // Errors of the kind std::logic_error end the run; all others skip the document.
    TOnError OnError(const std::exception& e) const override {
        return dynamic_cast<const std::logic_error*>(&e) ? TOnError::EndRun
                                                         : TOnError::SkipDocument;
    }
    void Recorded(const std::string& url) override { RecordedUrls.push_back(url); }

    TIncomingSelection FSelection;
    THandled Result = THandled::Stored;
    std::function<void()> Raise;
    std::string RaiseAt, LastAt;
    std::vector<std::string> Handled, RecordedUrls;
};

class IncomingReader : public UtmJobEnv {
protected:
    void SetUp() override {
        UtmJobEnv::SetUp();
        Job.SetLimitJobRunningTime(600000);
    }
    // Reads the whole list with the reader as one run of the job.
    void ReadAll(TTestReader& reader) {
        RefreshList();
        TDateTime lastLook;
        const TIncomingList list = TIncomingList::Read(lastLook, "no list");
        Job.Body = [&] { reader.ReadFrom(list); };
        Job.Perform();
    }
    int Gets(const std::string& url) const {
        auto requests = Utm.Requests();
        return int(
            std::count(requests.begin(), requests.end(), "GET " + url.substr(url.find("/opt/"))));
    }
    static std::string Rows() {
        std::string out;
        for (TQueryPtr q =
                 qortest::Query("SELECT SHORT_MESSAGE FROM S_P_RMK_SHORT_MESSAGES ORDER BY ID");
             !q->Eof(); q->Next())
            out += q->Field(0).AsString() + "\n";
        return out;
    }
    fs::path DayFolder() const {
        const TDateTimeParts today = DecodeDateTime(Now());
        char day[16];
        std::snprintf(day, sizeof day, "%04d/%02d/%02d", today.Year, today.Month, today.Day);
        return Folders.Home() / day;
    }
    bool Archived(const std::string& url) const {
        std::error_code ec;  // a name too long for the file system was never archived
        return fs::exists(DayFolder() / TQorJob::XmlFileName(url), ec);
    }

    TTestJob Job;
};

TEST(KindSelection, MatchesItsKindsInAnyLetterCaseAndNoOtherKind) {
    const TXmlDocument list = LoadXmlFrom(
        "<A><url>http://u/opt/out/WayBill_v4/1</url>"
        "<url>http://u/opt/out/WAYBILL_V4/2</url>"
        "<url>http://u/opt/out/waybill_v4/3</url>"
        "<url>http://u/opt/out/WayBill_v3/4</url>"
        "<url>http://u/opt/out/WayBill/5</url>"
        "<url replyId=\"r\">http://u/opt/out/Ticket/6</url>"
        "<url>http://u/opt/out/Ticket/7</url>"
        "<url replyId=\"r\">http://u/opt/out/WayBillTicket/8</url>"
        "<url>http://u/opt/out/It's\"odd/9</url>"
        "<other>http://u/opt/out/WayBill_v4/10</other></A>");
    struct Case {
        std::vector<std::string> Kinds;
        std::string Attribute;
        std::string Numbers;  // of the addresses selected, in list order
    };
    const Case cases[] = {
        {{"WayBill_v4"}, "", "123"},  {{"WAYBILL_V4"}, "", "123"},
        {{"WayBill"}, "", "5"},       {{"WayBill_v3", "WayBill"}, "", "45"},
        {{"Ticket"}, "", "678"},      {{"Ticket"}, "replyId", "68"},
        {{"WayBillTicket"}, "", "8"}, {{"It's\"odd"}, "", "9"},
        {{"WayBill_v"}, "", ""},      {{}, "", ""},
    };
    for (const Case& c : cases) {
        const std::string xpath = KindSelection(c.Kinds, c.Attribute);
        SCOPED_TRACE(xpath);
        std::string numbers;
        for (const TXmlNode& url : list.selectNodes(xpath))
            numbers += std::to_string(IncomingUrlNumber(url.text()));
        EXPECT_EQ(c.Numbers, numbers);
    }
}

TEST(IncomingReaderAddresses, ComeInListOrderOrByNumberAndFallBackWhenTheFirstFindsNone) {
    TTestJob job;
    TTestReader reader(job);
    struct Case {
        const char* List;
        std::vector<std::string> OrElse;
        bool ByNumber;
        std::string Numbers;
    };
    const char* const kMixed =
        "<A><url>u/opt/out/Test/30</url><url>u/opt/out/Test/4</url><url>u/opt/out/Test/x</url>"
        "<url>u/opt/out/Test/4 </url></A>";
    const Case cases[] = {
        {kMixed, {}, false, "304-14"},
        {kMixed, {}, true, "-14430"},  // the two 4s keep the list's order
        {"<A><url>u/opt/out/Other/2</url><url>u/opt/out/Other/1</url></A>", {"Other"}, true, "12"},
        {"<A><url>u/opt/out/Other/2</url><url>u/opt/out/Test/3</url></A>", {"Other"}, false, "3"},
        {"<A><url>u/opt/out/Other/2</url></A>", {}, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.List);
        reader.FSelection.OrElseKinds = c.OrElse;
        reader.FSelection.ByNumber = c.ByNumber;
        std::string numbers;
        for (const TXmlNode& url : reader.Addresses(TIncomingList(LoadXmlFrom(c.List))))
            numbers += std::to_string(IncomingUrlNumber(url.text()));
        EXPECT_EQ(c.Numbers, numbers);
    }
}

TEST_F(IncomingReader, TheListIsReadOnlyWhenItHasNewsSinceTheJobsLastLook) {
    TDateTime lastLook;
    EXPECT_THROW(TIncomingList::Read(lastLook, "no list yet"), EQorJobException);
    EXPECT_FALSE(TIncomingList::News(lastLook, {"nothing new here", "no list yet"}));
    EXPECT_NE(std::string::npos, Log().find("nothing new here"));

    const std::string url = Utm.PlaceIncoming("Test", "<a/>");
    RefreshList();
    std::optional<TIncomingList> list = TIncomingList::News(lastLook, {"nothing new here", ""});
    ASSERT_TRUE(list);
    EXPECT_EQ(UTMBuffer()->LastNewsMoment(), lastLook);
    EXPECT_EQ(url, list->Xml().selectSingleNode("//url").text());
    EXPECT_FALSE(TIncomingList::News(lastLook, {"", ""}));
}

TEST_F(IncomingReader, RecordedAddressesArePassedOverAndHandleCanEndTheReading) {
    TTestReader reader(Job);
    std::vector<std::string> urls;
    for (int i = 0; i < 4; ++i) urls.push_back(Utm.PlaceIncoming("Test", "<a/>"));
    Utm.PlaceIncoming("Other", "<a/>");
    RecordOldLink(urls[1]);
    reader.LastAt = urls[2];
    ReadAll(reader);
    EXPECT_EQ((std::vector<std::string>{urls[0], urls[2]}), reader.Handled);
    EXPECT_EQ(std::vector<std::string>{urls[1]}, reader.RecordedUrls);
    EXPECT_EQ(0, Gets(urls[1]));
    EXPECT_EQ(0, Gets(urls[3]));  // the reading ended at the one before
    EXPECT_EQ(urls[0] + "\n", Rows());
    EXPECT_EQ((std::vector<std::string>{urls[0], urls[1]}), RecordedLinks());
}

TEST_F(IncomingReader, ADocumentOverTheSizeLimitStaysInTheUtmWithAnErrorLine) {
    SetSettingProperty("MaxDocumentSizeMb", "1");
    const std::string big = Utm.PlaceIncoming("Test", "<a>" + std::string(2 << 20, 'x') + "</a>");
    const std::string small = Utm.PlaceIncoming("Test", "<b/>");
    TTestReader reader(Job);
    ReadAll(reader);
    EXPECT_EQ(std::vector<std::string>{small}, reader.Handled);
    EXPECT_EQ(std::vector<std::string>{small}, RecordedLinks());
    EXPECT_NE(std::string::npos, Log().find("] error root  - TTestJob: документ " + big +
                                            " не принят\r\n(EHttpAnswerTooLarge"))
        << Log();
}

TEST_F(IncomingReader, AnErrorSkipsOneDocumentOrEndsTheRunAsThePolicySays) {
    struct Case {
        const char* Name;
        const char* FirstBody;
        std::function<void()> Raise;
        bool Skips;
    };
    const Case cases[] = {
        {"an error the reader lets pass", "<a/>", [] { throw EQorJobException("broken one"); },
         true},
        {"a document that is not XML", "<a>", {}, true},
        {"an error the reader ends the run with", "<a/>", [] { throw std::logic_error("stop"); },
         false},
        {"the job's abort", "<a/>", [] { throw EQorJobAbort("limit"); }, false},
        {"a lost connection", "<a/>",
         [] {
             throw EDbProviderException(
                 "Unable to complete network request; error that precludes successful execution "
                 "of subsequent statements; Failed to establish a connection");
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Utm.Reset();
        InitUTMBuffer();
        qortest::Exec("DELETE FROM S_EGAIS_UTM_LINKS");
        qortest::Exec("DELETE FROM S_P_RMK_SHORT_MESSAGES");
        const std::string first = Utm.PlaceIncoming("Test", c.FirstBody);
        const std::string second = Utm.PlaceIncoming("Test", "<b/>");
        TTestReader reader(Job);
        reader.Raise = c.Raise;
        reader.RaiseAt = first;
        const size_t iLogFrom = Log().size();
        if (c.Skips) {
            ReadAll(reader);
            EXPECT_NE(
                std::string::npos,
                Log().find("] error root  - TTestJob: документ " + first + " не принят", iLogFrom));
            EXPECT_EQ(second + "\n", Rows());
            EXPECT_EQ(std::vector<std::string>{second}, RecordedLinks());
        } else {
            EXPECT_ANY_THROW(ReadAll(reader));
            EXPECT_EQ(0, Gets(second));
            EXPECT_EQ("", Rows());
            EXPECT_TRUE(RecordedLinks().empty());
        }
    }
}

TEST_F(IncomingReader, AStoredDocumentsRowsArchiveAndMarkAreKeptTogetherOrNotAtAll) {
    struct Case {
        const char* Name;
        THandled Result;
        bool Raise, BlockArchive, LongUrl;
        bool Kept, Marked;  // afterwards: the row, the link (and the archive copy)
    };
    const Case cases[] = {
        {"stored", THandled::Stored, false, false, false, true, true},
        {"noted", THandled::Noted, false, false, false, true, false},
        {"kept", THandled::Kept, false, false, false, false, false},
        {"Handle fails after writing", THandled::Stored, true, false, false, false, false},
        {"the mark fails", THandled::Stored, false, false, true, false, false},
        {"the archive fails", THandled::Stored, false, true, false, false, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        qortest::Exec("DELETE FROM S_EGAIS_UTM_LINKS");
        qortest::Exec("DELETE FROM S_P_RMK_SHORT_MESSAGES");
        const std::string url = "http://127.0.0.1/opt/out/" +
                                std::string(c.LongUrl ? 300 : 4, 'T') + "/" + std::to_string(++n);
        TTestReader reader(Job);
        reader.Result = c.Result;
        reader.RaiseAt = url;
        if (c.Raise) reader.Raise = [] { throw EQorJobException("after the row"); };
        const fs::path year = DayFolder().parent_path().parent_path();
        if (c.BlockArchive) {
            fs::remove_all(year);
            std::ofstream(year) << "not a folder";
        }
        Job.Body = [&] { reader.Take({url, TXmlNode(), LoadXmlFrom("<a>" + url + "</a>")}); };
        if (c.Raise || c.BlockArchive || c.LongUrl)
            EXPECT_ANY_THROW(Job.Perform());
        else
            EXPECT_NO_THROW(Job.Perform());
        if (c.BlockArchive) fs::remove(year);
        EXPECT_EQ(c.Kept ? url + "\n" : "", Rows());
        EXPECT_EQ(c.Marked ? std::vector<std::string>{url} : std::vector<std::string>{},
                  RecordedLinks());
        EXPECT_EQ(c.Marked, Archived(url));
    }
}

}  // namespace
