// Every value the module reads from the host's configuration: the section and key it asks for,
// the value it uses when the service is missing or the lookup fails, its lower bound, and when it
// asks. The module itself reads them through these constants.
#pragma once

#include <cstdint>

#include "quorrin/com_types.h"

namespace quorrin {

struct config_value {
    const char* section;
    const char* key;
    std::int32_t fallback;     // used when the service is missing or its lookup fails
    std::uint32_t lower_bound;  // a smaller value, compared as unsigned, is raised to it (0: none)
};

// The statistics data service's GetInt, section "Quorrin", read once in Initialize. The bound is
// applied to the value as an unsigned number, so a negative value (-1 reads 4294967295) stays.

// ms between a task's samples: RegisterTask hands it back, and the host calls UpdateTask at that
// interval. A value of 2^31 or more makes every RegisterTask fail with E_FAIL.
QUORRIN_CONSTANT config_value kSampleInterval = {"Quorrin", "sample_interval", 3000, 1000};
// ms without an UpdateTask after which the 15 s sweep drops a task without a report.
QUORRIN_CONSTANT config_value kOverdue = {"Quorrin", "overdue", 30000, 10000};
// How many of a task's slowest and of its fastest speed samples its report keeps.
QUORRIN_CONSTANT config_value kLowCount = {"Quorrin", "low_count", 14, 5};
QUORRIN_CONSTANT config_value kHighCount = {"Quorrin", "high_count", 14, 5};
// A finished task is reported only when it ran (in whole seconds, times 1000) longer than this, ms.
QUORRIN_CONSTANT config_value kDtDuration = {"Quorrin", "dt_duration", 15000, 0};

// The statistics data service's GetInt inside UnregisterTask, for each report built: the host's
// measured bandwidth, reported as "bandwidth" (-1 reads 4294967295).
QUORRIN_CONSTANT config_value kBandwidth = {"net_detect", "bandwidth", -1, 0};

// The settings service's GetInt at a task's first speed sample (RegisterTask) and at every later
// one that its report keeps (UpdateTask, UnregisterTask): the number of tasks the user runs,
// reported as "g_task_count".
QUORRIN_CONSTANT config_value kUserTaskCount = {"env", "user_task_count", 0, 0};
// The settings service's GetBool, once in Initialize (true only for 1); nothing uses them after.
QUORRIN_CONSTANT config_value kShowPeerId = {"debug", "show_peer_id", 0, 0};
QUORRIN_CONSTANT config_value kIgnoreUserSetSpeed = {"debug", "ignore_user_set_speed", 0, 0};

}  // namespace quorrin
