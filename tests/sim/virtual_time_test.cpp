// quorrin-sim in virtual time: the built-in scenarios at scale, through the module as it ships.
// The report lines are the same on every run and on every build, so each scenario's lines are
// pinned by a checksum: one number for the native and the Win32 build alike.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "module_loader.h"
#include "scenario.h"
#include "session.h"

namespace {

struct virtual_run {
    sim::session_result result;
    std::string lines;  // the report lines, as quorrin-sim prints them
};

virtual_run play(const std::string& name) {
    virtual_run run;
    std::ostringstream lines;
    sim::session_options options;
    options.module_path = refhost::plugin_module::default_path();
    options.reports_out = &lines;
    options.virtual_time = true;
    run.result = sim::run_session(sim::builtin_scenario(name, 1), options);
    run.lines = lines.str();
    return run;
}

// FNV-1a, 64 bits.
std::uint64_t checksum(const std::string& text) {
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
    return h;
}

std::string failures_of(const sim::session_result& r) {
    std::string text;
    for (const std::string& f : r.failures) text += f + "\n";
    return text;
}

TEST(SimVirtualTime, ShortScenarioGivesTheSameLinesEveryRun) {
    const virtual_run first = play("short"), second = play("short");
    ASSERT_TRUE(first.result.failures.empty()) << failures_of(first.result);
    EXPECT_EQ(first.lines, second.lines);
    EXPECT_EQ(3u, first.result.reports_checked);
    EXPECT_EQ(15300u, first.result.session_ms);
    EXPECT_EQ(0x7193CB923B8BF39Full, checksum(first.lines)) << first.lines;
}

TEST(SimVirtualTime, BusyDayEndsEveryWayAndReleasesEverything) {
    const virtual_run day = play("busy-day");
    const sim::session_result& r = day.result;
    ASSERT_TRUE(r.failures.empty()) << failures_of(r);
    EXPECT_EQ(86400000u, r.session_ms);
    EXPECT_EQ(5760u, r.timer_ticks);
    std::set<sim::verdict> seen;
    for (const sim::task_outcome& o : r.tasks) seen.insert(o.result);
    EXPECT_EQ((std::set<sim::verdict>{sim::verdict::rejected, sim::verdict::reported, sim::verdict::too_short,
                                      sim::verdict::wrong_cid, sim::verdict::swept, sim::verdict::still_open}),
              seen);
    EXPECT_EQ(r.reports.size(), r.reports_checked);
    EXPECT_GT(r.reports.size(), 1000u);
    EXPECT_EQ(0xADF5DA855D669BB7ull, checksum(day.lines));
}

TEST(SimVirtualTime, WrapSoakKeepsTimesAndThePoolFlat) {
    const virtual_run soak = play("wrap-soak");
    const sim::session_result& r = soak.result;
    ASSERT_TRUE(r.failures.empty()) << failures_of(r);
    EXPECT_LT(r.last_tick, r.first_tick);  // wrapped
    EXPECT_EQ(r.reports.size(), r.reports_checked);
    EXPECT_GE(r.reports_across_wrap, 5u);
    // Eight half hours and the tail: from the second on, the same load leaves the same peak.
    ASSERT_EQ(9u, r.pool_peaks.size());
    for (std::size_t k = 2; k < 8; ++k) {
        EXPECT_EQ(r.pool_peaks[1].blocks, r.pool_peaks[k].blocks) << "period " << k + 1;
        EXPECT_EQ(r.pool_peaks[1].bytes, r.pool_peaks[k].bytes) << "period " << k + 1;
    }
    EXPECT_EQ(0x360C7977C2F751A2ull, checksum(soak.lines));
}

}  // namespace
