#include <gtest/gtest.h>

#include <random>

#include "services_fixture.h"
#include "stat/task_record.h"

namespace {

using quorrin::task_record;

class TaskRecordTest : public ServicesTest {
protected:
    quorrin::sample_scratch scratch;
    void SetUp() override {
        manual_clock::set_tick(5000000);
        manual_clock::set_wall(1700000000);
        ServicesTest::SetUp();
    }
    std::vector<std::uint32_t> read_low(task_record& r) {
        std::vector<std::uint32_t> out;
        for (; r.low_speed_point_list.size(); r.low_speed_point_list.pop()) out.push_back(r.low_speed_point_list.top().avgs);
        return out;
    }
    std::vector<std::uint32_t> read_high(task_record& r) {
        std::vector<std::uint32_t> out;
        for (; r.high_speed_point_list.size(); r.high_speed_point_list.pop()) out.push_back(r.high_speed_point_list.top().avgs);
        return out;
    }
};

TEST_F(TaskRecordTest, WorkedFigures) {
    task_record r;
    r.begin(2100000, 10500, 3, scratch);
    EXPECT_EQ(1700000000u, r.click_time);
    EXPECT_EQ(10u, r.timeb_click);
    EXPECT_EQ(210000u, r.avgb_click);
    const quorrin::speed_point& click = r.low_speed_point_list.top();
    EXPECT_EQ(10u, click.elapsed);
    EXPECT_EQ(210000u, click.avgs);
    EXPECT_EQ(2100000u, click.already_dl_bytes);
    EXPECT_EQ(3u, click.member_task_count);
    EXPECT_EQ(1700000000u, click.time);

    manual_clock::advance(3500);
    manual_clock::set_wall(1700000999);  // a sample's time counts from the click, not the wall clock
    r.sample(2800000, 3, scratch);
    quorrin::speed_point newest = r.low_speed_point_list.top();  // the faster of the two
    EXPECT_EQ(3u, newest.elapsed);
    EXPECT_EQ(233333u, newest.avgs);
    EXPECT_EQ(1700000003u, newest.time);
    EXPECT_EQ(2800000u, newest.already_dl_bytes);

    manual_clock::advance(62900 - 3500);
    r.end(9000000, 3, 7, scratch);
    EXPECT_EQ(62u, r.timef_click);
    EXPECT_EQ(6900000u, r.bytesf_click);
    EXPECT_EQ(111290u, r.avgf_click);
    EXPECT_EQ(7, r.unreg_reason);
}

TEST_F(TaskRecordTest, SubSecondIntervalsUseTheBytesThemselves) {
    task_record r;
    r.begin(0x1'0000'0005ull, 999, 1, scratch);
    EXPECT_EQ(0u, r.timeb_click);
    EXPECT_EQ(5u, r.avgb_click);
    manual_clock::advance(999);
    r.sample(0x1'0000'0005ull + 700, 1, scratch);
    EXPECT_EQ(700u, r.low_speed_point_list.top().avgs);  // the byte difference itself
    manual_clock::advance(500);
    r.end(0x1'0000'0005ull + 900, 1, 0, scratch);
    EXPECT_EQ(1u, r.timef_click);
    r = task_record();
    r.begin(10, 0, 1, scratch);
    manual_clock::advance(400);
    r.end(0x1'0000'0010ull, 1, 0, scratch);
    EXPECT_EQ(0u, r.timef_click);
    EXPECT_EQ(6u, r.avgf_click);  // low 32 bits of 0x1'0000'0006
}

TEST_F(TaskRecordTest, TickWrapBetweenSamples) {
    manual_clock::set_tick(0xFFFFFC18u);  // 1000 ms before the wrap
    task_record r;
    r.begin(0, 0, 1, scratch);
    manual_clock::advance(3000);
    EXPECT_EQ(2000u, manual_clock::tick());
    r.sample(6000, 1, scratch);
    EXPECT_EQ(2000u, r.last_tick);
    EXPECT_EQ(2000u, r.low_speed_point_list.top().avgs);
    EXPECT_EQ(r.click_time + 3, r.low_speed_point_list.top().time);
}

TEST_F(TaskRecordTest, OverdueIsStrict) {
    task_record r;
    r.begin(0, 0, 1, scratch);
    const std::uint32_t overdue = quorrin::stat_config::instance()->overdue();
    const auto is_overdue = [&](std::uint32_t now) { return task_record::stale(r.last_tick, now, overdue); };
    EXPECT_FALSE(is_overdue(manual_clock::tick() + overdue));
    EXPECT_TRUE(is_overdue(manual_clock::tick() + overdue + 1));
    manual_clock::advance(overdue);
    r.sample(1, 1, scratch);
    EXPECT_FALSE(is_overdue(manual_clock::tick() + overdue));
}

TEST_F(TaskRecordTest, DurationGateIsStrict) {
    host->stat_values().set("Quorrin", "dt_duration", 15000);
    restart();
    task_record r;
    r.timef_click = 15;
    EXPECT_FALSE(r.exceeds_dt_duration());
    r.timef_click = 16;
    EXPECT_TRUE(r.exceeds_dt_duration());
    r.timef_click = 4294968;  // the product wraps to 704
    EXPECT_FALSE(r.exceeds_dt_duration());
}

TEST_F(TaskRecordTest, TaskCountKeepsItsLowSixteenBits) {
    task_record r;
    r.begin(0, 0, 65536 + 9, scratch);
    EXPECT_EQ(9u, r.low_speed_point_list.top().member_task_count);
}

TEST_F(TaskRecordTest, HeapScenarioWithCapacityFive) {
    set_counts(5, 5);
    task_record r;
    r.begin(60, 1000, 1, scratch);  // click point avgs 60
    for (std::uint64_t step : {50u, 40u, 30u, 20u, 10u}) {
        manual_clock::advance(1000);
        r.sample(r.last_bytes + step, 1, scratch);
    }
    EXPECT_EQ((std::vector<std::uint32_t>{50, 40, 30, 20, 10}), read_low(r));
    EXPECT_EQ((std::vector<std::uint32_t>{20, 30, 40, 50, 60}), read_high(r));
}

TEST_F(TaskRecordTest, DroppedSampleAsksForNoPingOrTaskCount) {
    set_counts(5, 5);
    task_record r;
    r.cdn_ip_list = {0x04030201};
    r.begin(0, 0, 1, scratch);
    for (std::uint64_t step : {10u, 20u, 30u, 40u, 50u, 60u, 70u, 80u, 90u}) {
        manual_clock::advance(1000);
        r.sample(r.last_bytes + step, 1, scratch);
    }
    host->log.forbid("ping.GetPing");
    host->log.forbid("settings.GetInt env/user_task_count");
    manual_clock::advance(1000);
    const std::uint64_t before = r.last_bytes;
    r.sample(before + 45, 1, scratch);  // neither slower than the low top nor faster than the high top
    EXPECT_EQ(before + 45, r.last_bytes);
    host->log.allow_all();
}

TEST_F(TaskRecordTest, TaskWithoutAddressesHasEmptyPingLists) {
    task_record r;
    r.begin(100, 1000, 1, scratch);
    manual_clock::advance(1000);
    r.sample(300, 1, scratch);
    for (; r.low_speed_point_list.size(); r.low_speed_point_list.pop()) EXPECT_TRUE(r.low_speed_point_list.top().ping_cdn_list.empty());
}

TEST_F(TaskRecordTest, MemoryIsBoundedByTheCapacities) {
    task_record r;
    r.cdn_ip_list = {1, 2, 3};
    r.begin(0, 0, 1, scratch);
    const std::size_t low_capacity = r.low_speed_point_list.capacity();
    const std::size_t high_capacity = r.high_speed_point_list.capacity();
    std::uint64_t bytes = 0;
    std::mt19937 random(3);
    for (int i = 0; i < 20000; ++i) {
        manual_clock::advance(1000);
        bytes += random() % 100000;
        r.sample(bytes, 1, scratch);
    }
    EXPECT_EQ(14u, r.low_speed_point_list.size());
    EXPECT_EQ(14u, r.high_speed_point_list.size());
    EXPECT_EQ(low_capacity, r.low_speed_point_list.capacity());
    EXPECT_EQ(high_capacity, r.high_speed_point_list.capacity());
}

}  // namespace
