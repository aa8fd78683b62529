// The benchmarks of the Windows builds: the paths and floors of paths.h through the shipped
// quorrin.dll, run under Wine. Google Benchmark is not built for these targets, so the loop is
// our own, on QueryPerformanceCounter: a path's iteration count doubles until a run lasts
// --benchmark_min_time seconds, then --benchmark_repetitions runs of that many iterations give
// their median. The module's clock is moved on through its GetTickCount import (see session.cpp).
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "paths.h"

namespace bench {

namespace {

double qpc_seconds() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency;
}

// The state that paths.h asks for, for one run of a fixed number of iterations.
class qpc_state {
public:
    explicit qpc_state(std::int64_t iterations) : m_iterations(iterations), m_left(iterations) {}

    struct end_marker {};
    struct __attribute__((unused)) value {};  // what `for (auto _ : state)` names, unused by design
    struct iteration {
        qpc_state* state;
        bool operator!=(end_marker) const {
            if (state->m_left > 0) return true;
            state->m_stop = qpc_seconds();
            return false;
        }
        void operator++() { --state->m_left; }
        value operator*() const { return {}; }
    };
    iteration begin() {
        m_start = qpc_seconds();
        return {this};
    }
    end_marker end() { return {}; }

    void set_iteration_time(double seconds) {
        m_manual = true;
        m_manual_seconds += seconds;
    }
    void skip(const char* why) { m_skipped = why; }
    void per_iteration(const char* counter, double total) { m_per_iteration.emplace_back(counter, total); }
    void per_item(const char* counter, double items) { m_per_item.emplace_back(counter, items); }

    // Time per iteration, and the counters as the summary reads them.
    figure result() const {
        figure f;
        const double seconds = m_manual ? m_manual_seconds : m_stop - m_start;
        f.ns = seconds / static_cast<double>(m_iterations) * 1e9;
        for (const auto& [name, total] : m_per_iteration) f.counters[name] = total / static_cast<double>(m_iterations);
        for (const auto& [name, items] : m_per_item) f.counters[name] = f.ns * 1e-9 / items;
        return f;
    }
    const char* skipped() const { return m_skipped; }

private:
    std::int64_t m_iterations;
    std::int64_t m_left;
    double m_start = 0, m_stop = 0;
    bool m_manual = false;
    double m_manual_seconds = 0;
    const char* m_skipped = nullptr;
    std::vector<std::pair<const char*, double>> m_per_iteration, m_per_item;
};

struct options {
    std::regex filter{".*"};
    int repetitions = 5;
    double min_time = 0.5;
};

using body = std::function<void(qpc_state&)>;

// The path's iteration count, found by doubling; then its repetitions. Prints and keeps the median.
void run_path(const options& o, const std::string& name, const paths::timing& how, const body& run, figures& out) {
    std::int64_t n = 1;
    for (;;) {
        qpc_state s(n);
        run(s);
        if (s.skipped()) {
            std::printf("%-56s skipped: %s\n", name.c_str(), s.skipped());
            return;
        }
        const double seconds = s.result().ns * 1e-9 * static_cast<double>(n);
        if (seconds >= o.min_time || n >= (std::int64_t{1} << 32)) break;
        const double wanted = seconds > 0 ? o.min_time / seconds * 1.4 : 10;
        n = static_cast<std::int64_t>(static_cast<double>(n) * std::clamp(wanted, 2.0, 10.0));
    }
    std::vector<figure> runs;
    for (int r = 0; r < o.repetitions; ++r) {
        qpc_state s(n);
        run(s);
        runs.push_back(s.result());
    }
    std::sort(runs.begin(), runs.end(), [](const figure& a, const figure& b) { return a.ns < b.ns; });
    const figure& median = runs[runs.size() / 2];
    double mean = 0, spread = 0;
    for (const figure& f : runs) mean += f.ns / static_cast<double>(runs.size());
    for (const figure& f : runs) spread += (f.ns - mean) * (f.ns - mean) / static_cast<double>(runs.size());
    const double unit = how.microseconds ? 1e3 : 1;
    std::printf("%-56s %12.1f %s (median of %d, cv %5.2f %%) %10lld iterations", name.c_str(), median.ns / unit,
                how.microseconds ? "us" : "ns", o.repetitions, mean > 0 ? std::sqrt(spread) / mean * 100 : 0.0,
                static_cast<long long>(n));
    for (const auto& [counter, value] : median.counters) std::printf(" %s=%g", counter.c_str(), value);
    std::printf("\n");
    std::fflush(stdout);
    out[name] = median;
}

bool parse(int argc, char** argv, options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* prefix) { return a.rfind(prefix, 0) == 0 ? a.substr(std::strlen(prefix)) : std::string(); };
        if (const std::string v = value("--benchmark_filter="); !v.empty()) {
            o.filter = std::regex(v);
        } else if (const std::string v = value("--benchmark_repetitions="); !v.empty()) {
            o.repetitions = std::max(1, std::atoi(v.c_str()));
        } else if (const std::string v = value("--benchmark_min_time="); !v.empty()) {
            o.min_time = std::atof(v.c_str());
        } else if (const std::string v = value("--quorrin_module="); !v.empty()) {
            set_module_path(v);
        } else {
            std::fprintf(stderr, "quorrin_benchmarks: unknown argument %s (the options: --benchmark_filter=REGEX, "
                                 "--benchmark_repetitions=N, --benchmark_min_time=SECONDS, --quorrin_module=PATH)\n",
                         argv[i]);
            return false;
        }
    }
    return true;
}

}  // namespace

}  // namespace bench

int main(int argc, char** argv) {
    bench::options o;
    if (!bench::parse(argc, argv, o)) return 1;
    bench::check_call_sequences();
    const std::time_t now = std::time(nullptr);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", std::gmtime(&now));
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    std::printf("%s\nRunning %s (%s, QueryPerformanceCounter), %lu processors\n", date, argv[0],
                sizeof(void*) == 8 ? "Win64" : "Win32", static_cast<unsigned long>(system.dwNumberOfProcessors));
    bench::figures results;
    bench::paths::each_path<bench::qpc_state>(
        [&](const std::string& name, const bench::paths::timing& how, auto run) {
            if (std::regex_search(name, o.filter)) bench::run_path(o, name, how, run, results);
        },
        false);
    bench::end_shared_session();
    bench::print_summary(results);
    return 0;
}
