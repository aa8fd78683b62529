#include "floor.h"

#include <cstring>
#include <string>
#include <variant>

#include "quorrin/plugin_interfaces.h"
#include "session.h"

namespace bench::floor {

namespace {

std::uint32_t length_of(const std::string& s) { return static_cast<std::uint32_t>(s.size()); }

// Receives the peer id, as the module's string setter does, on the stack for one call.
class string_receiver final : public IStringSetter {
public:
    explicit string_receiver(std::string* out) : m_out(out) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SetString(std::uint32_t length, const char* chars) override {
        if (length) m_out->assign(chars, length); else m_out->clear();
        return S_OK;
    }

private:
    std::string* m_out;
};

class idle_timer final : public IAsynTimerEvents {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnTimer(std::uint32_t) override { return S_OK; }
};

// The message sink of the floor: delivering message 1 makes the finish's host calls.
class finish_sink final : public IAsynMessageEvents {
public:
    const services* host = nullptr;
    IHostData* report_data = nullptr;
    const refhost::data_node* report = nullptr;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnMessage(std::uint32_t, std::uintptr_t, std::uint32_t) override;
    HRESULT STDMETHODCALLTYPE OnMessageEvent(std::uint32_t, std::uint32_t, std::uint32_t) override { return S_OK; }
};

IHostData* new_object(const services& host) {
    IHostData* data = nullptr;
    host.provider->CreateObject(&CLSID_HostData, &IID_IHostData, reinterpret_cast<void**>(&data));
    return data;
}

IHostData* build_child(const services& host, const refhost::data_node& node);

void write_entry(const services& host, IHostData* target, const std::string& key, const refhost::data_value& value) {
    if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        target->PutInt64(length_of(key), key.c_str(), *integer);
    } else if (const auto* text = std::get_if<std::string>(&value)) {
        target->PutString(length_of(key), key.c_str(), length_of(*text), text->empty() ? "" : text->c_str());
    } else if (const auto* child = std::get_if<refhost::node_ptr>(&value)) {
        IHostData* built = build_child(host, **child);
        target->PutData(length_of(key), key.c_str(), built);
        if (built) built->Release();
    } else {
        target->PutData(length_of(key), key.c_str(), nullptr);
    }
}

IHostData* build_child(const services& host, const refhost::data_node& node) {
    IHostData* data = new_object(host);
    data->PutName(length_of(node.name), node.name.empty() ? "" : node.name.c_str());
    for (const auto& [key, value] : node.entries) write_entry(host, data, key, value);
    return data;
}

HRESULT finish_sink::OnMessage(std::uint32_t, std::uintptr_t, std::uint32_t) {
    global_speeds(*host);  // end's last sample, which enters no list
    IPingService* ping = host->ping;
    for (const std::uint32_t address : kAddresses) {
        std::int32_t scratch = -1;
        ping->GetPing(address, 1, &scratch);
    }
    if (report) build_report(*host, report_data, *report);
    ping->StopAll();
    return S_OK;
}

}  // namespace

void global_speeds(const services& host) {
    IPeerNetworkService* peer = host.peer;
    ITransferStatService* transfer = host.transfer;
    std::uint64_t counters[4] = {0, 0, 0, 0};
    peer->GetTransferCounters(&counters[0], &counters[1], &counters[2], &counters[3]);
    void* out = nullptr;
    if (FAILED(transfer->QueryInterface(IID_ITransferTotals, &out)) || !out) return;
    auto* totals = static_cast<ITransferTotals*>(out);
    IHostData* figures = new_object(host);
    totals->FillTotals(&figures);
    std::int64_t total = 0;
    static const char key[] = "total_download_bytes";
    if (figures) {
        figures->GetInt64(sizeof key - 1, key, &total);
        figures->Release();
    }
    totals->Release();
}

void fill_point(const services& host) {
    std::int32_t count = 0;
    host.settings->GetInt(3, "env", 15, "user_task_count", &count);
    for (const std::uint32_t address : kAddresses) {
        std::int32_t ms = -1;
        host.ping->GetPing(address, 0, &ms);
    }
}

void register_task(const services& host) {
    host.ping->StartPing(kAddresses, 3);
    global_speeds(host);
    fill_point(host);
    std::uint32_t speeds[2] = {0, 0};  // a point's g_dl_speed and the g_up_speed after it
    host.transfer->GetDownloadSpeed(speeds);
}

void unregister_task(const services& host, IHostData* report_data, const refhost::data_node* report) {
    if (report_data) report_data->AddRef();  // the finish message's reference
    static finish_sink sink;
    sink.host = &host;
    sink.report_data = report_data;
    sink.report = report;
    host.events->SendAsynMessage(&sink, 1, reinterpret_cast<std::uintptr_t>(&sink), 0);
    if (report_data) report_data->Release();
}

void build_report(const services& host, IHostData* report_data, const refhost::data_node& report) {
    IHostData* out = new_object(host);
    static const char name[] = "Quorrin";
    out->PutName(sizeof name - 1, name);
    IHostData* cdn_copy = nullptr;
    for (const auto& [key, value] : report.entries) {
        if (key == "cdn_down_bytes_stat") {
            cdn_copy = new_object(host);
            if (report_data) report_data->CopyTo(cdn_copy);
            out->PutData(length_of(key), key.c_str(), cdn_copy);
        } else if (key == "peerid") {
            std::string peer_id;
            string_receiver receiver(&peer_id);
            host.peer->GetPeerId(&receiver);
            write_entry(host, out, key, value);
        } else if (key == "external_ip") {
            std::uint32_t address = 0;
            host.peer->GetExternalIp(&address);
            write_entry(host, out, key, value);
        } else if (key == "bandwidth") {
            std::int32_t bandwidth = -1;
            host.stat_data->GetInt(10, "net_detect", 9, "bandwidth", &bandwidth);
            write_entry(host, out, key, value);
        } else if (key == "dl_speed_limit") {
            void* limits = nullptr;
            host.provider->GetService(&SID_SpeedLimitService, &limits);
            std::uint32_t limit = 0xFFFFFFFFu;
            static_cast<ISpeedLimitService*>(limits)->GetDownloadLimit(&limit);
            write_entry(host, out, key, value);
            static_cast<ISpeedLimitService*>(limits)->Release();
        } else {
            write_entry(host, out, key, value);
        }
    }
    host.reports->SubmitReport(sizeof name - 1, name, out);
    if (cdn_copy) cdn_copy->Release();
    out->Release();
}

IAsynTimerEvents* idle_timer_sink() {
    static idle_timer sink;
    return &sink;
}

namespace {
template <class T>
T* service_of(IHostServiceProvider* provider, const GUID& id) {
    void* out = nullptr;
    provider->GetService(&id, &out);
    return static_cast<T*>(out);
}
// A service reached through its service id and then its own interface id, as the module does.
template <class T>
T* queried_service_of(IHostServiceProvider* provider, const GUID& id) {
    IUnknown* service = service_of<IUnknown>(provider, id);
    if (!service) return nullptr;
    void* out = nullptr;
    service->QueryInterface(quorrin::iid_of<T>::value(), &out);
    service->Release();
    return static_cast<T*>(out);
}
template <class T>
void release(T* p) {
    if (p) p->Release();
}
}  // namespace

services::services(refhost::reference_host& host) : provider(host.provider()) {
    reports = service_of<IStatReportService>(provider, SID_StatReportService);
    events = service_of<IAsynEventService>(provider, SID_AsynEventService);
    transfer = service_of<ITransferStatService>(provider, SID_TransferStatService);
    peer = queried_service_of<IPeerNetworkService>(provider, SID_PeerNetworkService);
    ping = queried_service_of<IPingService>(provider, SID_PingService);
    settings = service_of<ISettingsService>(provider, SID_SettingsService);
    stat_data = service_of<IStatDataService>(provider, SID_StatDataService);
}

services::~services() {
    release(reports);
    release(events);
    release(transfer);
    release(peer);
    release(ping);
    release(settings);
    release(stat_data);
}

}  // namespace bench::floor
