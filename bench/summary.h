// What the benchmark binary prints around Google Benchmark's own table: the check that every
// floor makes the module's host calls, the pool's memory figures, and each figure beside its
// floor with its goal.
#pragma once

#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "data_node.h"

namespace bench {

// Runs each path once with the call log on, through the module and through its floor, and
// compares the two call sequences (data-object numbers aside). Exits the program when they
// differ. Keeps the report that the module submitted, which the report floors replay.
void check_call_sequences();
// The module's report of a task with full lists and three addresses (after check_call_sequences).
const refhost::data_node& reference_report();

// Keeps the time of each run (the median when repeated) besides printing it.
class capturing_reporter final : public benchmark::ConsoleReporter {
public:
    // Colours only for a terminal, so that the output can be kept in a file or a document.
    capturing_reporter();
    struct figure {
        double ns = 0;
        std::map<std::string, double> counters;
    };
    void ReportRuns(const std::vector<Run>& runs) override;
    const std::map<std::string, figure>& figures() const { return m_figures; }

private:
    std::map<std::string, figure> m_figures;
};

// The pool figures, then every figure beside its floor, the ratios and the goals.
// Returns whether every goal was met.
bool print_summary(const capturing_reporter& results);

}  // namespace bench
