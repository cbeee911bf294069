// The job kinds the service starts, in the order of every cycle. Each row names the
// task flag that enables it, its job class, the time limit of one run and the message
// logged when it cannot be started.
#include "uMaintenanceJobs.h"
#include "uOutgoingWaybillJobs.h"
#include "uScheduleJob.h"

const TJobTable& DefaultJobTable() {
    static const TJobTable table = {
        // row 5 (the scheduler gives this class the limit 2000 whatever the row asks)
        {"RefreshJobEnabled", [] { return std::make_unique<TEgaisRefreshJob>(); }, 300000,
         "cannot create utm refresh therad", true},
        // row 7
        {"OutGoingWayBillJobEnabled", [] { return std::make_unique<TEgaisOutGoingWayBillJob>(); },
         990000, "cannot create utm outgoing waybill therad", true},
        // row 11
        {"GarbageRemoverJobEnabled", [] { return std::make_unique<TEgaisGarbageRemoverJob>(); },
         990000, "cannot create utm garbage link therad", true},
    };
    return table;
}
