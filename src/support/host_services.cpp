#include "support/host_services.h"

namespace quorrin {

kept_service_slots& kept_services() {
    static kept_service_slots slots;
    return slots;
}

IHostServiceProvider* GetHostServiceProvider() { return kept_services().provider; }
IAsynEventService* GetAsynEventService() { return kept_services().asyn_event; }
IStatReportService* GetStatReportService() { return kept_services().stat_report; }
ITransferStatService* GetTransferStatService() { return kept_services().transfer_stat; }
IPeerNetworkService* GetPeerNetworkService() { return kept_services().peer_network; }
IPingService* GetPingService() { return kept_services().ping; }

}  // namespace quorrin
