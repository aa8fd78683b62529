// The fuzzed host. Input bytes choose the host's configuration, which services it gives and how
// they misbehave, then a sequence of calls on the initialised plug-in (the core linked
// statically, on the manual clock). A model of the task table predicts every result; after each
// step the module's state is checked against it, and at the end of the input every reference
// and every block must be back.
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

class fuzz_session {
public:
    explicit fuzz_session(byte_source& in) : m_in(in) {}

    void run() {
        set_up_host();
        start();
        while (!m_in.exhausted() && m_step < kMaxSteps) {
            ++m_step;
            act();
            check_state();
        }
        stop();
        check_released("after Uninitialize");
    }

private:
    static constexpr long long kMaxSteps = 400;

    void expect(bool condition, const char* what) const {
        if (!condition) broken(what, m_step);
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
        auto* object = new quorrin::CDownloadLibPlugin();
        expect(object->QueryInterface(IID_IDownloadLibPlugin, m_plugin.put_void()) == S_OK, "plug-in object");
        expect(m_plugin->Initialize(m_host->provider()) == S_OK, "Initialize failed");
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
        expect(m_plugin->Uninitialize() == S_OK, "Uninitialize failed");
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
        if (m_in.rarely(4)) expect(m_plugin->Initialize(m_host->provider()) == E_UNEXPECTED, "second Initialize");
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

    void act() {
        switch (m_in.byte() % 16) {
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
            case 14:
                if (m_in.rarely(4)) restart();
                break;
            case 15:
                manual_clock::set_wall(manual_clock::wall() + m_in.u32() % 100000);
                break;
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
    refhost::host_ref<refhost::data_object> some_data(bool with_url) {
        const std::uint8_t mode = m_in.byte() % 5;
        if (mode == 0) return {};
        refhost::host_ref<refhost::data_object> data = m_host->make_data(with_url ? "task" : "cdn");
        if (with_url) {
            if (mode == 1 || mode == 2) data->put_string("offline_url", m_in.pick(kUrls));
            if (mode == 3) data->put_int("offline_url", 7);  // not text
        } else {
            for (int i = m_in.byte() % 4; i > 0; --i) data->put_int(m_in.pick(kAddressTexts), m_in.u32());
        }
        return data;
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
        refhost::host_ref<refhost::data_object> data = some_data(true);
        const bool no_interval = m_in.rarely(24);
        std::int32_t interval = -7;

        const HRESULT hr = m_q->RegisterTask(id, task_type, click_type, cid.length, pointer_of(cid), file_size,
                                             gcid.length, pointer_of(gcid), time_before, bytes_before, addresses,
                                             no_interval ? nullptr : &interval, data.get());

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
        expect(hr == want, "RegisterTask result");
        if (!no_interval) expect(interval == (writes_interval ? m_interval : -7), "RegisterTask interval out");
        if (hr != S_OK) return;

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
        const HRESULT hr = m_q->UpdateTask(id, bytes);
        expect(hr == (found == m_tasks.end() ? E_FAIL : S_OK), "UpdateTask result");
        if (found == m_tasks.end()) return;
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
        refhost::host_ref<refhost::data_object> figures = some_data(false);
        const std::uint64_t downloaded = some_bytes(found == m_tasks.end() ? 0 : found->second.last_bytes);
        const auto reason = static_cast<std::int32_t>(m_in.u32());
        const std::size_t reports_before = m_host->reports().reports().size();
        const bool null_with_length = null_cid && !cid.empty();

        const HRESULT hr = m_q->UnregisterTask(id, static_cast<std::uint32_t>(cid.size()),
                                               null_cid ? nullptr : reinterpret_cast<const std::uint8_t*>(cid.data()),
                                               downloaded, figures.get(), reason);

        HRESULT want = S_OK;
        if (null_with_length) {
            want = E_POINTER;
        } else if (m_kept.events && m_host->events().send_fails) {
            want = E_FAIL;
        } else if (found == m_tasks.end() || found->second.cid != cid) {
            want = E_FAIL;
        }
        expect(hr == want, "UnregisterTask result");
        if (hr != S_OK) {
            expect(m_host->reports().reports().size() == reports_before, "a report for a task that did not finish");
            return;
        }
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

        const HRESULT hr = m_q->AddOfflineCdnIp(length, null_url ? nullptr : url.data(), address);

        if (null_url && length) {
            expect(hr == E_POINTER, "AddOfflineCdnIp with a null URL");
            return;
        }
        expect(hr == S_OK, "AddOfflineCdnIp result");
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
        m_host->events().fire_timers();
        if (!running) return;
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
        expect(m_host->events().timers().size() <= 1, "more than one timer");
    }

    byte_source& m_in;
    long long m_step = 0;
    std::unique_ptr<refhost::reference_host> m_host;
    bool m_present[kServiceCount] = {};
    std::uint32_t m_failing = 0;
    kept_services m_kept;
    quorrin::com_ptr<IDownloadLibPlugin> m_plugin;
    quorrin::CQuorrin* m_stat = nullptr;
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
    const long long blocks_before = fuzz_live_blocks();
    {
        byte_source in(data, size);
        fuzz_session session(in);
        session.run();
    }
    if (refhost::ledger::instance().live() != 0) broken("host objects outlived their host", -1);
    if (fuzz_live_blocks() != blocks_before) {
        std::fprintf(stderr, "quorrin fuzz: %lld blocks not given back\n", fuzz_live_blocks() - blocks_before);
        broken("memory not given back", -1);
    }
    return 0;
}
