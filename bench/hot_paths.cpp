// Benchmarks of the module's hot paths, each beside its floor: the same host calls made directly
// on the same reference host. Run: build/<dir>/bin/quorrin_benchmarks (see docs/performance.md).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <benchmark/benchmark.h>

#include "floor.h"
#include "session.h"
#include "summary.h"

namespace bench {

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_between(clock_type::time_point a, clock_type::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Samples every task in turn, as a host samples its tasks; or, to show the table lookup apart
// from the cost of reaching a record that is not in the cache, one task in the middle only.
class task_order {
public:
    task_order(std::int32_t tasks, bool one_task) : m_tasks(tasks), m_one(one_task ? tasks / 2 + 1 : 0) {}
    std::int32_t next() {
        if (m_one) return m_one;
        return m_id = m_id == m_tasks ? 1 : m_id + 1;
    }

private:
    std::int32_t m_tasks;
    std::int32_t m_one;
    std::int32_t m_id = 0;
};

session& sampling_session(std::int32_t tasks) {
    session& s = shared_session("sampling/" + std::to_string(tasks));
    if (s.task_count() == 0) s.add_tasks(tasks);
    return s;
}

void counts_pool_allocations(benchmark::State& state, const zq_usage& before) {
    state.counters["pool_allocs"] = benchmark::Counter(static_cast<double>(pool().allocations - before.allocations),
                                                       benchmark::Counter::kAvgIterations);
}

void update_no_list(benchmark::State& state, std::int32_t tasks, bool one_task) {
    session& s = sampling_session(tasks);
    task_order ids(tasks, one_task);
    const zq_usage before = pool();
    for (auto _ : state) s.update(ids.next(), kMiddleDelta);
    counts_pool_allocations(state, before);
}

void update_list(benchmark::State& state, std::int32_t tasks, bool one_task) {
    session& s = sampling_session(tasks);
    task_order ids(tasks, one_task);
    static std::uint64_t rising = 0;  // every sample is faster than any before it: it enters the fast list
    const zq_usage before = pool();
    for (auto _ : state) s.update(ids.next(), kRisingDelta + ++rising);
    counts_pool_allocations(state, before);
}

// The same sample on the module without the engine guard: the guard's cost is the difference.
template <class Sample>
void unguarded(benchmark::State& state, Sample sample, std::int32_t tasks, bool one_task) {
    set_build(build::unguarded);
    sample(state, tasks, one_task);
    set_build(build::shipped);
}

void floor_no_list(benchmark::State& state, std::int32_t tasks) {
    const floor::services& host = sampling_session(tasks).floor_services();
    for (auto _ : state) floor::global_speeds(host);
}

void floor_list(benchmark::State& state, std::int32_t tasks) {
    const floor::services& host = sampling_session(tasks).floor_services();
    for (auto _ : state) floor::kept_sample(host);
}

bool needs_clock(benchmark::State& state) {
    if (clock_hook()) return true;
    state.SkipWithError("the module's clock cannot be moved on: no report");
    return false;
}

// A task with full lists; for a report it then runs past the report gate. Its last sample (in
// UnregisterTask) enters no list.
void prepare_end(session& s, bool reported) {
    s.fill_lists(1);
    if (reported) clock_hook()(kReportedRunMs);
    s.add_bytes(1, reported ? kMiddleDelta * (kReportedRunMs / 1000) : kMiddleDelta);
}

// Reports pile up in the host's report service; let them go now and then, untimed.
void drop_reports(session& s, std::int64_t iteration) {
    if (iteration % 64 == 0) s.host().reports().clear();
}

void register_unregister(benchmark::State& state, bool reported) {
    if (reported && !needs_clock(state)) return;
    session& s = shared_session("pair");
    std::int64_t iteration = 0;
    for (auto _ : state) {
        const auto t0 = clock_type::now();
        s.register_task(1);
        const auto t1 = clock_type::now();
        prepare_end(s, reported);
        const auto t2 = clock_type::now();
        s.unregister_task(1);
        const auto t3 = clock_type::now();
        state.SetIterationTime(seconds_between(t0, t1) + seconds_between(t2, t3));
        drop_reports(s, ++iteration);
    }
}

void floor_register_unregister(benchmark::State& state, bool reported) {
    if (reported && !needs_clock(state)) return;
    session& s = shared_session("pair");
    const floor::services& host = s.floor_services();
    const refhost::data_node* report = reported ? &reference_report() : nullptr;
    std::int64_t iteration = 0;
    for (auto _ : state) {
        // Four clock reads, as above.
        const auto t0 = clock_type::now();
        floor::register_task(host);
        const auto t1 = clock_type::now();
        const auto t2 = clock_type::now();
        floor::unregister_task(host, s.report_data(), report);
        const auto t3 = clock_type::now();
        state.SetIterationTime(seconds_between(t0, t1) + seconds_between(t2, t3));
        drop_reports(s, ++iteration);
    }
}

// UnregisterTask alone: with the report gate open, it ends the task and builds and submits the
// full report; closed, the same without the report.
void unregister_only(benchmark::State& state, bool reported) {
    if (reported && !needs_clock(state)) return;
    session& s = shared_session("pair");
    std::int64_t iteration = 0;
    for (auto _ : state) {
        s.register_task(1);
        prepare_end(s, reported);
        const auto t0 = clock_type::now();
        s.unregister_task(1);
        const auto t1 = clock_type::now();
        state.SetIterationTime(seconds_between(t0, t1));
        drop_reports(s, ++iteration);
    }
}

void floor_unregister_only(benchmark::State& state, bool reported) {
    if (reported && !needs_clock(state)) return;
    session& s = shared_session("pair");
    const floor::services& host = s.floor_services();
    const refhost::data_node* report = reported ? &reference_report() : nullptr;
    std::int64_t iteration = 0;
    for (auto _ : state) {
        floor::register_task(host);  // the host's ping service watches the addresses again
        const auto t0 = clock_type::now();
        floor::unregister_task(host, s.report_data(), report);
        const auto t1 = clock_type::now();
        state.SetIterationTime(seconds_between(t0, t1));
        drop_reports(s, ++iteration);
    }
}

void floor_report(benchmark::State& state) {
    if (!needs_clock(state)) return;
    session& s = shared_session("pair");
    const floor::services& host = s.floor_services();
    std::int64_t iteration = 0;
    for (auto _ : state) {
        const auto t0 = clock_type::now();
        floor::build_report(host, s.report_data(), reference_report());
        const auto t1 = clock_type::now();
        state.SetIterationTime(seconds_between(t0, t1));
        drop_reports(s, ++iteration);
    }
}

session& sweep_session(std::int32_t records) {
    session& s = shared_session("sweep/" + std::to_string(records));
    if (s.task_count() == 0) s.add_tasks(records);
    return s;
}

void per_record(benchmark::State& state, std::int32_t records) {
    state.counters["per_record"] = benchmark::Counter(
        records, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void sweep(benchmark::State& state, std::int32_t records) {
    session& s = sweep_session(records);
    IAsynTimerEvents* sink = s.timer_sink();
    for (auto _ : state) sink->OnTimer(0);
    per_record(state, records);
    // Nothing was overdue: the last task is still tracked.
    if (s.update(records, kMiddleDelta) != S_OK) state.SkipWithError("the sweep dropped a record");
}

void floor_sweep(benchmark::State& state, std::int32_t records) {
    sweep_session(records);
    IAsynTimerEvents* sink = floor::idle_timer_sink();
    for (auto _ : state) sink->OnTimer(0);
    per_record(state, records);
}

template <class F, class... Args>
benchmark::internal::Benchmark* add(const std::string& name, F fn, Args... args) {
    return benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) { fn(state, args...); });
}

void register_benchmarks() {
    for (const std::int32_t tasks : {1, 100, 10000}) {
        const std::string n = "/tasks:" + std::to_string(tasks);
        add("UpdateTask/no_list" + n, update_no_list, tasks, false);
        add("floor/UpdateTask/no_list" + n, floor_no_list, tasks);
        add("UpdateTask/list" + n, update_list, tasks, false);
        add("floor/UpdateTask/list" + n, floor_list, tasks);
        if (tasks == 1) {
            add("unguarded/UpdateTask/no_list" + n, unguarded<decltype(&update_no_list)>, &update_no_list, tasks, false);
            add("unguarded/UpdateTask/list" + n, unguarded<decltype(&update_list)>, &update_list, tasks, false);
        }
        if (tasks < 10000) continue;
        add("UpdateTask/no_list" + n + "/one_task", update_no_list, tasks, true);
        add("floor/UpdateTask/no_list" + n + "/one_task", floor_no_list, tasks);
        add("UpdateTask/list" + n + "/one_task", update_list, tasks, true);
        add("floor/UpdateTask/list" + n + "/one_task", floor_list, tasks);
    }
    for (const bool reported : {true, false}) {
        const std::string r = reported ? "/report" : "/no_report";
        add("Register+Unregister" + r, register_unregister, reported)->UseManualTime();
        add("floor/Register+Unregister" + r, floor_register_unregister, reported)->UseManualTime();
        add("Unregister" + r, unregister_only, reported)->UseManualTime();
        add("floor/Unregister" + r, floor_unregister_only, reported)->UseManualTime();
    }
    benchmark::RegisterBenchmark("floor/report", floor_report)->UseManualTime();
    for (const std::int32_t records : {100, 10000, 100000}) {
        const std::string n = "/records:" + std::to_string(records);
        add("OnTimer" + n, sweep, records)->Unit(benchmark::kMicrosecond);
        add("floor/OnTimer" + n, floor_sweep, records)->Unit(benchmark::kMicrosecond);
    }
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
    bench::print_summary(reporter);
    benchmark::Shutdown();
    return 0;
}
