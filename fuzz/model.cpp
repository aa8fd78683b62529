#include "model.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>

#include "config/stat_config.h"
#include "harness.h"
#include "manual_clock.h"
#include "reference_host.h"
#include "support/host_services.h"

long long g_fuzz_step = 0;

void broken(const char* what) {
    std::fprintf(stderr, "quorrin fuzz: %s (step %lld)\n", what, g_fuzz_step);
    std::fflush(stderr);
    std::abort();
}

bool failed_since(const before_call& at) { return fuzz_failed_allocations() != at.failed; }

void model::take_config() {
    const quorrin::stat_config* config = quorrin::stat_config::instance();
    interval = static_cast<std::int32_t>(config->sample_interval());
    overdue = config->overdue();
    low_count = config->low_count();
    high_count = config->high_count();
    dt_duration = config->dt_duration();
}

void model::sweep() {
    const std::uint32_t now = manual_clock::tick();
    for (auto it = tasks.begin(); it != tasks.end();) {
        it = now - it->second.last_tick > overdue ? tasks.erase(it) : std::next(it);
    }
}

std::string model::snapshot(const quorrin::CQuorrin* stat, refhost::reference_host& host) const {
    std::string s;
    char line[256];
    const auto point = [&](const quorrin::speed_point_heap& list) {
        if (list.empty()) return std::string("-");
        const quorrin::speed_point& p = list.top();
        std::snprintf(line, sizeof line, "%zu:%u,%u,%llu,%llu,%u,%u,%u,%zu", list.size(), p.time, p.elapsed,
                      static_cast<unsigned long long>(p.delta_bytes), static_cast<unsigned long long>(p.already_dl_bytes),
                      p.g_dl_speed, p.avgs, static_cast<unsigned>(p.member_task_count), p.ping_cdn_list.size());
        return std::string(line);
    };
    if (stat) {
        for (const auto& [id, r] : stat->tasks()) {
            std::snprintf(line, sizeof line, "task %d %u %u %llu %llu %llu %u %d %d %llu %u %llu %u %u %llu %u %d ", id,
                          r->last_tick, r->start_tick, static_cast<unsigned long long>(r->last_bytes),
                          static_cast<unsigned long long>(r->last_up_total),
                          static_cast<unsigned long long>(r->last_dl_total), r->click_time, r->task_type, r->click_type,
                          static_cast<unsigned long long>(r->filesize), r->timeb_click,
                          static_cast<unsigned long long>(r->bytesb_click), r->avgb_click, r->timef_click,
                          static_cast<unsigned long long>(r->bytesf_click), r->avgf_click, r->unreg_reason);
            s += line;
            s.append(r->cid.data(), r->cid.size()).append("|").append(r->gcid.data(), r->gcid.size()).append("|");
            s.append(r->offline_url.data(), r->offline_url.size()).append("|");
            s += point(r->low_speed_point_list) + "|" + point(r->high_speed_point_list) + "|";
            for (const std::uint32_t a : r->cdn_ip_list) s += std::to_string(a) + ",";
            s += "\n";
        }
        for (const auto& [address, count] : stat->cdn_ip_refs()) s += std::to_string(address) + "x" + std::to_string(count) + " ";
    }
    s += "\ntold";
    for (const std::uint32_t a : host.ping().told()) s += " " + std::to_string(a);
    // Timers that the host's own message 0 started are the host's doing.
    s += "\ntimers " + std::to_string(host.events().timers().size() - extra_timers) + " queued " +
         std::to_string(host.events().queued()) + " reports " + std::to_string(host.reports().reports().size()) +
         " registered " + std::to_string(host.services().registered_count()) + " provider " +
         (quorrin::GetHostServiceProvider() ? "kept" : "none");
    return s;
}

before_call model::before(const quorrin::CQuorrin* stat, refhost::reference_host& host, bool judged) const {
    before_call at;
    if (judged) at.snapshot = snapshot(stat, host);
    at.failed = fuzz_failed_allocations();
    at.reports = host.reports().reports().size();
    return at;
}

void model::expect_unchanged(const before_call& at, const quorrin::CQuorrin* stat, refhost::reference_host& host,
                             const char* what) const {
    if (at.snapshot.empty()) return;
    const std::string now = snapshot(stat, host);
    if (now == at.snapshot) return;
    std::fprintf(stderr, "quorrin fuzz: before:\n%s\nafter:\n%s\n", at.snapshot.c_str(), now.c_str());
    broken(what);
}

bool model::out_of_memory(HRESULT hr, const before_call& at, const quorrin::CQuorrin* stat, refhost::reference_host& host,
                          const char* what) const {
    if (hr != E_OUTOFMEMORY) return false;
    expect(failed_since(at), "E_OUTOFMEMORY without a failed allocation");
    expect_unchanged(at, stat, host, what);
    return true;
}

void model::finished(HRESULT hr, const before_call& at, const quorrin::CQuorrin* stat, refhost::reference_host& host) {
    const auto found = tasks.find(pending.task_id);
    const std::size_t reports = host.reports().reports().size();
    if (hr == E_OUTOFMEMORY) {
        expect(failed_since(at), "E_OUTOFMEMORY without a failed allocation");
        if (!stat) return;
        // Either nothing changed, or the task finished all the same with its report lost.
        if (stat->tasks().count(pending.task_id) != 0 || !pending.matches) {
            expect_unchanged(at, stat, host, "an UnregisterTask out of memory");
            expect(reports == at.reports, "a report from a finish out of memory");
        } else {
            tasks.erase(found);
        }
        return;
    }
    if (!pending.matches) {
        expect(hr == E_FAIL, "UnregisterTask result");
        expect(reports == at.reports, "a report for a task that did not finish");
        if (stat) expect_unchanged(at, stat, host, "an UnregisterTask that finished nothing");
        return;
    }
    expect(hr == S_OK, "UnregisterTask result");
    const std::uint32_t seconds = (manual_clock::tick() - found->second.start_tick) / 1000;
    const bool reported = static_cast<std::uint32_t>(seconds * 1000u) > dt_duration && kept.report && !host.reports().submit_fails;
    tasks.erase(found);
    expect(reports == at.reports + (reported ? 1 : 0), "finished task's report");
    if (reported) {
        const refhost::report_service::report& report = host.reports().reports().back();
        expect(report.name == "Quorrin", "report name");
        expect(report.null_object == host.data.behaviour.create_fails, "report object made or not");
        if (!report.null_object && !host.data.behaviour.puts_fail) {
            expect(report.tree.name == "Quorrin", "report object's name");
            expect(report.tree.child("low_speed_point_list") && report.tree.child("high_speed_point_list"),
                   "report's point lists");
        }
    }
}

void model::check(const quorrin::CQuorrin& stat, refhost::reference_host& host) const {
    const quorrin::task_table& table = stat.tasks();
    expect(table.size() == tasks.size(), "task table holds other tasks than registered and not yet finished");
    std::map<std::uint32_t, std::uint32_t> held;
    auto want = tasks.begin();
    for (const auto& [id, record] : table) {
        expect(want != tasks.end() && want->first == id, "task table ids");
        expect(record != nullptr, "an entry without a record");
        const expected_task& task = want->second;
        expect(record->cid == task.cid, "record's cid");
        expect(record->click_type == task.click_type, "record's click type");
        expect(record->cdn_ip_list == task.addresses, "record's CDN addresses");
        expect(record->start_tick == task.start_tick && record->last_tick == task.last_tick, "record's ticks");
        expect(record->low_speed_point_list.size() <= low_count, "low list above its capacity");
        expect(record->high_speed_point_list.size() <= high_count, "high list above its capacity");
        expect(!record->low_speed_point_list.empty() && !record->high_speed_point_list.empty(), "a record lost its click point");
        for (const std::uint32_t address : record->cdn_ip_list) ++held[address];
        ++want;
    }
    expect(host.events().timers().size() <= 1 + extra_timers, "more timers than message 0 started");
    const quorrin::CQuorrin::address_counts& counts = stat.cdn_ip_refs();
    if (!kept.ping) {
        expect(counts.empty(), "addresses counted without a ping service");
        return;
    }
    expect(counts.size() == held.size(), "counted addresses differ from those the records hold");
    for (const auto& [address, count] : counts) {
        const auto h = held.find(address);
        expect(h != held.end() && h->second == count, "an address counted other than the records hold it");
    }
    const std::set<std::uint32_t>& told = host.ping().told();
    expect(told.size() == counts.size(), "the ping service was told another set than the watched one");
    for (const auto& entry : counts) expect(told.count(entry.first) == 1, "a watched address not told to the ping service");
}
