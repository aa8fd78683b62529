// What quorrin-sim shows of a session besides the report lines: the summary table and the page.
#pragma once

#include <iosfwd>
#include <string>

#include "scenario.h"
#include "session.h"

namespace sim {

// One row per task: whether it was reported or why not, its bytes after the click, its average
// speeds and how many speed points the report kept.
void write_summary(std::ostream& out, const scenario& s, const session_result& r);

// A self-contained HTML page: per reported task its click figures and a chart of the kept
// speed points beside the global speeds.
void write_html(std::ostream& out, const scenario& s, const session_result& r);

// "1.23 MB/s", "512.0 kB/s" (powers of 1000, as the reports count bytes per second)
std::string speed_text(std::uint64_t bytes_per_s);

}  // namespace sim
