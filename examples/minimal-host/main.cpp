// The smallest host that gets a report from the quorrin module: it loads the module by path,
// offers the services a report needs, registers one task, samples it, unregisters it and prints
// the report it receives. Usage: minimal-host [path of quorrin.dll / quorrin.so]
#include <quorrin/host_services.h>
#include <quorrin/version.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace {

int g_live_objects = 0;  // host objects alive: 0 at the end, or someone kept a reference
int g_reports = 0;

// One COM object of the host: a reference count and QueryInterface for its interface's id.
template <class Interface>
class host_object : public Interface {
public:
    explicit host_object(const GUID* iid) : m_iid(iid) { ++g_live_objects; }
    virtual ~host_object() { --g_live_objects; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && (!m_iid || iid != *m_iid)) return E_NOINTERFACE;
        *out = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }

private:
    const GUID* m_iid;
    ULONG m_refs = 1;
};

std::string text(std::uint32_t length, const char* chars) { return length ? std::string(chars, length) : std::string(); }

// Keys keep the order in which they were first written.
class data_object : public host_object<IHostData> {
public:
    data_object() : host_object(&IID_IHostData) {}
    ~data_object() override { for (entry& e : m_entries) if (e.child) e.child->Release(); }

    HRESULT STDMETHODCALLTYPE PutName(std::uint32_t length, const char* name) override {
        m_name = text(length, name);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PutInt64(std::uint32_t length, const char* key, std::int64_t value) override {
        slot(text(length, key), entry::integer).number = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInt64(std::uint32_t length, const char* key, std::int64_t* value) override {
        const entry* e = find(text(length, key), entry::integer);
        if (!e || !value) return E_FAIL;
        *value = e->number;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PutString(std::uint32_t length, const char* key, std::uint32_t value_length,
                                        const char* value) override {
        slot(text(length, key), entry::string).chars = text(value_length, value);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetString(std::uint32_t length, const char* key, IStringSetter* receiver) override {
        const entry* e = find(text(length, key), entry::string);
        if (!e || !receiver) return E_FAIL;
        return receiver->SetString(static_cast<std::uint32_t>(e->chars.size()), e->chars.c_str());
    }
    HRESULT STDMETHODCALLTYPE PutData(std::uint32_t length, const char* key, IHostData* child) override {
        if (child) child->AddRef();
        slot(text(length, key), entry::object).child = child;
        return S_OK;
    }
    // A deep copy, so that whoever writes into the copy never changes this object.
    HRESULT STDMETHODCALLTYPE CopyTo(IHostData* target) override {
        if (!target) return E_POINTER;
        target->PutName(static_cast<std::uint32_t>(m_name.size()), m_name.c_str());
        for (const entry& e : m_entries) {
            const auto length = static_cast<std::uint32_t>(e.key.size());
            if (e.kind == entry::integer) target->PutInt64(length, e.key.c_str(), e.number);
            if (e.kind == entry::string)
                target->PutString(length, e.key.c_str(), static_cast<std::uint32_t>(e.chars.size()), e.chars.c_str());
            if (e.kind == entry::object) {
                data_object* copy = nullptr;
                if (e.child) e.child->CopyTo(copy = new data_object);
                target->PutData(length, e.key.c_str(), copy);
                if (copy) copy->Release();
            }
        }
        return S_OK;
    }

    void print(int depth) const {
        const std::string indent(2 * depth, ' ');
        for (const entry& e : m_entries) {
            if (e.kind == entry::integer) std::printf("%s%s: %lld\n", indent.c_str(), e.key.c_str(), (long long)e.number);
            if (e.kind == entry::string) std::printf("%s%s: \"%s\"\n", indent.c_str(), e.key.c_str(), e.chars.c_str());
            if (e.kind == entry::object) {
                std::printf("%s%s:%s\n", indent.c_str(), e.key.c_str(), e.child ? "" : " (none)");
                // print() runs on copies, whose children CopyTo made: they are this host's own.
                if (e.child) static_cast<const data_object*>(e.child)->print(depth + 1);
            }
        }
    }

private:
    struct entry {
        enum kind_t { integer, string, object } kind = integer;
        std::string key;
        std::int64_t number = 0;
        std::string chars;
        IHostData* child = nullptr;
    };
    entry* locate(const std::string& key) const {
        for (const entry& e : m_entries)
            if (e.key == key) return const_cast<entry*>(&e);
        return nullptr;
    }
    const entry* find(const std::string& key, entry::kind_t kind) const {
        const entry* e = locate(key);
        return e && e->kind == kind ? e : nullptr;
    }
    // A key written again keeps its place and takes the new value.
    entry& slot(const std::string& key, entry::kind_t kind) {
        entry* e = locate(key);
        if (!e) e = &m_entries.emplace_back();
        if (e->child) e->child->Release();
        *e = entry{};
        e->kind = kind;
        e->key = key;
        return *e;
    }
    std::string m_name;
    std::vector<entry> m_entries;
};

// Posted messages wait for the loop; sent ones are delivered at once; timers tick from the loop.
class event_service : public host_object<IAsynEventService> {
public:
    event_service() : host_object(&SID_AsynEventService) {}
    HRESULT STDMETHODCALLTYPE StartTimer(IAsynTimerEvents* sink, std::uint32_t id, std::uint32_t period_ms,
                                         std::int32_t) override {
        if (!sink) return E_POINTER;
        sink->AddRef();
        StopTimers(m_timer_sink);
        m_timer_sink = sink;
        m_timer_id = id;
        m_period = std::chrono::milliseconds(period_ms);
        m_next_tick = std::chrono::steady_clock::now() + m_period;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE StopTimers(IAsynTimerEvents* sink) override {
        if (sink && sink == m_timer_sink) std::exchange(m_timer_sink, nullptr)->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AdviseMessages(IAsynMessageEvents* sink) override {
        if (!sink) return E_POINTER;
        if (m_sink) return E_UNEXPECTED;  // this host serves one plug-in
        (m_sink = sink)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE UnadviseMessages(IAsynMessageEvents* sink) override {
        if (!sink || sink != m_sink) return E_INVALIDARG;
        m_posted.clear();  // nothing reaches a sink after it is withdrawn
        std::exchange(m_sink, nullptr)->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostAsynMessage(IAsynMessageEvents* sink, std::uint32_t id, std::uintptr_t param,
                                              std::uint32_t extra) override {
        if (!sink || sink != m_sink) return E_INVALIDARG;
        m_posted.push_back({id, param, extra});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SendAsynMessage(IAsynMessageEvents* sink, std::uint32_t id, std::uintptr_t param,
                                              std::uint32_t extra) override {
        return sink ? sink->OnMessage(id, param, extra) : E_POINTER;
    }
    // The host's loop: what was posted, then the timer if it is due.
    void pump() {
        while (m_sink && !m_posted.empty()) {
            const message m = m_posted.front();
            m_posted.pop_front();
            m_sink->OnMessage(m.id, m.param, m.extra);
        }
        if (m_timer_sink && std::chrono::steady_clock::now() >= m_next_tick) {
            m_next_tick += m_period;
            m_timer_sink->OnTimer(m_timer_id);
        }
    }

private:
    struct message { std::uint32_t id; std::uintptr_t param; std::uint32_t extra; };
    IAsynMessageEvents* m_sink = nullptr;
    std::deque<message> m_posted;
    IAsynTimerEvents* m_timer_sink = nullptr;
    std::uint32_t m_timer_id = 0;
    std::chrono::milliseconds m_period{0};
    std::chrono::steady_clock::time_point m_next_tick;
};

// The transfer statistics service answers for the totals as well.
class transfer_service : public host_object<ITransferStatService>, public ITransferTotals {
public:
    transfer_service() : host_object(&SID_TransferStatService) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out && iid == IID_ITransferTotals) {
            *out = static_cast<ITransferTotals*>(this);
            AddRef();
            return S_OK;
        }
        return host_object::QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return host_object::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return host_object::Release(); }
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
    report_service() : host_object(&SID_StatReportService) {}
    HRESULT STDMETHODCALLTYPE SubmitReport(std::uint32_t length, const char* name, IHostData* report) override {
        std::printf("report %s\n", text(length, name).c_str());
        if (!report) return S_OK;
        // Read through a copy of our own: the report may be any IHostData.
        data_object* copy = new data_object;
        report->CopyTo(copy);
        copy->print(1);
        copy->Release();
        ++g_reports;
        return S_OK;
    }
};

// The configuration: samples every second, and a task is reported once it ran a second.
class stat_data_service : public host_object<IStatDataService> {
public:
    stat_data_service() : host_object(&SID_StatDataService) {}
    HRESULT STDMETHODCALLTYPE GetInt(std::uint32_t section_length, const char* section, std::uint32_t key_length,
                                     const char* key, std::int32_t* value) override {
        const std::string k = text(section_length, section) + "/" + text(key_length, key);
        if (!value) return E_POINTER;
        if (k != "Quorrin/sample_interval" && k != "Quorrin/dt_duration") return E_FAIL;  // the default
        *value = 1000;
        return S_OK;
    }
};

class service_provider : public host_object<IHostServiceProvider> {
public:
    service_provider() : host_object(nullptr) {}
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
        if (!service) return E_NOINTERFACE;  // an optional service this host does not offer
        service->AddRef();
        *out = service;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateObject(const CLSID* class_id, const IID* iid, void** out) override {
        if (!class_id || !iid || !out) return E_POINTER;
        *out = nullptr;
        if (*class_id != CLSID_HostData) return CLASS_E_CLASSNOTAVAILABLE;
        data_object* object = new data_object;
        const HRESULT hr = object->QueryInterface(*iid, out);
        object->Release();
        return hr;
    }

    IUnknown* statistics = nullptr;
    event_service& events = *new event_service;
    transfer_service& transfer = *new transfer_service;
    report_service& reports = *new report_service;
    stat_data_service& stat_data = *new stat_data_service;
    ~service_provider() override {
        events.Release();
        transfer.Release();
        reports.Release();
        stat_data.Release();
    }
};

using get_class_object_fn = HRESULT(STDMETHODCALLTYPE*)(REFCLSID, REFIID, void**);

void* load_entry(const std::string& path, const char* name) {
#ifdef _WIN32
    HMODULE module = LoadLibraryA(path.c_str());
    return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
#else
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    return module ? dlsym(module, name) : nullptr;
#endif
}

// Calls spaced a sample interval apart, plus a margin: the module counts whole seconds.
void wait_ms(service_provider& host, std::int32_t ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms + 50);
    while (std::chrono::steady_clock::now() < until) {
        host.events.pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int run(const std::string& module_path) {
    auto get_class_object = reinterpret_cast<get_class_object_fn>(load_entry(module_path, "DllGetClassObject"));
    if (!get_class_object) {
        std::fprintf(stderr, "minimal-host: cannot load %s or find DllGetClassObject\n", module_path.c_str());
        return 1;
    }
    IClassFactory* factory = nullptr;
    IDownloadLibPlugin* plugin = nullptr;
    if (FAILED(get_class_object(CLSID_DownloadLibPlugin, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID_IDownloadLibPlugin, reinterpret_cast<void**>(&plugin)))) {
        std::fprintf(stderr, "minimal-host: the module made no plug-in object\n");
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
        data_object* task_data = new data_object;
        std::int32_t interval_ms = 0;
        std::uint64_t bytes = 0;
        host->transfer.download_speed = 250000;
        hr = quorrin->RegisterTask(1, 1, 1, sizeof cid, cid, 1000000, sizeof cid, cid, 0, bytes, &servers,
                                   &interval_ms, task_data);
        task_data->Release();
        for (int sample = 0; SUCCEEDED(hr) && sample < 2; ++sample) {
            host->events.pump();
            wait_ms(*host, interval_ms);
            bytes += 250000;
            host->transfer.total_bytes = static_cast<std::int64_t>(bytes);
            hr = quorrin->UpdateTask(1, bytes);
        }
        if (SUCCEEDED(hr)) {
            data_object* cdn_bytes = new data_object;  // what this host fetched from each server
            cdn_bytes->PutInt64(8, "10.0.0.1", static_cast<std::int64_t>(bytes));
            hr = quorrin->UnregisterTask(1, sizeof cid, cid, bytes, cdn_bytes, 0);
            cdn_bytes->Release();
        }
        host->events.pump();
        quorrin->Release();  // before Uninitialize: the host keeps no reference past it
    }
    if (FAILED(hr)) std::fprintf(stderr, "minimal-host: a call failed (0x%08lx)\n", static_cast<unsigned long>(hr));
    plugin->Uninitialize();
    plugin->Release();
    factory->Release();
    host->Release();
    if (g_live_objects != 0) std::fprintf(stderr, "minimal-host: %d host object(s) still referenced\n", g_live_objects);
    return SUCCEEDED(hr) && g_reports == 1 && g_live_objects == 0 ? 0 : 1;
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
