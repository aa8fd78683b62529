#include "reference_host.h"

namespace refhost {

reference_host::reference_host(const host_options& options)
    : m_provider(make_host<service_provider>(&log, &data)),
      m_stat_data(make_host<stat_data_service>(&log)),
      m_settings(make_host<settings_service>(&log)),
      m_reports(make_host<report_service>(&log)),
      m_events(make_host<asyn_event_service>(&log)),
      m_transfer(make_host<transfer_stat_service>(&log, &data)),
      m_peer(make_host<peer_network_service>(&log)),
      m_ping(make_host<ping_service>(&log)),
      m_speed_limit(make_host<speed_limit_service>(&log)) {
    service_provider& p = *m_provider;
    if (options.stat_data) p.add_service(SID_StatDataService, static_cast<IStatDataService*>(m_stat_data.get()), "stat_data");
    if (options.settings) p.add_service(SID_SettingsService, static_cast<ISettingsService*>(m_settings.get()), "settings");
    if (options.stat_report) p.add_service(SID_StatReportService, static_cast<IStatReportService*>(m_reports.get()), "report");
    if (options.asyn_event) p.add_service(SID_AsynEventService, static_cast<IAsynEventService*>(m_events.get()), "events");
    if (options.transfer_stat)
        p.add_service(SID_TransferStatService, static_cast<ITransferStatService*>(m_transfer.get()), "transfer");
    if (options.peer_network) p.add_service(SID_PeerNetworkService, static_cast<IPeerNetworkService*>(m_peer.get()), "peer");
    if (options.ping) p.add_service(SID_PingService, static_cast<IPingService*>(m_ping.get()), "ping");
    if (options.speed_limit)
        p.add_service(SID_SpeedLimitService, static_cast<ISpeedLimitService*>(m_speed_limit.get()), "speed_limit");
}

reference_host::~reference_host() {
    m_provider->release_kept();
    m_reports->clear();
}

void reference_host::set_present(const GUID& id, bool present) {
    service_provider& p = *m_provider;
    if (!present) {
        p.remove_service(id);
        return;
    }
    if (id == SID_StatDataService) p.add_service(id, static_cast<IStatDataService*>(m_stat_data.get()), "stat_data");
    if (id == SID_SettingsService) p.add_service(id, static_cast<ISettingsService*>(m_settings.get()), "settings");
    if (id == SID_StatReportService) p.add_service(id, static_cast<IStatReportService*>(m_reports.get()), "report");
    if (id == SID_AsynEventService) p.add_service(id, static_cast<IAsynEventService*>(m_events.get()), "events");
    if (id == SID_TransferStatService) p.add_service(id, static_cast<ITransferStatService*>(m_transfer.get()), "transfer");
    if (id == SID_PeerNetworkService) p.add_service(id, static_cast<IPeerNetworkService*>(m_peer.get()), "peer");
    if (id == SID_PingService) p.add_service(id, static_cast<IPingService*>(m_ping.get()), "ping");
    if (id == SID_SpeedLimitService) p.add_service(id, static_cast<ISpeedLimitService*>(m_speed_limit.get()), "speed_limit");
}

host_ref<data_object> reference_host::make_data(const std::string& name) {
    host_ref<data_object> object = data.make();
    object->set_name(name);
    return object;
}

std::vector<std::string> reference_host::problems() const {
    std::vector<std::string> found = ledger::instance().unreleased();
    for (const std::string& line : ledger::instance().over_released()) found.push_back(line);
    for (const std::string& line : log.violations()) found.push_back(line);
    if (m_provider->registered_count() != 0) found.push_back("an object is still registered with the provider");
    if (m_events->advised() != 0) found.push_back("a message sink is still advised");
    if (!m_events->timers().empty()) found.push_back("a timer is still running");
    return found;
}

}  // namespace refhost
