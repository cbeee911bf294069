#include "uIncomingActJob.h"

#include <optional>

#include "uIncomingReader.h"
#include "uLogger.h"
#include "uWayBillActReader.h"

void TEgaisIncomingActJob::DoJob() {
    Logger().Debug("TEgaisIncomingActJob.DoJob ->");
    CheckForAbort();
    const std::optional<TIncomingList> list = TIncomingList::News(
        dtUtmNewsMoment, {"TEgaisIncomingActJob: Нет новых документов. Завершаем работу.",
                          "Не удалось прочитать входящие документы УТМ"});
    if (!list) return;
    // Every version in every run: an act that stays in the UTM, or one recorded but not
    // deleted yet, must not keep the acts of older versions waiting.
    for (const char* kind : {"WayBillAct_v4", "WayBillAct_v3", "WayBillAct_v2", "WayBillAct"}) {
        TWayBillActReader reader(*this, kind);
        reader.ReadFrom(*list);
    }
    Logger().Debug("TEgaisIncomingActJob.DoJob <-");
}
