#include "uInventoryRegInfoJob.h"

#include <optional>

#include "uIncomingReader.h"
#include "uInventoryRegInfoReader.h"
#include "uLogger.h"

void TEgaisInventoryRegInfoJob::DoJob() {
    Logger().Debug("TEgaisInventoryRegInfoJob.DoJob ->");
    CheckForAbort();
    const std::optional<TIncomingList> list = TIncomingList::News(
        dtUtmNewsMoment, {"TEgaisInventoryRegInfoJob: Нет новых документов. Завершаем работу.",
                          "Не удалось прочитать входящие документы УТМ"});
    if (!list) return;
    TInventoryRegInfoReader reader(*this);
    reader.ReadFrom(*list);
}
