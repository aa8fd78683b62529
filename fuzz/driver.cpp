// The driver of a fuzz session. Input bytes choose the host's configuration, which services it
// gives and how they misbehave, then a sequence of host calls on the initialised plug-in (the
// core linked statically, on the manual clock). The model predicts every result; after each step
// the module's state is checked against it, and at the end of the input every reference and
// every block must be back. Once an input turns the hostile mode on, the host also fails the
// module's allocations, hands over the sibling module's data objects, delivers the finish
// message twice, late or never, lets the plug-in go without Uninitialize, and calls the plug-in
// from inside the host calls it serves (hostile_host.h).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "call_arguments.h"
#include "harness.h"
#include "host_setting.h"
#include "hostile_host.h"
#include "manual_clock.h"
#include "session.h"
#include "support/host_services.h"
#include "support/module_lock.h"
#include "support/text.h"
#include "tessaron.h"

namespace {

class driver {
public:
    explicit driver(byte_source& in) : m_s(in), m_hooks(m_s) {}
    driver(const driver&) = delete;
    driver& operator=(const driver&) = delete;

    void run() {
        m_setting.set_up(&m_hooks);
        start();
        while (!m_s.in.exhausted() && g_fuzz_step < kMaxSteps) {
            ++g_fuzz_step;
            act();
            if (m_s.gone) {
                after_release();
                start();
            }
            m_s.expected.check(*m_s.stat, *m_s.host);
        }
        fuzz_fail_allocations(0, 0);
        stop();
        check_released("after Uninitialize");
        m_s.host->log.hook = nullptr;
    }

private:
    static constexpr long long kMaxSteps = 400;

    IAsynMessageEvents* sink() const { return m_s.stat; }


    // ---- the plug-in's life ----------------------------------------------------------------

    void start() {
        for (;;) {
            m_s.stat = nullptr;
            m_s.expected.tasks.clear();
            m_s.expected.extra_timers = 0;
            auto* object = new quorrin::CDownloadLibPlugin();
            expect(object->QueryInterface(IID_IDownloadLibPlugin, m_s.plugin.put_void()) == S_OK, "plug-in object");
            m_s.plugin_object = object;
            // The plug-in keeps itself alive to the end of the call, even if the host lets go inside it.
            const before_call at = m_s.before(false);
            HRESULT hr = m_hooks.call_module([&] { return object->Initialize(m_s.host->provider()); });
            if (hr == E_OUTOFMEMORY && !m_s.gone) {
                // A start-up that ran out of memory leaves nothing behind, and the host may try again.
                expect(failed_since(at), "Initialize out of memory without a failed allocation");
                expect(quorrin::GetHostServiceProvider() == nullptr, "provider kept after Initialize out of memory");
                check_released("after Initialize out of memory");
                fuzz_fail_allocations(0, 0);
                m_s.stat = nullptr;
                hr = m_hooks.call_module([&] { return object->Initialize(m_s.host->provider()); });
            }
            if (!m_s.gone) {
                expect(hr == S_OK, "Initialize failed");
                break;
            }
            after_release();
        }
        m_s.stat = m_s.plugin_object->statistics();
        expect(m_s.stat != nullptr, "no statistics object after Initialize");
        expect(m_s.host->services().registered(IID_IQuorrin) == static_cast<IQuorrin*>(m_s.stat), "IQuorrin not registered");

        const kept_services& k = m_s.expected.kept = m_setting.kept();
        expect((quorrin::GetAsynEventService() != nullptr) == k.events, "event service kept or not");
        expect((quorrin::GetStatReportService() != nullptr) == k.report, "report service kept or not");
        expect((quorrin::GetTransferStatService() != nullptr) == k.transfer, "transfer service kept or not");
        expect((quorrin::GetPeerNetworkService() != nullptr) == k.peer, "peer network service kept or not");
        expect((quorrin::GetPingService() != nullptr) == k.ping, "ping service kept or not");

        m_s.expected.take_config();
        expect(m_s.stat->sample_interval() == m_s.expected.interval, "sample interval not taken from the settings");
    }

    void stop() {
        IDownloadLibPlugin* plugin = m_s.plugin.get();
        expect(m_hooks.call_module([&] { return plugin->Uninitialize(); }) == S_OK, "Uninitialize failed");
        m_hooks.call_module([&] {
            m_s.plugin.reset();
            return S_OK;
        });
        m_s.gone = false;
        m_s.stat = nullptr;
        m_s.expected.tasks.clear();
        expect(quorrin::GetHostServiceProvider() == nullptr, "provider kept after Uninitialize");
        expect(quorrin::module_lock_count() == 0, "module objects alive after the plug-in's release");
        // Open tasks go without telling the ping service; the host resets it for the next session.
        m_s.host->ping().StopAll();
    }

    // The host let the plug-in go (from inside a call, or without Uninitialize): its shut-down
    // must have run by the time the outermost call returned.
    void after_release() {
        m_s.gone = false;
        m_s.stat = nullptr;
        m_s.expected.tasks.clear();
        expect(!m_s.plugin, "the plug-in object outlived its release");
        expect(quorrin::GetHostServiceProvider() == nullptr, "the plug-in's shut-down did not run when its call returned");
        expect(quorrin::module_lock_count() == 0, "module objects alive after the plug-in's release");
        m_s.host->ping().StopAll();
        check_released("after the plug-in's release");
    }

    void check_released(const char* when) {
        const std::vector<std::string> problems = m_s.host->problems();
        for (const std::string& problem : problems) std::fprintf(stderr, "quorrin fuzz: %s: %s\n", when, problem.c_str());
        expect(problems.empty(), "the module still holds host objects");
    }

    // A new plug-in session on the same host, possibly with other services and settings.
    void restart() {
        if (m_s.in.rarely(4)) {
            IDownloadLibPlugin* plugin = m_s.plugin.get();
            expect(m_hooks.call_module([&] { return plugin->Initialize(m_s.host->provider()); }) == E_UNEXPECTED,
                   "second Initialize");
        }
        stop();
        check_released("at restart");
        m_setting.change_between_sessions();
        if (m_s.in.rarely(4)) m_s.host->ping().refuse_interface = !m_s.host->ping().refuse_interface;
        start();
    }

    // ---- actions ---------------------------------------------------------------------------

    void act() {
        const std::uint8_t action = m_s.in.byte();
        switch (m_s.hostile ? action % 24 : action % 16) {
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
                m_s.host->events().deliver_posted();
                break;
            case 9:
            case 10:
                m_setting.step_clock();
                break;
            case 11:
            case 12:
                m_setting.toggle_behaviour();
                break;
            case 13:
                m_setting.change_values();
                break;
            case 14: {
                const std::uint8_t b = m_s.in.byte();
                if (b % 4 == 0) restart();
                if (b % 16 == 13 && !m_s.hostile) {
                    m_s.hostile = true;
                    m_hooks.arm();
                }
                break;
            }
            case 15:
                manual_clock::set_wall(manual_clock::wall() + m_s.in.u32() % 100000);
                break;
            default:
                hostile_action(action % 24);
                break;
        }
    }

    void hostile_action(int which) {
        using send_mode = refhost::asyn_event_service::send_mode;
        switch (which) {
            case 16: {
                // The pool fails one allocation of the module's, or a run of them. (Reads in order:
                // arguments would be read in the compiler's order, and the replay must decode alike.)
                const long long after = m_s.in.byte() % 48;
                fuzz_fail_allocations(after, m_s.in.rarely(3) ? 1 + m_s.in.byte() % 32 : 1);
                break;
            }
            case 17: {
                static const send_mode modes[] = {send_mode::deliver, send_mode::drop, send_mode::twice, send_mode::deliver};
                m_s.host->events().sending = m_s.in.pick(modes);
                break;
            }
            case 18:
                m_s.sibling_data = !m_s.sibling_data;
                break;
            case 19:
                direct_message();
                break;
            case 20:
                if (!m_s.in.rarely(4)) break;
                // The host lets the plug-in go without Uninitialize: the release shuts it down.
                m_s.gone = true;
                m_hooks.call_module([&] {
                    m_s.plugin.reset();
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

    // A message that the host delivers on its own: message 0 starts a timer; message 1 with no
    // UnregisterTask waiting (a late, repeated or made-up one) and any other id get E_FAIL.
    void direct_message() {
        const before_call at = m_s.before(true);
        const std::uint8_t mode = m_s.in.byte();
        if (mode % 5 == 0) {
            start_timer_message(at);
            return;
        }
        if (mode % 5 == 1) {
            const std::uint32_t event = m_s.in.u32();
            expect(m_hooks.call_module([&] { return sink()->OnMessageEvent(event, 0, 0); }) == S_OK, "OnMessageEvent");
            m_s.expect_unchanged(at, "OnMessageEvent");
            return;
        }
        const std::uint32_t id = mode % 5 == 2 ? 2 + m_s.in.byte() : 1;
        const std::uintptr_t param = m_s.in.flag() ? m_s.host->events().last_sent().param : (m_s.in.flag() ? 0 : m_s.in.u32());
        expect(m_s.host->events().deliver(sink(), id, param, 0) == E_FAIL, "a message nobody waits for");
        m_s.expect_unchanged(at, "a message nobody waits for");
    }

    // Message 0, delivered by the host's event service: it starts the sweep timer and returns
    // what StartTimer did, and changes nothing else.
    void start_timer_message(const before_call& at) {
        refhost::asyn_event_service& events = m_s.host->events();
        const std::size_t timers = events.timers().size();
        const HRESULT hr = events.deliver(sink(), 0, 0, 0);
        if (m_s.gone) return;
        if (!m_s.expected.kept.events) {
            expect(hr == E_UNEXPECTED, "message 0 without the event service");
            m_s.expect_unchanged(at, "message 0 without the event service");
            return;
        }
        const bool started = !events.start_timer_fails;
        expect(hr == (started ? S_OK : E_FAIL), "message 0's result");
        expect(events.timers().size() == timers + (started ? 1 : 0), "message 0 started other than one timer");
        if (started) ++m_s.expected.extra_timers;
        m_s.expect_unchanged(at, "message 0 changed more than its timer");
    }

    // OnTimer called straight away: a sweep, whether or not a timer runs.
    void direct_timer() {
        const before_call at = m_s.before(true);
        const HRESULT hr = m_hooks.call_module([&] { return static_cast<IAsynTimerEvents*>(m_s.stat)->OnTimer(7); });
        if (m_s.gone || m_s.expected.out_of_memory(hr, at, m_s.reachable(), *m_s.host, "OnTimer out of memory")) return;
        expect(hr == S_OK, "OnTimer result");
        m_s.expected.sweep();
    }


    void register_task() {
        const std::int32_t id = m_s.any_id();
        static const std::int32_t click_types[] = {0, 1, 0, 1, 2, -1};
        const std::int32_t click_type = m_s.in.byte() < 240 ? m_s.in.pick(click_types) : static_cast<std::int32_t>(m_s.in.u32());
        const std::int32_t task_type = static_cast<std::int32_t>(m_s.in.byte()) - 8;
        const id_bytes cid = some_id_bytes(m_s.in);
        const id_bytes gcid = some_id_bytes(m_s.in);
        const std::uint64_t file_size = m_s.in.u64();
        static const std::uint32_t times[] = {0, 999, 1000, 10500, 0xFFFFFFFFu};
        const std::uint32_t time_before = m_s.in.byte() < 200 ? m_s.in.pick(times) : m_s.in.u32();
        const std::uint64_t bytes_before = some_bytes(m_s.in, 0);

        std::vector<cdn_ip_entry> entries;
        cdn_ip_array array{};
        const cdn_ip_array* addresses = nullptr;
        const std::uint8_t mode = m_s.in.byte() % 8;
        if (mode == 1 || mode == 2) {
            addresses = &array;  // no entries; with or without an entry pointer
            array.entries = mode == 1 ? nullptr : &m_spare_entry;
        } else if (mode == 3) {
            addresses = &array;
            array.count = 1 + m_s.in.byte() % 200;  // a count without entries
        } else if (mode >= 4) {
            addresses = &array;
            const std::size_t count = 1 + (mode == 7 ? m_s.in.byte() + m_s.in.byte() : m_s.in.byte() % 6);
            for (std::size_t i = 0; i < count; ++i) entries.push_back(some_entry(m_s.in));
            array.count = static_cast<std::uint32_t>(entries.size());
            array.entries = entries.data();
        }
        given_data data = some_data(m_s, true);
        const bool no_interval = m_s.in.rarely(24);
        std::int32_t interval = -7;
        const before_call at = m_s.before(m_s.hostile);

        const HRESULT hr = m_hooks.call_module([&] {
            return m_s.stat->RegisterTask(id, task_type, click_type, cid.length, cid.pointer(), file_size, gcid.length,
                                     gcid.pointer(), time_before, bytes_before, addresses,
                                     no_interval ? nullptr : &interval, data.get());
        });
        if (!m_s.gone && m_s.expected.out_of_memory(hr, at, m_s.reachable(), *m_s.host, "RegisterTask out of memory")) return;

        HRESULT want = S_OK;
        bool writes_interval = true;
        if (m_s.expected.interval < 1000) {
            want = E_FAIL;
            writes_interval = false;
        } else if (no_interval) {
            want = E_POINTER;
            writes_interval = false;
        } else if (click_type == 1 && (!addresses || addresses->count == 0)) {
            want = E_FAIL;
        } else if (m_s.expected.tasks.count(id)) {
            want = E_FAIL;
        } else if ((cid.null && cid.length) || (gcid.null && gcid.length) ||
                   (addresses && addresses->count && !addresses->entries)) {
            want = E_POINTER;  // refused only where the call would read through the pointer
        }
        if (hr == E_OUTOFMEMORY && failed_since(at)) return;  // the plug-in went meanwhile
        expect(hr == want, "RegisterTask result");
        if (!no_interval) expect(interval == (writes_interval ? m_s.expected.interval : -7), "RegisterTask interval out");
        if (hr != S_OK || m_s.gone) return;

        expected_task task;
        task.cid = cid.length ? cid.bytes.substr(0, cid.length) : std::string();
        task.click_type = click_type;
        task.start_tick = task.last_tick = manual_clock::tick();
        task.last_bytes = bytes_before;
        for (const cdn_ip_entry& e : entries) {
            const std::uint32_t used = e.length < sizeof e.chars ? e.length : sizeof e.chars;
            task.addresses.insert(quorrin::parse_ipv4_chars(e.chars, used));
        }
        m_s.expected.tasks[id] = task;
    }


    void update_task() {
        const std::int32_t id = m_s.task_id();
        const auto found = m_s.expected.tasks.find(id);
        const std::uint64_t bytes = some_bytes(m_s.in, found == m_s.expected.tasks.end() ? 0 : found->second.last_bytes);
        const before_call at = m_s.before(m_s.hostile);
        const HRESULT hr = m_hooks.call_module([&] { return m_s.stat->UpdateTask(id, bytes); });
        if (!m_s.gone && m_s.expected.out_of_memory(hr, at, m_s.reachable(), *m_s.host, "UpdateTask out of memory")) return;
        if (hr == E_OUTOFMEMORY && failed_since(at)) return;
        expect(hr == (found == m_s.expected.tasks.end() ? E_FAIL : S_OK), "UpdateTask result");
        if (found == m_s.expected.tasks.end() || m_s.gone) return;
        found->second.last_tick = manual_clock::tick();
        found->second.last_bytes = bytes;
    }

    void unregister_task() {
        const std::int32_t id = m_s.task_id();
        std::map<std::int32_t, expected_task>& tasks = m_s.expected.tasks;
        const auto found = tasks.find(id);
        std::string cid = found == tasks.end() ? std::string(20, 'C') : found->second.cid;
        bool null_cid = false;
        switch (m_s.in.byte() % 8) {
            case 0:
                if (!cid.empty()) cid[m_s.in.byte() % cid.size()] ^= static_cast<char>(1 + m_s.in.byte() % 255);
                break;
            case 1:
                cid += static_cast<char>(m_s.in.byte());
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
        given_data figures = some_data(m_s, false);
        const std::uint64_t downloaded = some_bytes(m_s.in, found == tasks.end() ? 0 : found->second.last_bytes);
        const auto reason = static_cast<std::int32_t>(m_s.in.u32());
        const bool null_with_length = null_cid && !cid.empty();
        const before_call at = m_s.before(m_s.hostile);
        pending_finish& pending = m_s.expected.pending;
        pending = pending_finish{};
        pending.active = !null_with_length;
        pending.task_id = id;
        pending.matches = found != tasks.end() && found->second.cid == cid;

        const HRESULT hr = m_hooks.call_module([&] {
            return m_s.stat->UnregisterTask(id, static_cast<std::uint32_t>(cid.size()),
                                            null_cid ? nullptr : reinterpret_cast<const std::uint8_t*>(cid.data()), downloaded,
                                            figures.get(), reason);
        });
        pending.active = false;

        const refhost::asyn_event_service& events = m_s.host->events();
        using send_mode = refhost::asyn_event_service::send_mode;
        const bool second_delivery = m_s.expected.kept.events && !events.send_fails && events.sending == send_mode::twice;
        if (null_with_length) {
            expect(hr == E_POINTER, "UnregisterTask with a null cid");
            if (!m_s.gone) m_s.expect_unchanged(at, "UnregisterTask with a null cid");
        } else if (!m_s.expected.kept.events) {
            // No event service: the task finishes inside the call.
            m_s.expected.finished(hr, at, m_s.gone ? nullptr : m_s.reachable(), *m_s.host);
        } else if (pending.served_early) {
            // Finished by the call from inside SendAsynMessage: its result is the call's, whatever
            // SendAsynMessage returned after refusing its own delivery.
            expect(hr == pending.result, "UnregisterTask's result is not its finish's");
            if (second_delivery) expect(events.second_result() == RPC_E_CALL_REJECTED, "a repeated finish message served");
        } else if (pending.served) {
            m_s.expected.finished(hr, at, m_s.gone ? nullptr : m_s.reachable(), *m_s.host);
            if (second_delivery) expect(events.second_result() == RPC_E_CALL_REJECTED, "a repeated finish message served");
        } else {
            // Nothing delivered the message (or it was never sent): the task is not finished.
            expect(hr == E_FAIL || (hr == E_OUTOFMEMORY && failed_since(at)), "UnregisterTask without delivery");
            expect(m_s.host->reports().reports().size() == at.reports, "a report for a task that did not finish");
            if (!m_s.gone) m_s.expect_unchanged(at, "UnregisterTask without delivery");
        }
    }

    void add_offline_cdn_ip() {
        std::string url = m_s.in.rarely(5) ? m_s.in.text(m_s.in.byte() % 64) : std::string(m_s.in.pick(kUrls));
        const bool null_url = m_s.in.rarely(12);
        const std::uint32_t length = null_url && m_s.in.flag() ? 0 : static_cast<std::uint32_t>(url.size());
        const std::uint32_t address = m_s.in.flag() ? quorrin::parse_ipv4(m_s.in.pick(kAddressTexts)) : m_s.in.u32();

        const before_call at = m_s.before(m_s.hostile);
        const HRESULT hr = m_hooks.call_module([&] { return m_s.stat->AddOfflineCdnIp(length, null_url ? nullptr : url.data(), address); });
        if (!m_s.gone && m_s.expected.out_of_memory(hr, at, m_s.reachable(), *m_s.host, "AddOfflineCdnIp out of memory")) return;
        if (hr == E_OUTOFMEMORY && failed_since(at)) return;

        if (null_url && length) {
            expect(hr == E_POINTER, "AddOfflineCdnIp with a null URL");
            return;
        }
        expect(hr == S_OK, "AddOfflineCdnIp result");
        if (m_s.gone) return;
        const std::string wanted = url.substr(0, length);
        for (auto& [id, task] : m_s.expected.tasks) {
            const quorrin::task_record* record = m_s.stat->tasks().at(id);
            if (!record || task.click_type != 0 || !task.addresses.empty() || record->offline_url != wanted) continue;
            task.addresses.insert(address);
            break;
        }
    }

    void fire_timers() {
        const bool running = !m_s.host->events().timers().empty();
        const before_call at = m_s.before(m_s.hostile);
        m_s.host->events().fire_timers();
        if (!running || m_s.gone) return;
        // OnTimer's result goes to the host alone: a sweep out of memory must have changed nothing.
        if (failed_since(at) && m_s.expected.snapshot(m_s.reachable(), *m_s.host) == at.snapshot) return;
        m_s.expected.sweep();
    }

    // ---- state -----------------------------------------------------------------------------

    session m_s;
    hostile_host m_hooks;
    host_setting m_setting{m_s};
    cdn_ip_entry m_spare_entry{};
};

}  // namespace

int quorrin_fuzz_one(const std::uint8_t* data, std::size_t size) {
    // The host's registries are made once and kept: not blocks of this input's.
    refhost::ledger::instance();
    refhost::data_object::own(nullptr);
    fuzz_fail_allocations(0, 0);
    fuzz_in_module(false);
    g_fuzz_step = 0;
    // The sibling module's registries, likewise: made by its first object.
    IHostData* sibling = nullptr;
    if (tessaron_create_data("warm-up", &sibling) == S_OK && sibling) sibling->Release();
    const std::size_t sibling_before = tessaron_live_objects();
    const long long blocks_before = fuzz_live_blocks();
    {
        byte_source in(data, size);
        driver session(in);
        session.run();
    }
    g_fuzz_step = -1;
    if (refhost::ledger::instance().live() != 0) broken("host objects outlived their host");
    if (tessaron_live_objects() != sibling_before) broken("the sibling module's data objects outlived the session");
    if (fuzz_live_blocks() != blocks_before) {
        std::fprintf(stderr, "quorrin fuzz: %lld blocks not given back\n", fuzz_live_blocks() - blocks_before);
        broken("memory not given back");
    }
    return 0;
}
