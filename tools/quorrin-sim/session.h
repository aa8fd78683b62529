// One download session: loads the module, creates and initialises the plug-in with the
// reference host, and plays the scenario on this thread, in real time or in virtual time.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "reference_host.h"
#include "scenario.h"

namespace sim {

enum class verdict {
    not_started,     // the session ended before its start
    rejected,        // RegisterTask refused it, as the host expected
    reported,
    too_short,       // finished without a report
    no_report,       // finished; the host has no report service
    wrong_cid,       // UnregisterTask refused the other cid; the record stayed
    swept,           // the record was gone when the host looked again
    still_open,      // the record was still there at the end
};

const char* verdict_text(verdict v);

struct task_outcome {
    verdict result = verdict::not_started;
    std::string detail;              // why, in a few words
    std::int32_t interval_ms = 0;    // handed back by RegisterTask
    std::int64_t report = -1;        // index into session_result::reports
    std::uint64_t bytes_after = 0;   // the host's own count since the click
    std::uint64_t ms_after = 0;      // the host's own time since the click
    std::uint64_t registered_ms = 0;  // session time of the registration, as it happened
    std::uint32_t samples = 0;       // UpdateTask calls
};

// The module's pool at one moment of the session.
struct pool_use {
    std::uint64_t at_ms = 0;  // session time
    std::int64_t blocks = 0;
    std::int64_t bytes = 0;
    std::size_t sampled = 0;  // tasks the host is sampling
};

struct session_result {
    std::vector<std::string> failures;  // empty: the session went as a host expects
    std::vector<task_outcome> tasks;    // one per scenario task, in the same order
    std::vector<refhost::report_service::report> reports;
    std::uint64_t session_ms = 0;  // session time, real or virtual
    std::uint64_t wall_ms = 0;     // what the session took in real time
    std::uint32_t timer_ticks = 0;
    bool virtual_time = false;
    std::uint32_t first_tick = 0, last_tick = 0;  // the module's tick at both ends (virtual time)
    std::uint32_t reports_checked = 0;  // reports whose times the host checked against its own (virtual time)
    std::uint32_t reports_across_wrap = 0;  // ... of tasks whose ticks wrapped between click and end
    pool_use pool_before;  // after the plug-in's start, before the first task
    std::vector<pool_use> pool_at_ticks;
    std::vector<pool_use> pool_peaks;  // per period of a repeating load: its fullest tick
    pool_use pool_at_end;  // before the plug-in's shut-down
    pool_use pool_left;    // after it, less what was in use before the plug-in was created
};

struct session_options {
    std::string module_path;
    std::ostream* reports_out = nullptr;  // one JSON line per report, as it is submitted
    std::ostream* progress = nullptr;     // event lines; null when quiet
    bool status_line = false;             // a status line redrawn in place (a terminal)
    // Virtual time: the module's clock reads what the session says, which jumps to each call's
    // planned moment, and every call comes exactly when planned.
    bool virtual_time = false;
};

session_result run_session(const scenario& s, const session_options& options);

}  // namespace sim
