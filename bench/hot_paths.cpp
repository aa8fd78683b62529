// Benchmarks of the module's hot paths, each beside its floor: the same host calls made directly
// on the same reference host. Run: build/<dir>/bin/quorrin_benchmarks (see docs/performance.md).
#include <cstring>
#include <string>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include "paths.h"

namespace bench {

namespace {

// Google Benchmark's state in the shape that the paths ask for (paths.h).
class gbench_state {
public:
    explicit gbench_state(benchmark::State& state) : m_state(state) {}
    auto begin() { return m_state.begin(); }
    auto end() { return m_state.end(); }
    void set_iteration_time(double seconds) { m_state.SetIterationTime(seconds); }
    void skip(const char* why) { m_state.SkipWithError(why); }
    void per_iteration(const char* counter, double total) {
        m_state.counters[counter] = benchmark::Counter(total, benchmark::Counter::kAvgIterations);
    }
    void per_item(const char* counter, double items) {
        m_state.counters[counter] = benchmark::Counter(
            items, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    }

private:
    benchmark::State& m_state;
};

// Keeps the time of each run (the median when repeated) besides printing it.
class capturing_reporter final : public benchmark::ConsoleReporter {
public:
    // Colours only for a terminal, so that the output can be kept in a file or a document.
    capturing_reporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Color : OO_None) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            figure& f = m_figures[run.run_name.function_name];
            f.ns = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
            for (const auto& [name, counter] : run.counters) f.counters[name] = counter.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    const figures& results() const { return m_figures; }

private:
    figures m_figures;
};

void register_benchmarks() {
    paths::each_path<gbench_state>(
        [](const std::string& name, paths::timing how, auto body) {
            auto* b = benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
                gbench_state s(state);
                body(s);
            });
            if (how.manual) b->UseManualTime();
            if (how.microseconds) b->Unit(benchmark::kMicrosecond);
        },
        true);
}

}  // namespace

}  // namespace bench

int main(int argc, char** argv) {
    // --quorrin_module=PATH runs the benchmarks on another build of the module (the product's
    // quorrin.so, say; the report benchmarks then skip, its clock cannot be moved on).
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char prefix[] = "--quorrin_module=";
        if (std::strncmp(argv[i], prefix, sizeof prefix - 1) == 0) {
            bench::set_module_path(argv[i] + sizeof prefix - 1);
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    bench::check_call_sequences();
    bench::register_benchmarks();
    bench::capturing_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    bench::end_shared_session();
    bench::print_summary(reporter.results());
    benchmark::Shutdown();
    return 0;
}
