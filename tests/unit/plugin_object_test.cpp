#include <gtest/gtest.h>

#include "config/setting.h"
#include "config/stat_config.h"
#include "config/stat_data.h"
#include "host_fixture.h"
#include "plugin/CDownloadLibPlugin.h"
#include "support/com_ptr.h"
#include "support/host_services.h"
#include "support/module_lock.h"

namespace {

using quorrin::CDownloadLibPlugin;
using quorrin::com_ptr;

void expect_no_kept_services() {
    EXPECT_EQ(nullptr, quorrin::GetHostServiceProvider());
    EXPECT_EQ(nullptr, quorrin::GetAsynEventService());
    EXPECT_EQ(nullptr, quorrin::GetStatReportService());
    EXPECT_EQ(nullptr, quorrin::GetTransferStatService());
    EXPECT_EQ(nullptr, quorrin::GetPeerNetworkService());
    EXPECT_EQ(nullptr, quorrin::GetPingService());
    EXPECT_EQ(nullptr, quorrin::stat_data::instance());
    EXPECT_EQ(nullptr, quorrin::setting::instance());
}

com_ptr<IDownloadLibPlugin> new_plugin() {
    com_ptr<IDownloadLibPlugin> plugin;
    auto* object = new CDownloadLibPlugin();
    EXPECT_EQ(S_OK, object->QueryInterface(IID_IDownloadLibPlugin, plugin.put_void()));
    return plugin;
}

class PluginObject : public HostTest {
protected:
    explicit PluginObject(const refhost::host_options& options = {}) : HostTest(options) {}
};

TEST_F(PluginObject, TrivialSlots) {
    com_ptr<IDownloadLibPlugin> plugin = new_plugin();
    std::int32_t value = 42;
    EXPECT_EQ(S_OK, plugin->GetPluginValue(&value));
    EXPECT_EQ(0, value);
    EXPECT_EQ(E_POINTER, plugin->GetPluginValue(nullptr));
    EXPECT_EQ(S_FALSE, plugin->QueryStatus());
    ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
    EXPECT_EQ(S_FALSE, plugin->QueryStatus());
    EXPECT_EQ(S_OK, plugin->Uninitialize());
    EXPECT_EQ(S_FALSE, plugin->QueryStatus());
}

TEST_F(PluginObject, QueryInterface) {
    com_ptr<IDownloadLibPlugin> plugin = new_plugin();
    com_ptr<IUnknown> unknown;
    EXPECT_EQ(S_OK, plugin.query_to(&unknown));
    EXPECT_EQ(static_cast<IUnknown*>(plugin.get()), unknown.get());
    void* other = &unknown;
    EXPECT_EQ(E_NOINTERFACE, plugin->QueryInterface(IID_IQuorrin, &other));
    EXPECT_EQ(nullptr, other);
}

TEST_F(PluginObject, LivesUnderAModuleLock) {
    const std::int32_t before = quorrin::module_lock_count();
    {
        com_ptr<IDownloadLibPlugin> plugin = new_plugin();
        EXPECT_EQ(before + 1, quorrin::module_lock_count());
    }
    EXPECT_EQ(before, quorrin::module_lock_count());
}

TEST_F(PluginObject, KeepsServicesInOrderAndReleasesThem) {
    com_ptr<IDownloadLibPlugin> plugin = new_plugin();
    expect_no_kept_services();
    ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
    EXPECT_EQ(host->provider(), quorrin::GetHostServiceProvider());
    EXPECT_EQ(static_cast<IPingService*>(&host->ping()), quorrin::GetPingService());
    EXPECT_EQ(static_cast<IPeerNetworkService*>(&host->peer()), quorrin::GetPeerNetworkService());
    EXPECT_EQ((std::vector<std::string>{"provider.GetService stat_data", "provider.GetService settings",
                                        "provider.GetService report", "provider.GetService events",
                                        "provider.GetService transfer", "provider.GetService peer",
                                        "provider.GetService ping", "provider.RegisterObject IQuorrin"}),
              host->log.matching("provider."));
    EXPECT_EQ(3000u, quorrin::stat_config::instance()->sample_interval());
    EXPECT_EQ(S_OK, plugin->Uninitialize());
    expect_no_kept_services();
}

TEST_F(PluginObject, RejectsNullProviderAndSecondInitialize) {
    com_ptr<IDownloadLibPlugin> plugin = new_plugin();
    EXPECT_EQ(E_POINTER, plugin->Initialize(nullptr));
    expect_no_kept_services();
    ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
    const std::size_t calls = host->log.entries().size();
    refhost::reference_host other;
    EXPECT_EQ(E_UNEXPECTED, plugin->Initialize(other.provider()));
    EXPECT_EQ(calls, host->log.entries().size());
    EXPECT_EQ(host->provider(), quorrin::GetHostServiceProvider());
    EXPECT_EQ(S_OK, plugin->Uninitialize());
}

TEST_F(PluginObject, ReleasedWithoutUninitializeStillShutsDown) {
    {
        com_ptr<IDownloadLibPlugin> plugin = new_plugin();
        ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
        host->events().deliver_posted();
    }
    expect_no_kept_services();
    EXPECT_EQ(0, quorrin::module_lock_count());
}

TEST_F(PluginObject, OnlyTheInitialisedObjectUninitialises) {
    com_ptr<IDownloadLibPlugin> plugin = new_plugin();
    ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
    {
        com_ptr<IDownloadLibPlugin> other = new_plugin();
        EXPECT_EQ(E_UNEXPECTED, other->Initialize(host->provider()));
        EXPECT_EQ(S_OK, other->Uninitialize());
    }
    EXPECT_EQ(host->provider(), quorrin::GetHostServiceProvider());
    EXPECT_NE(nullptr, host->services().registered(IID_IQuorrin));
    EXPECT_EQ(S_OK, plugin->Uninitialize());
}

class PluginObjectRequiredOnly : public PluginObject {
protected:
    PluginObjectRequiredOnly() : PluginObject(refhost::host_options{true, true, false, true, true, false, false, false}) {}
};

TEST_F(PluginObjectRequiredOnly, OptionalSlotsStayNull) {
    com_ptr<IDownloadLibPlugin> plugin = new_plugin();
    ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
    EXPECT_EQ(nullptr, quorrin::GetStatReportService());
    EXPECT_EQ(nullptr, quorrin::GetPeerNetworkService());
    EXPECT_EQ(nullptr, quorrin::GetPingService());
    EXPECT_NE(nullptr, quorrin::GetAsynEventService());
    EXPECT_NE(nullptr, quorrin::GetTransferStatService());
    EXPECT_EQ(S_OK, plugin->Uninitialize());
}

TEST_F(PluginObject, RefusedSecondQueryInterfaceLeavesSlotNullAndReleasesTheFirst) {
    host->ping().refuse_interface = true;
    host->peer().refuse_interface = true;
    com_ptr<IDownloadLibPlugin> plugin = new_plugin();
    ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
    EXPECT_EQ(nullptr, quorrin::GetPingService());
    EXPECT_EQ(nullptr, quorrin::GetPeerNetworkService());
    EXPECT_EQ(0, host->ping().foreign_refs());
    EXPECT_EQ(0, host->peer().foreign_refs());
    EXPECT_EQ(S_OK, plugin->Uninitialize());
}

}  // namespace
