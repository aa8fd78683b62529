#include "host_setting.h"

#include <cstdio>
#include <iterator>
#include <memory>
#include <set>
#include <string>

#include "call_arguments.h"
#include "manual_clock.h"
#include "support/text.h"

namespace {

// The services of the host, in the order of the bits that the input gives for them.
const GUID* const kServices[] = {&SID_StatDataService,  &SID_SettingsService,    &SID_StatReportService,
                                 &SID_AsynEventService, &SID_TransferStatService, &SID_PeerNetworkService,
                                 &SID_PingService,      &SID_SpeedLimitService};
constexpr std::size_t kServiceCount = sizeof kServices / sizeof kServices[0];
enum service_index { stat_data_at, settings_at, report_at, events_at, transfer_at, peer_at, ping_at, speed_limit_at };

}  // namespace

void host_setting::set_up(refhost::call_hook* hook) {
    static const std::uint32_t start_ticks[] = {1000000u, 0xFFFFFFFFu - 20000u, 0xFFFFFFFFu - 999u, 0u};
    const std::uint8_t t = m_s.in.byte();
    manual_clock::set_tick(t < 200 ? start_ticks[t % 4] : m_s.in.u32());
    manual_clock::set_wall(1700000000u + m_s.in.byte());

    refhost::host_options options;
    const std::uint8_t presence = m_s.in.byte();
    for (std::size_t i = 0; i < kServiceCount; ++i) m_present[i] = (presence & 0x80) || (presence & (1u << i)) == 0;
    options.stat_data = m_present[stat_data_at];
    options.settings = m_present[settings_at];
    options.stat_report = m_present[report_at];
    options.asyn_event = m_present[events_at];
    options.transfer_stat = m_present[transfer_at];
    options.peer_network = m_present[peer_at];
    options.ping = m_present[ping_at];
    options.speed_limit = m_present[speed_limit_at];
    m_s.host = std::make_unique<refhost::reference_host>(options);
    m_s.host->log.hook = hook;
    m_s.host->log.enabled = false;
    m_s.host->log.on_violation = [](const std::string& what) {
        std::fprintf(stderr, "quorrin fuzz: host saw %s\n", what.c_str());
        broken("a call broke the host contract");
    };
    refhost::ledger::instance().clear_errors();
    configure();
    choose_failing_services();
}

void host_setting::configure() {
    static const std::int32_t intervals[] = {0, 999, 1000, 3000, static_cast<std::int32_t>(0x80000000u), -1};
    static const std::int32_t overdues[] = {0, 10000, 10001, 30000, 60000, -1};
    static const std::int32_t counts[] = {0, 5, 6, 14, 40, 1};
    static const std::int32_t durations[] = {0, 1, 999, 1000, 15000, -1};
    refhost::value_table& values = m_s.host->stat_values();
    config_value(values, "Quorrin", "sample_interval", intervals);
    config_value(values, "Quorrin", "overdue", overdues);
    config_value(values, "Quorrin", "low_count", counts);
    config_value(values, "Quorrin", "high_count", counts);
    config_value(values, "Quorrin", "dt_duration", durations);
    static const std::int32_t bandwidths[] = {0, 1, 100000, -1, 0x7FFFFFFF, 2};
    config_value(values, "net_detect", "bandwidth", bandwidths);
    static const std::int32_t task_counts[] = {0, 1, 3, -1, 65536, 2};
    config_value(m_s.host->setting_ints(), "env", "user_task_count", task_counts);
    static const std::int32_t bools[] = {0, 1, 2, -1, 1, 0};
    config_value(m_s.host->setting_bools(), "debug", "show_peer_id", bools);
    config_value(m_s.host->setting_bools(), "debug", "ignore_user_set_speed", bools);
    // A configuration service that writes and then fails, or fails outright.
    const std::uint8_t failing = m_s.in.byte();
    if (failing == 0xFE) values.answer("Quorrin", "low_count", E_FAIL);
    if (failing == 0xFF) values.fail_all(E_FAIL);
    if (failing == 0xFD) m_s.host->setting_ints().fail_all(E_FAIL);
}

template <std::size_t N>
void host_setting::config_value(refhost::value_table& table, const char* section, const char* key, const std::int32_t (&options)[N]) {
    const std::uint8_t b = m_s.in.byte();
    if (b % 8 == 0) {
        table.erase(section, key);
    } else if (b % 8 == 7) {
        table.set(section, key, static_cast<std::int32_t>(m_s.in.u32()));
    } else {
        table.set(section, key, options[(b / 8) % N]);
    }
}

void host_setting::choose_failing_services() {
    const std::uint8_t failing = m_s.in.rarely(4) ? m_s.in.byte() : 0;
    m_failing = failing;
    refhost::service_provider& provider = m_s.host->services();
    provider.failing_services.clear();
    for (std::size_t i = 0; i < kServiceCount; ++i) {
        if (failing & (1u << i)) provider.failing_services.push_back(*kServices[i]);
    }
    provider.failure_hands_out = m_s.in.rarely(2);
}
void host_setting::change_between_sessions() {
if (m_s.in.flag()) {
    const std::size_t i = m_s.in.byte() % kServiceCount;
    m_present[i] = !m_present[i];
    m_s.host->set_present(*kServices[i], m_present[i]);
}
if (m_s.in.flag()) configure();
if (m_s.in.flag()) choose_failing_services();
if (m_s.in.rarely(4)) m_s.host->peer().refuse_interface = !m_s.host->peer().refuse_interface;}

kept_services host_setting::kept() const {
    const refhost::service_provider& provider = m_s.host->services();
    const auto given = [&](service_index i) {
        return m_present[i] && ((m_failing & (1u << i)) == 0 || provider.failure_hands_out);
    };
    kept_services k;
    k.events = given(events_at);
    k.report = given(report_at);
    k.transfer = given(transfer_at);
    k.peer = given(peer_at) && !m_s.host->peer().refuse_interface;
    k.ping = given(ping_at) && !m_s.host->ping().refuse_interface;
    return k;
}

void host_setting::step_clock() {
    const std::uint8_t mode = m_s.in.byte();
    switch (mode % 7) {
        case 0:
            manual_clock::advance(m_s.in.byte() * 10u);
            break;
        case 1:
            manual_clock::advance(1000u * (m_s.in.byte() % 40));
            break;
        case 2:
            manual_clock::advance(15000);
            break;
        case 3:
            manual_clock::advance(m_s.expected.overdue + (m_s.in.flag() ? 1 : 0));
            break;
        case 4:
            manual_clock::set_tick(0xFFFFFFFFu - m_s.in.byte() * 100u);  // just before the wrap
            break;
        case 5:
            manual_clock::advance(m_s.in.u32());
            break;
        default:
            manual_clock::advance(1);
            break;
    }
}

void host_setting::toggle_behaviour() {
    const bool on = m_s.in.flag();
    refhost::data_behaviour& data = m_s.host->data.behaviour;
    switch (m_s.in.byte() % 24) {
        case 0: data.create_fails = on; break;
        case 1: data.puts_fail = on; break;
        case 2: data.gets_fail = on; break;
        case 3: data.get_int64_silent = on; break;
        case 4: {
            static const refhost::data_behaviour::get_string_mode modes[] = {
                refhost::data_behaviour::get_string_mode::once, refhost::data_behaviour::get_string_mode::never,
                refhost::data_behaviour::get_string_mode::twice,
                refhost::data_behaviour::get_string_mode::once_then_fail};
            data.get_string = m_s.in.pick(modes);
            break;
        }
        case 5: m_s.host->ping().fails = on; break;
        case 6: m_s.host->events().send_fails = on; break;
        case 7: m_s.host->events().start_timer_fails = on; break;
        case 8: m_s.host->events().advise_fails = on; break;
        case 9: m_s.host->events().post_fails = on; break;
        case 10: m_s.host->transfer().speed_fails = on; break;
        case 11: m_s.host->transfer().totals_fail = on; break;
        case 12: m_s.host->transfer().writes_pair = on; break;
        case 13: m_s.host->transfer().has_total = on; break;
        case 14: {
            static const refhost::transfer_stat_service::totals_mode modes[] = {
                refhost::transfer_stat_service::totals_mode::fill, refhost::transfer_stat_service::totals_mode::replace,
                refhost::transfer_stat_service::totals_mode::refuse};
            m_s.host->transfer().totals = m_s.in.pick(modes);
            break;
        }
        case 15: m_s.host->peer().counters_fail = on; break;
        case 16: m_s.host->peer().peer_id_fails = on; break;
        case 17: m_s.host->peer().writes_peer_id = on; break;
        case 18: m_s.host->peer().writes_external_ip = on; break;
        case 19: m_s.host->reports().submit_fails = on; break;
        case 20: m_s.host->speed_limit().writes_limit = on; break;
        case 21:
            m_present[speed_limit_at] = on;
            m_s.host->set_present(SID_SpeedLimitService, on);
            break;
        case 22: m_s.host->stat_values().fail_all(on ? E_FAIL : S_OK); break;
        default: m_s.host->setting_ints().fail_all(on ? E_FAIL : S_OK); break;
    }
}

void host_setting::change_values() {
    switch (m_s.in.byte() % 7) {
        case 0: {
            std::uint64_t& counter = m_s.host->peer().counters[m_s.in.byte() % 4];
            counter = some_bytes(m_s.in, counter);  // also backwards
            break;
        }
        case 1:
            m_s.host->transfer().total_download_bytes = some_bytes(m_s.in, m_s.host->transfer().total_download_bytes);
            break;
        case 2:
            m_s.host->transfer().download_speed = m_s.in.u32();
            m_s.host->transfer().upload_speed = m_s.in.u32();
            break;
        case 3: {
            // A ping time for a watched address (or another one): -1, 0 or any value.
            const std::set<std::uint32_t>& watched = m_s.host->ping().told();
            std::uint32_t address = quorrin::parse_ipv4(m_s.in.pick(kAddressTexts));
            if (!watched.empty() && m_s.in.flag()) {
                auto it = watched.begin();
                std::advance(it, m_s.in.byte() % watched.size());
                address = *it;
            }
            static const std::int32_t pings[] = {-1, 0, 1, 250, INT32_MAX};
            m_s.host->ping().pings[address] = m_s.in.byte() < 200 ? m_s.in.pick(pings) : static_cast<std::int32_t>(m_s.in.u32());
            break;
        }
        case 4:
            m_s.host->speed_limit().limit = m_s.in.u32();
            break;
        case 5:
            m_s.host->peer().external_ip = m_s.in.u32();
            break;
        default:
            m_s.host->peer().peer_id = m_s.in.text(m_s.in.byte() % 48);
            break;
    }
}

