// Whole sessions through the module's exports against hosts that leave services out, fail their
// calls or give data objects that take no writes. Each ends with every host reference released,
// the pool's blocks back where they were and the module free to unload.
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "module_fixture.h"

namespace {

using quorrin::com_ptr;
using refhost::reference_host;

struct hostile_case {
    const char* name;
    void (*set_up)(reference_host& host);
    std::size_t reports;  // what the host receives of the session's two finished tasks
    HRESULT unregister = S_OK;
    void (*check)(reference_host& host) = nullptr;
};

void missing(reference_host& host, const GUID& service) { host.set_present(service, false); }
void failing(reference_host& host, const GUID& service, bool hands_out) {
    host.services().failing_services.push_back(service);
    host.services().failure_hands_out = hands_out;
}

const refhost::data_node& first_report(reference_host& host) { return host.reports().reports().at(0).tree; }
bool has_key(const refhost::data_node& node, const char* key) { return node.find(key) != nullptr; }

const hostile_case kCases[] = {
    {"ReportServiceMissing", [](reference_host& h) { missing(h, SID_StatReportService); }, 0},
    {"PeerNetworkMissing", [](reference_host& h) { missing(h, SID_PeerNetworkService); }, 2, S_OK,
     [](reference_host& h) {
         EXPECT_FALSE(has_key(first_report(h), "peerid"));
         EXPECT_FALSE(has_key(first_report(h), "external_ip"));
     }},
    {"PingServiceMissing", [](reference_host& h) { missing(h, SID_PingService); }, 2, S_OK,
     [](reference_host& h) { EXPECT_TRUE(h.ping().told().empty()); }},
    {"SpeedLimitMissing", [](reference_host& h) { missing(h, SID_SpeedLimitService); }, 2, S_OK,
     [](reference_host& h) { EXPECT_FALSE(has_key(first_report(h), "dl_speed_limit")); }},
    // Without its configuration the module keeps its defaults: 15 s before a task is reported.
    {"StatDataMissing", [](reference_host& h) { missing(h, SID_StatDataService); }, 0},
    {"SettingsMissing", [](reference_host& h) { missing(h, SID_SettingsService); }, 2},
    {"EventServiceMissing", [](reference_host& h) { missing(h, SID_AsynEventService); }, 2},
    {"TransferStatMissing", [](reference_host& h) { missing(h, SID_TransferStatService); }, 2},
    {"EveryServiceMissing",
     [](reference_host& h) {
         for (const GUID* id : {&SID_StatDataService, &SID_SettingsService, &SID_StatReportService, &SID_AsynEventService,
                                &SID_TransferStatService, &SID_PeerNetworkService, &SID_PingService, &SID_SpeedLimitService})
             missing(h, *id);
     },
     0},
    {"ReportLookupFails", [](reference_host& h) { failing(h, SID_StatReportService, false); }, 0},
    {"ReportLookupFailsButHandsOut", [](reference_host& h) { failing(h, SID_StatReportService, true); }, 2},
    {"EventLookupFails", [](reference_host& h) { failing(h, SID_AsynEventService, false); }, 2},
    {"EventLookupFailsButHandsOut", [](reference_host& h) { failing(h, SID_AsynEventService, true); }, 2},
    {"TransferLookupFails", [](reference_host& h) { failing(h, SID_TransferStatService, false); }, 2},
    {"PingLookupFailsButHandsOut", [](reference_host& h) { failing(h, SID_PingService, true); }, 2},
    {"PeerLookupFailsButHandsOut", [](reference_host& h) { failing(h, SID_PeerNetworkService, true); }, 2},
    {"SpeedLimitLookupFails", [](reference_host& h) { failing(h, SID_SpeedLimitService, false); }, 2},
    {"ConfigurationLookupsFailButHandOut",
     [](reference_host& h) {
         failing(h, SID_StatDataService, true);
         failing(h, SID_SettingsService, true);
     },
     2},
    {"PeerAndPingRefuseTheirInterfaces",
     [](reference_host& h) {
         h.peer().refuse_interface = true;
         h.ping().refuse_interface = true;
     },
     2},
    {"StartTimerFails", [](reference_host& h) { h.events().start_timer_fails = true; }, 2, S_OK,
     [](reference_host& h) { EXPECT_TRUE(h.events().timers().empty()); }},
    {"AdviseMessagesFails", [](reference_host& h) { h.events().advise_fails = true; }, 2},
    {"PostAsynMessageFails", [](reference_host& h) { h.events().post_fails = true; }, 2},
    {"SendAsynMessageFails", [](reference_host& h) { h.events().send_fails = true; }, 0, E_FAIL},
    {"GetDownloadSpeedFails", [](reference_host& h) { h.transfer().speed_fails = true; }, 2},
    {"FillTotalsFails", [](reference_host& h) { h.transfer().totals_fail = true; }, 2},
    {"TotalsRefused", [](reference_host& h) { h.transfer().totals = refhost::transfer_stat_service::totals_mode::refuse; }, 2},
    {"GetTransferCountersFails", [](reference_host& h) { h.peer().counters_fail = true; }, 2},
    {"GetPeerIdFails",
     [](reference_host& h) {
         h.peer().peer_id_fails = true;
         h.peer().writes_peer_id = false;
     },
     2, S_OK, [](reference_host& h) { EXPECT_EQ("", std::get<std::string>(*first_report(h).find("peerid"))); }},
    {"GetExternalIpFails", [](reference_host& h) { h.peer().writes_external_ip = false; }, 2, S_OK,
     [](reference_host& h) { EXPECT_EQ(0, first_report(h).integer("external_ip")); }},
    {"GetDownloadLimitFails", [](reference_host& h) { h.speed_limit().writes_limit = false; }, 2, S_OK,
     [](reference_host& h) { EXPECT_EQ(4194303, first_report(h).integer("dl_speed_limit")); }},
    {"SubmitReportFails", [](reference_host& h) { h.reports().submit_fails = true; }, 0},
    {"PingFails", [](reference_host& h) { h.ping().fails = true; }, 2},
    {"CreateObjectYieldsNothing", [](reference_host& h) { h.data.behaviour.create_fails = true; }, 2, S_OK,
     [](reference_host& h) { EXPECT_TRUE(h.reports().reports().at(0).null_object); }},
    {"DataObjectsFailEveryWrite", [](reference_host& h) { h.data.behaviour.puts_fail = true; }, 2, S_OK,
     [](reference_host& h) { EXPECT_TRUE(first_report(h).entries.empty()); }},
    {"DataObjectsFailEveryRead",
     [](reference_host& h) {
         h.data.behaviour.gets_fail = true;
         h.transfer().totals = refhost::transfer_stat_service::totals_mode::replace;
     },
     2},
    {"GetStringSetsTwiceThenFails",
     [](reference_host& h) { h.data.behaviour.get_string = refhost::data_behaviour::get_string_mode::once_then_fail; }, 2},
};

class HostileHost : public ModuleTest, public ::testing::WithParamInterface<hostile_case> {};

// Two tasks finished after a second (so both are reported), one swept by no timer and left open
// for the shut-down; every call's result is checked against the case.
TEST_P(HostileHost, WholeSessionReleasesEverything) {
    const hostile_case& c = GetParam();
    host->stat_values().set("Quorrin", "dt_duration", 0);
    host->stat_values().set("Quorrin", "sample_interval", 1000);
    host->ping().pings = {{0x0100000A, -1}};
    c.set_up(*host);
    {
        com_ptr<IDownloadLibPlugin> plugin = create_plugin();
        const zq_usage before = pool();
        ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
        host->events().deliver_posted();
        auto* q = static_cast<IQuorrin*>(host->services().registered(IID_IQuorrin));
        ASSERT_NE(nullptr, q);

        cdn_ip_entry entries[3] = {};
        for (cdn_ip_entry& e : entries) {
            std::memcpy(e.chars, "10.0.0.1", 8);
            e.length = 8;
        }
        entries[1].chars[7] = '2';
        std::memcpy(entries[2].chars, "255.255.255.255", 15);
        entries[2].length = 15;
        const cdn_ip_array array{3, entries};
        const std::string cid(20, '\x42');
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(cid.data());
        std::int32_t interval = 0;
        refhost::host_ref<refhost::data_object> task = host->make_data("task");
        task->put_string("offline_url", "http://o/x");

        EXPECT_EQ(S_OK, q->RegisterTask(1, 3, 1, 20, bytes, 5000, 20, bytes, 1500, 100, &array, &interval, nullptr));
        EXPECT_EQ(S_OK, q->RegisterTask(2, 3, 0, 20, bytes, 5000, 0, nullptr, 0, 0, nullptr, &interval, task.get()));
        EXPECT_EQ(S_OK, q->RegisterTask(3, 3, 1, 20, bytes, 5000, 20, bytes, 0, 0, &array, &interval, task.get()));
        EXPECT_EQ(S_OK, q->AddOfflineCdnIp(10, "http://o/x", 0x0300000A));
        for (std::uint64_t b = 1; b <= 3; ++b) {
            EXPECT_EQ(S_OK, q->UpdateTask(1, 100 + 4000 * b));
            EXPECT_EQ(S_OK, q->UpdateTask(2, 50 - b));  // backwards: wraps
        }
        host->events().fire_timers();
        std::this_thread::sleep_for(std::chrono::milliseconds(1050));
        refhost::host_ref<refhost::data_object> figures = host->make_data("cdn");
        figures->put_int("10.0.0.1", 5);
        EXPECT_EQ(c.unregister, q->UnregisterTask(1, 20, bytes, 20000, figures.get(), 1));
        EXPECT_EQ(c.unregister, q->UnregisterTask(2, 20, bytes, 10, nullptr, 2));
        ASSERT_EQ(c.reports, host->reports().reports().size());
        if (c.check) c.check(*host);

        ASSERT_EQ(S_OK, plugin->Uninitialize());
        EXPECT_EQ(before.blocks, pool().blocks);
        EXPECT_EQ(before.bytes, pool().bytes);
    }
    EXPECT_EQ(S_OK, module->DllCanUnloadNow());
}

// An offline address that could not be counted must not stay with the record either: when the
// record went, it would take the count of another task that holds the same address.
TEST_F(ModuleTest, OfflineAddressIsKeptOnlyWhenCounted) {
    const std::uint32_t address = 0x0700000A;
    cdn_ip_entry entry{};
    std::memcpy(entry.chars, "10.0.0.7", 8);
    entry.length = 8;
    const cdn_ip_array array{1, &entry};
    const std::string cid(20, 'C');
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(cid.data());
    for (std::int64_t n = 0; n < 6; ++n) {
        com_ptr<IDownloadLibPlugin> plugin = create_plugin();
        ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
        auto* q = static_cast<IQuorrin*>(host->services().registered(IID_IQuorrin));
        refhost::host_ref<refhost::data_object> task = host->make_data("task");
        task->put_string("offline_url", "http://o/x");
        std::int32_t interval = 0;
        ASSERT_EQ(S_OK, q->RegisterTask(1, 1, 0, 20, bytes, 100, 20, bytes, 0, 0, nullptr, &interval, task.get()));
        zq_fail(n, 1);
        const HRESULT added = q->AddOfflineCdnIp(10, "http://o/x", address);
        zq_fail(-1, 0);
        EXPECT_TRUE(added == S_OK || added == E_OUTOFMEMORY) << "allocation " << n;
        ASSERT_EQ(S_OK, q->RegisterTask(2, 1, 1, 20, bytes, 100, 20, bytes, 0, 0, &array, &interval, nullptr));
        ASSERT_EQ(S_OK, q->UnregisterTask(1, 20, bytes, 100, nullptr, 0));
        EXPECT_EQ(std::set<std::uint32_t>{address}, host->ping().told()) << "allocation " << n;
        ASSERT_EQ(S_OK, plugin->Uninitialize());
        host->ping().StopAll();
    }
}

INSTANTIATE_TEST_SUITE_P(, HostileHost, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<hostile_case>& info) { return std::string(info.param.name); });

}  // namespace
