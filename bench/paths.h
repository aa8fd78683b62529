// The benchmarked paths, each beside its floor, written once for both harnesses: Google
// Benchmark natively (hot_paths.cpp) and the QueryPerformanceCounter loop of the Windows builds
// (qpc_main.cpp). A harness's state offers:
//   for (auto _ : state)                  the timed iterations
//   set_iteration_time(seconds)           for the paths that time themselves
//   skip(why)
//   per_iteration(counter, total)         a count averaged over the iterations
//   per_item(counter, items)              the time of an iteration over items
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "floor.h"
#include "session.h"
#include "summary.h"

namespace bench::paths {

using clock_type = std::chrono::steady_clock;

inline double seconds_between(clock_type::time_point a, clock_type::time_point b) {
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

inline session& sampling_session(std::int32_t tasks) {
    session& s = shared_session("sampling/" + std::to_string(tasks));
    if (s.task_count() == 0) s.add_tasks(tasks);
    return s;
}

template <class State>
void count_pool_allocations(State& state, const zq_usage& before) {
    state.per_iteration("pool_allocs", static_cast<double>(pool().allocations - before.allocations));
}

template <class State>
void update_no_list(State& state, std::int32_t tasks, bool one_task) {
    session& s = sampling_session(tasks);
    task_order ids(tasks, one_task);
    const zq_usage before = pool();
    for (auto _ : state) s.update(ids.next(), kMiddleDelta);
    count_pool_allocations(state, before);
}

template <class State>
void update_list(State& state, std::int32_t tasks, bool one_task) {
    session& s = sampling_session(tasks);
    task_order ids(tasks, one_task);
    static std::uint64_t rising = 0;  // every sample is faster than any before it: it enters the fast list
    const zq_usage before = pool();
    for (auto _ : state) s.update(ids.next(), kRisingDelta + ++rising);
    count_pool_allocations(state, before);
}

// The same sample on the module without the engine guard: the guard's cost is the difference.
template <class State, class Sample>
void unguarded(State& state, Sample sample, std::int32_t tasks, bool one_task) {
    set_build(build::unguarded);
    sample(state, tasks, one_task);
    set_build(build::shipped);
}

template <class State>
void floor_no_list(State& state, std::int32_t tasks) {
    const floor::services& host = sampling_session(tasks).floor_services();
    for (auto _ : state) floor::global_speeds(host);
}

template <class State>
void floor_list(State& state, std::int32_t tasks) {
    const floor::services& host = sampling_session(tasks).floor_services();
    for (auto _ : state) floor::kept_sample(host);
}

template <class State>
bool needs_clock(State& state) {
    if (clock_hook()) return true;
    state.skip("the module's clock cannot be moved on: no report");
    return false;
}

// A task with full lists; for a report it then runs past the report gate. Its last sample (in
// UnregisterTask) enters no list.
inline void prepare_end(session& s, bool reported) {
    s.fill_lists(1);
    if (reported) clock_hook()(kReportedRunMs);
    s.add_bytes(1, reported ? kMiddleDelta * (kReportedRunMs / 1000) : kMiddleDelta);
}

// Reports pile up in the host's report service; let them go now and then, untimed.
inline void drop_reports(session& s, std::int64_t iteration) {
    if (iteration % 64 == 0) s.host().reports().clear();
}

// RegisterTask then UnregisterTask. kRegisterTimed: both calls are timed; else UnregisterTask
// alone, which with the report gate open ends the task and builds and submits the full report,
// and closed does the same without the report.
template <bool kRegisterTimed, class State>
void register_unregister(State& state, bool reported) {
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
        state.set_iteration_time((kRegisterTimed ? seconds_between(t0, t1) : 0.0) + seconds_between(t2, t3));
        drop_reports(s, ++iteration);
    }
}

template <bool kRegisterTimed, class State>
void floor_register_unregister(State& state, bool reported) {
    if (reported && !needs_clock(state)) return;
    session& s = shared_session("pair");
    const floor::services& host = s.floor_services();
    const refhost::data_node* report = reported ? &reference_report() : nullptr;
    std::int64_t iteration = 0;
    for (auto _ : state) {
        // Four clock reads, as above; registering again has the host's ping service watch the
        // addresses again.
        const auto t0 = clock_type::now();
        floor::register_task(host);
        const auto t1 = clock_type::now();
        const auto t2 = clock_type::now();
        floor::unregister_task(host, s.report_data(), report);
        const auto t3 = clock_type::now();
        state.set_iteration_time((kRegisterTimed ? seconds_between(t0, t1) : 0.0) + seconds_between(t2, t3));
        drop_reports(s, ++iteration);
    }
}

template <class State>
void floor_report(State& state) {
    if (!needs_clock(state)) return;
    session& s = shared_session("pair");
    const floor::services& host = s.floor_services();
    std::int64_t iteration = 0;
    for (auto _ : state) {
        const auto t0 = clock_type::now();
        floor::build_report(host, s.report_data(), reference_report());
        const auto t1 = clock_type::now();
        state.set_iteration_time(seconds_between(t0, t1));
        drop_reports(s, ++iteration);
    }
}

inline session& sweep_session(std::int32_t records) {
    session& s = shared_session("sweep/" + std::to_string(records));
    if (s.task_count() == 0) s.add_tasks(records);
    return s;
}

template <class State>
void sweep(State& state, std::int32_t records) {
    session& s = sweep_session(records);
    IAsynTimerEvents* sink = s.timer_sink();
    for (auto _ : state) sink->OnTimer(0);
    state.per_item("per_record", records);
    // Nothing was overdue: the last task is still tracked.
    if (s.update(records, kMiddleDelta) != S_OK) state.skip("the sweep dropped a record");
}

template <class State>
void floor_sweep(State& state, std::int32_t records) {
    sweep_session(records);
    IAsynTimerEvents* sink = floor::idle_timer_sink();
    for (auto _ : state) sink->OnTimer(0);
    state.per_item("per_record", records);
}

// How a path is timed: by the harness, by itself (set_iteration_time), and in which unit.
struct timing {
    bool manual = false;
    bool microseconds = false;
};

// Hands every path to add(name, timing, body), body being a callable on State&. The paths on
// the module without the engine guard come only where that module is built.
template <class State, class Add>
void each_path(Add&& add, bool with_unguarded) {
    for (const std::int32_t tasks : {1, 100, 10000}) {
        const std::string n = "/tasks:" + std::to_string(tasks);
        add("UpdateTask/no_list" + n, timing{}, [=](State& s) { update_no_list(s, tasks, false); });
        add("floor/UpdateTask/no_list" + n, timing{}, [=](State& s) { floor_no_list(s, tasks); });
        add("UpdateTask/list" + n, timing{}, [=](State& s) { update_list(s, tasks, false); });
        add("floor/UpdateTask/list" + n, timing{}, [=](State& s) { floor_list(s, tasks); });
        if (tasks == 1 && with_unguarded) {
            add("unguarded/UpdateTask/no_list" + n, timing{},
                [=](State& s) { unguarded(s, &update_no_list<State>, tasks, false); });
            add("unguarded/UpdateTask/list" + n, timing{}, [=](State& s) { unguarded(s, &update_list<State>, tasks, false); });
        }
        if (tasks < 10000) continue;
        add("UpdateTask/no_list" + n + "/one_task", timing{}, [=](State& s) { update_no_list(s, tasks, true); });
        add("floor/UpdateTask/no_list" + n + "/one_task", timing{}, [=](State& s) { floor_no_list(s, tasks); });
        add("UpdateTask/list" + n + "/one_task", timing{}, [=](State& s) { update_list(s, tasks, true); });
        add("floor/UpdateTask/list" + n + "/one_task", timing{}, [=](State& s) { floor_list(s, tasks); });
    }
    const timing manual{true, false};
    for (const bool reported : {true, false}) {
        const std::string r = reported ? "/report" : "/no_report";
        add("Register+Unregister" + r, manual, [=](State& s) { register_unregister<true>(s, reported); });
        add("floor/Register+Unregister" + r, manual, [=](State& s) { floor_register_unregister<true>(s, reported); });
        add("Unregister" + r, manual, [=](State& s) { register_unregister<false>(s, reported); });
        add("floor/Unregister" + r, manual, [=](State& s) { floor_register_unregister<false>(s, reported); });
    }
    add("floor/report", manual, [](State& s) { floor_report(s); });
    for (const std::int32_t records : {100, 10000, 100000}) {
        const std::string n = "/records:" + std::to_string(records);
        add("OnTimer" + n, timing{false, true}, [=](State& s) { sweep(s, records); });
        add("floor/OnTimer" + n, timing{false, true}, [=](State& s) { floor_sweep(s, records); });
    }
}

}  // namespace bench::paths
