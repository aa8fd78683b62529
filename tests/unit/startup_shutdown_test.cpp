#include <gtest/gtest.h>

#include "assertion_capture.h"
#include "config/setting.h"
#include "config/stat_config.h"
#include "config/stat_data.h"
#include "nothrow_failure.h"
#include "session_fixture.h"
#include "stat/engine_guard.h"
#include "support/UnknownBase.h"
#include "support/host_services.h"
#include "support/module_lock.h"

namespace {

using strings = std::vector<std::string>;

class StartUp : public SessionTest {};

// Configuration services that answer nothing and note each release of them.
template <class I>
class release_noting final : public refhost::com_object<I> {
public:
    release_noting(const char* label, strings* releases) : refhost::com_object<I>(label), m_releases(releases) {}
    ULONG STDMETHODCALLTYPE Release() override {
        m_releases->push_back(this->label());
        return refhost::com_object<I>::Release();
    }
    HRESULT STDMETHODCALLTYPE GetInt(std::uint32_t, const char*, std::uint32_t, const char*, std::int32_t*) override {
        return E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE GetBool(std::uint32_t, const char*, std::uint32_t, const char*, std::int32_t*) {
        return E_FAIL;
    }

private:
    strings* m_releases;
};

// A service whose second QueryInterface fails but still hands out a reference.
class refusing_yet_handing_out final : public IUnknown, public refhost::tracked {
public:
    using tracked::tracked;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = static_cast<IUnknown*>(this);
        add_ref();
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }
};

TEST_F(StartUp, SequenceInOrder) {
    EXPECT_EQ((strings{"provider.GetService stat_data", "provider.GetService settings",
                       "settings.GetBool debug/show_peer_id", "settings.GetBool debug/ignore_user_set_speed",
                       "provider.GetService report", "provider.GetService events", "provider.GetService transfer",
                       "provider.GetService peer", "provider.GetService ping", "stat_data.GetInt Quorrin/sample_interval",
                       "stat_data.GetInt Quorrin/overdue", "stat_data.GetInt Quorrin/low_count",
                       "stat_data.GetInt Quorrin/high_count", "stat_data.GetInt Quorrin/dt_duration",
                       "events.AdviseMessages", "events.PostAsynMessage 0", "provider.RegisterObject IQuorrin",
                       "events.StartTimer 0 15000 1"}),
              host->log.entries());
    EXPECT_EQ(3000, stat->sample_interval());
    EXPECT_EQ(1u, host->events().timers().size());
}

TEST_F(StartUp, ShutDownSequenceInOrderAndEverythingReleased) {
    host->log.clear();
    stop();
    EXPECT_EQ((strings{"provider.UnregisterObject IQuorrin", "events.StopTimers", "events.UnadviseMessages"}), host->log.entries());
    EXPECT_EQ(nullptr, quorrin::GetHostServiceProvider());
    EXPECT_EQ(nullptr, quorrin::GetAsynEventService());
    EXPECT_EQ(nullptr, quorrin::GetPingService());
    EXPECT_EQ(nullptr, quorrin::stat_data::instance());
    EXPECT_EQ(nullptr, quorrin::setting::instance());
    EXPECT_EQ(0, quorrin::module_lock_count());
    expect_clean();
}

TEST_F(StartUp, LocalConfigurationServicesReleasedStatisticsDataFirst) {
    stop();
    strings releases;
    auto stat_data_service = refhost::make_host<release_noting<IStatDataService>>("stat_data", &releases);
    auto settings_service = refhost::make_host<release_noting<ISettingsService>>("settings", &releases);
    host->services().add_service(SID_StatDataService, stat_data_service.get(), "stat_data");
    host->services().add_service(SID_SettingsService, settings_service.get(), "settings");
    start();
    EXPECT_EQ((strings{"stat_data", "settings"}), releases);
    stop();
    host->services().remove_service(SID_StatDataService);
    host->services().remove_service(SID_SettingsService);
}

TEST_F(StartUp, RefusedInterfaceHandedOutAnywayIsReleasedAtOnce) {
    stop();
    auto peer = refhost::make_host<refusing_yet_handing_out>("refusing peer network service");
    auto ping = refhost::make_host<refusing_yet_handing_out>("refusing ping service");
    host->services().add_service(SID_PeerNetworkService, peer.get(), "peer");
    host->services().add_service(SID_PingService, ping.get(), "ping");
    start();
    EXPECT_EQ(nullptr, quorrin::GetPeerNetworkService());
    EXPECT_EQ(nullptr, quorrin::GetPingService());
    EXPECT_EQ(0, peer->foreign_refs());
    EXPECT_EQ(0, ping->foreign_refs());
    stop();
    host->services().remove_service(SID_PeerNetworkService);
    host->services().remove_service(SID_PingService);
}

TEST_F(StartUp, SecondSessionStartsFromTheSameState) {
    register_task(1);
    restart();
    EXPECT_TRUE(stat->tasks().empty());
    EXPECT_EQ(S_OK, register_task(1));
}

TEST_F(StartUp, OpenTasksAreDiscardedWithoutAReport) {
    ASSERT_EQ(S_OK, register_task(1));
    ASSERT_EQ(S_OK, register_task(2, task_spec{}));
    manual_clock::advance(20000);
    host->log.clear();
    stop();
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(0u, host->log.count("ping."));
}

TEST_F(StartUp, MessageZeroMayArriveLate) {
    stop();  // start() delivered message 0; this time it stays queued
    auto* object = new quorrin::CDownloadLibPlugin();
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IDownloadLibPlugin, plugin.put_void()));
    ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
    EXPECT_EQ(1u, host->events().queued());
    EXPECT_TRUE(host->events().timers().empty());
    EXPECT_EQ(S_OK, plugin->Uninitialize());  // the queued message goes with the sink
    EXPECT_EQ(0u, host->events().queued());
    plugin.reset();
}

TEST_F(StartUp, FailedAllocationRegistersNothingAndKeepsNothing) {
    stop();
    host->log.clear();
    auto* object = new quorrin::CDownloadLibPlugin();
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IDownloadLibPlugin, plugin.put_void()));
    nothrow_failure::fail_next(1);
    EXPECT_EQ(E_OUTOFMEMORY, plugin->Initialize(host->provider()));
    EXPECT_EQ(0u, host->log.count("provider.RegisterObject"));
    EXPECT_EQ(nullptr, quorrin::GetHostServiceProvider());
    EXPECT_EQ(nullptr, quorrin::stat_data::instance());
    expect_clean();
    EXPECT_EQ(S_OK, plugin->Initialize(host->provider()));  // and it can be tried again
    stat = object->statistics();
    q = static_cast<IQuorrin*>(host->services().registered(IID_IQuorrin));
}

std::string held_at_shut_down_report() {
    return std::string("(\"\xC4\xB3 CUnknownSingleThread \xC5\xC9\xC9\xFA\xC0\xE0\xCE\xF6\xB9\xB9\xCA\xB1\xD2\xFD\xD3\xC3\xBC\xC6\xCA\xFD\xB2\xBB\xD5\xFD\xC8\xB7\",m_dwRef == 1) not true, detail: CQuorrin@") +
        std::string(quorrin::GetModuleFileTitle()) + " file: .\\UnknownBase.cpp line: 27";
}

// A host that handles the report goes on with a module that is wholly shut down and free to start
// again: the report is raised after the call has left the engine.
const char* engine_at_report() {
    if (quorrin::engine_guard::busy()) return "engine still held";
    if (quorrin::GetHostServiceProvider() || quorrin::GetAsynEventService()) return "services still kept";
    return "engine free, services released";
}

TEST_F(StartUp, StatisticsObjectHeldAtShutDownIsReportedAfterTheCallHasLeft) {
    assertion_capture::state_at_report = &engine_at_report;
    EXPECT_ASSERTION_REPORT_THEN(
        {
            host->services().keeps_unregistered = true;
            plugin->Uninitialize();
        },
        held_at_shut_down_report(), "engine free, services released");
    assertion_capture::state_at_report = nullptr;
}

class StartUpRequiredOnly : public SessionTest {
protected:
    StartUpRequiredOnly() : SessionTest(refhost::host_options{true, true, false, true, true, false, false, false}) {}
};

TEST_F(StartUpRequiredOnly, RegistersWithoutTheOptionalServices) {
    EXPECT_NE(nullptr, q);
    EXPECT_EQ(nullptr, quorrin::GetStatReportService());
    EXPECT_EQ(nullptr, quorrin::GetPeerNetworkService());
    EXPECT_EQ(nullptr, quorrin::GetPingService());
    EXPECT_EQ(S_OK, register_task(1));
    manual_clock::advance(20000);
    EXPECT_EQ(S_OK, unregister(1, 100));
    EXPECT_TRUE(stat->tasks().empty());
}

class StartUpWithoutEvents : public SessionTest {
protected:
    StartUpWithoutEvents() : SessionTest(refhost::host_options{true, true, true, false, true, true, true, true}) {}
};

TEST_F(StartUpWithoutEvents, TasksStillFinish) {
    EXPECT_EQ(S_OK, register_task(1));
    manual_clock::advance(20000);
    EXPECT_EQ(S_OK, unregister(1, 100));
    EXPECT_EQ(1u, reports().size());
}

}  // namespace
