#include <gtest/gtest.h>
#include <signal.h>

#include "DbQueries.h"
#include "EmulatedUtm.h"
#include "FbTestDb.h"
#include "ProgramHome.h"
#include "WaybillFixture.h"
#include "uDbProvider.h"

using namespace std::chrono_literals;

namespace {

using qortest::Value;
using qortest::WaitUntil;

// The incoming road of the built program: the back office and the program meet on the
// local server, the UTM runs in the test's own process.
class IncomingRoad : public ::testing::Test {
protected:
    IncomingRoad()
        : Db(qortest::FbLocation::Server,
             std::string(qortest::kWaybillBaseSql) + qortest::kGeneratorsAfterBackOffice) {}

    qortest::ProviderDb Db;
    qortest::EmulatedUtm Utm;
};

std::string AcceptedTicket(const std::string& transportId) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ns:Documents Version=\"1.0\" "
           "xmlns:ns=\"http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\" "
           "xmlns:tc=\"http://fsrar.ru/WEGAIS/Ticket\"><ns:Owner><ns:FSRAR_ID>" +
           std::string(qortest::kOurFsrarId) +
           "</ns:FSRAR_ID></ns:Owner><ns:Document><ns:Ticket><tc:TicketDate>2026-12-11T10:15:00"
           "</tc:TicketDate><tc:Identity/><tc:DocId>1</tc:DocId><tc:TransportId>" +
           transportId +
           "</tc:TransportId><tc:RegID>TTN-0099000001</tc:RegID><tc:DocType>WAYBILL_V4"
           "</tc:DocType><tc:OperationResult><tc:OperationName>Confirm</tc:OperationName>"
           "<tc:OperationResult>Accepted</tc:OperationResult><tc:OperationComment>Накладная "
           "зарегистрирована</tc:OperationComment><tc:OperationDate>2026-12-11T10:15:00"
           "</tc:OperationDate></tc:OperationResult></ns:Ticket></ns:Document></ns:Documents>";
}

TEST_F(IncomingRoad, TicketsMoveTheSentWaybillOnAndSuppliersWaybillsArriveAndAreCleanedUp) {
    qortest::AddWaybill(1);
    qortest::AddRequest(10, 1, 6);
    std::string waybill = qortest::ReadFile(qortest::SourceDir() / "tests" / "incoming" /
                                            "fixtures" / "WayBill_v4.xml");
    for (size_t at; (at = waybill.find("010000000001")) != std::string::npos;)
        waybill.replace(at, 12, qortest::kOurFsrarId);  // addressed to us
    const std::string incomingUrl = Utm.PlaceIncoming("WayBill_v4", waybill);

    qortest::ProgramHome home(
        Db.Params(),
        {"RefreshJobEnabled", "OutGoingWayBillJobEnabled", "IncomingWayBillJobEnabled",
         "TicketJobEnabled", "GarbageRemoverJobEnabled"},
        Utm.Settings());
    auto svc = home.Start();

    ASSERT_TRUE(WaitUntil([&] { return !Utm.Posted().empty(); }, 30s))
        << qortest::ReadFile(home.Log());
    const std::string transportId = Utm.Posted()[0].TransportId;
    ASSERT_TRUE(WaitUntil(
        [&] {
            return Value("SELECT STATUS FROM RG_EGAIS_DOC_HEAD WHERE ID = 1") ==
                   TVariant(int64_t(1));
        },
        30s));
    Utm.PlaceIncoming("Ticket", AcceptedTicket(transportId), transportId);

    ASSERT_TRUE(WaitUntil(
        [&] {
            return !Value(
                        "SELECT RESULT_CODE FROM S_EGAIS_REPLY WHERE REQUEST_ID = 10 AND "
                        "REPLY_TYPE = 16")
                        .IsNull();
        },
        30s))
        << qortest::ReadFile(home.Log());
    EXPECT_EQ(1, Value("SELECT RESULT_CODE FROM S_EGAIS_REPLY WHERE REQUEST_ID = 10 AND "
                       "REPLY_TYPE = 16")
                     .AsInt64());
    EXPECT_EQ(2, Value("SELECT STATUS FROM RG_EGAIS_DOC_HEAD WHERE ID = 1").AsInt64());
    EXPECT_EQ("TTN-0099000001",
              Value("SELECT WB_REG_ID FROM RG_EGAIS_DOC_HEAD WHERE ID = 1").AsString());

    // The supplier's waybill is stored whole, then both documents leave the UTM.
    ASSERT_TRUE(WaitUntil(
        [&] {
            return !Value("SELECT ID FROM RG_EGAIS_DOC_HEAD WHERE UTM_LINK = :LINK",
                          {{"LINK", incomingUrl}})
                        .IsNull();
        },
        30s))
        << qortest::ReadFile(home.Log());
    EXPECT_EQ(3, Value("SELECT COUNT(*) FROM RG_EGAIS_DOC_TABLE t JOIN RG_EGAIS_DOC_HEAD h ON "
                       "h.ID = t.EGAIS_DOC_HEAD_ID WHERE h.PROTOCOL_VERSION = 4")
                     .AsInt64());
    EXPECT_EQ(6, Value("SELECT COUNT(*) FROM RG_EGAIS_DOC_MARKS").AsInt64());
    ASSERT_TRUE(WaitUntil([&] { return Utm.IncomingUrls().empty(); }, 30s))
        << qortest::ReadFile(home.Log());

    svc->Signal(SIGTERM);
    EXPECT_EQ(0, svc->Wait(20s));
}

}  // namespace
