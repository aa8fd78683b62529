// The process-wide slots of the host services that the start-up sequence keeps. Each accessor
// returns its pointer without taking a reference; use it within the call that fetched it.
// Optional services (report, peer network, ping) may be null.
#pragma once

#include "quorrin/host_services.h"

namespace quorrin {

IHostServiceProvider* GetHostServiceProvider();
IAsynEventService* GetAsynEventService();
IStatReportService* GetStatReportService();
ITransferStatService* GetTransferStatService();
IPeerNetworkService* GetPeerNetworkService();
IPingService* GetPingService();

// Written only by the start-up and shut-down sequences.
struct kept_service_slots {
    IHostServiceProvider* provider = nullptr;
    IAsynEventService* asyn_event = nullptr;
    IStatReportService* stat_report = nullptr;
    ITransferStatService* transfer_stat = nullptr;
    IPeerNetworkService* peer_network = nullptr;
    IPingService* ping = nullptr;
};
kept_service_slots& kept_services();

}  // namespace quorrin
