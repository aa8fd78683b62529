// The smallest host that gets a report from the quorrin module: it loads the module by path,
// offers the services a report needs, registers one task, samples it, unregisters it and prints
// the report it receives. Usage: minimal-host [path of quorrin.dll / quorrin.so]
#include <quorrin/configuration.h>
#include <quorrin/event_service.h>
#include <quorrin/host_data_object.h>
#include <quorrin/host_object.h>
#include <quorrin/host_services.h>
#include <quorrin/module_library.h>
#include <quorrin/version.h>

#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <thread>

namespace {

using quorrin::host_data_object;
using quorrin::host_object;

int g_reports = 0;
int g_kept = 0;  // references the module kept to the host's objects: none at the end

// Lets go of one of the host's objects, which must then be gone.
void drop(IUnknown* object) {
    if (object && object->Release() != 0) ++g_kept;
}

std::string text(std::uint32_t length, const char* chars) { return chars ? std::string(chars, length) : std::string(); }

void print(const host_data_object& data, int depth) {
    const std::string indent(2 * depth, ' ');
    for (const host_data_object::entry& e : data.entries()) {
        const char* key = e.key.c_str();
        if (e.type == host_data_object::kind::integer)
            std::printf("%s%s: %lld\n", indent.c_str(), key, static_cast<long long>(e.integer));
        if (e.type == host_data_object::kind::bytes) std::printf("%s%s: \"%s\"\n", indent.c_str(), key, e.bytes.c_str());
        if (e.type == host_data_object::kind::object) {
            // A copy made by CopyTo holds host_data_objects only.
            const host_data_object* child = host_data_object::from(e.object);
            std::printf("%s%s:%s\n", indent.c_str(), key, child ? "" : " (none)");
            if (child) print(*child, depth + 1);
        }
    }
}

// The transfer statistics service answers for the totals as well.
class transfer_service : public host_object<ITransferStatService, ITransferTotals> {
public:
    HRESULT STDMETHODCALLTYPE GetDownloadSpeed(std::uint32_t* speed) override {
        if (!speed) return E_POINTER;
        *speed = download_speed;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FillTotals(IHostData** data) override {
        if (!data || !*data) return E_POINTER;
        return (*data)->PutInt64(20, "total_download_bytes", total_bytes);
    }
    std::uint32_t download_speed = 0;
    std::int64_t total_bytes = 0;
};

class report_service : public host_object<IStatReportService> {
public:
    HRESULT STDMETHODCALLTYPE SubmitReport(std::uint32_t length, const char* name, IHostData* report) override {
        std::printf("report %s\n", text(length, name).c_str());
        if (!report) return S_OK;
        // Read through a copy of our own: the report may be any IHostData.
        host_data_object* copy = host_data_object::create();
        if (!copy) return E_OUTOFMEMORY;
        const HRESULT hr = report->CopyTo(copy);
        if (SUCCEEDED(hr)) {
            print(*copy, 1);
            ++g_reports;
        }
        copy->Release();
        return hr;
    }
};

// The configuration: samples every second, and a task is reported once it ran a second.
class stat_data_service : public host_object<IStatDataService> {
public:
    HRESULT STDMETHODCALLTYPE GetInt(std::uint32_t section_length, const char* section, std::uint32_t key_length,
                                     const char* key, std::int32_t* value) override {
        if (!value) return E_POINTER;
        for (const quorrin::config_value* c : {&quorrin::kSampleInterval, &quorrin::kDtDuration}) {
            if (text(section_length, section) != c->section || text(key_length, key) != c->key) continue;
            *value = 1000;
            return S_OK;
        }
        return E_FAIL;  // the module uses its fallback
    }
};

class service_provider : public host_object<IHostServiceProvider> {
public:
    // No reference is taken: the module keeps the object alive until UnregisterObject.
    HRESULT STDMETHODCALLTYPE RegisterObject(const GUID* id, IUnknown* object) override {
        if (!id || *id != IID_IQuorrin) return E_INVALIDARG;
        statistics = object;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE UnregisterObject(const GUID* id) override {
        if (!id || *id != IID_IQuorrin) return E_INVALIDARG;
        statistics = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetService(const GUID* id, void** out) override {
        if (!id || !out) return E_POINTER;
        *out = nullptr;
        IUnknown* service = nullptr;
        if (*id == SID_AsynEventService) service = &events;
        if (*id == SID_TransferStatService) service = static_cast<ITransferStatService*>(&transfer);
        if (*id == SID_StatReportService) service = &reports;
        if (*id == SID_StatDataService) service = &stat_data;
        if (!service) return E_NOINTERFACE;  // a service this host lacks: the module goes without it
        service->AddRef();
        *out = service;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateObject(const CLSID* class_id, const IID* iid, void** out) override {
        if (!class_id || !iid || !out) return E_POINTER;
        *out = nullptr;
        if (*class_id != CLSID_HostData) return CLASS_E_CLASSNOTAVAILABLE;
        return host_data_object::create(*iid, out);
    }
    IUnknown* statistics = nullptr;
    quorrin::event_service& events = *new quorrin::event_service;
    transfer_service& transfer = *new transfer_service;
    report_service& reports = *new report_service;
    stat_data_service& stat_data = *new stat_data_service;

protected:
    ~service_provider() override {
        drop(&events);
        drop(static_cast<ITransferStatService*>(&transfer));
        drop(&reports);
        drop(&stat_data);
    }
};

// Calls spaced a sample interval apart, plus a margin: the module counts whole seconds.
void wait_ms(service_provider& host, std::int32_t ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms + 50);
    while (std::chrono::steady_clock::now() < until) {
        host.events.pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int run(const std::string& module_path) {
    quorrin::module_library module(module_path);
    IClassFactory* factory = nullptr;
    IDownloadLibPlugin* plugin = nullptr;
    if (!module.error().empty() ||
        FAILED(module.DllGetClassObject(CLSID_DownloadLibPlugin, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID_IDownloadLibPlugin, reinterpret_cast<void**>(&plugin)))) {
        std::fprintf(stderr, "minimal-host: no plug-in object from %s %s\n", module_path.c_str(), module.error().c_str());
        if (factory) factory->Release();
        return 1;
    }
    service_provider* host = new service_provider;
    IQuorrin* quorrin = nullptr;
    HRESULT hr = plugin->Initialize(host);
    if (SUCCEEDED(hr) && host->statistics)
        hr = host->statistics->QueryInterface(IID_IQuorrin, reinterpret_cast<void**>(&quorrin));
    host->events.pump();  // the plug-in starts its timer on its first message

    if (quorrin) {
        const std::uint8_t cid[20] = {0xC1, 0xD0};
        const cdn_ip_entry server = {"10.0.0.1", 8, 0};
        const cdn_ip_array servers = {1, &server};
        host_data_object* task_data = host_data_object::create();
        std::int32_t interval_ms = 0;
        std::uint64_t bytes = 0;
        host->transfer.download_speed = 250000;
        hr = quorrin->RegisterTask(1, 1, 1, sizeof cid, cid, 1000000, sizeof cid, cid, 0, bytes, &servers,
                                   &interval_ms, task_data);
        drop(task_data);
        for (int sample = 0; SUCCEEDED(hr) && sample < 2; ++sample) {
            wait_ms(*host, interval_ms);
            bytes += 250000;
            host->transfer.total_bytes = static_cast<std::int64_t>(bytes);
            hr = quorrin->UpdateTask(1, bytes);
        }
        if (SUCCEEDED(hr)) {
            host_data_object* cdn_bytes = host_data_object::create();  // what came from each server
            if (cdn_bytes) cdn_bytes->put_int64("10.0.0.1", static_cast<std::int64_t>(bytes));
            hr = quorrin->UnregisterTask(1, sizeof cid, cid, bytes, cdn_bytes, 0);
            drop(cdn_bytes);
        }
        host->events.pump();
        quorrin->Release();  // before Uninitialize: the host keeps no reference past it
    }
    if (FAILED(hr)) std::fprintf(stderr, "minimal-host: a call failed (0x%08lx)\n", static_cast<unsigned long>(hr));
    plugin->Uninitialize();
    plugin->Release();
    factory->Release();
    drop(host);
    if (g_kept || module.DllCanUnloadNow() != S_OK) std::fprintf(stderr, "minimal-host: a reference was left behind\n");
    return SUCCEEDED(hr) && g_reports == 1 && !g_kept && module.DllCanUnloadNow() == S_OK ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : argv[0];
    if (argc <= 1) {
        // By default the module beside this program.
        const std::size_t cut = path.find_last_of("/\\");
        path = (cut == std::string::npos ? std::string(".") : path.substr(0, cut));
#ifdef _WIN32
        path += "\\quorrin.dll";
#else
        path += "/quorrin.so";
#endif
    }
    std::printf("minimal-host: quorrin SDK %s, module %s\n", QUORRIN_VERSION, path.c_str());
    return run(path);
}
