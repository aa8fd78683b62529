#include "session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <ostream>
#include <queue>
#include <thread>

#include "module_loader.h"
#include "network.h"
#include "quorrin/plugin_interfaces.h"
#include "support/com_ptr.h"
#include "virtual_clock.h"
#include "zq.h"

namespace sim {

const char* verdict_text(verdict v) {
    switch (v) {
        case verdict::not_started: return "not started";
        case verdict::rejected: return "rejected";
        case verdict::reported: return "reported";
        case verdict::too_short: return "too short";
        case verdict::no_report: return "no report";
        case verdict::wrong_cid: return "wrong cid";
        case verdict::swept: return "swept";
        case verdict::still_open: return "still open";
    }
    return "?";
}

namespace {

using quorrin::com_ptr;
using steady = std::chrono::steady_clock;

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
// In real time each call of a task comes at least this much later than the planned gap after
// its previous one, so that the plug-in's whole-second arithmetic never sees a gap shorter than
// planned: more than a tick clock that advances once a scheduler tick (up to 10 ms) can lag
// behind. Virtual time needs none: the clock reads exactly the planned moment.
constexpr std::uint64_t kGapMarginMs = 20;

std::string hr_text(HRESULT hr) {
    switch (static_cast<std::uint32_t>(hr)) {
        case 0x00000000u: return "S_OK";
        case 0x00000001u: return "S_FALSE";
        case 0x80004005u: return "E_FAIL";
        case 0x8007000Eu: return "E_OUTOFMEMORY";
        case 0x80004003u: return "E_POINTER";
        case 0x8000FFFFu: return "E_UNEXPECTED";
        case 0x80004002u: return "E_NOINTERFACE";
        default: break;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

std::string seconds_text(std::uint64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%6.2f s", static_cast<double>(ms) / 1000.0);
    return text;
}

std::string wrong_cid_of(const std::string& cid) {
    if (cid.empty()) return std::string(1, '\x01');
    std::string other = cid;
    other.back() = static_cast<char>(other.back() ^ 0xFF);
    return other;
}

enum class task_state { waiting, running, stopped, done };
enum class action { start, offline, chain, timer, finish };

struct task_run {
    const task_plan* plan = nullptr;
    task_outcome* outcome = nullptr;
    task_state state = task_state::waiting;
    std::uint64_t reg_ms = 0;       // session time of the registration
    std::uint64_t prev_ms = 0;      // session time of the last call of the chain
    std::uint64_t prev_offset = 0;  // its planned time after the registration
    std::uint64_t next_offset = 0;  // planned time of the next sample or of the end
    bool next_is_end = false;
    std::uint64_t last_bytes = 0;
    std::vector<std::uint32_t> addresses;  // what the host knows serves the task

    std::uint64_t end_offset() const {
        return plan->end == end_kind::open ? kNever : std::uint64_t{plan->end_ms} - plan->start_ms;
    }
    std::uint64_t chain_due(std::uint64_t margin_ms) const {
        return std::max(reg_ms + next_offset, prev_ms + (next_offset - prev_offset) + margin_ms);
    }
};

// A task's next call in the scenario's own order: planned time, then action, then task order.
struct planned_call {
    std::uint64_t at_ms;
    action what;
    std::size_t task;
    bool operator<(const planned_call& o) const {
        return at_ms != o.at_ms ? at_ms < o.at_ms : what != o.what ? what < o.what : task < o.task;
    }
    bool operator>(const planned_call& o) const { return o < *this; }
};

class session {
public:
    session(const scenario& s, const session_options& o, session_result& r) : m_s(s), m_o(o), m_r(r) {}

    void run();

private:
    void fail(const std::string& what) {
        m_r.failures.push_back(what);
        event("error: " + what);
    }
    void event(const std::string& text);
    void status();
    std::uint64_t now() const {
        if (m_o.virtual_time) return m_virtual_ms;
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - m_start).count());
    }
    std::uint64_t margin_ms() const { return m_o.virtual_time ? 0 : kGapMarginMs; }
    std::uint32_t module_tick(std::uint64_t at_ms) const {
        return static_cast<std::uint32_t>(m_s.virtual_clock.tick_ms + at_ms);
    }
    std::string who(const task_run& t) const {
        return "task " + std::to_string(t.plan->id) + " (" + t.plan->name + ")";
    }

    void configure_host();
    void set_host_figures(std::uint64_t at_ms);
    void set_state(task_run& t, task_state state);
    void deliver();
    void take_reports(task_run* by);
    void check_report_times(const task_run& t, std::uint64_t at_ms);
    void check_pool_periods();
    std::uint64_t planned_end() const;
    void schedule_next(task_run& t);
    void plan_calls_after(action done, std::size_t task);
    pool_use pool_now() const;

    void start(task_run& t);
    void offline(task_run& t);
    void chain(task_run& t);
    void finish(task_run& t, std::uint64_t at_ms);
    void tick();
    void look_again(task_run& t);
    void play();

    const scenario& m_s;
    const session_options& m_o;
    session_result& m_r;
    refhost::reference_host* m_host = nullptr;
    IQuorrin* m_quorrin = nullptr;  // the provider holds the registration's reference until Uninitialize
    std::optional<network> m_net;
    std::vector<task_run> m_tasks;
    std::priority_queue<planned_call, std::vector<planned_call>, std::greater<planned_call>> m_calls;
    std::size_t m_running = 0;  // tasks in the running state
    // Tasks the plug-in refused that still download: their ends, and those that never end.
    std::priority_queue<std::uint64_t, std::vector<std::uint64_t>, std::greater<std::uint64_t>> m_refused_ends;
    std::int32_t m_refused_open = 0;
    steady::time_point m_start;
    bool m_started = false;
    std::uint64_t m_virtual_ms = 0;
    std::optional<std::uint64_t> m_timer_due;
    std::uint32_t m_timer_period = 0;
    std::uint64_t m_timer_started = 0;
    std::uint64_t m_end_ms = 0;
    bool m_status_drawn = false;
};

void session::event(const std::string& text) {
    if (!m_o.progress) return;
    std::ostream& out = *m_o.progress;
    if (m_status_drawn) out << "\r\033[K";
    m_status_drawn = false;
    out << seconds_text(m_started ? now() : 0) << "  " << text << '\n';
    out.flush();
}

void session::status() {
    if (!m_o.progress || !m_o.status_line) return;
    std::size_t tracked = 0;
    for (const task_run& t : m_tasks) tracked += t.state == task_state::running || t.state == task_state::stopped;
    char line[160];
    std::snprintf(line, sizeof line, "\r\033[K[%6.1f s of %.1f s]  %zu task(s) open, %zu report(s), %u timer tick(s)",
                  static_cast<double>(now()) / 1000.0, static_cast<double>(m_end_ms) / 1000.0, tracked,
                  m_r.reports.size(), m_r.timer_ticks);
    *m_o.progress << line;
    m_o.progress->flush();
    m_status_drawn = true;
}

void session::configure_host() {
    refhost::reference_host& h = *m_host;
    for (const config_value& v : m_s.stat_values) h.stat_values().set(v.section, v.key, v.value);
    for (const config_value& v : m_s.setting_ints) h.setting_ints().set(v.section, v.key, v.value);
    for (const config_value& v : m_s.setting_bools) h.setting_bools().set(v.section, v.key, v.value);
    h.ping().pings = m_s.pings;
    for (const task_plan& t : m_s.tasks) {
        for (const auto& [address, ms] : t.pings) h.ping().pings[address] = ms;
    }
    h.peer().peer_id = m_s.host.peer_id;
    h.peer().external_ip = m_s.host.external_ip;
    h.speed_limit().limit = m_s.host.download_limit;
    h.transfer().writes_pair = m_s.host.writes_speed_pair;
}

// What the host's services answer at this moment of the session.
void session::set_host_figures(std::uint64_t at_ms) {
    refhost::reference_host& h = *m_host;
    const std::uint64_t cap = std::numeric_limits<std::uint32_t>::max();
    h.transfer().download_speed = static_cast<std::uint32_t>(std::min(m_net->download_speed(at_ms), cap));
    h.transfer().upload_speed = static_cast<std::uint32_t>(std::min(m_net->upload_speed(), cap));
    h.transfer().total_download_bytes = m_net->total_download(at_ms);
    // Uploads split over two counters (peers and servers); the other two are downloads.
    const std::uint64_t up = m_net->upload_total(at_ms);
    h.peer().counters[0] = up - up / 3;
    h.peer().counters[1] = up / 3;
    h.peer().counters[2] = h.transfer().total_download_bytes;
    h.peer().counters[3] = 0;
    if (!m_s.fixes_user_task_count()) {
        // Tracked tasks, and those the plug-in refused while they run (calls come in time order).
        while (!m_refused_ends.empty() && m_refused_ends.top() <= at_ms) m_refused_ends.pop();
        const auto downloading = static_cast<std::int32_t>(m_running + m_refused_ends.size()) + m_refused_open;
        h.setting_ints().set("env", "user_task_count", downloading);
    }
}

void session::set_state(task_run& t, task_state state) {
    m_running -= t.state == task_state::running;
    m_running += state == task_state::running;
    t.state = state;
}

pool_use session::pool_now() const {
    zq_usage usage{};
    zq_usage_of(&usage);
    pool_use p;
    p.at_ms = now();
    p.blocks = usage.blocks;
    p.bytes = usage.bytes;
    p.sampled = m_running;
    return p;
}

void session::deliver() {
    const std::size_t seen = m_host->events().posted_results().size();
    m_host->events().deliver_posted();
    const std::vector<HRESULT>& results = m_host->events().posted_results();
    for (std::size_t i = seen; i < results.size(); ++i) {
        if (FAILED(results[i])) fail("a posted message's OnMessage returned " + hr_text(results[i]));
    }
    // The plug-in starts its sweep timer from a posted message.
    const auto& timers = m_host->events().timers();
    if (!timers.empty() && !m_timer_due) {
        m_timer_period = std::max<std::uint32_t>(timers.front().period_ms, 1);
        m_timer_started = now();
        m_timer_due = m_timer_started + m_timer_period;
        event("timer started: every " + std::to_string(m_timer_period) + " ms");
        // The end waits for the sweeps that drop the tasks the host stops sampling.
        if (m_started) m_end_ms = std::max(m_end_ms, planned_end());
    } else if (timers.empty() && m_timer_due) {
        m_timer_due.reset();
    }
}

// The reports leave the host's report service as they come, and with them its references to
// the submitted objects: a long session keeps only their snapshots.
void session::take_reports(task_run* by) {
    refhost::report_service& service = m_host->reports();
    if (service.reports().empty()) return;
    for (const refhost::report_service::report& r : service.reports()) {
        if (m_o.reports_out) {
            *m_o.reports_out << (r.null_object ? std::string("null") : refhost::to_json(r.tree)) << '\n';
            m_o.reports_out->flush();
        }
        if (by && by->outcome->report < 0) by->outcome->report = static_cast<std::int64_t>(m_r.reports.size());
        m_r.reports.push_back(r);
    }
    service.clear();
}

// Until every task has ended and, for tasks the host stopped sampling, until the sweep that
// can drop them (unless that is more than two minutes away).
std::uint64_t session::planned_end() const {
    if (m_s.duration_ms) return *m_s.duration_ms;
    std::uint64_t last = 0;
    for (const task_plan& t : m_s.tasks) {
        last = std::max<std::uint64_t>(last, t.end == end_kind::open ? t.start_ms + 10000 : t.end_ms);
    }
    last += 300;
    if (!m_timer_due) return last;
    const std::uint64_t overdue = m_s.quorrin_value("overdue", 30000, 10000);
    std::uint64_t wait = last;
    for (const task_plan& t : m_s.tasks) {
        if (t.end != end_kind::stop_sampling && t.end != end_kind::wrong_cid) continue;
        const std::uint64_t stale = t.end_ms + overdue + 100;
        const std::uint64_t ticks = (stale - std::min(stale, m_timer_started)) / m_timer_period + 1;
        const std::uint64_t sweep = m_timer_started + ticks * m_timer_period + 300;
        if (sweep <= last + 120000) wait = std::max(wait, sweep);
    }
    return wait;
}

// In virtual time the host knows to the millisecond when the click and the end came: the report
// must say the same, in whole seconds, also when the tick wrapped in between.
void session::check_report_times(const task_run& t, std::uint64_t at_ms) {
    const refhost::data_node& report = m_r.reports[static_cast<std::size_t>(t.outcome->report)].tree;
    const std::int64_t click = std::int64_t{m_s.virtual_clock.unix_time} + static_cast<std::int64_t>(t.reg_ms / 1000);
    const auto after_s = static_cast<std::int64_t>((at_ms - t.reg_ms) / 1000);
    std::string wrong;
    if (report.integer("click_time") != click) {
        wrong = "click_time " + std::to_string(report.integer("click_time")) + ", not " + std::to_string(click);
    } else if (report.integer("timef_click") != after_s) {
        wrong = "timef_click " + std::to_string(report.integer("timef_click")) + ", not " + std::to_string(after_s);
    }
    for (const char* list : {"low_speed_point_list", "high_speed_point_list"}) {
        const refhost::data_node* points = report.child(list);
        for (std::int64_t i = 0; points && wrong.empty() && i < points->integer("count"); ++i) {
            const refhost::data_node* p = points->child(std::to_string(i));
            const std::int64_t time = p ? p->integer("time") : -1;
            if (time < click || time > click + after_s) {
                wrong = std::string(list) + " point " + std::to_string(i) + " at " + std::to_string(time) +
                        ", outside the task's " + std::to_string(click) + " to " + std::to_string(click + after_s);
            }
        }
    }
    if (!wrong.empty()) return fail("the report of " + who(t) + " has " + wrong);
    ++m_r.reports_checked;
    if (module_tick(at_ms) < module_tick(t.reg_ms)) ++m_r.reports_across_wrap;
}

// A load that repeats must not leave the pool fuller from one period to the next: after the
// first period, which warms up, no period peaks higher than the second.
void session::check_pool_periods() {
    if (!m_s.repeats_every_ms) return;
    std::vector<pool_use>& peaks = m_r.pool_peaks;
    for (const pool_use& p : m_r.pool_at_ticks) {
        const std::size_t period = p.at_ms / *m_s.repeats_every_ms;
        if (peaks.size() <= period) peaks.resize(period + 1);
        if (p.bytes > peaks[period].bytes) peaks[period] = p;
        peaks[period].blocks = std::max(peaks[period].blocks, p.blocks);
    }
    if (peaks.size() < 3) return fail("the session is too short to compare its periods' pool use (3 needed)");
    for (std::size_t k = 2; k < peaks.size(); ++k) {
        if (peaks[k].blocks <= peaks[1].blocks && peaks[k].bytes <= peaks[1].bytes) continue;
        fail("the pool grew: period " + std::to_string(k + 1) + " peaks at " + std::to_string(peaks[k].blocks) + " blocks, " +
             std::to_string(peaks[k].bytes) + " bytes; the second at " + std::to_string(peaks[1].blocks) + " blocks, " +
             std::to_string(peaks[1].bytes) + " bytes");
    }
}

void session::schedule_next(task_run& t) {
    const std::uint64_t interval = static_cast<std::uint64_t>(t.outcome->interval_ms);
    const std::uint64_t sample = (t.prev_offset / interval + 1) * interval;
    t.next_is_end = sample >= t.end_offset();
    t.next_offset = t.next_is_end ? t.end_offset() : sample;
}

void session::start(task_run& t) {
    const task_plan& plan = *t.plan;
    const std::uint64_t at = now();
    // The host knows when the plug-in must refuse a registration.
    std::string refusal;
    bool may_refuse = false;
    if (static_cast<std::int32_t>(m_s.quorrin_value("sample_interval", 3000, 1000)) < 1000) {
        refusal = "the configured sample interval is negative as a 32-bit value";
    } else if (plan.click_type == 1 && (!plan.cdn || plan.cdn->empty())) {
        refusal = "click type 1 without CDN addresses";
    } else {
        for (const task_run& other : m_tasks) {
            if (&other == &t || other.plan->id != plan.id) continue;
            if (other.state == task_state::running) refusal = "its id is already tracked";
            if (other.state == task_state::stopped) may_refuse = true;  // unless the sweep dropped it
        }
    }

    std::vector<cdn_ip_entry> entries;
    if (plan.cdn) {
        for (const std::string& text : *plan.cdn) {
            cdn_ip_entry e{};
            std::memcpy(e.chars, text.data(), text.size());
            e.length = static_cast<std::uint32_t>(text.size());
            entries.push_back(e);
            if (const auto address = parse_dotted(text)) t.addresses.push_back(*address);
        }
    }
    const cdn_ip_array array{static_cast<std::uint32_t>(entries.size()), entries.empty() ? nullptr : entries.data()};
    refhost::host_ref<refhost::data_object> data = m_host->make_data("task");
    if (!plan.offline_url.empty()) data->put_string("offline_url", plan.offline_url);

    set_host_figures(at);
    std::int32_t interval = 0;
    const HRESULT hr = m_quorrin->RegisterTask(
        plan.id, plan.type, plan.click_type, static_cast<std::uint32_t>(plan.cid.size()),
        reinterpret_cast<const std::uint8_t*>(plan.cid.data()), plan.size, static_cast<std::uint32_t>(plan.gcid.size()),
        reinterpret_cast<const std::uint8_t*>(plan.gcid.data()), plan.time_before_ms, plan.bytes_before,
        plan.cdn ? &array : nullptr, &interval, data.get());
    deliver();
    event(who(t) + ": RegisterTask click type " + std::to_string(plan.click_type) + ", " + std::to_string(entries.size()) +
          " CDN address(es) -> " + hr_text(hr) + (SUCCEEDED(hr) ? ", sample every " + std::to_string(interval) + " ms" : ""));

    if (FAILED(hr)) {
        set_state(t, task_state::done);
        if (plan.end == end_kind::open) {
            ++m_refused_open;
        } else {
            m_refused_ends.push(plan.end_ms);
        }
        t.outcome->result = verdict::rejected;
        t.outcome->detail = refusal.empty() ? "RegisterTask returned " + hr_text(hr) : refusal;
        if (refusal.empty() && !(may_refuse && hr == E_FAIL)) {
            fail("RegisterTask of " + who(t) + " at " + plan.pointer + " failed with " + hr_text(hr));
        }
        return;
    }
    if (!refusal.empty()) fail("RegisterTask accepted " + who(t) + " although " + refusal);
    if (interval < 1000) {
        fail("RegisterTask of " + who(t) + " handed back a sample interval of " + std::to_string(interval) + " ms");
        interval = 1000;
    }
    set_state(t, task_state::running);
    t.outcome->interval_ms = interval;
    t.outcome->registered_ms = at;
    t.reg_ms = t.prev_ms = at;
    t.prev_offset = 0;
    t.last_bytes = plan.bytes_before;
    schedule_next(t);
}

void session::offline(task_run& t) {
    const offline_cdn& call = *t.plan->offline;
    set_host_figures(now());
    const HRESULT hr = m_quorrin->AddOfflineCdnIp(static_cast<std::uint32_t>(call.url.size()), call.url.data(), call.address);
    deliver();
    event(who(t) + ": AddOfflineCdnIp " + refhost::dotted(call.address) + " for " + call.url + " -> " + hr_text(hr));
    if (hr != S_OK) fail("AddOfflineCdnIp for " + who(t) + " returned " + hr_text(hr));
    if (call.url == t.plan->offline_url && t.addresses.empty()) t.addresses.push_back(call.address);
}

void session::chain(task_run& t) {
    const std::uint64_t at = now();
    if (t.next_is_end) {
        finish(t, at);
        return;
    }
    const std::uint64_t bytes = network::task_bytes(*t.plan, t.next_offset);
    set_host_figures(at);
    const HRESULT hr = m_quorrin->UpdateTask(t.plan->id, bytes);
    deliver();
    if (hr == E_FAIL) {
        // The plug-in no longer knows the task: its samples came further apart than "overdue".
        set_state(t, task_state::done);
        t.outcome->result = verdict::swept;
        t.outcome->detail = "dropped while still sampled";
        event(who(t) + ": UpdateTask -> E_FAIL: the plug-in dropped the task");
        // In virtual time every sample comes exactly on time, well within "overdue".
        if (m_o.virtual_time &&
            static_cast<std::uint32_t>(t.outcome->interval_ms) <= m_s.quorrin_value("overdue", 30000, 10000)) {
            fail("the plug-in dropped " + who(t) + " while it was sampled on time");
        }
        return;
    }
    if (FAILED(hr)) fail("UpdateTask of " + who(t) + " returned " + hr_text(hr));
    ++t.outcome->samples;
    t.last_bytes = bytes;
    t.prev_ms = at;
    t.prev_offset = t.next_offset;
    schedule_next(t);
}

void session::finish(task_run& t, std::uint64_t at) {
    const task_plan& plan = *t.plan;
    const std::uint64_t bytes = network::task_bytes(plan, t.next_offset);
    t.outcome->bytes_after = bytes - plan.bytes_before;
    t.outcome->ms_after = at - t.reg_ms;
    if (plan.end == end_kind::stop_sampling) {
        set_state(t, task_state::stopped);
        event(who(t) + ": the host stops sampling it");
        return;
    }

    refhost::host_ref<refhost::data_object> figures;
    if (plan.report_data) {
        figures = m_host->make_data("cdn_down_bytes_stat");
        if (plan.cdn_bytes) {
            for (const auto& [key, value] : *plan.cdn_bytes) figures->put_int(key, value);
        } else if (!t.addresses.empty()) {
            // The bytes after the click, shared out evenly over the task's servers.
            const std::uint64_t share = t.outcome->bytes_after / t.addresses.size();
            for (std::size_t i = 0; i < t.addresses.size(); ++i) {
                const std::uint64_t part = i == 0 ? t.outcome->bytes_after - share * (t.addresses.size() - 1) : share;
                figures->put_int(refhost::dotted(t.addresses[i]), static_cast<std::int64_t>(part));
            }
        }
    }
    const bool wrong = plan.end == end_kind::wrong_cid;
    const std::string cid = wrong ? wrong_cid_of(plan.cid) : plan.cid;
    set_host_figures(at);
    const HRESULT hr = m_quorrin->UnregisterTask(plan.id, static_cast<std::uint32_t>(cid.size()),
                                                 reinterpret_cast<const std::uint8_t*>(cid.data()), bytes,
                                                 figures ? figures.get() : nullptr, plan.reason);
    deliver();
    take_reports(&t);
    event(who(t) + ": UnregisterTask" + (wrong ? " with a wrong cid" : "") + ", reason " + std::to_string(plan.reason) +
          " -> " + hr_text(hr) + (t.outcome->report >= 0 ? ", report submitted" : ""));

    const std::uint64_t dt = m_s.quorrin_value("dt_duration", 15000, 0);
    const std::string ran = std::to_string(t.outcome->ms_after / 1000) + " s after the click";
    if (wrong) {
        set_state(t, task_state::stopped);
        t.outcome->result = verdict::wrong_cid;
        t.outcome->detail = "UnregisterTask refused the other cid";
        if (hr != E_FAIL) fail("UnregisterTask of " + who(t) + " with a wrong cid returned " + hr_text(hr));
        return;
    }
    set_state(t, task_state::done);
    if (FAILED(hr)) {
        t.outcome->result = verdict::still_open;
        t.outcome->detail = "UnregisterTask returned " + hr_text(hr);
        fail("UnregisterTask of " + who(t) + " failed with " + hr_text(hr));
    } else if (t.outcome->report >= 0) {
        t.outcome->result = verdict::reported;
        t.outcome->detail = ran;
        if (m_o.virtual_time) check_report_times(t, at);
    } else if (!m_s.services.stat_report) {
        t.outcome->result = verdict::no_report;
        t.outcome->detail = "the host has no report service";
    } else {
        t.outcome->result = verdict::too_short;
        t.outcome->detail = ran + "; reports need more than " + std::to_string(dt) + " ms";
    }
}

void session::tick() {
    ++m_r.timer_ticks;
    if (m_o.progress) event("timer tick " + std::to_string(m_r.timer_ticks) + ": the plug-in sweeps stale tasks");
    m_host->events().fire_timers();
    deliver();
    take_reports(nullptr);
    m_r.pool_at_ticks.push_back(pool_now());
    if (m_timer_due) *m_timer_due += m_timer_period;
}

// At the end the host asks once more about a task it stopped sampling: a record that is gone
// was swept.
void session::look_again(task_run& t) {
    const HRESULT hr = m_quorrin->UpdateTask(t.plan->id, t.last_bytes);
    deliver();
    const bool gone = hr == E_FAIL;
    if (FAILED(hr) && !gone) fail("UpdateTask of " + who(t) + " returned " + hr_text(hr));
    if (t.outcome->result == verdict::wrong_cid) {
        t.outcome->detail += gone ? "; record swept" : "; record still open";
    } else {
        t.outcome->result = gone ? verdict::swept : verdict::still_open;
        t.outcome->detail = gone ? "dropped by the sweep without a report" : "not swept yet when the session ended";
    }
}

// What a task does next: after its start, its AddOfflineCdnIp call (whether or not the plug-in
// took the task) and its first sample; after a sample, the next one or its end.
void session::plan_calls_after(action done, std::size_t task) {
    const task_run& t = m_tasks[task];
    if (done == action::start && t.plan->offline) m_calls.push({t.plan->offline->at_ms, action::offline, task});
    if (t.state == task_state::running) m_calls.push({t.plan->start_ms + t.next_offset, action::chain, task});
}

void session::play() {
    for (std::size_t i = 0; i < m_tasks.size(); ++i) m_calls.push({m_tasks[i].plan->start_ms, action::start, i});
    while (true) {
        // The next thing to do in the scenario's own order (planned time, then action order),
        // so that every run makes its calls in the same sequence; it waits for its real moment,
        // which in real time may be a few milliseconds later than planned for a task's samples.
        planned_call next{m_end_ms, action::finish, 0};
        if (m_timer_due) next = std::min(next, planned_call{*m_timer_due, action::timer, 0});
        if (!m_calls.empty()) next = std::min(next, m_calls.top());
        task_run* task = next.what <= action::chain ? &m_tasks[next.task] : nullptr;
        std::uint64_t due = next.at_ms;
        if (next.what == action::chain) due = task->chain_due(margin_ms());

        const std::uint64_t at = now();
        if (due > at) {
            if (m_o.virtual_time) {
                m_virtual_ms = due;
                refhost::virtual_clock::set(due);
                continue;
            }
            status();
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::uint64_t>(due - at, 200)));
            continue;
        }
        if (task) m_calls.pop();
        switch (next.what) {
            case action::start: start(*task); break;
            case action::offline: offline(*task); break;
            case action::chain: chain(*task); break;
            case action::timer: tick(); break;
            case action::finish: return;
        }
        // A start plans the task's offline call and first sample; a sample plans the next one.
        if (next.what == action::start || next.what == action::chain) plan_calls_after(next.what, next.task);
    }
}

void session::run() {
    refhost::plugin_module module(m_o.module_path);
    if (!module.loaded()) return fail(module.error());
    if (!module.error().empty()) return fail(m_o.module_path + ": " + module.error());
    event("loaded " + m_o.module_path);
    // The module's clock follows the session's from here to the end of the session.
    struct system_clock_again {
        ~system_clock_again() { refhost::virtual_clock::stop(); }
    } restore;
    if (m_o.virtual_time) {
        const std::string why = refhost::virtual_clock::attach(module.handle());
        if (!why.empty()) return fail("no virtual time: " + why);
        refhost::virtual_clock::start(m_s.virtual_clock.tick_ms, m_s.virtual_clock.unix_time);
        m_r.virtual_time = true;
    }
    const steady::time_point wall_start = steady::now();

    refhost::ledger::instance().clear_errors();
    refhost::reference_host host(m_s.services);
    m_host = &host;
    host.log.enabled = false;  // only contract breaches are wanted, and they are kept regardless
    host.log.on_violation = [this](const std::string& what) { fail("the module broke the host contract: " + what); };
    configure_host();
    m_net.emplace(m_s, m_s.duration_ms ? *m_s.duration_ms : kNever);

    {
        com_ptr<IClassFactory> factory;
        HRESULT hr = module.DllGetClassObject(CLSID_DownloadLibPlugin, IID_IClassFactory, factory.put_void());
        if (FAILED(hr) || !factory) return fail("DllGetClassObject returned " + hr_text(hr));
        zq_usage before{};
        zq_usage_of(&before);

        com_ptr<IDownloadLibPlugin> plugin;
        hr = factory->CreateInstance(nullptr, IID_IDownloadLibPlugin, plugin.put_void());
        if (FAILED(hr) || !plugin) return fail("IClassFactory::CreateInstance returned " + hr_text(hr));
        hr = plugin->Initialize(host.provider());
        event("IDownloadLibPlugin::Initialize -> " + hr_text(hr));
        if (FAILED(hr)) {
            fail("IDownloadLibPlugin::Initialize returned " + hr_text(hr));
        } else {
            m_start = steady::now();
            m_started = true;
            for (std::size_t i = 0; i < m_s.tasks.size(); ++i) {
                m_tasks.push_back(task_run{});
                m_tasks.back().plan = &m_s.tasks[i];
                m_tasks.back().outcome = &m_r.tasks[i];
            }
            deliver();  // message 0: the plug-in starts its timer
            m_quorrin = static_cast<IQuorrin*>(host.services().registered(IID_IQuorrin));
            if (!m_quorrin) {
                fail("the plug-in registered no IQuorrin with the service provider");
            } else {
                m_end_ms = planned_end();
                m_r.pool_before = pool_now();
                play();
                for (task_run& t : m_tasks) {
                    if (t.state == task_state::stopped) look_again(t);
                    if (t.state == task_state::running) {
                        t.outcome->result = verdict::still_open;
                        t.outcome->detail = "still downloading when the session ended";
                        const std::uint64_t offset = m_end_ms - std::min<std::uint64_t>(m_end_ms, t.plan->start_ms);
                        t.outcome->bytes_after = network::task_bytes(*t.plan, offset) - t.plan->bytes_before;
                        t.outcome->ms_after = now() - t.reg_ms;
                    }
                }
                m_r.session_ms = now();
                m_r.pool_at_end = pool_now();
                check_pool_periods();
                m_r.first_tick = module_tick(0);
                m_r.last_tick = module_tick(m_r.session_ms);
            }
            m_quorrin = nullptr;
            hr = plugin->Uninitialize();
            event("IDownloadLibPlugin::Uninitialize -> " + hr_text(hr));
            if (FAILED(hr)) fail("IDownloadLibPlugin::Uninitialize returned " + hr_text(hr));
        }
        plugin.reset();
        zq_usage after{};
        zq_usage_of(&after);
        m_r.pool_left.blocks = after.blocks - before.blocks;
        m_r.pool_left.bytes = after.bytes - before.bytes;
        if (after.blocks != before.blocks) {
            fail(std::to_string(after.blocks - before.blocks) + " block(s) of the pool still in use after the plug-in was released");
        }
        factory.reset();
        hr = module.DllCanUnloadNow();
        if (hr != S_OK) fail("DllCanUnloadNow answered " + hr_text(hr) + " after everything was released");
    }
    take_reports(nullptr);
    for (const std::string& problem : host.problems()) fail(problem);
    m_host = nullptr;
    m_r.wall_ms = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - wall_start).count());
}

}  // namespace

session_result run_session(const scenario& s, const session_options& options) {
    session_result result;
    result.tasks.resize(s.tasks.size());
    session(s, options, result).run();
    return result;
}

}  // namespace sim
