// The fuzzed host. Input bytes choose the host's configuration, which services it gives and how
// they misbehave, then a sequence of calls on the initialised plug-in (the core linked
// statically, on the manual clock). A model of the task table predicts every result; after each
// step the module's state is checked against it, and at the end of the input every reference
// and every block must be back. Once an input turns the hostile mode on, the host also calls
// back into the plug-in from inside the calls it serves, releases the plug-in mid-call, fails
// the module's allocations, hands over the sibling module's data objects and delivers the
// finish message twice, late or never; a refused or out-of-memory call must change nothing.
#include "harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "config/stat_config.h"
#include "manual_clock.h"
#include "plugin/CDownloadLibPlugin.h"
#include "reference_host.h"
#include "stat/CQuorrin.h"
#include "support/com_ptr.h"
#include "support/host_services.h"
#include "support/module_lock.h"
#include "support/text.h"
#include "tessaron.h"

namespace {

[[noreturn]] void broken(const char* what, long long step) {
    std::fprintf(stderr, "quorrin fuzz: %s (step %lld)\n", what, step);
    std::fflush(stderr);
    std::abort();
}

// Reads the input front to back; past its end every read gives zeros.
class byte_source {
public:
    byte_source(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool exhausted() const { return m_pos >= m_size; }
    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    bool flag() { return (byte() & 1) != 0; }
    // True about once in `in` reads.
    bool rarely(unsigned in) { return byte() % in == 0; }
    std::uint32_t u32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(byte()) << (8 * i);
        return v;
    }
    std::uint64_t u64() { return u32() | (static_cast<std::uint64_t>(u32()) << 32); }
    template <class T, std::size_t N>
    T pick(const T (&options)[N]) {
        return options[byte() % N];
    }
    std::string text(std::size_t length) {
        std::string s;
        while (s.size() < length && !exhausted()) s += static_cast<char>(byte());
        return s;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// A data object that the host hands over: one of its own, or one made by the sibling module.
class given_data {
public:
    given_data() = default;
    explicit given_data(refhost::host_ref<refhost::data_object> own) : m_own(std::move(own)) {}
    explicit given_data(IHostData* sibling) : m_sibling(sibling) {}
    given_data(given_data&& other) noexcept : m_own(std::move(other.m_own)), m_sibling(std::exchange(other.m_sibling, nullptr)) {}
    given_data& operator=(given_data&&) = delete;
    ~given_data() {
        if (m_sibling) m_sibling->Release();
    }
    IHostData* get() const { return m_sibling ? m_sibling : static_cast<IHostData*>(m_own.get()); }

private:
    refhost::host_ref<refhost::data_object> m_own;
    IHostData* m_sibling = nullptr;
};

// The services of the host, in the order of the bits that the input gives for them.
const GUID* const kServices[] = {&SID_StatDataService,  &SID_SettingsService,    &SID_StatReportService,
                                 &SID_AsynEventService, &SID_TransferStatService, &SID_PeerNetworkService,
                                 &SID_PingService,      &SID_SpeedLimitService};
constexpr std::size_t kServiceCount = sizeof kServices / sizeof kServices[0];
enum service_index { stat_data_at, settings_at, report_at, events_at, transfer_at, peer_at, ping_at, speed_limit_at };

const char* const kAddressTexts[] = {"10.0.0.1",        "10.0.0.2",  "192.168.1.20", "255.255.255.255", "0.0.0.0",
                                     "1.2.3.4",         "10.0.0.1 ", "999.1.1.1",    "abc",             "",
                                     "012.0x10.1.1",    "10.0.0",    "1.2.3.4.5",    "12345678901234567890"};
const char* const kUrls[] = {"http://o/1", "http://o/2", "", "http://offline.example/a/very/long/path/file.bin"};

struct expected_task {
    std::string cid;
    std::int32_t click_type = 0;
    std::uint32_t start_tick = 0;
    std::uint32_t last_tick = 0;
    std::uint64_t last_bytes = 0;
    quorrin::cdn_ip_set addresses;
};

// Which services the start-up sequence kept, as the host's set-up predicts it.
struct kept_services {
    bool events = false;
    bool report = false;
    bool transfer = false;
    bool peer = false;
    bool ping = false;
};

// The UnregisterTask in progress, as its SendAsynMessage hook sees it.
struct pending_finish {
    bool active = false;
    std::int32_t task_id = 0;
    bool matches = false;  // the model holds the task under that cid
    std::uintptr_t message = 0;  // what SendAsynMessage was given
    bool delivered_early = false;  // by a call from inside SendAsynMessage, before the host's own
    HRESULT early_result = S_OK;
    bool consumed = false;  // delivered once, early or by the host: no later delivery is served
};

class fuzz_session final : public refhost::call_hook {
public:
    explicit fuzz_session(byte_source& in) : m_in(in) {}
    fuzz_session(const fuzz_session&) = delete;
    fuzz_session& operator=(const fuzz_session&) = delete;

    void run() {
        set_up_host();
        start();
        while (!m_in.exhausted() && m_step < kMaxSteps) {
            ++m_step;
            act();
            if (m_gone) start_after_release();
            check_state();
        }
        fuzz_fail_allocations(0, 0);
        stop();
        check_released("after Uninitialize");
        m_host->log.hook = nullptr;
    }

private:
    static constexpr long long kMaxSteps = 400;
    static constexpr int kMaxNesting = 2;

    // ---- calls into the module -------------------------------------------------------------

    // Runs a call into the module as the host makes it: the module's code runs (its allocations
    // are the pool's), and an engine call holds the module's one-call-at-a-time guard.
    template <class F>
    HRESULT call_module(bool engine, F&& call) {
        const bool was_in_module = fuzz_in_module(true);
        if (engine) ++m_engine_depth;
        const HRESULT hr = call();
        if (engine) --m_engine_depth;
        fuzz_in_module(was_in_module);
        return hr;
    }

    void enter(const char* call) override {
        m_context.push_back(fuzz_in_module(false));
        if (std::strcmp(call, "events.SendAsynMessage") == 0) ++m_sending;
        m_calls.push_back(call);
        if (m_hostile && m_engine_depth > 0 && m_nesting < kMaxNesting && !m_in.exhausted()) reenter(call);
    }
    void leave(const char* call) override {
        if (std::strcmp(call, "events.SendAsynMessage") == 0) --m_sending;
        m_calls.pop_back();
        fuzz_in_module(m_context.back());
        m_context.pop_back();
    }
    void calls_module(bool starts) override {
        // SendAsynMessage's own delivery of the finish message takes it, early or not.
        if (starts && m_pending.active && !m_calls.empty() && std::strcmp(m_calls.back(), "events.SendAsynMessage") == 0) {
            m_pending.consumed = true;
        }
        if (starts) {
            m_context.push_back(fuzz_in_module(true));
        } else {
            fuzz_in_module(m_context.back());
            m_context.pop_back();
        }
    }

    // The observable state: every record, the address counts, what the ping service was last
    // told, the timers, the reports and the kept services.
    std::string snapshot() const {
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
        if (m_stat) {
            for (const auto& [id, r] : m_stat->tasks()) {
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
            for (const auto& [address, count] : m_stat->cdn_ip_refs()) s += std::to_string(address) + "x" + std::to_string(count) + " ";
        }
        s += "\ntold";
        for (const std::uint32_t a : m_host->ping().told()) s += " " + std::to_string(a);
        // Timers that a message 0 of the harness started are its own doing.
        s += "\ntimers " + std::to_string(m_host->events().timers().size() - m_extra_timers) + " queued " +
             std::to_string(m_host->events().queued()) + " reports " + std::to_string(m_host->reports().reports().size()) +
             " registered " + std::to_string(m_host->services().registered_count()) + " provider " +
             (quorrin::GetHostServiceProvider() ? "kept" : "none");
        return s;
    }

    void expect_unchanged(const std::string& before, const char* what) const {
        if (snapshot() == before) return;
        std::fprintf(stderr, "quorrin fuzz: before:\n%s\nafter:\n%s\n", before.c_str(), snapshot().c_str());
        broken(what, m_step);
    }
    // Whether the module failed an allocation since `before` (a fuzz_failed_allocations value).
    static bool failed_since(long long before) { return fuzz_failed_allocations() != before; }
    // An E_OUTOFMEMORY result is sound only when an allocation failed and nothing changed.
    bool out_of_memory(HRESULT hr, long long failed_before, const std::string& before, const char* what) const {
        if (hr != E_OUTOFMEMORY) return false;
        expect(failed_since(failed_before), "E_OUTOFMEMORY without a failed allocation");
        expect_unchanged(before, what);
        return true;
    }

    void expect(bool condition, const char* what) const {
        if (!condition) broken(what, m_step);
    }

    // ---- calls from inside the host's calls -------------------------------------------------

    // At about one host call in four the input makes one call into the plug-in from inside it.
    // While an engine call is in progress, every other engine call is refused and changes nothing;
    // message 0 and the finish message that the waiting UnregisterTask sent are let through.
    void reenter(const char* call) {
        if (m_in.byte() % 4 != 0) return;
        const std::uint8_t kind = m_in.byte();
        ++m_nesting;
        if (m_gone) {
            // The deferred shut-down: the statistics object is still registered, so still alive.
            if (m_q && std::strcmp(call, "provider.UnregisterObject") == 0) {
                const HRESULT hr = call_module(false, [&] { return m_q->UpdateTask(task_id(), 0); });
                expect(hr == RPC_E_CALL_REJECTED, "a call from inside the deferred shut-down was served");
            }
        } else if (!m_q) {
            // Inside Initialize: only the plug-in object is known yet.
            const HRESULT hr = call_module(false, [&] { return kind % 2 ? m_plugin->Uninitialize() : m_plugin->Initialize(m_host->provider()); });
            expect(hr == RPC_E_CALL_REJECTED, "Initialize or Uninitialize from inside Initialize");
        } else {
            nested_call(call, kind);
        }
        --m_nesting;
    }

    void nested_call(const char* call, std::uint8_t kind) {
        const std::string before = snapshot();
        const auto refused = [&](HRESULT hr, const char* what) {
            expect(hr == RPC_E_CALL_REJECTED, what);
            expect_unchanged(before, what);
        };
        switch (kind % 14) {
            case 0: {
                const std::string cid(20, 'N');
                std::int32_t interval = -7;
                const HRESULT hr = call_module(false, [&] {
                    return m_q->RegisterTask(task_id(), 1, 0, 20, reinterpret_cast<const std::uint8_t*>(cid.data()), 1, 0,
                                             nullptr, 0, 0, nullptr, &interval, nullptr);
                });
                refused(hr, "RegisterTask from inside a host call");
                expect(interval == -7, "a refused RegisterTask wrote the interval");
                break;
            }
            case 1:
                refused(call_module(false, [&] { return m_q->UpdateTask(task_id(), m_in.u32()); }), "UpdateTask from inside a host call");
                break;
            case 2: {
                const std::int32_t id = task_id();
                const auto found = m_tasks.find(id);
                const std::string cid = found == m_tasks.end() ? std::string(20, 'C') : found->second.cid;
                const HRESULT hr = call_module(false, [&] {
                    return m_q->UnregisterTask(id, static_cast<std::uint32_t>(cid.size()),
                                               reinterpret_cast<const std::uint8_t*>(cid.data()), 0, nullptr, 0);
                });
                refused(hr, "UnregisterTask from inside a host call");
                break;
            }
            case 3: {
                const char* url = m_in.pick(kUrls);
                const HRESULT hr = call_module(false, [&] {
                    return m_q->AddOfflineCdnIp(static_cast<std::uint32_t>(std::strlen(url)), url, m_in.u32());
                });
                refused(hr, "AddOfflineCdnIp from inside a host call");
                break;
            }
            case 4:
                refused(call_module(false, [&] { return static_cast<IAsynTimerEvents*>(m_stat)->OnTimer(0); }),
                        "OnTimer from inside a host call");
                break;
            case 5:
                // StopTimers and UnadviseMessages come only from the statistics object's close.
                start_timer_message(before, std::strcmp(call, "events.StopTimers") == 0 ||
                                                std::strcmp(call, "events.UnadviseMessages") == 0);
                break;
            case 6:
                finish_message_from(before);
                break;
            case 7:
                refused(call_module(false, [&] { return sink()->OnMessage(2 + m_in.byte(), 0, 0); }),
                        "another message from inside a host call");
                break;
            case 8:
                refused(call_module(false, [&] { return sink()->OnMessageEvent(1, 2, 3); }), "OnMessageEvent from inside a host call");
                break;
            case 9:
                refused(call_module(false, [&] { return m_plugin->Uninitialize(); }), "Uninitialize from inside a host call");
                break;
            case 10:
                refused(call_module(false, [&] { return m_plugin->Initialize(m_host->provider()); }),
                        "Initialize from inside a host call");
                break;
            case 11: {
                // Not engine calls: served at any time, and they change nothing.
                quorrin::com_ptr<IAsynTimerEvents> timer_sink;
                expect(m_q->QueryInterface(IID_IAsynTimerEvents, timer_sink.put_void()) == S_OK, "QueryInterface mid-call");
                timer_sink.reset();
                expect_unchanged(before, "QueryInterface and Release mid-call");
                break;
            }
            default:
                // The host lets the plug-in go from inside a call: the object goes at once, its
                // shut-down when the outermost call returns.
                if (!m_in.rarely(3) || m_plugin_call) break;
                m_gone = true;
                call_module(false, [&] { m_plugin.reset(); return S_OK; });
                expect_unchanged(before, "the plug-in's shut-down ran inside a call");
                break;
        }
    }

    IAsynMessageEvents* sink() const { return static_cast<IAsynMessageEvents*>(m_stat); }

    // Message 0 is always served: it starts the sweep timer and returns what StartTimer did; once
    // the statistics object is closing, it starts nothing and answers E_UNEXPECTED.
    void start_timer_message(const std::string& before, bool closing = false) {
        const std::size_t timers = m_host->events().timers().size();
        const std::uint32_t extra_before = m_extra_timers;
        const HRESULT hr = call_module(false, [&] { return sink()->OnMessage(0, 0, 0); });
        if (!m_kept.events || closing) {
            expect(hr == E_UNEXPECTED, "message 0 without the event service");
            expect_unchanged(before, "message 0 without the event service");
            return;
        }
        const bool started = !m_host->events().start_timer_fails;
        expect(hr == (started ? S_OK : E_FAIL), "message 0's result");
        // (StartTimer is a host call too: from inside it, another message 0 may start a timer.)
        const std::size_t nested = m_extra_timers - extra_before;
        expect(m_host->events().timers().size() == timers + nested + (started ? 1 : 0), "message 0 started no timer");
        if (started) ++m_extra_timers;
    }

    // Message 1 runs the finish only for the message that the waiting UnregisterTask sent, once,
    // and before its SendAsynMessage has delivered it; any other gets E_FAIL and changes nothing.
    void finish_message_from(const std::string& before) {
        // Anywhere inside SendAsynMessage (also from a host call nested in it) until one delivery.
        const bool sending = m_pending.active && !m_pending.consumed && m_sending > 0;
        if (sending) m_pending.message = m_host->events().last_sent().param;
        std::uintptr_t param = 0;
        switch (m_in.byte() % 4) {
            case 0: param = m_host->events().last_sent().param; break;
            case 1: param = 0; break;
            case 2: param = m_in.u32(); break;
            default: param = m_pending.message; break;
        }
        const bool served = sending && param == m_pending.message && param != 0;
        if (!served) {
            const HRESULT hr = call_module(false, [&] { return sink()->OnMessage(1, param, 0); });
            expect(hr == E_FAIL, "a finish message that no UnregisterTask waits for");
            expect_unchanged(before, "a finish message that no UnregisterTask waits for");
            return;
        }
        const std::size_t reports_before = m_host->reports().reports().size();
        const long long failed_before = fuzz_failed_allocations();
        m_pending.consumed = true;
        const HRESULT hr = call_module(false, [&] { return sink()->OnMessage(1, param, 0); });
        m_pending.delivered_early = true;
        m_pending.early_result = hr;
        finished(hr, failed_before, before, reports_before);
    }

    // ---- host set-up -----------------------------------------------------------------------

    void set_up_host() {
        static const std::uint32_t start_ticks[] = {1000000u, 0xFFFFFFFFu - 20000u, 0xFFFFFFFFu - 999u, 0u};
        const std::uint8_t t = m_in.byte();
        manual_clock::set_tick(t < 200 ? start_ticks[t % 4] : m_in.u32());
        manual_clock::set_wall(1700000000u + m_in.byte());

        refhost::host_options options;
        const std::uint8_t presence = m_in.byte();
        for (std::size_t i = 0; i < kServiceCount; ++i) m_present[i] = (presence & 0x80) || (presence & (1u << i)) == 0;
        options.stat_data = m_present[stat_data_at];
        options.settings = m_present[settings_at];
        options.stat_report = m_present[report_at];
        options.asyn_event = m_present[events_at];
        options.transfer_stat = m_present[transfer_at];
        options.peer_network = m_present[peer_at];
        options.ping = m_present[ping_at];
        options.speed_limit = m_present[speed_limit_at];
        m_host = std::make_unique<refhost::reference_host>(options);
        m_host->log.enabled = false;
        m_host->log.on_violation = [this](const std::string& what) {
            std::fprintf(stderr, "quorrin fuzz: host saw %s\n", what.c_str());
            broken("a call broke the host contract", m_step);
        };
        refhost::ledger::instance().clear_errors();
        configure();
        choose_failing_services();
    }

    void configure() {
        static const std::int32_t intervals[] = {0, 999, 1000, 3000, static_cast<std::int32_t>(0x80000000u), -1};
        static const std::int32_t overdues[] = {0, 10000, 10001, 30000, 60000, -1};
        static const std::int32_t counts[] = {0, 5, 6, 14, 40, 1};
        static const std::int32_t durations[] = {0, 1, 999, 1000, 15000, -1};
        refhost::value_table& values = m_host->stat_values();
        config_value(values, "Quorrin", "sample_interval", intervals);
        config_value(values, "Quorrin", "overdue", overdues);
        config_value(values, "Quorrin", "low_count", counts);
        config_value(values, "Quorrin", "high_count", counts);
        config_value(values, "Quorrin", "dt_duration", durations);
        static const std::int32_t bandwidths[] = {0, 1, 100000, -1, 0x7FFFFFFF, 2};
        config_value(values, "net_detect", "bandwidth", bandwidths);
        static const std::int32_t task_counts[] = {0, 1, 3, -1, 65536, 2};
        config_value(m_host->setting_ints(), "env", "user_task_count", task_counts);
        static const std::int32_t bools[] = {0, 1, 2, -1, 1, 0};
        config_value(m_host->setting_bools(), "debug", "show_peer_id", bools);
        config_value(m_host->setting_bools(), "debug", "ignore_user_set_speed", bools);
        // A configuration service that writes and then fails, or fails outright.
        const std::uint8_t failing = m_in.byte();
        if (failing == 0xFE) values.answer("Quorrin", "low_count", E_FAIL);
        if (failing == 0xFF) values.fail_all(E_FAIL);
        if (failing == 0xFD) m_host->setting_ints().fail_all(E_FAIL);
    }

    template <std::size_t N>
    void config_value(refhost::value_table& table, const char* section, const char* key, const std::int32_t (&options)[N]) {
        const std::uint8_t b = m_in.byte();
        if (b % 8 == 0) {
            table.erase(section, key);
        } else if (b % 8 == 7) {
            table.set(section, key, static_cast<std::int32_t>(m_in.u32()));
        } else {
            table.set(section, key, options[(b / 8) % N]);
        }
    }

    void choose_failing_services() {
        const std::uint8_t failing = m_in.rarely(4) ? m_in.byte() : 0;
        m_failing = failing;
        refhost::service_provider& provider = m_host->services();
        provider.failing_services.clear();
        for (std::size_t i = 0; i < kServiceCount; ++i) {
            if (failing & (1u << i)) provider.failing_services.push_back(*kServices[i]);
        }
        provider.failure_hands_out = m_in.rarely(2);
    }

    // ---- the plug-in's life ----------------------------------------------------------------

    void start() {
        m_host->log.hook = this;
        m_stat = nullptr;
        m_q = nullptr;
        m_extra_timers = 0;
        auto* object = new quorrin::CDownloadLibPlugin();
        expect(object->QueryInterface(IID_IDownloadLibPlugin, m_plugin.put_void()) == S_OK, "plug-in object");
        const long long failed_before = fuzz_failed_allocations();
        HRESULT hr = call_module(true, [&] { return m_plugin->Initialize(m_host->provider()); });
        if (hr == E_OUTOFMEMORY) {
            // A start-up that ran out of memory leaves nothing behind, and the host may try again.
            expect(failed_since(failed_before), "Initialize out of memory without a failed allocation");
            expect(quorrin::GetHostServiceProvider() == nullptr, "provider kept after Initialize out of memory");
            check_released("after Initialize out of memory");
            fuzz_fail_allocations(0, 0);
            hr = call_module(true, [&] { return m_plugin->Initialize(m_host->provider()); });
        }
        expect(hr == S_OK, "Initialize failed");
        m_stat = object->statistics();
        expect(m_stat != nullptr, "no statistics object after Initialize");
        m_q = static_cast<IQuorrin*>(m_host->services().registered(IID_IQuorrin));
        expect(m_q == static_cast<IQuorrin*>(m_stat), "IQuorrin not registered");
        m_tasks.clear();

        const refhost::service_provider& provider = m_host->services();
        const auto kept = [&](service_index i) {
            return m_present[i] && ((m_failing & (1u << i)) == 0 || provider.failure_hands_out);
        };
        m_kept.events = kept(events_at);
        m_kept.report = kept(report_at);
        m_kept.transfer = kept(transfer_at);
        m_kept.peer = kept(peer_at) && !m_host->peer().refuse_interface;
        m_kept.ping = kept(ping_at) && !m_host->ping().refuse_interface;
        expect((quorrin::GetAsynEventService() != nullptr) == m_kept.events, "event service kept or not");
        expect((quorrin::GetStatReportService() != nullptr) == m_kept.report, "report service kept or not");
        expect((quorrin::GetTransferStatService() != nullptr) == m_kept.transfer, "transfer service kept or not");
        expect((quorrin::GetPeerNetworkService() != nullptr) == m_kept.peer, "peer network service kept or not");
        expect((quorrin::GetPingService() != nullptr) == m_kept.ping, "ping service kept or not");

        const quorrin::stat_config* config = quorrin::stat_config::instance();
        m_interval = static_cast<std::int32_t>(config->sample_interval());
        m_overdue = config->overdue();
        m_low_count = config->low_count();
        m_high_count = config->high_count();
        m_dt_duration = config->dt_duration();
        expect(m_stat->sample_interval() == m_interval, "sample interval not taken from the settings");
    }

    void stop() {
        // The host holds its reference for as long as it calls the plug-in object itself.
        m_plugin_call = true;
        expect(call_module(true, [&] { return m_plugin->Uninitialize(); }) == S_OK, "Uninitialize failed");
        m_plugin_call = false;
        m_plugin.reset();
        m_stat = nullptr;
        m_q = nullptr;
        m_tasks.clear();
        expect(quorrin::GetHostServiceProvider() == nullptr, "provider kept after Uninitialize");
        expect(quorrin::module_lock_count() == 0, "module objects alive after the plug-in's release");
        // Open tasks go without telling the ping service; the host resets it for the next session.
        m_host->ping().StopAll();
    }

    void check_released(const char* when) {
        const std::vector<std::string> problems = m_host->problems();
        for (const std::string& problem : problems) std::fprintf(stderr, "quorrin fuzz: %s: %s\n", when, problem.c_str());
        expect(problems.empty(), "the module still holds host objects");
    }

    // A new plug-in session on the same host, possibly with other services and settings.
    void restart() {
        if (m_in.rarely(4)) {
            expect(call_module(true, [&] { return m_plugin->Initialize(m_host->provider()); }) == E_UNEXPECTED,
                   "second Initialize");
        }
        stop();
        check_released("at restart");
        if (m_in.flag()) {
            const std::size_t i = m_in.byte() % kServiceCount;
            m_present[i] = !m_present[i];
            m_host->set_present(*kServices[i], m_present[i]);
        }
        if (m_in.flag()) configure();
        if (m_in.flag()) choose_failing_services();
        if (m_in.rarely(4)) m_host->peer().refuse_interface = !m_host->peer().refuse_interface;
        if (m_in.rarely(4)) m_host->ping().refuse_interface = !m_host->ping().refuse_interface;
        start();
    }

    // ---- actions ---------------------------------------------------------------------------

    // The plug-in object went (released mid-call, or without Uninitialize): its shut-down must
    // have run by the time the call returned. Then a new one starts.
    void start_after_release() {
        m_gone = false;
        m_stat = nullptr;
        m_q = nullptr;
        m_tasks.clear();
        expect(!m_plugin, "the plug-in object outlived its release");
        expect(quorrin::GetHostServiceProvider() == nullptr, "the plug-in's shut-down did not run when its call returned");
        expect(quorrin::module_lock_count() == 0, "module objects alive after the plug-in's release");
        m_host->ping().StopAll();
        check_released("after the plug-in's release");
        start();
    }

    void act() {
        const std::uint8_t action = m_in.byte();
        switch (m_hostile ? action % 24 : action % 16) {
            case 0:
            case 1:
                register_task();
                break;
            case 2:
            case 3:
                update_task();
                break;
            case 4:
            case 5:
                unregister_task();
                break;
            case 6:
                add_offline_cdn_ip();
                break;
            case 7:
                fire_timers();
                break;
            case 8:
                m_host->events().deliver_posted();
                break;
            case 9:
            case 10:
                step_clock();
                break;
            case 11:
            case 12:
                toggle_behaviour();
                break;
            case 13:
                change_host_values();
                break;
            case 14: {
                const std::uint8_t b = m_in.byte();
                if (b % 4 == 0) restart();
                if (b % 16 == 13) m_hostile = true;
                break;
            }
            case 15:
                manual_clock::set_wall(manual_clock::wall() + m_in.u32() % 100000);
                break;
            default:
                hostile_action(action % 24);
                break;
        }
    }

    void hostile_action(int which) {
        using send_mode = refhost::asyn_event_service::send_mode;
        switch (which) {
            case 16:
                // The pool fails one allocation of the module's, or a run of them.
                fuzz_fail_allocations(m_in.byte() % 48, m_in.rarely(3) ? 1 + m_in.byte() % 32 : 1);
                break;
            case 17: {
                static const send_mode modes[] = {send_mode::deliver, send_mode::drop, send_mode::twice, send_mode::deliver};
                m_host->events().sending = m_in.pick(modes);
                break;
            }
            case 18:
                m_sibling_data = !m_sibling_data;
                break;
            case 19:
                direct_message();
                break;
            case 20:
                if (!m_in.rarely(4)) break;
                // The host lets the plug-in go without Uninitialize: the release shuts it down.
                m_gone = true;
                call_module(false, [&] {
                    m_plugin.reset();
                    return S_OK;
                });
                break;
            case 21:
                direct_timer();
                break;
            default:
                fuzz_fail_allocations(0, 0);
                break;
        }
    }

    // A message the host delivers on its own: message 0 starts a timer; message 1 with no
    // UnregisterTask waiting (a late, repeated or made-up one) and any other id get E_FAIL.
    void direct_message() {
        const std::string before = snapshot();
        const std::uint8_t mode = m_in.byte();
        if (mode % 5 == 0) {
            start_timer_message(before);
            return;
        }
        if (mode % 5 == 1) {
            expect(call_module(true, [&] { return sink()->OnMessageEvent(m_in.u32(), 0, 0); }) == S_OK, "OnMessageEvent");
            expect_unchanged(before, "OnMessageEvent");
            return;
        }
        const std::uint32_t id = mode % 5 == 2 ? 2 + m_in.byte() : 1;
        const std::uintptr_t param = m_in.flag() ? m_host->events().last_sent().param : (m_in.flag() ? 0 : m_in.u32());
        expect(call_module(true, [&] { return sink()->OnMessage(id, param, 0); }) == E_FAIL, "a message nobody waits for");
        expect_unchanged(before, "a message nobody waits for");
    }

    // OnTimer called straight away: a sweep, whether or not a timer runs.
    void direct_timer() {
        const std::string before = snapshot();
        const long long failed_before = fuzz_failed_allocations();
        const HRESULT hr = call_module(true, [&] { return static_cast<IAsynTimerEvents*>(m_stat)->OnTimer(7); });
        if (m_gone || out_of_memory(hr, failed_before, before, "OnTimer out of memory")) return;
        expect(hr == S_OK, "OnTimer result");
        const std::uint32_t now = manual_clock::tick();
        for (auto it = m_tasks.begin(); it != m_tasks.end();) {
            it = now - it->second.last_tick > m_overdue ? m_tasks.erase(it) : std::next(it);
        }
    }

    std::int32_t any_id() {
        const std::uint8_t b = m_in.byte();
        if (b < 224) return static_cast<std::int32_t>(b % 8) - 1;
        static const std::int32_t extremes[] = {INT32_MIN, INT32_MAX, -2, 1000};
        return b < 240 ? extremes[b % 4] : static_cast<std::int32_t>(m_in.u32());
    }

    // Mostly a task the model holds, sometimes any id.
    std::int32_t task_id() {
        if (m_tasks.empty() || m_in.rarely(5)) return any_id();
        auto it = m_tasks.begin();
        std::advance(it, m_in.byte() % m_tasks.size());
        return it->first;
    }

    // A byte string of one of the interesting lengths, or null with a length.
    struct id_bytes {
        std::string bytes;
        std::uint32_t length = 0;
        bool null = false;
    };
    id_bytes some_id_bytes() {
        static const std::uint32_t lengths[] = {20, 20, 20, 0, 19, 21, 1, 4096};
        id_bytes id;
        const std::uint8_t mode = m_in.byte();
        id.length = lengths[mode % 8];
        if (mode >= 248) id.length = m_in.u32() % 70000;
        id.bytes = m_in.text(std::min<std::uint32_t>(id.length, 24));
        id.bytes.resize(id.length, static_cast<char>('A' + mode % 26));
        id.null = m_in.rarely(16);
        if (id.null && m_in.flag()) id.length = 0;
        return id;
    }
    static const std::uint8_t* pointer_of(const id_bytes& id) {
        return id.null ? nullptr : reinterpret_cast<const std::uint8_t*>(id.bytes.data());
    }

    std::uint64_t some_bytes(std::uint64_t last) {
        switch (m_in.byte() % 6) {
            case 0:
                return last + m_in.u32() % 5000000;  // forwards
            case 1:
                return last - m_in.u32() % 5000000;  // backwards
            case 2:
                return ~std::uint64_t{0} - m_in.byte();  // at the top, about to wrap
            case 3:
                return last + (~std::uint64_t{0} - m_in.u32());  // wraps past zero
            case 4:
                return 0;
            default:
                return m_in.u64();
        }
    }

    // A data object that the host hands over: none, an empty one, or one with an offline URL.
    // In the hostile mode it may come from the sibling module, whose objects the module shares.
    given_data some_data(bool with_url) {
        const std::uint8_t mode = m_in.byte() % 5;
        if (mode == 0) return {};
        if (m_sibling_data && mode != 4) {
            IHostData* data = nullptr;
            expect(tessaron_create_data(with_url ? "task" : "cdn", &data) == S_OK && data, "sibling data object");
            if (with_url && mode < 3) {
                const char* url = m_in.pick(kUrls);
                data->PutString(11, "offline_url", static_cast<std::uint32_t>(std::strlen(url)), url);
            } else if (!with_url) {
                for (int i = m_in.byte() % 4; i > 0; --i) {
                    const char* key = m_in.pick(kAddressTexts);
                    data->PutInt64(static_cast<std::uint32_t>(std::strlen(key)), key, m_in.u32());
                }
            }
            return given_data(data);
        }
        refhost::host_ref<refhost::data_object> data = m_host->make_data(with_url ? "task" : "cdn");
        if (with_url) {
            if (mode == 1 || mode == 2) data->put_string("offline_url", m_in.pick(kUrls));
            if (mode == 3) data->put_int("offline_url", 7);  // not text
        } else {
            for (int i = m_in.byte() % 4; i > 0; --i) data->put_int(m_in.pick(kAddressTexts), m_in.u32());
        }
        return given_data(std::move(data));
    }

    void register_task() {
        const std::int32_t id = any_id();
        static const std::int32_t click_types[] = {0, 1, 0, 1, 2, -1};
        const std::int32_t click_type = m_in.byte() < 240 ? m_in.pick(click_types) : static_cast<std::int32_t>(m_in.u32());
        const std::int32_t task_type = static_cast<std::int32_t>(m_in.byte()) - 8;
        const id_bytes cid = some_id_bytes();
        const id_bytes gcid = some_id_bytes();
        const std::uint64_t file_size = m_in.u64();
        static const std::uint32_t times[] = {0, 999, 1000, 10500, 0xFFFFFFFFu};
        const std::uint32_t time_before = m_in.byte() < 200 ? m_in.pick(times) : m_in.u32();
        const std::uint64_t bytes_before = some_bytes(0);

        std::vector<cdn_ip_entry> entries;
        cdn_ip_array array{};
        const cdn_ip_array* addresses = nullptr;
        const std::uint8_t mode = m_in.byte() % 8;
        if (mode == 1 || mode == 2) {
            addresses = &array;  // no entries; with or without an entry pointer
            array.entries = mode == 1 ? nullptr : &m_spare_entry;
        } else if (mode == 3) {
            addresses = &array;
            array.count = 1 + m_in.byte() % 200;  // a count without entries
        } else if (mode >= 4) {
            addresses = &array;
            const std::size_t count = 1 + (mode == 7 ? m_in.byte() + m_in.byte() : m_in.byte() % 6);
            for (std::size_t i = 0; i < count; ++i) entries.push_back(some_entry());
            array.count = static_cast<std::uint32_t>(entries.size());
            array.entries = entries.data();
        }
        given_data data = some_data(true);
        const bool no_interval = m_in.rarely(24);
        std::int32_t interval = -7;
        const std::string before = m_hostile ? snapshot() : std::string();
        const long long failed_before = fuzz_failed_allocations();

        const HRESULT hr = call_module(true, [&] {
            return m_q->RegisterTask(id, task_type, click_type, cid.length, pointer_of(cid), file_size, gcid.length,
                                     pointer_of(gcid), time_before, bytes_before, addresses,
                                     no_interval ? nullptr : &interval, data.get());
        });
        if (!m_gone && out_of_memory(hr, failed_before, before, "RegisterTask out of memory")) return;

        HRESULT want = S_OK;
        bool writes_interval = true;
        if (m_interval < 1000) {
            want = E_FAIL;
            writes_interval = false;
        } else if (no_interval) {
            want = E_POINTER;
            writes_interval = false;
        } else if (click_type == 1 && (!addresses || addresses->count == 0)) {
            want = E_FAIL;
        } else if (m_tasks.count(id)) {
            want = E_FAIL;
        } else if ((cid.null && cid.length) || (gcid.null && gcid.length) ||
                   (addresses && addresses->count && !addresses->entries)) {
            want = E_POINTER;  // refused only where the call would read through the pointer
        }
        if (hr == E_OUTOFMEMORY && failed_since(failed_before)) return;  // the plug-in went meanwhile
        expect(hr == want, "RegisterTask result");
        if (!no_interval) expect(interval == (writes_interval ? m_interval : -7), "RegisterTask interval out");
        if (hr != S_OK || m_gone) return;

        expected_task task;
        task.cid = cid.length ? cid.bytes.substr(0, cid.length) : std::string();
        task.click_type = click_type;
        task.start_tick = task.last_tick = manual_clock::tick();
        task.last_bytes = bytes_before;
        for (const cdn_ip_entry& e : entries) {
            const std::uint32_t used = e.length < sizeof e.chars ? e.length : sizeof e.chars;
            task.addresses.insert(quorrin::parse_ipv4_chars(e.chars, used));
        }
        m_tasks[id] = task;
    }

    cdn_ip_entry some_entry() {
        cdn_ip_entry entry{};
        std::memset(entry.chars, m_in.flag() ? '7' : 0, sizeof entry.chars);
        std::string text = m_in.rarely(6) ? m_in.text(m_in.byte() % 21) : m_in.pick(kAddressTexts);
        std::memcpy(entry.chars, text.data(), std::min(text.size(), sizeof entry.chars));
        const std::uint8_t length = m_in.byte();
        if (length < 200) {
            entry.length = static_cast<std::uint32_t>(text.size());
        } else {
            static const std::uint32_t odd[] = {0, 20, 21, 0xFFFFFFFFu, 19, 26};
            entry.length = length < 250 ? odd[length % 6] : m_in.u32();
        }
        entry.unused = static_cast<std::uint16_t>(m_in.byte());
        return entry;
    }

    void update_task() {
        const std::int32_t id = task_id();
        const auto found = m_tasks.find(id);
        const std::uint64_t bytes = some_bytes(found == m_tasks.end() ? 0 : found->second.last_bytes);
        const std::string before = m_hostile ? snapshot() : std::string();
        const long long failed_before = fuzz_failed_allocations();
        const HRESULT hr = call_module(true, [&] { return m_q->UpdateTask(id, bytes); });
        if (!m_gone && out_of_memory(hr, failed_before, before, "UpdateTask out of memory")) return;
        if (hr == E_OUTOFMEMORY && failed_since(failed_before)) return;
        expect(hr == (found == m_tasks.end() ? E_FAIL : S_OK), "UpdateTask result");
        if (found == m_tasks.end() || m_gone) return;
        found->second.last_tick = manual_clock::tick();
        found->second.last_bytes = bytes;
    }

    void unregister_task() {
        const std::int32_t id = task_id();
        const auto found = m_tasks.find(id);
        std::string cid = found == m_tasks.end() ? std::string(20, 'C') : found->second.cid;
        bool null_cid = false;
        switch (m_in.byte() % 8) {
            case 0:
                if (!cid.empty()) cid[m_in.byte() % cid.size()] ^= static_cast<char>(1 + m_in.byte() % 255);
                break;
            case 1:
                cid += static_cast<char>(m_in.byte());
                break;
            case 2:
                if (!cid.empty()) cid.pop_back();
                break;
            case 3:
                null_cid = true;
                break;
            default:
                break;  // the right cid
        }
        given_data figures = some_data(false);
        const std::uint64_t downloaded = some_bytes(found == m_tasks.end() ? 0 : found->second.last_bytes);
        const auto reason = static_cast<std::int32_t>(m_in.u32());
        const std::size_t reports_before = m_host->reports().reports().size();
        const bool null_with_length = null_cid && !cid.empty();
        const std::string before = m_hostile ? snapshot() : std::string();
        const long long failed_before = fuzz_failed_allocations();
        m_pending = pending_finish{};
        m_pending.active = !null_with_length;
        m_pending.task_id = id;
        m_pending.matches = found != m_tasks.end() && found->second.cid == cid;

        const HRESULT hr = call_module(true, [&] {
            return m_q->UnregisterTask(id, static_cast<std::uint32_t>(cid.size()),
                                       null_cid ? nullptr : reinterpret_cast<const std::uint8_t*>(cid.data()), downloaded,
                                       figures.get(), reason);
        });
        const pending_finish pending = m_pending;
        m_pending.active = false;

        const refhost::asyn_event_service& events = m_host->events();
        using send_mode = refhost::asyn_event_service::send_mode;
        if (null_with_length) {
            expect(hr == E_POINTER, "UnregisterTask with a null cid");
            if (m_hostile && !m_gone) expect_unchanged(before, "UnregisterTask with a null cid");
        } else if (pending.delivered_early) {
            // Finished (or not) by the call from inside SendAsynMessage; the host's own delivery
            // afterwards, if any, is refused.
            const bool host_result = hr == (events.sending == send_mode::drop && !events.send_fails ? S_OK : E_FAIL);
            expect(hr == pending.early_result || host_result, "UnregisterTask result after an early delivery");
        } else if (m_kept.events && (events.send_fails || events.sending == send_mode::drop)) {
            // Nothing delivered the message: the task is not finished.
            expect(hr == E_FAIL || (hr == E_OUTOFMEMORY && failed_since(failed_before)), "UnregisterTask without delivery");
            expect(m_host->reports().reports().size() == reports_before, "a report for a task that did not finish");
            if (m_hostile && !m_gone) expect_unchanged(before, "UnregisterTask without delivery");
        } else {
            finished(hr, failed_before, before, reports_before);
            if (m_kept.events && events.sending == send_mode::twice && hr != E_OUTOFMEMORY) {
                expect(events.second_result() == E_FAIL, "a second delivery of the finish message was served");
            }
        }
    }

    // The finish of the task that m_pending names, delivered now with result hr.
    void finished(HRESULT hr, long long failed_before, const std::string& before, std::size_t reports_before) {
        const auto found = m_tasks.find(m_pending.task_id);
        if (hr == E_OUTOFMEMORY) {
            expect(failed_since(failed_before), "E_OUTOFMEMORY without a failed allocation");
            if (m_gone) return;
            // Either nothing changed, or the task finished all the same with its report lost.
            if (m_stat->tasks().count(m_pending.task_id) != 0 || !m_pending.matches) {
                if (m_hostile) expect_unchanged(before, "an UnregisterTask out of memory");
                expect(m_host->reports().reports().size() == reports_before, "a report from a finish out of memory");
            } else {
                m_tasks.erase(found);
            }
            return;
        }
        if (!m_pending.matches) {
            expect(hr == E_FAIL, "UnregisterTask result");
            expect(m_host->reports().reports().size() == reports_before, "a report for a task that did not finish");
            if (m_hostile && !m_gone) expect_unchanged(before, "an UnregisterTask that finished nothing");
            return;
        }
        expect(hr == S_OK, "UnregisterTask result");
        const std::uint32_t seconds = (manual_clock::tick() - found->second.start_tick) / 1000;
        const bool reported = static_cast<std::uint32_t>(seconds * 1000u) > m_dt_duration && m_kept.report &&
                              !m_host->reports().submit_fails;
        m_tasks.erase(found);
        expect(m_host->reports().reports().size() == reports_before + (reported ? 1 : 0), "finished task's report");
        if (reported) {
            const refhost::report_service::report& report = m_host->reports().reports().back();
            expect(report.name == "Quorrin", "report name");
            expect(report.null_object == m_host->data.behaviour.create_fails, "report object made or not");
            if (!report.null_object && !m_host->data.behaviour.puts_fail) {
                expect(report.tree.name == "Quorrin", "report object's name");
                expect(report.tree.child("low_speed_point_list") && report.tree.child("high_speed_point_list"),
                       "report's point lists");
            }
        }
    }

    void add_offline_cdn_ip() {
        std::string url = m_in.rarely(5) ? m_in.text(m_in.byte() % 64) : std::string(m_in.pick(kUrls));
        const bool null_url = m_in.rarely(12);
        const std::uint32_t length = null_url && m_in.flag() ? 0 : static_cast<std::uint32_t>(url.size());
        const std::uint32_t address = m_in.flag() ? quorrin::parse_ipv4(m_in.pick(kAddressTexts)) : m_in.u32();

        const std::string before = m_hostile ? snapshot() : std::string();
        const long long failed_before = fuzz_failed_allocations();
        const HRESULT hr = call_module(true, [&] { return m_q->AddOfflineCdnIp(length, null_url ? nullptr : url.data(), address); });
        if (!m_gone && out_of_memory(hr, failed_before, before, "AddOfflineCdnIp out of memory")) return;
        if (hr == E_OUTOFMEMORY && failed_since(failed_before)) return;

        if (null_url && length) {
            expect(hr == E_POINTER, "AddOfflineCdnIp with a null URL");
            return;
        }
        expect(hr == S_OK, "AddOfflineCdnIp result");
        if (m_gone) return;
        const std::string wanted = url.substr(0, length);
        for (auto& [id, task] : m_tasks) {
            const quorrin::task_record* record = m_stat->tasks().count(id) ? m_stat->tasks().at(id).get() : nullptr;
            if (!record || task.click_type != 0 || !task.addresses.empty() || record->offline_url != wanted) continue;
            task.addresses.insert(address);
            break;
        }
    }

    void fire_timers() {
        const bool running = !m_host->events().timers().empty();
        const std::string before = m_hostile ? snapshot() : std::string();
        const long long failed_before = fuzz_failed_allocations();
        ++m_engine_depth;
        m_host->events().fire_timers();
        --m_engine_depth;
        if (!running || m_gone) return;
        // OnTimer's result goes to the host alone: a sweep out of memory must have changed nothing.
        if (failed_since(failed_before) && snapshot() == before) return;
        const std::uint32_t now = manual_clock::tick();
        for (auto it = m_tasks.begin(); it != m_tasks.end();) {
            it = now - it->second.last_tick > m_overdue ? m_tasks.erase(it) : std::next(it);
        }
    }

    void step_clock() {
        const std::uint8_t mode = m_in.byte();
        switch (mode % 7) {
            case 0:
                manual_clock::advance(m_in.byte() * 10u);
                break;
            case 1:
                manual_clock::advance(1000u * (m_in.byte() % 40));
                break;
            case 2:
                manual_clock::advance(15000);
                break;
            case 3:
                manual_clock::advance(m_overdue + (m_in.flag() ? 1 : 0));
                break;
            case 4:
                manual_clock::set_tick(0xFFFFFFFFu - m_in.byte() * 100u);  // just before the wrap
                break;
            case 5:
                manual_clock::advance(m_in.u32());
                break;
            default:
                manual_clock::advance(1);
                break;
        }
    }

    void toggle_behaviour() {
        const bool on = m_in.flag();
        refhost::data_behaviour& data = m_host->data.behaviour;
        switch (m_in.byte() % 24) {
            case 0: data.create_fails = on; break;
            case 1: data.puts_fail = on; break;
            case 2: data.gets_fail = on; break;
            case 3: data.get_int64_silent = on; break;
            case 4: {
                static const refhost::data_behaviour::get_string_mode modes[] = {
                    refhost::data_behaviour::get_string_mode::once, refhost::data_behaviour::get_string_mode::never,
                    refhost::data_behaviour::get_string_mode::twice,
                    refhost::data_behaviour::get_string_mode::once_then_fail};
                data.get_string = m_in.pick(modes);
                break;
            }
            case 5: m_host->ping().fails = on; break;
            case 6: m_host->events().send_fails = on; break;
            case 7: m_host->events().start_timer_fails = on; break;
            case 8: m_host->events().advise_fails = on; break;
            case 9: m_host->events().post_fails = on; break;
            case 10: m_host->transfer().speed_fails = on; break;
            case 11: m_host->transfer().totals_fail = on; break;
            case 12: m_host->transfer().writes_pair = on; break;
            case 13: m_host->transfer().has_total = on; break;
            case 14: {
                static const refhost::transfer_stat_service::totals_mode modes[] = {
                    refhost::transfer_stat_service::totals_mode::fill, refhost::transfer_stat_service::totals_mode::replace,
                    refhost::transfer_stat_service::totals_mode::refuse};
                m_host->transfer().totals = m_in.pick(modes);
                break;
            }
            case 15: m_host->peer().counters_fail = on; break;
            case 16: m_host->peer().peer_id_fails = on; break;
            case 17: m_host->peer().writes_peer_id = on; break;
            case 18: m_host->peer().writes_external_ip = on; break;
            case 19: m_host->reports().submit_fails = on; break;
            case 20: m_host->speed_limit().writes_limit = on; break;
            case 21:
                m_present[speed_limit_at] = on;
                m_host->set_present(SID_SpeedLimitService, on);
                break;
            case 22: m_host->stat_values().fail_all(on ? E_FAIL : S_OK); break;
            default: m_host->setting_ints().fail_all(on ? E_FAIL : S_OK); break;
        }
    }

    void change_host_values() {
        switch (m_in.byte() % 7) {
            case 0: {
                std::uint64_t& counter = m_host->peer().counters[m_in.byte() % 4];
                counter = some_bytes(counter);  // also backwards
                break;
            }
            case 1:
                m_host->transfer().total_download_bytes = some_bytes(m_host->transfer().total_download_bytes);
                break;
            case 2:
                m_host->transfer().download_speed = m_in.u32();
                m_host->transfer().upload_speed = m_in.u32();
                break;
            case 3: {
                // A ping time for a watched address (or another one): -1, 0 or any value.
                const std::set<std::uint32_t>& watched = m_host->ping().told();
                std::uint32_t address = quorrin::parse_ipv4(m_in.pick(kAddressTexts));
                if (!watched.empty() && m_in.flag()) {
                    auto it = watched.begin();
                    std::advance(it, m_in.byte() % watched.size());
                    address = *it;
                }
                static const std::int32_t pings[] = {-1, 0, 1, 250, INT32_MAX};
                m_host->ping().pings[address] = m_in.byte() < 200 ? m_in.pick(pings) : static_cast<std::int32_t>(m_in.u32());
                break;
            }
            case 4:
                m_host->speed_limit().limit = m_in.u32();
                break;
            case 5:
                m_host->peer().external_ip = m_in.u32();
                break;
            default:
                m_host->peer().peer_id = m_in.text(m_in.byte() % 48);
                break;
        }
    }

    // ---- invariants ------------------------------------------------------------------------

    void check_state() {
        const quorrin::CQuorrin::task_table& table = m_stat->tasks();
        expect(table.size() == m_tasks.size(), "task table holds other tasks than registered and not yet finished");
        std::map<std::uint32_t, std::uint32_t> held;
        auto want = m_tasks.begin();
        for (const auto& [id, record] : table) {
            expect(want != m_tasks.end() && want->first == id, "task table ids");
            expect(record != nullptr, "an entry without a record");
            const expected_task& task = want->second;
            expect(record->cid == task.cid, "record's cid");
            expect(record->click_type == task.click_type, "record's click type");
            expect(record->cdn_ip_list == task.addresses, "record's CDN addresses");
            expect(record->start_tick == task.start_tick && record->last_tick == task.last_tick, "record's ticks");
            expect(record->low_speed_point_list.size() <= m_low_count, "low list above its capacity");
            expect(record->high_speed_point_list.size() <= m_high_count, "high list above its capacity");
            expect(!record->low_speed_point_list.empty() && !record->high_speed_point_list.empty(),
                   "a record lost its click point");
            for (const std::uint32_t address : record->cdn_ip_list) ++held[address];
            ++want;
        }
        const quorrin::CQuorrin::address_counts& counts = m_stat->cdn_ip_refs();
        if (!m_kept.ping) {
            expect(counts.empty(), "addresses counted without a ping service");
            return;
        }
        expect(counts.size() == held.size(), "counted addresses differ from those the records hold");
        for (const auto& [address, count] : counts) {
            const auto h = held.find(address);
            expect(h != held.end() && h->second == count, "an address counted other than the records hold it");
        }
        const std::set<std::uint32_t>& told = m_host->ping().told();
        expect(told.size() == counts.size(), "the ping service was told another set than the watched one");
        for (const auto& entry : counts) expect(told.count(entry.first) == 1, "a watched address not told to the ping service");
        expect(m_host->events().timers().size() <= 1 + m_extra_timers, "more timers than message 0 started");
    }

    byte_source& m_in;
    long long m_step = 0;
    bool m_hostile = false;       // calls from inside host calls, failing allocations, ...
    bool m_sibling_data = false;  // task and report data from the sibling module
    bool m_gone = false;          // the plug-in object was released; its session is over
    bool m_plugin_call = false;   // a call on the plug-in object itself is in progress
    int m_engine_depth = 0;       // engine calls in progress, as the module's guard sees them
    int m_nesting = 0;            // calls made from inside host calls, in progress
    std::vector<bool> m_context;  // whether the module's code ran before each host call began
    pending_finish m_pending;
    std::uint32_t m_extra_timers = 0;  // timers that a message 0 of the harness's started
    std::unique_ptr<refhost::reference_host> m_host;
    bool m_present[kServiceCount] = {};
    std::uint32_t m_failing = 0;
    kept_services m_kept;
    quorrin::com_ptr<IDownloadLibPlugin> m_plugin;
    quorrin::CQuorrin* m_stat = nullptr;
    int m_sending = 0;  // depth of SendAsynMessage calls under way
    std::vector<const char*> m_calls;  // the host calls under way, innermost last
    IQuorrin* m_q = nullptr;
    std::map<std::int32_t, expected_task> m_tasks;
    cdn_ip_entry m_spare_entry{};
    std::int32_t m_interval = 0;
    std::uint32_t m_overdue = 0;
    std::uint32_t m_low_count = 0;
    std::uint32_t m_high_count = 0;
    std::uint32_t m_dt_duration = 0;
};

}  // namespace

int quorrin_fuzz_one(const std::uint8_t* data, std::size_t size) {
    // The host's registries are made once and kept: not blocks of this input's.
    refhost::ledger::instance();
    refhost::data_object::own(nullptr);
    fuzz_fail_allocations(0, 0);
    fuzz_in_module(false);
    // The sibling module's registries, likewise: made by its first object.
    IHostData* sibling = nullptr;
    if (tessaron_create_data("warm-up", &sibling) == S_OK && sibling) sibling->Release();
    const std::size_t sibling_before = tessaron_live_objects();
    const long long blocks_before = fuzz_live_blocks();
    {
        byte_source in(data, size);
        fuzz_session session(in);
        session.run();
    }
    if (refhost::ledger::instance().live() != 0) broken("host objects outlived their host", -1);
    if (tessaron_live_objects() != sibling_before) broken("the sibling module's data objects outlived the session", -1);
    if (fuzz_live_blocks() != blocks_before) {
        std::fprintf(stderr, "quorrin fuzz: %lld blocks not given back\n", fuzz_live_blocks() - blocks_before);
        broken("memory not given back", -1);
    }
    return 0;
}
