#include "session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include "virtual_clock.h"
#endif

namespace bench {

namespace {
const char* const kAddressText[3] = {"10.0.0.1", "10.0.0.2", "10.0.0.3"};
const std::string kCid(20, 'C');
const std::string kGcid(20, 'G');

std::string g_module_path;
build g_build = build::shipped;
std::unique_ptr<session> g_shared;
std::string g_shared_key;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "quorrin_benchmarks: %s\n", what.c_str());
    std::exit(2);
}
}  // namespace

const std::uint32_t kAddresses[3] = {0x0100000Au, 0x0200000Au, 0x0300000Au};

void set_module_path(const std::string& path) { g_module_path = path; }
void set_build(build b) { g_build = b; }

refhost::plugin_module& module() {
    static refhost::plugin_module* loaded[2] = {nullptr, nullptr};
    refhost::plugin_module*& m = loaded[g_build == build::shipped ? 0 : 1];
    if (!m) {
        const std::string dir = refhost::plugin_module::directory_of_program();
#ifdef _WIN32
        const std::string path = g_module_path.empty() ? dir + "\\quorrin.dll" : g_module_path;
#else
        const std::string path = g_build == build::unguarded ? dir + "/quorrin_bench_unguarded.so"
                                 : g_module_path.empty()     ? dir + "/quorrin_bench.so"
                                                             : g_module_path;
#endif
        m = new refhost::plugin_module(path);  // stays loaded to the end
        if (!m->loaded() || !m->error().empty()) fail(m->error());
    }
    return *m;
}

#ifdef _WIN32
// The shipped module, whose clock imports are pointed at the host's clock the first time a
// benchmark moves it on; from then on each of its ticks costs a call more.
advance_fn clock_hook() {
    static const bool redirected = refhost::virtual_clock::attach(module().handle()).empty();
    return redirected ? &refhost::virtual_clock::shift : nullptr;
}
#else
advance_fn clock_hook() { return reinterpret_cast<advance_fn>(module().symbol("quorrin_bench_advance_clock")); }
#endif

session::session() : m_host(std::make_unique<refhost::reference_host>()) {
    refhost::reference_host& h = *m_host;
    h.log.enabled = false;
    h.log.on_violation = [](const std::string& what) { fail("host saw a violation: " + what); };
    // Nothing goes overdue while a benchmark runs, whatever the clock does.
    h.stat_values().set("Quorrin", "overdue", 0x7FFFFFFF);
    h.stat_values().set("net_detect", "bandwidth", 4000);
    h.setting_ints().set("env", "user_task_count", 3);
    h.ping().pings = {{kAddresses[0], 20}, {kAddresses[1], 35}, {kAddresses[2], 50}};
    h.peer().counters[0] = 7'000'000;
    h.peer().counters[1] = 3'000'000;
    h.transfer().total_download_bytes = 123'456'789;
    h.transfer().download_speed = 250'000;
    h.speed_limit().limit = 1u << 20;

    m_task_data = h.make_data("task");
    m_report_data = h.make_data("cdn_down_bytes_stat");
    for (int i = 0; i < 3; ++i) m_report_data->put_int(kAddressText[i], 1'000'000 * (i + 1));
    for (const char* text : kAddressText) {
        cdn_ip_entry entry{};
        std::memcpy(entry.chars, text, std::strlen(text));
        entry.length = static_cast<std::uint32_t>(std::strlen(text));
        m_entries.push_back(entry);
    }
    m_array.count = static_cast<std::uint32_t>(m_entries.size());
    m_array.entries = m_entries.data();

    quorrin::com_ptr<IClassFactory> factory;
    if (FAILED(module().DllGetClassObject(CLSID_DownloadLibPlugin, IID_IClassFactory, factory.put_void())) ||
        FAILED(factory->CreateInstance(nullptr, IID_IDownloadLibPlugin, m_plugin.put_void())) ||
        FAILED(m_plugin->Initialize(h.provider()))) {
        fail("the plug-in did not start");
    }
    h.events().deliver_posted();  // message 0: the sweep timer starts
    m_q = static_cast<IQuorrin*>(h.services().registered(IID_IQuorrin));
    if (!m_q || h.events().timers().size() != 1) fail("the plug-in did not register its object and timer");
    m_floor = std::make_unique<floor::services>(h);
    m_downloaded.push_back(0);  // ids start at 1
}

session::~session() {
    m_floor.reset();
    m_plugin->Uninitialize();
    m_plugin.reset();
    m_task_data.reset();
    m_report_data.reset();
    const std::vector<std::string> problems = m_host->problems();
    if (!problems.empty()) fail("host problem at the end of a session: " + problems.front());
}

IAsynTimerEvents* session::timer_sink() { return m_host->events().timers().front().sink; }

HRESULT session::register_task(std::int32_t id) {
    std::int32_t interval = 0;
    if (static_cast<std::size_t>(id) >= m_downloaded.size()) m_downloaded.resize(static_cast<std::size_t>(id) + 1);
    m_downloaded[static_cast<std::size_t>(id)] = kClickBytes;
    return m_q->RegisterTask(id, 1, 1, static_cast<std::uint32_t>(kCid.size()),
                             reinterpret_cast<const std::uint8_t*>(kCid.data()), 4'000'000'000ull,
                             static_cast<std::uint32_t>(kGcid.size()),
                             reinterpret_cast<const std::uint8_t*>(kGcid.data()), kClickTimeMs, kClickBytes, &m_array,
                             &interval, m_task_data.get());
}

HRESULT session::unregister_task(std::int32_t id) {
    return m_q->UnregisterTask(id, static_cast<std::uint32_t>(kCid.size()),
                               reinterpret_cast<const std::uint8_t*>(kCid.data()),
                               m_downloaded[static_cast<std::size_t>(id)], m_report_data.get(), 2);
}

HRESULT session::update(std::int32_t id, std::uint64_t delta) {
    std::uint64_t& downloaded = m_downloaded[static_cast<std::size_t>(id)];
    downloaded += delta;
    return m_q->UpdateTask(id, downloaded);
}

void session::fill_lists(std::int32_t id) {
    for (int i = 0; i < kFillSamples; ++i) update(id, i < 14 ? kSlowDelta + i : kFastDelta + i);
}

void session::add_tasks(std::int32_t count) {
    for (std::int32_t id = m_tasks + 1; id <= m_tasks + count; ++id) {
        if (FAILED(register_task(id))) fail("RegisterTask failed");
    }
    for (int i = 0; i < kFillSamples; ++i) {
        for (std::int32_t id = m_tasks + 1; id <= m_tasks + count; ++id) update(id, i < 14 ? kSlowDelta + i : kFastDelta + i);
    }
    m_tasks += count;
}

session& shared_session(const std::string& plain_key) {
    const std::string key = (g_build == build::unguarded ? "unguarded:" : "") + plain_key;
    if (!g_shared || g_shared_key != key) {
        g_shared.reset();  // one plug-in at a time
        g_shared = std::make_unique<session>();
        g_shared_key = key;
    }
    return *g_shared;
}

void end_shared_session() {
    g_shared.reset();
    g_shared_key.clear();
}

}  // namespace bench
