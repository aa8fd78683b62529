#include <cstdio>
#include <map>
#include <ostream>
#include <vector>

#include "outputs.h"

namespace sim {

std::string speed_text(std::uint64_t bytes_per_s) {
    char text[32];
    if (bytes_per_s >= 1000000) {
        std::snprintf(text, sizeof text, "%.2f MB/s", static_cast<double>(bytes_per_s) / 1e6);
    } else if (bytes_per_s >= 1000) {
        std::snprintf(text, sizeof text, "%.1f kB/s", static_cast<double>(bytes_per_s) / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%llu B/s", static_cast<unsigned long long>(bytes_per_s));
    }
    return text;
}

namespace {

// More tasks than this get counts by verdict instead of a row each.
constexpr std::size_t kMostRows = 60;

// The speed rule of the reports: bytes over whole seconds, the bytes themselves under a second.
std::uint64_t average(std::uint64_t bytes, std::uint64_t ms) { return ms >= 1000 ? bytes / (ms / 1000) : bytes; }

void pad(std::ostream& out, const std::string& text, std::size_t width, bool right = false) {
    const std::string fill(text.size() < width ? width - text.size() : 0, ' ');
    out << (right ? fill + text : text + fill);
}

std::string pool_text(const pool_use& p) {
    return std::to_string(p.blocks) + " blocks, " + std::to_string(p.bytes) + " bytes";
}

std::string hours_text(std::uint64_t ms) {
    char text[48];
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(ms / 3600000),
                  static_cast<unsigned long long>(ms / 60000 % 60), static_cast<unsigned long long>(ms / 1000 % 60));
    return text;
}

// A session of many tasks: how many ended each way, rather than a row each.
void write_verdict_counts(std::ostream& out, const session_result& r) {
    std::map<std::string, std::size_t> counts;
    for (const task_outcome& o : r.tasks) ++counts[verdict_text(o.result)];
    out << "tasks by verdict:";
    for (const auto& [text, count] : counts) out << "  " << text << " " << count;
    out << '\n';
}

// The virtual clock's span, and the pool from the first task to the end.
void write_time_and_pool(std::ostream& out, const session_result& r) {
    if (r.virtual_time) {
        char wall[32];
        std::snprintf(wall, sizeof wall, "%.2f s", static_cast<double>(r.wall_ms) / 1000.0);
        out << "virtual clock: " << hours_text(r.session_ms) << " simulated in " << wall << " of wall time; module ticks " << r.first_tick << " to " << r.last_tick
            << (r.last_tick < r.first_tick ? " (wrapped)" : "") << "; " << r.reports_checked
            << " report(s) agree with the host's own times";
        if (r.reports_across_wrap) out << ", " << r.reports_across_wrap << " of tasks across the wrap";
        out << '\n';
    }
    if (r.pool_at_ticks.empty()) return;
    const pool_use* peak = &r.pool_at_ticks.front();
    for (const pool_use& p : r.pool_at_ticks) {
        if (p.bytes > peak->bytes) peak = &p;
    }
    out << "module pool: " << pool_text(r.pool_before) << " before the first task; peak " << pool_text(*peak) << " with "
        << peak->sampled << " task(s) sampled at " << hours_text(peak->at_ms) << "; " << pool_text(r.pool_at_end)
        << " at the end with " << r.pool_at_end.sampled << " sampled; " << r.pool_left.blocks << " blocks, "
        << r.pool_left.bytes << " bytes left after the shut-down\n";
    if (!r.pool_peaks.empty()) {
        out << "pool peak per period:";
        for (const pool_use& p : r.pool_peaks) out << "  " << p.blocks << "/" << p.bytes;
        out << "  (blocks/bytes)\n";
    }
}

}  // namespace

void write_summary(std::ostream& out, const scenario& s, const session_result& r) {
    struct row {
        std::string cells[7];
        std::string detail;
    };
    std::vector<row> rows;
    rows.push_back({{"task", "name", "verdict", "bytes after click", "avg before", "avg after", "points low/high"}, "why"});
    for (std::size_t i = 0; i < s.tasks.size(); ++i) {
        const task_plan& t = s.tasks[i];
        const task_outcome& o = r.tasks[i];
        row line;
        line.cells[0] = std::to_string(t.id);
        line.cells[1] = t.name;
        line.cells[2] = verdict_text(o.result);
        line.detail = o.detail;
        const refhost::data_node* report = o.report >= 0 ? &r.reports[static_cast<std::size_t>(o.report)].tree : nullptr;
        if (report) {
            line.cells[3] = std::to_string(report->integer("bytesf_click"));
            line.cells[4] = speed_text(static_cast<std::uint64_t>(report->integer("avgb_click")));
            line.cells[5] = speed_text(static_cast<std::uint64_t>(report->integer("avgf_click")));
            const refhost::data_node* low = report->child("low_speed_point_list");
            const refhost::data_node* high = report->child("high_speed_point_list");
            line.cells[6] = std::to_string(low ? low->integer("count") : 0) + "/" + std::to_string(high ? high->integer("count") : 0);
        } else if (o.result == verdict::not_started || o.result == verdict::rejected) {
            line.cells[3] = line.cells[4] = line.cells[5] = line.cells[6] = "-";
        } else {
            // Not reported: the host's own figures.
            line.cells[3] = std::to_string(o.bytes_after);
            line.cells[4] = speed_text(average(t.bytes_before, t.time_before_ms));
            line.cells[5] = speed_text(average(o.bytes_after, o.ms_after));
            line.cells[6] = "-";
        }
        rows.push_back(line);
    }
    std::size_t width[7] = {};
    for (const row& line : rows) {
        for (int c = 0; c < 7; ++c) width[c] = std::max(width[c], line.cells[c].size());
    }
    out << "\nquorrin-sim: " << s.source << ": " << s.tasks.size() << " task(s), " << r.reports.size() << " report(s), "
        << r.timer_ticks << " timer tick(s), " << (r.session_ms / 100) / 10.0 << " s\n";
    write_time_and_pool(out, r);
    if (rows.size() > kMostRows) {
        write_verdict_counts(out, r);
        rows.clear();
    }
    for (const row& line : rows) {
        for (int c = 0; c < 7; ++c) {
            pad(out, line.cells[c], width[c], c == 0 || (c >= 3 && c <= 5));
            out << "  ";
        }
        out << line.detail << '\n';
    }
    if (r.failures.empty()) {
        out << "result: ok (every reference the module took on a host object was released)\n";
    } else {
        out << "result: FAILED\n";
        for (const std::string& f : r.failures) out << "  - " << f << '\n';
    }
}

}  // namespace sim
