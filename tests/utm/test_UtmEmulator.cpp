#include <curl/curl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include "TestSupport.h"
#include "UtmEmulator.h"
#include "uXml.h"

namespace {

struct THttpResult {
    CURLcode Code = CURLE_OK;
    long Status = 0;
    std::string Body;
};

struct TRequest {
    std::string Method = "GET";
    std::string Url;
    std::optional<std::string> XmlFile;    // sent as the multipart part "xml_file"
    std::optional<std::string> OtherPart;  // a multipart part of another name
    std::optional<std::string> RawBody;
    long TimeoutMs = 10000;
};

size_t Collect(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

THttpResult Http(const TRequest& r) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    THttpResult result;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    curl_mime* mime = nullptr;
    curl_easy_setopt(curl.get(), CURLOPT_URL, r.Url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, r.TimeoutMs);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &result.Body);
    if (r.XmlFile || r.OtherPart) {
        mime = curl_mime_init(curl.get());
        curl_mimepart* part = curl_mime_addpart(mime);
        curl_mime_name(part, r.XmlFile ? "xml_file" : "other");
        const std::string& data = r.XmlFile ? *r.XmlFile : *r.OtherPart;
        curl_mime_data(part, data.data(), data.size());
        curl_mime_filename(part, "doc.xml");
        curl_mime_type(part, "application/xml");
        curl_easy_setopt(curl.get(), CURLOPT_MIMEPOST, mime);
    } else if (r.RawBody) {
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, r.RawBody->c_str());
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(r.RawBody->size()));
    }
    if (r.Method != "GET" && r.Method != "POST")
        curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, r.Method.c_str());
    result.Code = curl_easy_perform(curl.get());
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &result.Status);
    curl_mime_free(mime);
    return result;
}

THttpResult Get(const std::string& url) {
    return Http({"GET", url, {}, {}, {}});
}
THttpResult Delete(const std::string& url) {
    return Http({"DELETE", url, {}, {}, {}});
}
THttpResult PostXml(const std::string& url, const std::string& xml) {
    return Http({"POST", url, xml, {}, {}});
}

const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?><A>";
const std::string kWayBill =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ns:Documents "
    "xmlns:ns=\"http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\"><ns:Owner><ns:FSRAR_ID>030000000001"
    "</ns:FSRAR_ID></ns:Owner><ns:Document><ns:Note>Накладная</ns:Note></ns:Document></"
    "ns:Documents>";

class UtmEmulatorTest : public testing::Test {
protected:
    void SetUp() override { FUtm.Start(0); }
    std::string Url(const std::string& path) const { return FUtm.BaseUrl() + path; }
    TUtmEmulator FUtm;
};

TEST_F(UtmEmulatorTest, ListsServesAndDeletesIncomingDocuments) {
    ASSERT_GT(FUtm.Port(), 0);
    std::string ticket =
        FUtm.PlaceIncoming("Ticket", "<Ticket>т</Ticket>", "b7c1e2d4-0000-4000-8000-000000000001");
    std::string waybill = FUtm.PlaceIncoming("WayBill_v4", kWayBill);
    EXPECT_EQ(ticket, Url("/opt/out/Ticket/1"));
    EXPECT_EQ(waybill, Url("/opt/out/WayBill_v4/2"));

    for (const char* path : {"/opt/out?refresh=true", "/opt/out"}) {
        SCOPED_TRACE(path);
        THttpResult list = Get(Url(path));
        ASSERT_EQ(list.Code, CURLE_OK);
        EXPECT_EQ(list.Status, 200);
        EXPECT_EQ(list.Body, kHead + "<url replyId=\"b7c1e2d4-0000-4000-8000-000000000001\">" +
                                 ticket + "</url><url>" + waybill + "</url><ver>2</ver></A>");
        TXmlDocument doc = LoadXmlFrom(list.Body);
        EXPECT_EQ(doc.selectNodes("//url[contains(text(), '/WayBill_v4/')]").length(), 1);
    }

    THttpResult doc = Get(waybill);
    EXPECT_EQ(doc.Status, 200);
    EXPECT_EQ(doc.Body, kWayBill);
    EXPECT_EQ(Delete(waybill).Status, 200);
    EXPECT_EQ(Delete(waybill).Status, 404);
    EXPECT_EQ(Get(waybill).Status, 404);
    EXPECT_EQ(Get(Url("/opt/out/Ticket/99")).Status, 404);
    EXPECT_EQ(FUtm.IncomingUrls(), std::vector<std::string>{ticket});
    EXPECT_EQ(Get(Url("/opt/out")).Body.find("WayBill_v4"), std::string::npos);
}

TEST_F(UtmEmulatorTest, AcceptsPostsAndListsThemWithTheirTransportIds) {
    THttpResult answer = PostXml(Url("/opt/in/Waybill_v4"), kWayBill);
    ASSERT_EQ(answer.Code, CURLE_OK);
    EXPECT_EQ(answer.Status, 200);
    std::smatch m;
    static const std::regex frame(
        "^<\\?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"\\?><A><url>"
        "([0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12})</url><sign>[0-9a-f]+</sign>"
        "<ver>2</ver></A>$");
    ASSERT_TRUE(std::regex_match(answer.Body, m, frame)) << answer.Body;
    const std::string id = m[1];
    EXPECT_EQ(LoadXmlFrom(answer.Body).selectSingleNode("//url[1]").text(), id);

    std::vector<TPostedDocument> posted = FUtm.Posted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].Kind, "Waybill_v4");
    EXPECT_EQ(posted[0].Body, kWayBill);
    EXPECT_EQ(posted[0].TransportId, id);
    EXPECT_EQ(posted[0].Url, Url("/opt/in/Waybill_v4/1"));

    THttpResult list = Get(Url("/opt/in"));
    EXPECT_EQ(list.Body,
              kHead + "<url replyId=\"" + id + "\">" + posted[0].Url + "</url><ver>2</ver></A>");
    TXmlNode link =
        LoadXmlFrom(list.Body).selectSingleNode("//url[@replyId = " + XPathLiteral(id) + "][1]");
    ASSERT_TRUE(link);
    EXPECT_EQ(Get(link.text()).Body, kWayBill);

    // The same body again gets a new id; a forced id can repeat.
    THttpResult again = PostXml(Url("/opt/in/Waybill_v4"), kWayBill);
    EXPECT_EQ(FUtm.BodyPostCount(kWayBill), 2);
    EXPECT_EQ(again.Body.find(id), std::string::npos);
    FUtm.ForceNextTransportId("fixed-id");
    FUtm.ForceNextTransportId("fixed-id");
    PostXml(Url("/opt/in/QueryAP"), "<a/>");
    PostXml(Url("/opt/in/QueryAP"), "<b/>");
    EXPECT_EQ(FUtm.TransportIdCount("fixed-id"), 2);
    EXPECT_EQ(FUtm.TransportIdCount(id), 1);
    EXPECT_EQ(FUtm.Posted().size(), 4u);
}

TEST_F(UtmEmulatorTest, RefusesPostsWithoutWellFormedXmlFile) {
    const TRequest cases[] = {
        {"POST", "", {}, std::string(kWayBill), {}},  // another part name
        {"POST", "", {}, {}, std::string(kWayBill)},  // a plain body
        {"POST", "", std::string("<ns:Documents><ns:Owner></ns:Documents>"), {}, {}},
        {"POST", "", std::string("<x:A/>"), {}, {}},  // unbound prefix
        {"POST", "", std::string(""), {}, {}},
    };
    for (TRequest r : cases) {
        r.Url = Url("/opt/in/Waybill_v4");
        THttpResult answer = Http(r);
        SCOPED_TRACE(answer.Body);
        ASSERT_EQ(answer.Code, CURLE_OK);
        EXPECT_GE(answer.Status, 400);
        EXPECT_LT(answer.Status, 500);
        TXmlDocument doc = LoadXmlFrom(answer.Body);
        EXPECT_FALSE(doc.selectSingleNode("/A/error").text().empty());
        EXPECT_EQ(doc.selectSingleNode("/A/ver").text(), "2");
        EXPECT_FALSE(doc.selectSingleNode("//url"));
    }
    EXPECT_TRUE(FUtm.Posted().empty());
    EXPECT_EQ(Get(Url("/opt/in")).Body, kHead + "<ver>2</ver></A>");
}

TEST_F(UtmEmulatorTest, StatusFaultHitsTheNextAnswersOnly) {
    FUtm.SetFault({fmStatus, 503, {}, 2, ""});
    for (int i = 0; i < 2; ++i) {
        THttpResult r = PostXml(Url("/opt/in/Waybill_v4"), kWayBill);
        EXPECT_EQ(r.Status, 503);
        EXPECT_TRUE(LoadXmlFrom(r.Body).selectSingleNode("/A/error"));
    }
    EXPECT_TRUE(FUtm.Posted().empty());
    EXPECT_EQ(FUtm.BodyPostCount(kWayBill), 2) << "refused posts still arrived";
    EXPECT_EQ(Get(Url("/opt/out")).Status, 200);
}

TEST_F(UtmEmulatorTest, DelayOutlastsAShortClientTimeout) {
    FUtm.SetFault({fmDelay, 0, std::chrono::milliseconds(60000), 1, ""});
    TRequest slow{"GET", Url("/opt/out"), {}, {}, {}, 300};
    EXPECT_EQ(Http(slow).Code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(Get(Url("/opt/out")).Status, 200);
    // Stopping cuts the waiting answer short instead of waiting a minute.
    FUtm.Stop();
}

TEST_F(UtmEmulatorTest, DroppedConnectionGetsNoAnswerAndStoresNothing) {
    FUtm.SetFault({fmDrop, 0, {}, 1, ""});
    THttpResult r = PostXml(Url("/opt/in/Waybill_v4"), kWayBill);
    EXPECT_EQ(r.Code, CURLE_GOT_NOTHING);
    EXPECT_TRUE(FUtm.Posted().empty());
    EXPECT_EQ(FUtm.BodyPostCount(kWayBill), 1);
    EXPECT_EQ(PostXml(Url("/opt/in/Waybill_v4"), kWayBill).Status, 200);
}

TEST_F(UtmEmulatorTest, BodyCutShortAfterTheDocumentWasAccepted) {
    FUtm.SetFault({fmCutShort, 0, {}, 1, ""});
    THttpResult r = PostXml(Url("/opt/in/Waybill_v4"), kWayBill);
    EXPECT_EQ(r.Code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Body.rfind(kHead, 0), 0u);
    EXPECT_EQ(r.Body.find("</A>"), std::string::npos);
    EXPECT_EQ(FUtm.Posted().size(), 1u);
}

TEST_F(UtmEmulatorTest, ControlRequestsDriveTheProgram) {
    THttpResult placed = Http({"POST",
                               Url("/control/incoming?kind=WayBill_v4&replyId=r-1"),
                               {},
                               {},
                               std::string(kWayBill)});
    EXPECT_EQ(placed.Status, 200);
    EXPECT_EQ(placed.Body, Url("/opt/out/WayBill_v4/1"));
    EXPECT_NE(Get(Url("/opt/out")).Body.find("<url replyId=\"r-1\">" + placed.Body + "</url>"),
              std::string::npos);
    EXPECT_EQ(Get(placed.Body).Body, kWayBill);
    EXPECT_EQ(Http({"POST", Url("/control/incoming"), {}, {}, std::string("<a/>")}).Status, 400);

    PostXml(Url("/opt/in/QueryAP"), "<q>&amp;</q>");
    TXmlDocument posted = LoadXmlFrom(Get(Url("/control/posted")).Body);
    TXmlNode doc = posted.selectSingleNode("/posted/doc[@kind = 'QueryAP']");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc.text(), "<q>&amp;</q>");
    EXPECT_EQ(doc.getAttribute("posts").value_or(""), "1");
    EXPECT_EQ(doc.getAttribute("transportId").value_or(""), FUtm.Posted().at(0).TransportId);

    EXPECT_EQ(
        Http({"POST", Url("/control/fault?mode=status&status=500&count=1"), {}, {}, std::string()})
            .Status,
        200);
    EXPECT_EQ(Get(Url("/opt/out")).Status, 500);
    EXPECT_EQ(Get(Url("/opt/out")).Status, 200);
    EXPECT_EQ(Http({"POST", Url("/control/fault?mode=bogus"), {}, {}, std::string()}).Status, 400);

    EXPECT_EQ(Http({"POST", Url("/control/reset"), {}, {}, std::string()}).Status, 200);
    EXPECT_TRUE(FUtm.IncomingUrls().empty());
    EXPECT_TRUE(FUtm.Posted().empty());
    EXPECT_TRUE(FUtm.Requests().empty());
}

TEST_F(UtmEmulatorTest, ConcurrentPostsGetDistinctIds) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < 10; ++i)
                PostXml(Url("/opt/in/QueryRests_v2"),
                        "<q t=\"" + std::to_string(t) + "\" i=\"" + std::to_string(i) + "\"/>");
        });
    for (auto& th : threads) th.join();
    std::vector<TPostedDocument> posted = FUtm.Posted();
    ASSERT_EQ(posted.size(), 40u);
    std::set<std::string> ids, urls;
    for (const auto& p : posted) {
        ids.insert(p.TransportId);
        urls.insert(p.Url);
    }
    EXPECT_EQ(ids.size(), 40u);
    EXPECT_EQ(urls.size(), 40u);
    EXPECT_EQ(LoadXmlFrom(Get(Url("/opt/in")).Body).selectNodes("/A/url[@replyId]").length(), 40);
    EXPECT_EQ(FUtm.Requests().size(), 41u);
}

// The program as the whole-program tests start it.
TEST(UtmEmulatorProgram, PrintsItsPortServesAndStopsOnSigterm) {
    const std::string exe = std::string(UTM_EMULATOR_EXE);
    ASSERT_EQ(access(exe.c_str(), X_OK), 0) << exe;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0) continue;
        char buf[64];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    std::smatch m;
    bool bPort = std::regex_search(line, m, std::regex("^PORT ([0-9]+)\n"));
    if (bPort) {
        const std::string base = "http://127.0.0.1:" + std::string(m[1]);
        EXPECT_EQ(Get(base + "/opt/out?refresh=true").Body, kHead + "<ver>2</ver></A>");
        EXPECT_EQ(PostXml(base + "/opt/in/QueryAP", "<a/>").Status, 200);
    }
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(bPort) << line;
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
