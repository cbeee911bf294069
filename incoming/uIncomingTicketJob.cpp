#include "uIncomingTicketJob.h"

#include <vector>

#include "uCommon.h"
#include "uDbProvider.h"
#include "uIncomingReader.h"
#include "uLogger.h"
#include "uTicketReader.h"

namespace {

constexpr const char* kSentDocsSql =
    "SELECT \r\n  h.* \r\nFROM RG_EGAIS_DOC_HEAD h \r\nWHERE h.URL_REPLY_ID IS NOT NULL \r\nORDER "
    "BY h.ID DESC";

// The headers that await a ticket, newest first.
std::vector<TVariousFieldItem> SentDocuments() {
    std::vector<TVariousFieldItem> sent;
    TQueryPtr q = NewQuery(TTxMode::Short);
    for (q->Run(kSentDocsSql); !q->Eof(); q->Next()) {
        const std::optional<int64_t> id = q->Int64("ID");
        if (!id) throw EQorJobException("Internal error");
        TVariousFieldItem item;
        item.Id = *id;
        item.IntValue = int(q->Int64("STATUS").value_or(-1));
        item.IntValue1 = int(q->Int64("UTM_DOC_TYPE").value_or(-1));
        item.StringValue = q->Text("URL_REPLY_ID");
        sent.push_back(std::move(item));
    }
    return sent;
}

}  // namespace

void TEgaisIncomingTicketJob::DoJob() {
    Logger().Debug("TEgaisIncomingTicketJob.DoJob ->");
    CheckForAbort();
    TTicketReader reader(*this, SentDocuments());
    const std::optional<TIncomingList> list = TIncomingList::News(
        dtUtmNewsMoment, {"TEgaisIncomingTicketJob.DoJob: Нет новых документов. Завершаем работу.",
                          "Не удалось прочитать список входящих документов."});
    if (!list) return;
    reader.ReadFrom(*list);
    Logger().Debug("TEgaisIncomingTicketJob.DoJob <-");
}
