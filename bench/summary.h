// What the benchmark programs print around their harness's own table: the check that every
// floor makes the module's host calls, the pool's memory figures, and each figure beside its
// floor with its goal.
#pragma once

#include <map>
#include <string>

#include "data_node.h"

namespace bench {

// Runs each path once with the call log on, through the module and through its floor, and
// compares the two call sequences (data-object numbers aside). Exits the program when they
// differ. Keeps the report that the module submitted, which the report floors replay.
void check_call_sequences();
// The module's report of a task with full lists and three addresses (after check_call_sequences).
const refhost::data_node& reference_report();

// A path's time per iteration (the median when repeated) and its counters, by path name.
struct figure {
    double ns = 0;
    std::map<std::string, double> counters;  // per_record in seconds
};
using figures = std::map<std::string, figure>;

// The pool figures, then every figure beside its floor, the ratios and the goals.
// Returns whether every goal was met.
bool print_summary(const figures& results);

}  // namespace bench
