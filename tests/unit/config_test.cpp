#include <gtest/gtest.h>

#include "config/setting.h"
#include "config/stat_config.h"
#include "config/stat_data.h"
#include "host_fixture.h"
#include "support/com_ptr.h"

namespace {

using quorrin::com_ptr;
using quorrin::setting;
using quorrin::stat_config;
using quorrin::stat_data;

class ConfigTest : public HostTest {
protected:
    void TearDown() override {
        stat_config::release();
        stat_data::release();
        setting::release();
        service.reset();
        HostTest::TearDown();
    }
    IStatDataService* stat_data_service() {
        void* out = nullptr;
        host->provider()->GetService(&SID_StatDataService, &out);
        service.attach(static_cast<IUnknown*>(out));
        return static_cast<IStatDataService*>(out);
    }
    ISettingsService* settings_service() {
        void* out = nullptr;
        host->provider()->GetService(&SID_SettingsService, &out);
        service.attach(static_cast<IUnknown*>(out));
        return static_cast<ISettingsService*>(out);
    }
    void load_with(std::int32_t value) {
        for (const char* key : {"sample_interval", "overdue", "low_count", "high_count", "dt_duration"}) {
            host->stat_values().set("Quorrin", key, value);
        }
        stat_data::create(stat_data_service());
        stat_config::instance()->load();
    }
    com_ptr<IUnknown> service;
};

TEST_F(ConfigTest, ValuesBeforeLoading) {
    const stat_config* config = stat_config::instance();
    EXPECT_EQ(2000u, config->sample_interval());
    EXPECT_EQ(30000u, config->overdue());
    EXPECT_EQ(10u, config->low_count());
    EXPECT_EQ(10u, config->high_count());
    EXPECT_EQ(10000u, config->dt_duration());
}

TEST_F(ConfigTest, DefaultsWhenEveryLookupFails) {
    host->stat_values().fail_all(E_FAIL);
    stat_data::create(stat_data_service());
    stat_config::instance()->load();
    const stat_config* config = stat_config::instance();
    EXPECT_EQ(3000u, config->sample_interval());
    EXPECT_EQ(30000u, config->overdue());
    EXPECT_EQ(14u, config->low_count());
    EXPECT_EQ(14u, config->high_count());
    EXPECT_EQ(15000u, config->dt_duration());
    EXPECT_EQ((std::vector<std::string>{"stat_data.GetInt Quorrin/sample_interval", "stat_data.GetInt Quorrin/overdue",
                                        "stat_data.GetInt Quorrin/low_count", "stat_data.GetInt Quorrin/high_count",
                                        "stat_data.GetInt Quorrin/dt_duration"}),
              host->log.matching("stat_data."));
}

struct bound_case {
    const char* name;
    std::int32_t host_value;
    std::uint32_t sample_interval, overdue, low_count, high_count, dt_duration;
    friend void PrintTo(const bound_case& c, std::ostream* os) { *os << c.name; }
};

class ConfigLowerBounds : public ConfigTest, public ::testing::WithParamInterface<bound_case> {};

TEST_P(ConfigLowerBounds, RaisedUnsigned) {
    const bound_case& c = GetParam();
    load_with(c.host_value);
    const stat_config* config = stat_config::instance();
    EXPECT_EQ(c.sample_interval, config->sample_interval());
    EXPECT_EQ(c.overdue, config->overdue());
    EXPECT_EQ(c.low_count, config->low_count());
    EXPECT_EQ(c.high_count, config->high_count());
    EXPECT_EQ(c.dt_duration, config->dt_duration());
}

INSTANTIATE_TEST_SUITE_P(
    HostValues, ConfigLowerBounds,
    ::testing::Values(bound_case{"zero", 0, 1000, 10000, 5, 5, 0}, bound_case{"four", 4, 1000, 10000, 5, 5, 4},
                      bound_case{"five", 5, 1000, 10000, 5, 5, 5}, bound_case{"n999", 999, 1000, 10000, 999, 999, 999},
                      bound_case{"n1000", 1000, 1000, 10000, 1000, 1000, 1000},
                      bound_case{"n9999", 9999, 9999, 10000, 9999, 9999, 9999},
                      bound_case{"minus_one", -1, 4294967295u, 4294967295u, 4294967295u, 4294967295u, 4294967295u}),
    [](const ::testing::TestParamInfo<bound_case>& info) { return std::string(info.param.name); });

TEST_F(ConfigTest, StatDataReturnsHostValuesUnchecked) {
    host->stat_values().set("s", "negative", -5);
    host->stat_values().set("s", "written_then_failed", 77);
    host->stat_values().answer("s", "written_then_failed", E_FAIL);
    stat_data::create(stat_data_service());
    EXPECT_EQ(-5, stat_data::instance()->get_int("s", "negative", 1));
    EXPECT_EQ(1, stat_data::instance()->get_int("s", "written_then_failed", 1));
    EXPECT_EQ(9, stat_data::instance()->get_int("s", "missing", 9));
}

TEST_F(ConfigTest, SecondCreateKeepsTheFirstInstance) {
    stat_data::create(stat_data_service());
    stat_data* first = stat_data::instance();
    stat_data::create(nullptr);
    EXPECT_EQ(first, stat_data::instance());
    stat_data::release();
    EXPECT_EQ(nullptr, stat_data::instance());
    stat_data::release();
}

TEST_F(ConfigTest, EmptyServiceYieldsDefaults) {
    stat_data::create(nullptr);
    setting::create(nullptr);
    EXPECT_EQ(4, stat_data::instance()->get_int("Quorrin", "low_count", 4));
    EXPECT_TRUE(setting::instance()->get_bool("debug", "show_peer_id", true));
    EXPECT_EQ(3, setting::instance()->get_int("env", "user_task_count", 3));
}

TEST_F(ConfigTest, DebugSwitchesAreTrueOnlyForOne) {
    for (std::int32_t value : {0, 1, 2, -1}) {
        host->setting_bools().set("debug", "show_peer_id", value);
        host->setting_bools().set("debug", "ignore_user_set_speed", value == 1 ? 0 : 1);
        setting::create(settings_service());
        EXPECT_EQ(value == 1, quorrin::show_peer_id) << "value " << value;
        EXPECT_EQ(value != 1, quorrin::ignore_user_set_speed) << "value " << value;
        setting::release();
        service.reset();
    }
    EXPECT_EQ((std::vector<std::string>{"settings.GetBool debug/show_peer_id", "settings.GetBool debug/ignore_user_set_speed"}),
              std::vector<std::string>(host->log.entries().end() - 2, host->log.entries().end()));
}

TEST_F(ConfigTest, GetBoolFallsBackOnFailure) {
    host->setting_bools().set("debug", "x", 1);
    host->setting_bools().answer("debug", "x", E_FAIL);
    setting::create(settings_service());
    EXPECT_FALSE(setting::instance()->get_bool("debug", "x", false));
    EXPECT_TRUE(setting::instance()->get_bool("debug", "missing", true));
}

}  // namespace
