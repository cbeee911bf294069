// The job kinds the service starts, in the order of every cycle. Each row names the
// task flag that enables it, its job class, the time limit of one run and the message
// logged when it cannot be started.
#include "uEgaisOutGoingWayBillJob.h"
#include "uEgaisOutgoingActJob.h"
#include "uIncomingActJob.h"
#include "uIncomingRegInfoJob.h"
#include "uIncomingTicketJob.h"
#include "uIncomingWayBillJob.h"
#include "uInformAUpdateJob.h"
#include "uInventoryRegInfoJob.h"
#include "uMaintenanceJobs.h"
#include "uOutgoingTTNTicketJob.h"
#include "uScheduleJob.h"
#include "uWithdrawSendedWaybillJob.h"

const TJobTable& DefaultJobTable() {
    static const TJobTable table = {
        // row 5 (the scheduler gives this class the limit 2000 whatever the row asks)
        {"RefreshJobEnabled", [] { return std::make_unique<TEgaisRefreshJob>(); }, 300000,
         "cannot create utm refresh therad", true},
        // row 6
        {"IncomingWayBillJobEnabled", [] { return std::make_unique<TEgaisIncomingWayBillJob>(); },
         990000, "cannot create utm incoming waybill therad", true},
        // row 7
        {"OutGoingWayBillJobEnabled", [] { return std::make_unique<TEgaisOutGoingWayBillJob>(); },
         990000, "cannot create utm outgoing waybill therad", true},
        // row 8
        {"OutGoingActsJobEnabled", [] { return std::make_unique<TEgaisOutgoingActJob>(); }, 990000,
         "cannot create utm outgoing act therad", true},
        // row 9
        {"IncomingActJobEnabled", [] { return std::make_unique<TEgaisIncomingActJob>(); }, 990000,
         "cannot create utm incoming act therad", true},
        // row 10
        {"TicketJobEnabled", [] { return std::make_unique<TEgaisIncomingTicketJob>(); }, 990000,
         "cannot create utm ticket therad", true},
        // row 11
        {"GarbageRemoverJobEnabled", [] { return std::make_unique<TEgaisGarbageRemoverJob>(); },
         990000, "cannot create utm garbage link therad", true},
        // row 12
        {"IncomingRegInfoJobEnabled", [] { return std::make_unique<TEgaisIncomingRegInfoJob>(); },
         990000, "cannot create utm incoming reginfo therad", false},
        // row 17
        {"OutgoingTTNTicketJobEnabled", [] { return std::make_unique<TOutgoingTTNTicketJob>(); },
         990000, "Не могу запустить задачу отправки квитанций по расходным ТТН.", false},
        // row 19
        {"InformAUpdateJobEnabled", [] { return std::make_unique<TInformAUpdateJob>(); }, 990000,
         "Не могу запустить задачу обновления справок \"А\".", false},
        // row 20
        {"IsWithdrawSendedWaybillJobEnabled",
         [] { return std::make_unique<TWithdrawSendedWaybillJob>(); }, 990000,
         "Не могу запустить задачу отправки отзыва расходной ТТН.", false},
        // row 27
        {"InventoryRegInfoJobEnabled", [] { return std::make_unique<TEgaisInventoryRegInfoJob>(); },
         990000, "Не могу запустить задачу получения справок инвентаризации.", false},
    };
    return table;
}
