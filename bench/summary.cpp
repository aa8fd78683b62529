#include "summary.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "floor.h"
#include "session.h"

namespace bench {

namespace {

refhost::data_node g_reference_report;

// "data#17.PutInt64 avgs" and "data#3.PutInt64 avgs" are the same call on another object.
std::string without_object_numbers(const std::string& entry) {
    std::string out;
    for (std::size_t i = 0; i < entry.size(); ++i) {
        out += entry[i];
        if (entry[i] == '#') {
            while (i + 1 < entry.size() && entry[i + 1] >= '0' && entry[i + 1] <= '9') ++i;
        }
    }
    return out;
}

std::vector<std::string> logged(refhost::reference_host& host, const std::function<void()>& calls) {
    host.log.clear();
    host.log.enabled = true;
    calls();
    host.log.enabled = false;
    std::vector<std::string> entries;
    for (const std::string& entry : host.log.entries()) entries.push_back(without_object_numbers(entry));
    host.log.clear();
    return entries;
}

std::size_t g_compared = 0;

void compare(const char* path, const std::vector<std::string>& module, const std::vector<std::string>& floor) {
    if (module == floor && !module.empty()) {
        g_compared += module.size();
        return;
    }
    std::fprintf(stderr, "quorrin_benchmarks: the floor of \"%s\" does not make the module's host calls\n", path);
    for (std::size_t i = 0; i < module.size() || i < floor.size(); ++i) {
        std::fprintf(stderr, "  %-45s | %s\n", i < module.size() ? module[i].c_str() : "",
                     i < floor.size() ? floor[i].c_str() : "");
    }
    std::exit(2);
}

}  // namespace

void check_call_sequences() {
    session s;
    refhost::reference_host& host = s.host();
    const floor::services& f = s.floor_services();
    int paths = 0;

    compare("RegisterTask", logged(host, [&] { s.register_task(1); }), logged(host, [&] { floor::register_task(f); }));
    s.fill_lists(1);
    compare("UpdateTask, no list", logged(host, [&] { s.update(1, kMiddleDelta); }),
            logged(host, [&] { floor::global_speeds(f); }));
    compare("UpdateTask, list", logged(host, [&] { s.update(1, kRisingDelta); }),
            logged(host, [&] { floor::kept_sample(f); }));
    s.add_bytes(1, kMiddleDelta);
    compare("UnregisterTask, no report", logged(host, [&] { s.unregister_task(1); }),
            logged(host, [&] { floor::unregister_task(f, s.report_data(), nullptr); }));
    paths += 4;

    if (advance_fn advance = clock_hook()) {
        s.register_task(1);
        s.fill_lists(1);
        advance(kReportedRunMs);
        s.add_bytes(1, kMiddleDelta * (kReportedRunMs / 1000));
        const std::vector<std::string> module = logged(host, [&] { s.unregister_task(1); });
        if (host.reports().reports().size() != 1) {
            std::fprintf(stderr, "quorrin_benchmarks: the module submitted no report\n");
            std::exit(2);
        }
        g_reference_report = host.reports().reports().back().tree;
        floor::register_task(f);
        compare("UnregisterTask, report", module,
                logged(host, [&] { floor::unregister_task(f, s.report_data(), &g_reference_report); }));
        if (host.reports().reports().size() != 2 || !(host.reports().reports().back().tree == g_reference_report)) {
            std::fprintf(stderr, "quorrin_benchmarks: the floor's report differs from the module's\n");
            std::exit(2);
        }
        host.reports().clear();
        ++paths;
    }
    std::printf("Floors checked: each makes the module's host calls, in order (%zu calls on %d paths).\n", g_compared,
                paths);
}

const refhost::data_node& reference_report() { return g_reference_report; }

namespace {

struct pool_figures {
    double blocks_per_task = 0;
    double bytes_per_task = 0;
    std::int64_t blocks_growth = 0;
    std::int64_t bytes_growth = 0;
    std::int64_t allocations_between = 0;
    double no_list_allocations = 0;
};

constexpr std::int32_t kMemoryTasks = 1000;
constexpr std::int64_t kNoListSamples = 100'000;

pool_figures measure_pool() {
    pool_figures figures;
    {
        session s;
        const zq_usage before = pool();
        s.add_tasks(kMemoryTasks);
        const zq_usage after = pool();
        figures.blocks_per_task = static_cast<double>(after.blocks - before.blocks) / kMemoryTasks;
        figures.bytes_per_task = static_cast<double>(after.bytes - before.bytes) / kMemoryTasks;
    }
    {
        // Speeds at random, and every tenth sample faster than all before it, so that the lists
        // keep changing all along.
        session s;
        s.register_task(1);
        std::mt19937 random(7);
        std::uniform_int_distribution<std::uint64_t> delta(0, 4'000'000);
        std::uint64_t rising = 5'000'000;
        zq_usage at_100{};
        for (int i = 1; i <= 100'000; ++i) {
            s.update(1, i % 10 == 0 ? ++rising : delta(random));
            if (i == 100) at_100 = pool();
        }
        const zq_usage at_100000 = pool();
        figures.blocks_growth = at_100000.blocks - at_100.blocks;
        figures.bytes_growth = at_100000.bytes - at_100.bytes;
        figures.allocations_between = at_100000.allocations - at_100.allocations;
    }
    {
        session s;
        s.add_tasks(1);
        const zq_usage before = pool();
        for (std::int64_t i = 0; i < kNoListSamples; ++i) s.update(1, kMiddleDelta);
        figures.no_list_allocations = static_cast<double>(pool().allocations - before.allocations) / kNoListSamples;
    }
    return figures;
}

const char* verdict(bool met) { return met ? "met" : "NOT MET"; }

// The goals: a sample against the host's own floor, the sweep per record at 100,000 records, and
// memory per task at or below what it was before the task table's slabs.
constexpr double kNoListGoal = 1.25;
constexpr double kListGoal = 1.5;
constexpr double kSweepNsGoal = 20;
constexpr double kBytesPerTaskBefore = 3202;

const char* build_name() {
#if defined(_WIN64)
    return "Win64 (x86-64, under Wine)";
#elif defined(_WIN32)
    return "Win32 (i686, under Wine)";
#else
    return "native (x86-64)";
#endif
}

// "1.23 x floor (<= 1.25 met)", or "not run".
std::string goal_text(double value, double goal, const char* unit) {
    if (value <= 0) return "not run";
    char text[96];
    std::snprintf(text, sizeof text, "%.2f%s (<= %g %s)", value, unit, goal, verdict(value <= goal));
    return text;
}

}  // namespace

bool print_summary(const figures& results) {
    auto ns = [&](const std::string& name) -> double {
        const auto found = results.find(name);
        return found == results.end() ? 0.0 : found->second.ns;
    };
    auto counter = [&](const std::string& name, const std::string& key) -> double {
        const auto found = results.find(name);
        if (found == results.end()) return 0.0;
        const auto c = found->second.counters.find(key);
        return c == found->second.counters.end() ? 0.0 : c->second;
    };
    bool all_met = true;
    bool all_run = true;  // a filtered run leaves figures out

    std::printf("\n%-44s %12s %12s %8s  %s\n", "path (median when repeated)", "plug-in", "floor", "ratio", "goal");
    auto row = [&](const std::string& name, double goal) {
        const double mine = ns(name), base = ns("floor/" + name);
        if (mine == 0 || base == 0) {
            std::printf("%-44s %12s\n", name.c_str(), "not run");
            all_run = false;
            return;
        }
        const double ratio = mine / base;
        std::printf("%-44s %9.1f ns %9.1f ns %8.2f", name.c_str(), mine, base, ratio);
        if (goal > 0) {
            std::printf("  <= %.2f %s", goal, verdict(ratio <= goal));
            all_met = all_met && ratio <= goal;
        }
        std::printf("\n");
    };
    for (const char* tasks : {"1", "100", "10000", "10000/one_task"}) {
        row(std::string("UpdateTask/no_list/tasks:") + tasks, kNoListGoal);
        row(std::string("UpdateTask/list/tasks:") + tasks, kListGoal);
    }
    for (const char* kind : {"no_list", "list"}) {
        const std::string name = std::string("UpdateTask/") + kind + "/tasks:1";
        const double guarded = ns(name), bare = ns("unguarded/" + name);
        if (guarded > 0 && bare > 0) {
            std::printf("%-44s %9.1f ns %9.1f ns %+8.1f ns  (engine guard: with, without, cost)\n", name.c_str(),
                        guarded, bare, guarded - bare);
        }
    }
    for (const char* r : {"report", "no_report"}) {
        row(std::string("Register+Unregister/") + r, 0);
        row(std::string("Unregister/") + r, 0);
    }
    const double report = ns("Unregister/report") - ns("Unregister/no_report");
    const double report_floor = ns("floor/report");
    if (report > 0 && report_floor > 0) {
        std::printf("%-44s %9.1f ns %9.1f ns %8.2f  (Unregister with report less without)\n", "one full report", report,
                    report_floor, report / report_floor);
    }
    for (const char* records : {"100", "10000", "100000"}) row(std::string("OnTimer/records:") + records, 0);

    std::printf("\n");
    for (const char* kind : {"no_list", "list"}) {
        for (const char* order : {"", "/one_task"}) {
            const double at_1 = ns(std::string("UpdateTask/") + kind + "/tasks:1");
            const double at_10000 = ns(std::string("UpdateTask/") + kind + "/tasks:10000" + order);
            if (at_1 <= 0 || at_10000 <= 0) continue;
            const double growth = at_10000 / at_1;
            std::printf("UpdateTask/%s at 10,000 tasks%s / at 1 task: %.2f  <= 1.50 %s\n", kind,
                        *order ? " (one task)" : " (each in turn)", growth, verdict(growth <= 1.5));
            all_met = all_met && growth <= 1.5;
        }
    }
    for (const char* records : {"100", "10000", "100000"}) {
        const double per = counter(std::string("OnTimer/records:") + records, "per_record") * 1e9;
        if (per <= 0) continue;
        std::printf("OnTimer sweep per record at %s records: %.2f ns", records, per);
        if (std::string(records) == "100000") {
            std::printf("  <= %.0f %s", kSweepNsGoal, verdict(per <= kSweepNsGoal));
            all_met = all_met && per <= kSweepNsGoal;
        }
        std::printf("\n");
    }
    const double no_list_allocs = counter("UpdateTask/no_list/tasks:1", "pool_allocs");
    std::printf("Pool allocations per no-list sample (benchmark loop): %.4f  goal 0 %s\n", no_list_allocs,
                verdict(no_list_allocs == 0));
    all_met = all_met && no_list_allocs == 0;

    const pool_figures pool_use = measure_pool();
    std::printf("\nPool per tracked task (full lists of 14 points, 3 addresses; %d tasks): %.1f blocks, %.0f bytes "
                "asked (%.0f with the pool's 16-byte headers)  <= 8192 %s\n",
                kMemoryTasks, pool_use.blocks_per_task, pool_use.bytes_per_task,
                pool_use.bytes_per_task + 16 * pool_use.blocks_per_task,
                verdict(pool_use.bytes_per_task + 16 * pool_use.blocks_per_task <= 8192));
    std::printf("Pool in use from sample 100 to sample 100,000 of one task: %+lld blocks, %+lld bytes (%lld allocations "
                "in between)  goal +0 %s\n",
                static_cast<long long>(pool_use.blocks_growth), static_cast<long long>(pool_use.bytes_growth),
                static_cast<long long>(pool_use.allocations_between),
                verdict(pool_use.blocks_growth == 0 && pool_use.bytes_growth == 0));
    std::printf("Pool allocations per no-list sample (%lld samples of one task): %.4f  goal 0 %s\n",
                static_cast<long long>(kNoListSamples), pool_use.no_list_allocations,
                verdict(pool_use.no_list_allocations == 0));
    all_met = all_met && pool_use.blocks_growth == 0 && pool_use.bytes_growth == 0 &&
              pool_use.bytes_per_task + 16 * pool_use.blocks_per_task <= 8192 && pool_use.no_list_allocations == 0 &&
              pool_use.bytes_per_task <= kBytesPerTaskBefore;
    std::printf("\n%s\n", !all_met ? "Not every goal met."
                                   : all_run ? "Every goal met."
                                             : "Every goal met among the figures that ran.");

    // The goals at scale, one line for this build.
    auto ratio = [&](const std::string& name) {
        const double base = ns("floor/" + name);
        return base > 0 ? ns(name) / base : 0.0;
    };
    std::printf("\n%s: 10,000 tasks in turn, no-list sample %s, list sample %s; sweep at 100,000 records %s; "
                "%s asked per task\n",
                build_name(), goal_text(ratio("UpdateTask/no_list/tasks:10000"), kNoListGoal, " x floor").c_str(),
                goal_text(ratio("UpdateTask/list/tasks:10000"), kListGoal, " x floor").c_str(),
                goal_text(counter("OnTimer/records:100000", "per_record") * 1e9, kSweepNsGoal, " ns a record").c_str(),
                goal_text(pool_use.bytes_per_task, kBytesPerTaskBefore, " bytes").c_str());
    return all_met;
}

}  // namespace bench
