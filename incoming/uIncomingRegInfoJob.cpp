#include "uIncomingRegInfoJob.h"

#include <optional>

#include "uIncomingReader.h"
#include "uRegInfoReader.h"

void TEgaisIncomingRegInfoJob::DoJob() {
    CheckForAbort();
    const std::optional<TIncomingList> list = TIncomingList::News(
        dtUtmNewsMoment, {"TEgaisIncomingRegInfoJob: Нет новых документов. Завершаем работу.",
                          "Не удалось прочитать входящие документы УТМ"});
    if (!list) return;
    TRegInfoReader form2(*this, TRegInfoReader::TFormat::F2Reg);
    TRegInfoReader formB(*this, TRegInfoReader::TFormat::BReg);
    form2.ReadFrom(*list);
    formB.ReadFrom(*list);
}
