// Tests of the core below the statistics object: the reference host's services are kept in the
// module's slots and the configuration is loaded, as Initialize does, without CQuorrin.
#pragma once

#include "config/setting.h"
#include "config/stat_config.h"
#include "config/stat_data.h"
#include "host_fixture.h"
#include "manual_clock.h"
#include "plugin/kept_services.h"
#include "support/com_ptr.h"

class ServicesTest : public HostTest {
protected:
    explicit ServicesTest(const refhost::host_options& options = {}) : HostTest(options) {}

    void SetUp() override { start(); }
    void TearDown() override {
        stop();
        HostTest::TearDown();
    }

    void start() {
        quorrin::keep_service_provider(host->provider());
        quorrin::com_ptr<IStatDataService> data;
        host->provider()->GetService(&SID_StatDataService, data.put_void());
        quorrin::stat_data::create(data.get());
        quorrin::com_ptr<ISettingsService> settings;
        host->provider()->GetService(&SID_SettingsService, settings.put_void());
        quorrin::setting::create(settings.get());
        quorrin::obtain_kept_services();
        quorrin::stat_config::instance()->load();
    }
    void stop() {
        quorrin::release_kept_services();
        quorrin::stat_config::release();
        quorrin::stat_data::release();
        quorrin::setting::release();
    }
    // After changing the host's values: load them again.
    void restart() {
        stop();
        start();
    }
    void set_counts(std::int32_t low, std::int32_t high) {
        host->stat_values().set("Quorrin", "low_count", low);
        host->stat_values().set("Quorrin", "high_count", high);
        restart();
    }
};
