#include <gtest/gtest.h>

#include "IncomingEnv.h"
#include "uIncomingReader.h"
#include "uIncomingTicketJob.h"
#include "uTicketReader.h"

namespace {

using incomingtest::IncomingEnv;
using qortest::Exec;

constexpr const char* kReplyId = "5b1e5a0e-7d51-4c2a-9c3e-0f6c1d2a3b4c";

// An EGAIS ticket as the UTM delivers it; `inner` follows tc:DocType.
std::string Ticket(const std::string& docType, const std::string& inner,
                   const std::string& transportId = kReplyId, const std::string& identity = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<ns:Documents Version=\"1.0\" xmlns:ns=\"http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\" "
           "xmlns:tc=\"http://fsrar.ru/WEGAIS/Ticket\">"
           "<ns:Owner><ns:FSRAR_ID>010000000001</ns:FSRAR_ID></ns:Owner><ns:Document><ns:Ticket>"
           "<tc:TicketDate>2026-12-11T10:15:00</tc:TicketDate><tc:Identity>" +
           identity + "</tc:Identity><tc:DocId>0A1B2C</tc:DocId><tc:TransportId>" + transportId +
           "</tc:TransportId><tc:RegID>TTN-0042424242</tc:RegID><tc:DocHash/><tc:DocType>" +
           docType + "</tc:DocType>" + inner + "</ns:Ticket></ns:Document></ns:Documents>";
}

std::string Operation(const std::string& name, const std::string& result,
                      const std::string& comment) {
    return "<tc:OperationResult><tc:OperationName>" + name +
           "</tc:OperationName>"
           "<tc:OperationResult>" +
           result + "</tc:OperationResult><tc:OperationComment>" + comment +
           "</tc:OperationComment><tc:OperationDate>2026-12-11T10:15:00"
           "</tc:OperationDate></tc:OperationResult>";
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

std::string Receipt(const std::string& conclusion, const std::string& comments) {
    return "<tc:Result><tc:Conclusion>" + conclusion +
           "</tc:Conclusion><tc:ConclusionDate>"
           "2026-12-11T10:14:00</tc:ConclusionDate><tc:Comments>" +
           comments + "</tc:Comments></tc:Result>";
}

class IncomingTicket : public IncomingEnv {
protected:
    void Run() {
        RefreshList();
        TEgaisIncomingTicketJob job;
        job.SetLimitJobRunningTime(990000);
        job.Perform();
    }
    // A sent document (header 1, UTM_DOC_TYPE docType) with its sending request 10.
    static void Sent(int status, int docType = 1, const char* replyId = kReplyId,
                     int requestType = 6) {
        Exec(
            "INSERT INTO RG_EGAIS_DOC_HEAD (ID, STATUS, UTM_DOC_TYPE, URL_REPLY_ID, WB_REG_ID) "
            "VALUES (1, :STATUS, :DOC_TYPE, :REPLY_ID, NULL)",
            {{"STATUS", status},
             {"DOC_TYPE", docType},
             {"REPLY_ID", replyId ? TVariant(replyId) : TVariant()}});
        Exec(
            "INSERT INTO S_EGAIS_REQUEST (ID, EGAIS_DOC_ID, REQUEST_TYPE, COMPLETE_FLAG) VALUES "
            "(10, 1, :REQUEST_TYPE, 1)",
            {{"REQUEST_TYPE", requestType}});
    }
    static std::string Header() {
        return Rows("SELECT STATUS, WB_REG_ID, URL_REPLY_ID FROM RG_EGAIS_DOC_HEAD WHERE ID = 1");
    }
    static std::string Replies() {
        return Rows(
            "SELECT REPLY_TYPE, REQUEST_ID, RESULT_CODE, ERROR_DESCRIPTION FROM "
            "S_EGAIS_REPLY ORDER BY ID");
    }
};

struct MatchedCase {
    const char* Name;
    int Status;  // of the sent header before the ticket
    std::string DocType, Inner;
    std::string Header, Replies;  // afterwards
    bool Deleted;                 // archived and marked for deletion
};

TEST_F(IncomingTicket, ATicketMatchedByItsReplyIdMovesTheStatusOnAndWritesTheReply) {
    const MatchedCase cases[] = {
        {"accepted waybill v4", 1, "WAYBILL_V4",
         Operation("Confirm", "Accepted", "Накладная зарегистрирована"), "2|TTN-0042424242|\n",
         "16|10|1|Накладная зарегистрирована\n", true},
        {"rejected waybill v4", 1, "WAYBILL_V4",
         Operation("Confirm", "Rejected", "Ошибка в документе: неверный ИНН"),
         "0|TTN-0042424242|\n", "16|10|-1|Ошибка в документе: неверный ИНН\n", true},
        {"waybill of the first version at status 3 stays 3", 3, "WAYBILL",
         Operation("Confirm", "Accepted", "ok"), "3|TTN-0042424242|\n", "16|10|1|ok\n", true},
        {"waybill v2 at status 3 goes on to 4", 3, "WAYBILL_V2",
         Operation("Confirm", "Accepted", "ok"), "4|TTN-0042424242|\n", "16|10|1|ok\n", true},
        {"receipt by the EGAIS server changes nothing", 1, "WAYBILL_V4",
         Receipt("Accepted", "Документ успешно принят."), "1|-|" + std::string(kReplyId) + "\n", "",
         true},
        {"a long comment keeps its first and last 256 characters", 1, "WAYBILL_V4",
         Operation("Confirm", "Rejected", Repeat("a", 300) + Repeat("я", 300)),
         "0|TTN-0042424242|\n", "16|10|-1|" + Repeat("a", 256) + Repeat("я", 256) + "\n", true},
    };
    for (const MatchedCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Fresh();
        Sent(c.Status);
        const std::string url = Utm.PlaceIncoming("Ticket", Ticket(c.DocType, c.Inner), kReplyId);
        Run();
        EXPECT_EQ(c.Header, Header());
        EXPECT_EQ(c.Replies, Replies());
        EXPECT_EQ(c.Deleted ? std::vector<std::string>{url} : std::vector<std::string>{},
                  RecordedLinks());
    }
}

TEST_F(IncomingTicket, AnActTicketWithoutIdentityIsMatchedByItsTransportId) {
    // A charge-on act for the sales floor, sent with request type 27.
    Sent(1, 2, "7c0ffee0-0000-4000-8000-000000000027", 27);
    const std::string url = Utm.PlaceIncoming(
        "Ticket",
        Ticket("ACTCHARGEONSHOP_V2", Operation("Confirm", "Accepted", "Акт принят"),
               "7c0ffee0-0000-4000-8000-000000000027"),
        "another-reply-id");
    Run();
    EXPECT_EQ("3|TTN-0042424242|another-reply-id\n", Header());
    EXPECT_EQ("16|10|1|Акт принят\n", Replies());
    EXPECT_EQ(std::vector<std::string>{url}, RecordedLinks());
}

TEST_F(IncomingTicket, ATicketThatMatchesNothingStaysInTheUtm) {
    Sent(1, 1, "some-other-document");
    const std::string url = Utm.PlaceIncoming(
        "Ticket", Ticket("WAYBILL_V4", Operation("Confirm", "Accepted", "ok")), kReplyId);
    for (int run = 0; run < 2; ++run) {
        Run();
        EXPECT_EQ("1|-|some-other-document\n", Header());
        EXPECT_EQ("", Replies());
        EXPECT_TRUE(RecordedLinks().empty());
        EXPECT_EQ(std::vector<std::string>{url}, Utm.IncomingUrls());
    }
    // Without any document type it stays too, and is logged at every run.
    Fresh();
    const std::string untyped = Utm.PlaceIncoming(
        "Ticket",
        "<ns:Documents xmlns:ns=\"http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\"><ns:Document/>"
        "</ns:Documents>",
        kReplyId);
    Run();
    EXPECT_NE(std::string::npos,
              Log().find("TEgaisIncomingTicketJob: не удалось узнать тип документа квитанции " +
                         untyped));
    EXPECT_TRUE(RecordedLinks().empty());
}

TEST_F(IncomingTicket, ARepeatedTicketWithIgnoreDoubleSendTicketLeavesTheStatusAndAnswersOne) {
    struct Case {
        const char* Setting;
        std::string Header, Replies;
    };
    const Case cases[] = {
        {"1", "2|TTN-0042424242|\n", "16|10|1|Для данной накладной уже высылался акт\n"},
        {"0", "1|TTN-0042424242|\n", "16|10|-1|Для данной накладной уже высылался акт\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Setting);
        Fresh();
        SetSettingProperty("IgnoreDoubleSendTicket", c.Setting);
        Sent(2, 0);
        Utm.PlaceIncoming(
            "Ticket",
            Ticket("WAYBILLACT_V4",
                   Operation("Confirm", "Rejected", "Для данной накладной уже высылался акт")),
            kReplyId);
        Run();
        EXPECT_EQ(c.Header, Header());
        EXPECT_EQ(c.Replies, Replies());
    }
}

TEST_F(IncomingTicket, AnUnreadableTicketStaysAndTheTicketsAfterItAreStillRead) {
    Sent(1);
    const std::string broken = Utm.PlaceIncoming("Ticket", "<ns:Documents><ns:Ticket>", kReplyId);
    const std::string url = Utm.PlaceIncoming(
        "Ticket", Ticket("WAYBILL_V4", Operation("Confirm", "Accepted", "ok")), kReplyId);
    Run();
    EXPECT_EQ("2|TTN-0042424242|\n", Header());
    EXPECT_EQ("16|10|1|ok\n", Replies());
    EXPECT_EQ(std::vector<std::string>{url}, RecordedLinks());
    EXPECT_EQ((std::vector<std::string>{broken, url}), Utm.IncomingUrls());
    EXPECT_NE(std::string::npos, Log().find("] error root  - TEgaisIncomingTicketJob: документ " +
                                            broken + " не принят\r\n(EXmlException"));
}

TEST(TicketJob, AddressesSortByTheirLastNumber) {
    const std::pair<const char*, int64_t> cases[] = {
        {"http://u:8080/opt/out/Ticket/123", 123},
        {"  http://u:8080/opt/out/Ticket/7 ", 7},
        {"http://u:8080/opt/out/Ticket/", -1},
        {"http://u:8080/opt/out/Ticket/abc", -1},
        {"", -1},
    };
    for (const auto& [url, id] : cases) EXPECT_EQ(id, IncomingUrlNumber(url)) << url;
    std::vector<TVariousFieldItem> uids(3);
    uids[0].StringValue = "a";
    uids[1].StringValue = "b";
    uids[2].StringValue = "b";
    EXPECT_EQ(1, TTicketReader::UidIndex(uids, "b"));
    EXPECT_EQ(-1, TTicketReader::UidIndex(uids, "B"));
    EXPECT_EQ(-1, TTicketReader::UidIndex(uids, ""));
}

}  // namespace
