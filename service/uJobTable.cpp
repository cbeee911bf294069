// The job kinds the service starts, in the order of every cycle. Each row names the
// task flag that enables it, its job class, the time limit of one run and the message
// logged when it cannot be started.
#include "uScheduleJob.h"

const TJobTable& DefaultJobTable() {
    static const TJobTable table = {};
    return table;
}
