// Every method of the contract that the module calls or exposes, reached through its raw slot.
#include <gtest/gtest.h>

#include <string>

#include "config/CStringSetter.h"
#include "plugin/CDownloadLibPlugin.h"
#include "reference_host.h"
#include "slot_call.h"

namespace {

using refhost::reference_host;

class HostSlots : public ::testing::Test {
protected:
    reference_host host;
    const std::string& last() const { return host.log.entries().back(); }
};

TEST_F(HostSlots, ServiceProvider) {
    IHostServiceProvider* p = host.provider();
    void* out = nullptr;
    EXPECT_EQ(S_OK, (call_slot<HRESULT, const GUID*, void**>(p, 10, &SID_PingService, &out)));
    EXPECT_EQ("provider.GetService ping", last());
    ASSERT_NE(nullptr, out);
    static_cast<IUnknown*>(out)->Release();

    refhost::host_ref<refhost::data_object> object = host.make_data("registered");
    EXPECT_EQ(S_OK, (call_slot<HRESULT, const GUID*, IUnknown*>(p, 8, &IID_IQuorrin, static_cast<IHostData*>(object.get()))));
    EXPECT_EQ("provider.RegisterObject IQuorrin", last());
    EXPECT_EQ(S_OK, (call_slot<HRESULT, const GUID*>(p, 9, &IID_IQuorrin)));
    EXPECT_EQ("provider.UnregisterObject IQuorrin", last());

    out = nullptr;
    EXPECT_EQ(S_OK, (call_slot<HRESULT, const GUID*, const GUID*, void**>(p, 12, &CLSID_HostData, &IID_IHostData, &out)));
    EXPECT_EQ("provider.CreateObject", last());
    ASSERT_NE(nullptr, out);
    static_cast<IUnknown*>(out)->Release();

    for (int reserved : {3, 4, 5, 6, 7, 11}) EXPECT_EQ(E_NOTIMPL, call_slot<HRESULT>(p, reserved)) << "slot " << reserved;
}

TEST_F(HostSlots, AsynEventService) {
    IAsynEventService* events = &host.events();
    auto* sink = reinterpret_cast<IAsynTimerEvents*>(0);
    EXPECT_EQ(E_POINTER, (call_slot<HRESULT, IAsynTimerEvents*, std::uint32_t, std::uint32_t, std::int32_t>(events, 5, sink, 0, 15000, 1)));
    EXPECT_EQ("events.StartTimer 0 15000 1", last());
    call_slot<HRESULT, IAsynTimerEvents*>(events, 7, sink);
    EXPECT_EQ("events.StopTimers", last());
    call_slot<HRESULT, IAsynMessageEvents*>(events, 8, nullptr);
    EXPECT_EQ("events.AdviseMessages", last());
    call_slot<HRESULT, IAsynMessageEvents*>(events, 9, nullptr);
    EXPECT_EQ("events.UnadviseMessages", last());
    call_slot<HRESULT, IAsynMessageEvents*, std::uint32_t, std::uintptr_t, std::uint32_t>(events, 10, nullptr, 7, 0, 0);
    EXPECT_EQ("events.PostAsynMessage 7", last());
    call_slot<HRESULT, IAsynMessageEvents*, std::uint32_t, std::uintptr_t, std::uint32_t>(events, 11, nullptr, 1, 0, 0);
    EXPECT_EQ("events.SendAsynMessage 1", last());
}

TEST_F(HostSlots, ReportTransferPeerPingConfigAndLimitServices) {
    call_slot<HRESULT, std::uint32_t, const char*, IHostData*>(static_cast<IStatReportService*>(&host.reports()), 8, 7u, "Quorrin", nullptr);
    EXPECT_EQ("report.SubmitReport Quorrin", last());

    host.transfer().download_speed = 4321;
    std::uint32_t speed = 0;
    call_slot<HRESULT, std::uint32_t*>(static_cast<ITransferStatService*>(&host.transfer()), 4, &speed);
    EXPECT_EQ("transfer.GetDownloadSpeed", last());
    EXPECT_EQ(4321u, speed);
    call_slot<HRESULT, IHostData**>(static_cast<ITransferTotals*>(&host.transfer()), 4, nullptr);
    EXPECT_EQ("totals.FillTotals", last());

    IPeerNetworkService* peer = &host.peer();
    host.peer().external_ip = 99;
    std::uint32_t ip = 0;
    call_slot<HRESULT, std::uint32_t*>(peer, 7, &ip);
    EXPECT_EQ("peer.GetExternalIp", last());
    EXPECT_EQ(99u, ip);
    call_slot<HRESULT, IStringSetter*>(peer, 11, nullptr);
    EXPECT_EQ("peer.GetPeerId", last());
    host.peer().counters[1] = 5;
    std::uint64_t c[4] = {};
    call_slot<HRESULT, std::uint64_t*, std::uint64_t*, std::uint64_t*, std::uint64_t*>(peer, 27, &c[0], &c[1], &c[2], &c[3]);
    EXPECT_EQ("peer.GetTransferCounters", last());
    EXPECT_EQ(5u, c[1]);

    IPingService* ping = &host.ping();
    const std::uint32_t addresses[1] = {0x04030201};
    call_slot<HRESULT, const std::uint32_t*, std::uint32_t>(ping, 5, addresses, 1u);
    EXPECT_EQ("ping.StartPing 1.2.3.4", last());
    std::int32_t ms = -1;
    call_slot<HRESULT, std::uint32_t, std::int32_t, std::int32_t*>(ping, 6, 0x04030201u, 1, &ms);
    EXPECT_EQ("ping.GetPing 1.2.3.4 remove", last());
    call_slot<HRESULT>(ping, 7);
    EXPECT_EQ("ping.StopAll", last());

    host.stat_values().set("Quorrin", "low_count", 6);
    std::int32_t value = 0;
    void* stat_data = nullptr;
    host.provider()->GetService(&SID_StatDataService, &stat_data);
    call_slot<HRESULT, std::uint32_t, const char*, std::uint32_t, const char*, std::int32_t*>(stat_data, 4, 7u, "Quorrin", 9u, "low_count", &value);
    EXPECT_EQ("stat_data.GetInt Quorrin/low_count", last());
    EXPECT_EQ(6, value);
    static_cast<IUnknown*>(stat_data)->Release();

    host.setting_bools().set("debug", "show_peer_id", 1);
    void* settings = nullptr;
    host.provider()->GetService(&SID_SettingsService, &settings);
    call_slot<HRESULT, std::uint32_t, const char*, std::uint32_t, const char*, std::int32_t*>(settings, 4, 3u, "env", 15u, "user_task_count", &value);
    EXPECT_EQ("settings.GetInt env/user_task_count", last());
    value = 0;
    call_slot<HRESULT, std::uint32_t, const char*, std::uint32_t, const char*, std::int32_t*>(settings, 6, 5u, "debug", 12u, "show_peer_id", &value);
    EXPECT_EQ("settings.GetBool debug/show_peer_id", last());
    EXPECT_EQ(1, value);
    static_cast<IUnknown*>(settings)->Release();

    host.speed_limit().limit = 2048;
    std::uint32_t limit = 0;
    call_slot<HRESULT, std::uint32_t*>(static_cast<ISpeedLimitService*>(&host.speed_limit()), 4, &limit);
    EXPECT_EQ("speed_limit.GetDownloadLimit", last());
    EXPECT_EQ(2048u, limit);
}

TEST_F(HostSlots, DataObject) {
    refhost::host_ref<refhost::data_object> object = host.make_data("");
    IHostData* data = object.get();
    call_slot<HRESULT, std::uint32_t, const char*>(data, 3, 4u, "name");
    call_slot<HRESULT, std::uint32_t, const char*, std::int64_t>(data, 5, 1u, "i", std::int64_t{-7});
    std::int64_t i = 0;
    call_slot<HRESULT, std::uint32_t, const char*, std::int64_t*>(data, 6, 1u, "i", &i);
    EXPECT_EQ(-7, i);
    call_slot<HRESULT, std::uint32_t, const char*, std::uint32_t, const char*>(data, 7, 1u, "s", 3u, "abc");
    quorrin::byte_string got;
    quorrin::CStringSetter setter(&got);
    call_slot<HRESULT, std::uint32_t, const char*, IStringSetter*>(data, 8, 1u, "s", static_cast<IStringSetter*>(&setter));
    EXPECT_EQ("abc", got);
    call_slot<HRESULT, std::uint32_t, const char*, IHostData*>(data, 9, 1u, "d", nullptr);
    refhost::host_ref<refhost::data_object> target = host.make_data("");
    call_slot<HRESULT, IHostData*>(data, 13, static_cast<IHostData*>(target.get()));
    EXPECT_EQ(*refhost::node("name", {{"i", -7}, {"s", "abc"}, {"d", refhost::null_child{}}}), target->snapshot());
}

TEST(ModuleSlots, StringSetter) {
    quorrin::byte_string destination = "old";
    quorrin::CStringSetter setter(&destination);
    IStringSetter* raw = &setter;
    EXPECT_EQ(S_OK, (call_slot<HRESULT, std::uint32_t, const char*>(raw, 3, 3u, "new")));
    EXPECT_EQ("new", destination);
    EXPECT_EQ(2u, call_slot<ULONG>(raw, 1));
    EXPECT_EQ(1u, call_slot<ULONG>(raw, 2));
    void* out = nullptr;
    EXPECT_EQ(S_OK, (call_slot<HRESULT, const IID*, void**>(raw, 0, &IID_IStringSetter, &out)));
    EXPECT_EQ(raw, out);
    raw->Release();
}

TEST(ModuleSlots, PluginObject) {
    auto* plugin = new quorrin::CDownloadLibPlugin();
    IDownloadLibPlugin* raw = plugin;
    EXPECT_EQ(1u, call_slot<ULONG>(raw, 1));
    std::int32_t value = 5;
    EXPECT_EQ(S_OK, call_slot<HRESULT>(raw, 3, &value));
    EXPECT_EQ(0, value);
    EXPECT_EQ(S_FALSE, call_slot<HRESULT>(raw, 6));
    EXPECT_EQ(E_POINTER, call_slot<HRESULT>(raw, 4, static_cast<IHostServiceProvider*>(nullptr)));
    EXPECT_EQ(S_OK, call_slot<HRESULT>(raw, 5));
    EXPECT_EQ(0u, call_slot<ULONG>(raw, 2));
}

}  // namespace
