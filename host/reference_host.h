// The reference host: a service provider with every host service, each of which a test (or a
// scenario) can leave out or configure. It keeps the call log and, through the ledger, counts
// every reference the module takes on its objects.
#pragma once

#include <string>
#include <vector>

#include "call_log.h"
#include "data_object.h"
#include "services.h"

namespace refhost {

struct host_options {
    bool stat_data = true;
    bool settings = true;
    bool stat_report = true;
    bool asyn_event = true;
    bool transfer_stat = true;
    bool peer_network = true;
    bool ping = true;
    bool speed_limit = true;
};

class reference_host {
public:
    explicit reference_host(const host_options& options = {});
    ~reference_host();
    reference_host(const reference_host&) = delete;
    reference_host& operator=(const reference_host&) = delete;

    call_log log;
    data_factory data{&log};

    IHostServiceProvider* provider() { return m_provider.get(); }
    service_provider& services() { return *m_provider; }

    // The "Quorrin", "net_detect" ... values of the statistics data service.
    value_table& stat_values() { return m_stat_data->values; }
    value_table& setting_ints() { return m_settings->ints; }
    value_table& setting_bools() { return m_settings->bools; }

    transfer_stat_service& transfer() { return *m_transfer; }
    peer_network_service& peer() { return *m_peer; }
    ping_service& ping() { return *m_ping; }
    speed_limit_service& speed_limit() { return *m_speed_limit; }
    report_service& reports() { return *m_reports; }
    asyn_event_service& events() { return *m_events; }

    // Takes a service away (or gives it back) after construction.
    void set_present(const GUID& service_id, bool present);

    // A new data object that the host holds (a task's data, a task's CDN figures).
    host_ref<data_object> make_data(const std::string& name);

    // What is wrong at the end of a session: references the module still holds on host objects,
    // releases it made too many, forbidden calls, objects still registered, sinks still advised.
    std::vector<std::string> problems() const;

private:
    host_ref<service_provider> m_provider;
    host_ref<stat_data_service> m_stat_data;
    host_ref<settings_service> m_settings;
    host_ref<report_service> m_reports;
    host_ref<asyn_event_service> m_events;
    host_ref<transfer_stat_service> m_transfer;
    host_ref<peer_network_service> m_peer;
    host_ref<ping_service> m_ping;
    host_ref<speed_limit_service> m_speed_limit;
};

}  // namespace refhost
