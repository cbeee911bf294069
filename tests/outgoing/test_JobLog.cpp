#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ActJobFixture.h"
#include "uEgaisOutGoingWayBillJob.h"
#include "uEgaisOutgoingActJob.h"
#include "uLogger.h"
#include "uOutgoingTTNTicketJob.h"
#include "uWithdrawSendedWaybillJob.h"

namespace {

using qortest::ActJobTest;
using qortest::kOurFsrarId;

// The operators follow a request through the log: each job's lines keep their texts
// and their order.
class JobLog : public ActJobTest {
protected:
    JobLog() { InitLogger(); }
    ~JobLog() override { ShutdownLogger(); }

    // The messages of the log's entries that begin with the prefix, in order.
    static std::vector<std::string> Messages(const std::string& prefix) {
        ShutdownLogger();  // flushes
        const std::string text = qortest::ReadFile(LogFileName());
        std::vector<std::string> messages;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find("\r\n", pos);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(pos, end - pos);
            pos = end + 2;
            const size_t dash = line.find(" - ");
            if (line.rfind("[", 0) != 0 || dash == std::string::npos) continue;
            const std::string message = line.substr(dash + 3);
            if (message.rfind(prefix, 0) == 0) messages.push_back(message.substr(prefix.size()));
        }
        return messages;
    }
    static void AddHeader(int64_t id, int utmDocType, std::optional<int> status,
                          const std::string& fsrarId = kOurFsrarId) {
        const std::string sId = std::to_string(id);
        qortest::Exec(
            "INSERT INTO RG_EGAIS_DOC_HEAD (ID, FSRAR_ID, UTM_DOC_TYPE, PROTOCOL_VERSION, SHIPPER, "
            "CONSIGNEE, STATUS, WB_REG_ID, ACT_NUMBER, ACT_STATUS, ACT_DATE) VALUES (:ID, "
            ":FSRAR_ID, :UTM_DOC_TYPE, 4, 1, 2, :STATUS, :WB_REG_ID, :ACT_NUMBER, 1, '2026-12-10')",
            {{"ID", id},
             {"FSRAR_ID", fsrarId},
             {"UTM_DOC_TYPE", utmDocType},
             {"STATUS", status ? TVariant(*status) : TVariant()},
             {"WB_REG_ID", "TTN-" + sId},
             {"ACT_NUMBER", "А-" + sId}});
        qortest::Exec(
            "INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, "
            "QUANTITY, REAL_QUANTITY, INFORM1_ID, INFORM2_ID) VALUES (:ID, :HEAD_ID, 1, 1, 6, 6, "
            "1, 2)",
            {{"ID", id * 10}, {"HEAD_ID", id}});
    }
};

struct LogCase {
    const char* Name;
    std::function<void()> Data;
    std::function<void()> Job;
    const char* Prefix;
    // "{uid}" stands for the first post's transport id, "{utm}" for the emulator's address.
    std::vector<std::string> Lines;
};

TEST_F(JobLog, EveryJobLogsItsStepsInOrder) {
    const LogCase cases[] = {
        {"waybill",
         [] {
             qortest::AddWaybill(1);
             qortest::AddWaybill(2);
             qortest::AddRequest(10, 1, 6, "2026-12-11 10:00:01");
             qortest::AddRequest(11, 2, 6, "2026-12-11 10:00:02");
             qortest::AddRequest(21, 2, 20, "2026-12-11 10:00:03");
         },
         [] { Run<TEgaisOutGoingWayBillJob>(); },
         "TEgaisOutGoingWayBillJob: ",
         {"Составляем XML для отправки накладной с ID=1. Версия протокола отправки: 4",
          "XML для накладной с ID=1 подготовлен к отправке.",
          "В очереди запрос на отзыв отправляемой накладной c ID=21!",
          "Отмечаем оба запроса, как выполненные.", "Отмечаем ТТН 2, как отозванную.",
          "Переходим к следующей ТТН."}},
        {"withdrawal",
         [] {
             AddHeader(1, 1, std::nullopt);
             AddHeader(3, 1, 1);
             AddHeader(4, 1, 1, "030000999999");
             qortest::AddRequest(11, 1, 20, "2026-12-11 10:00:01");
             qortest::AddRequest(13, 3, 20, "2026-12-11 10:00:02");
             qortest::AddRequest(14, 4, 20, "2026-12-11 10:00:03");
         },
         [] { Run<TWithdrawSendedWaybillJob>(); },
         "TWithdrawSenderWaybillJob: ",
         {"Запрос ID=11", "Запрос №11 на отзыв накладной с ID 1",
          "Статус документа не позволяет отзывать его.", "Запрос ID=13",
          "Запрос №13 на отзыв накладной с ID 3", "Отправляем XML для документа с ID=3",
          "Запрос ID=14", "Запрос №14 на отзыв накладной с ID 4",
          "Не наш FSRAR_ID. Пропускаем запрос №14"}},
        {"act confirmation",
         [] {
             AddHeader(1, 6, 2);
             qortest::AddRequest(10, 1, 10);
         },
         [] { Run<TOutgoingTTNTicketJob>(); },
         "TOutgoingTTNTicketJob: ",
         {"Обновляем статус документа с ID=1", "Сохраняем ответ на запрос с ID=10",
          "Отмечаем запрос ID=10, как выполненный."}},
        {"reception act",
         [] {
             AddHeader(1, 0, 5);
             qortest::AddRequest(10, 1, 8);
         },
         [] { Run<TEgaisOutgoingActJob>(); },
         "TEgaisOutgoingActJob: ",
         {"Запрос №10", "версия протокола по умолчанию 1", "версия протокола документа 4",
          "Подготовим XML для отправки по запросу №10", "формируем WayBillAct версии 4",
          "XML запрос сформирован...", "Отправляем акт V4 в УТМ.",
          "URL отправки {utm}/opt/in/WayBillAct_v4", "XML запрос успешно отправлен.",
          "XML запроса №10 успешно отправлен.", "Запомним UID запроса №10: {uid}.",
          "Добавим ответ на запроса №10.", "Отметим запрос №10 как выполненный.",
          "Обработка запроса №10 успешно завершена."}},
    };
    for (const LogCase& c : cases) {
        SCOPED_TRACE(c.Name);
        qortest::Exec("DELETE FROM S_EGAIS_REPLY");
        qortest::Exec("DELETE FROM S_EGAIS_REQUEST");
        qortest::Exec("DELETE FROM RG_EGAIS_DOC_TABLE");
        qortest::Exec("DELETE FROM RG_EGAIS_DOC_HEAD");
        Utm.Reset();
        std::filesystem::remove(LogFileName());
        InitLogger();
        c.Data();
        c.Job();

        std::vector<std::string> expected = c.Lines;
        const std::string uid = Utm.Posted().empty() ? "" : Utm.Posted()[0].TransportId;
        const std::string utm = "http://127.0.0.1:" + std::to_string(Utm.Port());
        for (std::string& line : expected) {
            if (size_t at = line.find("{uid}"); at != std::string::npos) line.replace(at, 5, uid);
            if (size_t at = line.find("{utm}"); at != std::string::npos) line.replace(at, 5, utm);
        }
        EXPECT_EQ(expected, Messages(c.Prefix));
    }
}

}  // namespace
