#include <chrono>
#include <cstring>
#include <thread>

#include "assertion_capture.h"
#include "module_fixture.h"
#include "tessaron.h"

refhost::plugin_module* ModuleTest::module = nullptr;

namespace {

using quorrin::com_ptr;

TEST_F(ModuleTest, UnloadsRightAfterLoad) { EXPECT_EQ(S_OK, module->DllCanUnloadNow()); }

TEST_F(ModuleTest, ClassObjectIsCachedAndOnlyForItsClass) {
    com_ptr<IClassFactory> first = factory();
    com_ptr<IUnknown> second;
    EXPECT_EQ(S_OK, module->DllGetClassObject(CLSID_DownloadLibPlugin, IID_IUnknown, second.put_void()));
    EXPECT_EQ(static_cast<IUnknown*>(first.get()), second.get());

    void* other = &other;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, module->DllGetClassObject(IID_IQuorrin, IID_IClassFactory, &other));
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(E_POINTER, module->DllGetClassObject(CLSID_DownloadLibPlugin, IID_IClassFactory, nullptr));
    other = &other;
    EXPECT_EQ(E_NOINTERFACE, module->DllGetClassObject(CLSID_DownloadLibPlugin, IID_IQuorrin, &other));
    EXPECT_EQ(nullptr, other);
}

TEST_F(ModuleTest, CreateInstanceRules) {
    com_ptr<IClassFactory> f = factory();
    void* out = &out;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, f->CreateInstance(host->provider(), IID_IUnknown, &out));
    EXPECT_EQ(nullptr, out);
    out = &out;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, f->CreateInstance(host->provider(), IID_IQuorrin, &out));
    EXPECT_EQ(nullptr, out);
    out = &out;
    EXPECT_EQ(E_NOINTERFACE, f->CreateInstance(nullptr, IID_IQuorrin, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, f->CreateInstance(nullptr, IID_IUnknown, nullptr));
    f.reset();
    EXPECT_EQ(S_OK, module->DllCanUnloadNow());  // the refused object is gone again

    com_ptr<IUnknown> unknown;
    EXPECT_EQ(S_OK, factory()->CreateInstance(nullptr, IID_IUnknown, unknown.put_void()));
    com_ptr<IDownloadLibPlugin> plugin;
    EXPECT_EQ(S_OK, unknown.query_to(&plugin));
    EXPECT_EQ(static_cast<IUnknown*>(plugin.get()), unknown.get());
}

TEST_F(ModuleTest, EveryHoldKeepsTheModuleLoaded) {
    {
        com_ptr<IClassFactory> f = factory();
        EXPECT_EQ(S_FALSE, module->DllCanUnloadNow());  // a reference beyond the class table's
    }
    EXPECT_EQ(S_OK, module->DllCanUnloadNow());
    {
        com_ptr<IClassFactory> f = factory();
        EXPECT_EQ(S_OK, f->LockServer(TRUE));
        f.reset();
        EXPECT_EQ(S_FALSE, module->DllCanUnloadNow());
        factory()->LockServer(FALSE);
    }
    EXPECT_EQ(S_OK, module->DllCanUnloadNow());
    {
        com_ptr<IDownloadLibPlugin> plugin = create_plugin();
        EXPECT_EQ(S_FALSE, module->DllCanUnloadNow());
        ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
        EXPECT_EQ(S_FALSE, module->DllCanUnloadNow());
        EXPECT_EQ(S_OK, plugin->Uninitialize());
        EXPECT_EQ(S_FALSE, module->DllCanUnloadNow());
    }
    EXPECT_EQ(S_OK, module->DllCanUnloadNow());
}

TEST_F(ModuleTest, QueryInterfaceWithoutAnOutPointerIsRefusedEverywhere) {
    com_ptr<IClassFactory> f = factory();
    com_ptr<IDownloadLibPlugin> plugin = create_plugin();
    ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
    auto* q = static_cast<IQuorrin*>(host->services().registered(IID_IQuorrin));
    ASSERT_NE(nullptr, q);
    {
        com_ptr<IUnknown> timer_sink, message_sink;
        ASSERT_EQ(S_OK, q->QueryInterface(IID_IAsynTimerEvents, timer_sink.put_void()));
        ASSERT_EQ(S_OK, q->QueryInterface(IID_IAsynMessageEvents, message_sink.put_void()));
        for (IUnknown* object : {static_cast<IUnknown*>(f.get()), static_cast<IUnknown*>(plugin.get()),
                                 static_cast<IUnknown*>(q), timer_sink.get(), message_sink.get()}) {
            EXPECT_EQ(E_POINTER, object->QueryInterface(IID_IUnknown, nullptr));
        }
    }
    EXPECT_EQ(S_OK, plugin->Uninitialize());
}

TEST_F(ModuleTest, RegistrationWritesNothingAndSaysSo) {
    // There is no registry script in the module: the registrar has nothing to run.
    EXPECT_EQ(static_cast<HRESULT>(0x80070715u), module->DllRegisterServer());
    EXPECT_EQ(static_cast<HRESULT>(0x80070715u), module->DllUnregisterServer());
}

TEST_F(ModuleTest, MsizeIsAnAssertionDeathTest) {
    EXPECT_ASSERTION_REPORT(module->msize(nullptr), "_msize calls must debug not ture, file: .\\vqnew.cpp, line: 76");
    int block = 0;
    EXPECT_ASSERTION_REPORT(module->msize(&block), "_msize calls must debug not ture, file: .\\vqnew.cpp, line: 76");
    EXPECT_EQ(0, pool().size_queries);
}

TEST_F(ModuleTest, AssertionReportsNeedNoMemory) {
    EXPECT_ASSERTION_REPORT(
        {
            zq_fail(0, -1);
            module->msize(nullptr);
        },
        "_msize calls must debug not ture, file: .\\vqnew.cpp, line: 76");

#ifdef _WIN32
    const std::string title = "quorrin.dll";
#else
    const std::string title = "quorrin.so";
#endif
    com_ptr<IDownloadLibPlugin> plugin = create_plugin();
    ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
    host->events().deliver_posted();
    EXPECT_ASSERTION_REPORT(
        {
            host->services().keeps_unregistered = true;  // the host still holds the statistics object
            zq_fail(0, -1);
            plugin->Uninitialize();
        },
        "(\"\xC4\xB3 CUnknownSingleThread \xC5\xC9\xC9\xFA\xC0\xE0\xCE\xF6\xB9\xB9\xCA\xB1\xD2\xFD\xD3\xC3\xBC\xC6\xCA"
        "\xFD\xB2\xBB\xD5\xFD\xC8\xB7\",m_dwRef == 1) not true, detail: CQuorrin@" +
            title + " file: .\\UnknownBase.cpp line: 27");
    EXPECT_EQ(S_OK, plugin->Uninitialize());
}

TEST_F(ModuleTest, FailingPoolGivesOutOfMemory) {
    com_ptr<IClassFactory> f = factory();
    zq_fail(0, -1);
    void* out = &out;
    EXPECT_EQ(E_OUTOFMEMORY, f->CreateInstance(nullptr, IID_IDownloadLibPlugin, &out));
    EXPECT_EQ(nullptr, out);
    zq_fail(-1, 0);
    com_ptr<IDownloadLibPlugin> plugin = create_plugin();
    const zq_usage before = pool();
    zq_fail(0, -1);
    EXPECT_EQ(E_OUTOFMEMORY, plugin->Initialize(host->provider()));
    zq_fail(-1, 0);
    EXPECT_EQ(before.blocks, pool().blocks);
    EXPECT_EQ(nullptr, host->services().registered(IID_IQuorrin));
    ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
    EXPECT_EQ(S_OK, plugin->Uninitialize());
}

// A short session, in which the pool may fail at any one allocation.
void short_session(refhost::reference_host& host, IDownloadLibPlugin* plugin, std::vector<HRESULT>& results) {
    results.push_back(plugin->Initialize(host.provider()));
    host.events().deliver_posted();
    auto* q = static_cast<IQuorrin*>(host.services().registered(IID_IQuorrin));
    if (q) {
        cdn_ip_entry entries[2] = {};
        std::memcpy(entries[0].chars, "10.0.0.1", 8);
        entries[0].length = 8;
        std::memcpy(entries[1].chars, "10.0.0.2", 8);
        entries[1].length = 8;
        const cdn_ip_array array{2, entries};
        const std::string cid(20, 'C');
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(cid.data());
        std::int32_t interval = 0;
        refhost::host_ref<refhost::data_object> task = host.make_data("task");
        task->put_string("offline_url", "http://o/x");
        results.push_back(q->RegisterTask(1, 1, 1, 20, bytes, 100, 20, bytes, 1000, 10, &array, &interval, task.get()));
        results.push_back(q->RegisterTask(2, 1, 0, 20, bytes, 100, 20, bytes, 1000, 10, nullptr, &interval, task.get()));
        results.push_back(q->AddOfflineCdnIp(10, "http://o/x", 7));
        for (std::uint64_t b = 100; b < 2000; b += 100) {
            results.push_back(q->UpdateTask(1, b * 3));
            results.push_back(q->UpdateTask(2, b));
        }
        refhost::host_ref<refhost::data_object> figures = host.make_data("cdn");
        figures->put_int("10.0.0.1", 5);
        results.push_back(q->UnregisterTask(1, 20, bytes, 9000, figures.get(), 0));
        host.events().fire_timers();
        results.push_back(q->UnregisterTask(2, 20, bytes, 9000, nullptr, 0));
    }
    results.push_back(plugin->Uninitialize());
}

TEST_F(ModuleTest, EveryAllocationMayFailAndNothingLeaks) {
    host->stat_values().set("Quorrin", "dt_duration", 0);
    host->stat_values().set("Quorrin", "low_count", 5);
    host->stat_values().set("Quorrin", "high_count", 5);
    com_ptr<IDownloadLibPlugin> plugin = create_plugin();
    const zq_usage start = pool();
    std::vector<HRESULT> results;
    short_session(*host, plugin.get(), results);
    const std::int64_t allocations = pool().allocations - start.allocations;
    ASSERT_GT(allocations, 20);
    for (std::int64_t n = 0; n < allocations; ++n) {
        results.clear();
        zq_fail(n, 1);
        short_session(*host, plugin.get(), results);
        zq_fail(-1, 0);
        for (HRESULT hr : results) {
            EXPECT_TRUE(hr == S_OK || hr == E_FAIL || hr == E_OUTOFMEMORY) << "allocation " << n << ": 0x" << std::hex << hr;
        }
        EXPECT_EQ(start.blocks, pool().blocks) << "allocation " << n;
        EXPECT_TRUE(host->problems().empty()) << "allocation " << n;
    }
}

// Strings live in the runtime's heap: a 4,000-byte cid, gcid or offline URL, kept and compared,
// asks the pool for no block of that size.
TEST_F(ModuleTest, StringsStayOutOfThePool) {
    com_ptr<IDownloadLibPlugin> plugin = create_plugin();
    ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
    auto* q = static_cast<IQuorrin*>(host->services().registered(IID_IQuorrin));
    ASSERT_NE(nullptr, q);
    const std::string cid(4000, 'C');
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(cid.data());
    refhost::host_ref<refhost::data_object> task = host->make_data("task");
    task->put_string("offline_url", std::string(4000, 'u'));
    std::int32_t interval = 0;
    zq_take_largest();
    ASSERT_EQ(S_OK, q->RegisterTask(1, 1, 0, 4000, bytes, 0, 4000, bytes, 0, 0, nullptr, &interval, task.get()));
    ASSERT_EQ(S_OK, q->AddOfflineCdnIp(4000, std::string(4000, 'u').c_str(), 0x0100000A));
    ASSERT_EQ(S_OK, q->UpdateTask(1, 100));
    ASSERT_EQ(S_OK, q->UnregisterTask(1, 4000, bytes, 200, nullptr, 0));
    EXPECT_LT(zq_take_largest(), 4000u);
    EXPECT_EQ(S_OK, plugin->Uninitialize());
}

TEST_F(ModuleTest, WholeSessionThroughTheExports) {
    host->stat_values().set("Quorrin", "dt_duration", 0);
    host->stat_values().set("Quorrin", "overdue", 10000);
    host->stat_values().set("Quorrin", "sample_interval", 1000);
    host->ping().pings = {{0x0100000A, 9}};
    host->peer().peer_id = "PEER";
    host->speed_limit().limit = 2048;
    {
        com_ptr<IDownloadLibPlugin> plugin = create_plugin();
        const zq_usage before = pool();
        ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
        host->events().deliver_posted();
        auto* q = static_cast<IQuorrin*>(host->services().registered(IID_IQuorrin));
        ASSERT_NE(nullptr, q);

        cdn_ip_entry entry{};
        std::memcpy(entry.chars, "10.0.0.1", 8);
        entry.length = 8;
        const cdn_ip_array array{1, &entry};
        const std::string cid(20, '\x11');
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(cid.data());
        std::int32_t interval = 0;
        refhost::host_ref<refhost::data_object> task = host->make_data("task");
        task->put_string("offline_url", "http://offline/x");
        ASSERT_EQ(S_OK, q->RegisterTask(1, 5, 1, 20, bytes, 1000, 20, bytes, 2000, 100, &array, &interval, nullptr));
        EXPECT_EQ(1000, interval);
        ASSERT_EQ(S_OK, q->RegisterTask(2, 5, 0, 20, bytes, 1000, 0, nullptr, 0, 0, nullptr, &interval, task.get()));
        ASSERT_EQ(S_OK, q->AddOfflineCdnIp(16, "http://offline/x", 0x0100000A));  // shares task 1's address
        ASSERT_EQ(S_OK, q->RegisterTask(3, 5, 1, 20, bytes, 1000, 0, nullptr, 0, 0, &array, &interval, nullptr));
        for (int i = 1; i <= 3; ++i) {
            ASSERT_EQ(S_OK, q->UpdateTask(1, 100 + 1000u * i));
            ASSERT_EQ(S_OK, q->UpdateTask(2, 500u * i));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        IHostData* shared = nullptr;
        ASSERT_EQ(S_OK, tessaron_create_data("cdn", &shared));
        ASSERT_EQ(S_OK, q->UnregisterTask(1, 20, bytes, 5000, shared, 3));
        shared->Release();
        ASSERT_EQ(E_FAIL, q->UnregisterTask(2, 3, bytes, 5000, nullptr, 0));  // wrong cid
        ASSERT_EQ(S_OK, q->UnregisterTask(2, 20, bytes, 2000, nullptr, 0));
        std::this_thread::sleep_for(std::chrono::milliseconds(10100));
        host->events().fire_timers();  // task 3 was never sampled: swept
        EXPECT_TRUE(host->ping().watched().empty());

        ASSERT_EQ(2u, host->reports().reports().size());
        const refhost::data_node& first = host->reports().reports()[0].tree;
        EXPECT_EQ("Quorrin", first.name);
        EXPECT_EQ((std::vector<std::string>{"cdn_down_bytes_stat", "peerid", "external_ip", "bandwidth", "dl_speed_limit",
                                            "task_type", "click_type", "cid", "gcid", "filesize", "click_time",
                                            "timeb_click", "bytesb_click", "avgb_click", "timef_click", "bytesf_click",
                                            "avgf_click", "unreg_reason", "sample_interval", "cdn_ip_list",
                                            "low_speed_point_list", "high_speed_point_list"}),
                  first.keys());
        EXPECT_EQ(2, first.integer("dl_speed_limit"));
        EXPECT_EQ(3, first.integer("unreg_reason"));
        EXPECT_EQ(4900, first.integer("bytesf_click"));
        EXPECT_EQ(*refhost::node("cdn_ip_list", {{"count", 1}, {"0", 16777226}}), *first.child("cdn_ip_list"));
        EXPECT_EQ(5, first.child("low_speed_point_list")->integer("count"));
        EXPECT_EQ(9, first.child("low_speed_point_list")->child("0")->child("ping_cdn_list")->child("0")->integer("ping"));
        const refhost::data_node& second = host->reports().reports()[1].tree;
        EXPECT_EQ(0, second.integer("click_type"));
        EXPECT_EQ(*refhost::node("cdn_ip_list", {{"count", 1}, {"0", 16777226}}), *second.child("cdn_ip_list"));

        ASSERT_EQ(S_OK, plugin->Uninitialize());
        EXPECT_EQ(before.blocks, pool().blocks);
        EXPECT_EQ(before.bytes, pool().bytes);
    }
    EXPECT_EQ(S_OK, module->DllCanUnloadNow());
}

#ifdef _WIN32
// The native module stays mapped once loaded (it keeps a runtime of its own); on Win32 the host
// may unload it, and the class factory that the class table kept goes back to the pool.
TEST(ModuleUnload, ReleasesTheKeptClassFactory) {
    zq_usage loaded{}, unloaded{};
    {
        refhost::plugin_module module(refhost::plugin_module::default_path());
        ASSERT_TRUE(module.loaded()) << module.error();
        com_ptr<IClassFactory> f;
        ASSERT_EQ(S_OK, module.DllGetClassObject(CLSID_DownloadLibPlugin, IID_IClassFactory, f.put_void()));
        f.reset();
        EXPECT_EQ(S_OK, module.DllCanUnloadNow());
        zq_usage_of(&loaded);
    }
    zq_usage_of(&unloaded);
    EXPECT_LT(unloaded.blocks, loaded.blocks);
}
#endif

}  // namespace
