// The finished-task report: one host data object named "Quorrin", submitted to the report service.
#pragma once

#include "quorrin/host_data.h"

namespace quorrin {

class task_record;

// Builds and submits the report when the task ran longer than dt_duration; otherwise makes no
// host call at all. Empties the record's point lists.
void report_task(task_record& record, IHostData* report_data);

}  // namespace quorrin
