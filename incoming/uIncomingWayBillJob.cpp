#include "uIncomingWayBillJob.h"

#include <initializer_list>

#include "uIncomingReader.h"
#include "uLogger.h"
#include "uWayBillV1Reader.h"
#include "uWayBillV2Reader.h"

void TEgaisIncomingWayBillJob::CheckForAbort() {
    if (OwnerStopRequested()) throw EQorJobException("thread were stopped or terminated");
    TQorJob::CheckForAbort();
}

void TEgaisIncomingWayBillJob::DoHttp() {
    TQorJob::DoHttp();
    if (OwnerStopRequested()) throw EQorJobException("tread were stopped during performing");
}

void TEgaisIncomingWayBillJob::DoJob() {
    Logger().Debug("TEgaisIncomingWayBillJob.DoJob ->");
    CheckForAbort();
    const std::optional<TIncomingList> list = TIncomingList::News(
        dtUtmNewsMoment, {"TEgaisIncomingWayBillJob: Нет новых документов. Завершаем работу.",
                          "Не удалось прочитать входящие документы УТМ"});
    if (!list) return;
    TWayBillV3Reader v4(*this, 4);
    TWayBillV3Reader v3(*this, 3);
    TWayBillV2Reader v2(*this);
    TWayBillV1Reader v1(*this);
    for (TIncomingReader* reader : std::initializer_list<TIncomingReader*>{&v4, &v3, &v2, &v1})
        reader->ReadFrom(*list);
    Logger().Debug("TEgaisIncomingWayBillJob.DoJob <-");
}
