#include "plugin/kept_services.h"

#include <utility>

#include "support/com_ptr.h"
#include "support/host_services.h"

namespace quorrin {

namespace {

template <class T>
void release_slot(T*& slot) {
    if (T* p = std::exchange(slot, nullptr)) p->Release();
}

template <class T>
void get_service_into(IHostServiceProvider* provider, const GUID& service_id, T*& slot) {
    release_slot(slot);
    void* out = nullptr;
    provider->GetService(&service_id, &out);
    slot = static_cast<T*>(out);
}

// A service reached through its service id and then its own interface id.
template <class T>
void query_service_into(IHostServiceProvider* provider, const GUID& service_id, T*& slot) {
    release_slot(slot);
    com_ptr<IUnknown> service;
    provider->GetService(&service_id, service.put_void());
    if (!service) return;
    void* out = nullptr;
    if (SUCCEEDED(service->QueryInterface(iid_of<T>::value(), &out))) {
        slot = static_cast<T*>(out);
    } else if (out != nullptr) {
        // A refusal that still hands out a reference: the interface is not used, the reference
        // is released at once.
        static_cast<IUnknown*>(out)->Release();
    }
}

}  // namespace

void keep_service_provider(IHostServiceProvider* provider) {
    if (provider) provider->AddRef();
    release_slot(kept_services().provider);
    kept_services().provider = provider;
}

void obtain_kept_services() {
    kept_service_slots& slots = kept_services();
    IHostServiceProvider* provider = slots.provider;
    if (!provider) return;
    get_service_into(provider, SID_StatReportService, slots.stat_report);
    get_service_into(provider, SID_AsynEventService, slots.asyn_event);
    get_service_into(provider, SID_TransferStatService, slots.transfer_stat);
    query_service_into(provider, SID_PeerNetworkService, slots.peer_network);
    query_service_into(provider, SID_PingService, slots.ping);
}

void release_kept_services() {
    kept_service_slots& slots = kept_services();
    release_slot(slots.asyn_event);
    release_slot(slots.transfer_stat);
    release_slot(slots.provider);
    release_slot(slots.stat_report);
    release_slot(slots.peer_network);
    release_slot(slots.ping);
}

}  // namespace quorrin
