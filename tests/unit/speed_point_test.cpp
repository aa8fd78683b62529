#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <random>

#include "services_fixture.h"
#include "stat/speed_point.h"
#include "support/host_services.h"

namespace {

using quorrin::speed_point;
using quorrin::sample_scratch;
using quorrin::speed_point_heap;

speed_point point(std::uint32_t avgs, std::uint32_t tag = 0) {
    speed_point p;
    p.avgs = avgs;
    p.time = tag;
    return p;
}

std::vector<std::uint32_t> drain(speed_point_heap& heap, bool tags = false) {
    std::vector<std::uint32_t> out;
    while (!heap.empty()) {
        out.push_back(tags ? heap.top().time : heap.top().avgs);
        heap.pop();
    }
    return out;
}

TEST(SpeedPointLayout, UploadSpeedFollowsDownloadSpeed) {
    speed_point p;
    EXPECT_EQ(reinterpret_cast<char*>(&p.g_dl_speed) + 4, reinterpret_cast<char*>(&p.g_up_speed));
}

TEST(SpeedHeapOrder, TiesComeOutAsTheStandardHeapStepsGive) {
    // The reference: the standard library's heap algorithms with the same "lies below" relation.
    for (const bool slowest : {true, false}) {
        std::mt19937 random(slowest ? 7 : 11);
        speed_point_heap heap(slowest ? speed_point_heap::order::slowest_kept : speed_point_heap::order::fastest_kept);
        std::vector<speed_point> reference;
        const auto below = [slowest](const speed_point& a, const speed_point& b) {
            return slowest ? a.avgs < b.avgs : a.avgs > b.avgs;
        };
        std::vector<std::uint32_t> ours, theirs;
        for (std::uint32_t tag = 1; tag <= 400; ++tag) {
            if (random() % 3 != 0 || reference.empty()) {
                const speed_point p = point(random() % 4, tag);  // few distinct speeds: many ties
                heap.push(p);
                reference.push_back(p);
                std::push_heap(reference.begin(), reference.end(), below);
            } else {
                ours.push_back(heap.top().time);
                heap.pop();
                theirs.push_back(reference.front().time);
                std::pop_heap(reference.begin(), reference.end(), below);
                reference.pop_back();
            }
        }
        while (!reference.empty()) {
            theirs.push_back(reference.front().time);
            std::pop_heap(reference.begin(), reference.end(), below);
            reference.pop_back();
        }
        const std::vector<std::uint32_t> rest = drain(heap, true);
        ours.insert(ours.end(), rest.begin(), rest.end());
        EXPECT_EQ(theirs, ours) << (slowest ? "low list" : "high list");
    }
}

struct offer_case {
    const char* name;
    std::vector<std::uint32_t> low, high;  // both full at capacity 3
    std::uint32_t avgs;
    int completions;
    std::vector<std::uint32_t> low_after, high_after;  // in reading order
    friend void PrintTo(const offer_case& c, std::ostream* os) { *os << c.name; }
};

class SpeedOffer : public ::testing::TestWithParam<offer_case> {};

TEST_P(SpeedOffer, CompletesOnceAndOnlyWhenTaken) {
    const offer_case& c = GetParam();
    speed_point_heap low(speed_point_heap::order::slowest_kept), high(speed_point_heap::order::fastest_kept);
    for (std::uint32_t v : c.low) low.push(point(v));
    for (std::uint32_t v : c.high) high.push(point(v));
    speed_point p = point(c.avgs);
    int completions = 0;
    sample_scratch scratch;
    const bool taken = quorrin::offer(low, 3, high, 3, p, scratch, [&](speed_point&) { ++completions; });
    EXPECT_EQ(c.completions, completions);
    EXPECT_EQ(c.completions == 1, taken);
    EXPECT_EQ(c.low_after, drain(low));
    EXPECT_EQ(c.high_after, drain(high));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpeedOffer,
    ::testing::Values(
        offer_case{"slower_than_low_top", {10, 20, 30}, {40, 50, 60}, 15, 1, {20, 15, 10}, {40, 50, 60}},
        offer_case{"faster_than_high_top", {10, 20, 30}, {40, 50, 60}, 45, 1, {30, 20, 10}, {45, 50, 60}},
        offer_case{"between_both_tops", {10, 20, 30}, {40, 50, 60}, 35, 0, {30, 20, 10}, {40, 50, 60}},
        offer_case{"equal_to_low_top", {10, 20, 30}, {40, 50, 60}, 30, 0, {30, 20, 10}, {40, 50, 60}},
        offer_case{"equal_to_high_top", {10, 20, 30}, {40, 50, 60}, 40, 0, {30, 20, 10}, {40, 50, 60}},
        offer_case{"enters_both", {10, 20, 30}, {1, 2, 3}, 5, 1, {20, 10, 5}, {2, 3, 5}}),
    [](const ::testing::TestParamInfo<offer_case>& info) { return std::string(info.param.name); });

// A completion that runs out of memory (fill_point allocates the ping list) leaves both lists as
// they were: the sample is not taken and nothing is evicted.
TEST(SpeedOfferFailure, ListsUnchangedWhenCompletionThrows) {
    for (const std::uint32_t avgs : {5u, 35u, 100u}) {  // into the low list, into neither, into the high list
        speed_point_heap low(speed_point_heap::order::slowest_kept), high(speed_point_heap::order::fastest_kept);
        for (std::uint32_t v : {10, 20, 30}) low.push(point(v));
        for (std::uint32_t v : {40, 50, 60}) high.push(point(v));
        speed_point p = point(avgs);
        bool threw = false;
        sample_scratch scratch;
        try {
            quorrin::offer(low, 3, high, 3, p, scratch, [](speed_point&) { throw std::bad_alloc(); });
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        EXPECT_EQ(avgs != 35u, threw) << avgs;
        EXPECT_EQ((std::vector<std::uint32_t>{30, 20, 10}), drain(low)) << avgs;
        EXPECT_EQ((std::vector<std::uint32_t>{40, 50, 60}), drain(high)) << avgs;
    }
    // With room in the lists nothing is evicted: the failed sample is simply not there.
    speed_point_heap low(speed_point_heap::order::slowest_kept), high(speed_point_heap::order::fastest_kept);
    low.push(point(7));
    speed_point p = point(3);
    sample_scratch scratch;
    EXPECT_THROW(quorrin::offer(low, 5, high, 5, p, scratch, [](speed_point&) { throw std::bad_alloc(); }),
                 std::bad_alloc);
    EXPECT_EQ((std::vector<std::uint32_t>{7}), drain(low));
    EXPECT_TRUE(high.empty());
}

// Whether a list takes a sample is decided from the top's speed kept beside the heap; after any
// change (push, pop, eviction, a completion that fails part-way) it must be the top's own.
TEST(SpeedOfferRandom, KeptTopSpeedFollowsEveryChange) {
    std::mt19937 random(5);
    speed_point_heap low(speed_point_heap::order::slowest_kept), high(speed_point_heap::order::fastest_kept);
    constexpr std::uint32_t kCount = 6;
    // Also as if the list were full at its present size, so that the top's speed decides.
    const auto agrees = [&](const speed_point_heap& list, bool slowest, std::uint32_t avgs) {
        const bool ranks = !list.empty() && (slowest ? list.top().avgs > avgs : list.top().avgs < avgs);
        const auto full = static_cast<std::uint32_t>(list.size());
        return list.takes(avgs, kCount) == (full < kCount || ranks) && list.takes(avgs, full) == ranks;
    };
    sample_scratch scratch;
    for (int step = 0; step < 2000; ++step) {
        const std::uint32_t avgs = random() % 50;
        const int what = static_cast<int>(random() % 8);
        if (what == 0 && !low.empty()) {
            low.pop();
        } else if (what == 1 && !high.empty()) {
            high.pop();
        } else {
            const bool fails = what == 2;
            try {
                quorrin::offer(low, kCount, high, kCount, point(avgs), scratch, [&](speed_point&) {
                    if (fails) throw std::bad_alloc();
                });
            } catch (const std::bad_alloc&) {
            }
        }
        for (const std::uint32_t probe : {0u, avgs, 25u, 49u}) {
            ASSERT_TRUE(agrees(low, true, probe)) << "step " << step << ", speed " << probe;
            ASSERT_TRUE(agrees(high, false, probe)) << "step " << step << ", speed " << probe;
        }
        if (!low.empty()) {
            ASSERT_TRUE(agrees(low, true, low.top().avgs - 1) && agrees(low, true, low.top().avgs + 1));
        }
        if (!high.empty()) {
            ASSERT_TRUE(agrees(high, false, high.top().avgs - 1) && agrees(high, false, high.top().avgs + 1));
        }
    }
}

TEST(SpeedOfferCopies, BothListsHoldTheCompletedPoint) {
    speed_point_heap low(speed_point_heap::order::slowest_kept), high(speed_point_heap::order::fastest_kept);
    speed_point p = point(8);
    sample_scratch scratch;
    quorrin::offer(low, 5, high, 5, p, scratch, [](speed_point& q) {
        q.already_dl_bytes = 77;
        q.ping_cdn_list = {{1, 20}};
    });
    EXPECT_EQ(77u, low.top().already_dl_bytes);
    EXPECT_EQ(77u, high.top().already_dl_bytes);
    EXPECT_EQ(low.top().ping_cdn_list, high.top().ping_cdn_list);
}

class GlobalSpeeds : public ServicesTest {
protected:
    explicit GlobalSpeeds(const refhost::host_options& options = {}) : ServicesTest(options) {}
};

TEST_F(GlobalSpeeds, MeasuredAgainstTheRunningTotals) {
    host->peer().counters[0] = 3000;
    host->peer().counters[1] = 1000;
    host->peer().counters[2] = 999999;  // not part of the upload total
    host->transfer().total_download_bytes = 10000;
    speed_point p;
    p.elapsed = 2;
    std::uint64_t dl_total = 4000, up_total = 2000;
    quorrin::update_global_speeds(p, dl_total, up_total);
    EXPECT_EQ(3000u, p.g_dl_speed);
    EXPECT_EQ(1000u, p.g_up_speed);
    EXPECT_EQ(10000u, dl_total);
    EXPECT_EQ(4000u, up_total);
    EXPECT_EQ((std::vector<std::string>{"peer.GetTransferCounters", "totals.FillTotals"}),
              std::vector<std::string>({host->log.matching("peer.")[0], host->log.matching("totals.")[0]}));
}

TEST_F(GlobalSpeeds, ReplacedTotalsObjectIsReadAndReleased) {
    host->transfer().totals = refhost::transfer_stat_service::totals_mode::replace;
    host->transfer().total_download_bytes = 500;
    speed_point p;
    std::uint64_t dl_total = 0;
    quorrin::update_dl_speed(p, dl_total);
    EXPECT_EQ(500u, p.g_dl_speed);
    EXPECT_EQ(500u, dl_total);
}

TEST_F(GlobalSpeeds, RefusedTotalsLeaveEverythingAsItWas) {
    host->transfer().totals = refhost::transfer_stat_service::totals_mode::refuse;
    speed_point p;
    p.g_dl_speed = 42;
    std::uint64_t dl_total = 900;
    quorrin::update_dl_speed(p, dl_total);
    EXPECT_EQ(42u, p.g_dl_speed);
    EXPECT_EQ(900u, dl_total);
    EXPECT_EQ(0u, host->log.count("totals.FillTotals"));
}

TEST_F(GlobalSpeeds, MissingTotalCountsAsZeroAndWraps) {
    host->transfer().has_total = false;
    speed_point p;
    std::uint64_t dl_total = 1;
    quorrin::update_dl_speed(p, dl_total);
    EXPECT_EQ(0xFFFFFFFFu, p.g_dl_speed);
    EXPECT_EQ(0u, dl_total);
}

class GlobalSpeedsWithoutPeer : public GlobalSpeeds {
protected:
    GlobalSpeedsWithoutPeer() : GlobalSpeeds(refhost::host_options{true, true, true, true, true, false, true, true}) {}
};

TEST_F(GlobalSpeedsWithoutPeer, DownloadSpeedAloneAndTotalsUntouched) {
    host->transfer().download_speed = 700;
    host->transfer().upload_speed = 300;
    speed_point p;
    p.g_up_speed = 5;
    std::uint64_t dl_total = 11, up_total = 12;
    quorrin::update_global_speeds(p, dl_total, up_total);
    EXPECT_EQ(700u, p.g_dl_speed);
    EXPECT_EQ(5u, p.g_up_speed);
    host->transfer().writes_pair = true;
    quorrin::update_global_speeds(p, dl_total, up_total);
    EXPECT_EQ(300u, p.g_up_speed);
    EXPECT_EQ(11u, dl_total);
    EXPECT_EQ(12u, up_total);
    EXPECT_EQ(0u, host->log.count("totals."));
}

class FillPoint : public ServicesTest {
protected:
    explicit FillPoint(const refhost::host_options& options = {}) : ServicesTest(options) {}
};

TEST_F(FillPoint, PingsInAscendingAddressOrder) {
    host->setting_ints().set("env", "user_task_count", -1);
    host->ping().pings[0x0200000A] = 35;  // 10.0.0.2
    speed_point p;
    quorrin::fill_point(p, {0x0200000A, 0x0100000A});
    EXPECT_EQ(-1, p.g_task_count);
    EXPECT_EQ((quorrin::ping_map{{0x0100000A, -1}, {0x0200000A, 35}}), p.ping_cdn_list);
    EXPECT_EQ((std::vector<std::string>{"ping.GetPing 10.0.0.1", "ping.GetPing 10.0.0.2"}), host->log.matching("ping."));
}

class FillPointWithoutPing : public FillPoint {
protected:
    FillPointWithoutPing() : FillPoint(refhost::host_options{true, true, true, true, true, true, false, true}) {}
};

TEST_F(FillPointWithoutPing, EveryAddressStillGetsMinusOne) {
    speed_point p;
    quorrin::fill_point(p, {1, 2});
    EXPECT_EQ((quorrin::ping_map{{1, -1}, {2, -1}}), p.ping_cdn_list);
}

}  // namespace
