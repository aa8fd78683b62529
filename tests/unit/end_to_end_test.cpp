// A whole session through Initialize: two tasks reported (click types 1 and 0, sharing an
// address), one abandoned and one unregistered with the wrong cid, both swept; each report
// compared as a whole tree.
#include <gtest/gtest.h>

#include "session_fixture.h"
#include "tessaron.h"

namespace {

using refhost::node;
using refhost::node_ptr;

constexpr std::uint32_t W = 1700000000;  // the wall clock at the click

class EndToEnd : public SessionTest {
protected:
    void SetUp() override {
        host->stat_values().set("Quorrin", "low_count", 5);
        host->stat_values().set("Quorrin", "high_count", 5);
        host->stat_values().set("net_detect", "bandwidth", 2000000);
        host->setting_ints().set("env", "user_task_count", 4);
        host->peer().peer_id = "PEER-END-TO-END-0001";
        host->peer().external_ip = ip("203.0.113.7");
        host->transfer().download_speed = 50000;
        host->ping().pings = {{ip("10.0.0.1"), 12}, {ip("10.0.0.2"), 30}};
        host->speed_limit().limit = 1048576;
        SessionTest::SetUp();
        at(0);
    }
    // The host's global totals grow steadily: 100 bytes down and 50 up per millisecond.
    void at(std::uint32_t ms) {
        manual_clock::set_tick(1000000 + ms);
        host->transfer().total_download_bytes = 1000000 + 100ull * ms;
        host->peer().counters[0] = 500000 + 50ull * ms;
    }
};

node_ptr point(const char* name, std::int64_t seconds, std::int64_t bytes, std::int64_t avgs, std::int64_t dl,
               std::int64_t up, std::int64_t members, node_ptr pings) {
    return node(name, {{"time", W + seconds},
                       {"already_dl_bytes", bytes},
                       {"avgs", avgs},
                       {"g_dl_speed", dl},
                       {"g_up_speed", up},
                       {"g_task_count", 4},
                       {"member_task_count", members},
                       {"ping_cdn_list", pings}});
}

TEST_F(EndToEnd, WholeSession) {
    const node_ptr no_pings = node("ping_cdn_list", {{"count", 0}});
    const node_ptr one_ping = node("ping_cdn_list", {{"count", 1}, {"0", node("0", {{"ip", 16777226}, {"ping", 12}})}});
    const node_ptr two_pings = node("ping_cdn_list", {{"count", 2},
                                                       {"0", node("0", {{"ip", 16777226}, {"ping", 12}})},
                                                       {"1", node("1", {{"ip", 33554442}, {"ping", 30}})}});

    task_spec a;  // served by two CDN addresses
    a.task_type = 3;
    a.cid = ascending_bytes(0x00);
    a.gcid = ascending_bytes(0x40);
    a.filesize = 50000000;
    a.time_before_ms = 10500;
    a.bytes_before = 2100000;
    a.addresses = {"10.0.0.2", "10.0.0.1"};
    task_spec b;  // an offline URL whose CDN address comes later
    b.click_type = 0;
    b.cid = ascending_bytes(0x20);
    b.gcid = "";
    b.filesize = 8000000;
    b.addresses = {};
    b.offline_url = "http://offline.example/f";
    task_spec c;  // abandoned
    c.addresses = {"10.0.0.3"};
    task_spec d;  // unregistered with the wrong cid
    ASSERT_EQ(S_OK, register_task(10, a));
    ASSERT_EQ(S_OK, register_task(20, b));
    ASSERT_EQ(S_OK, register_task(30, c));
    ASSERT_EQ(S_OK, register_task(40, d));

    const std::uint64_t a_steps[] = {300000, 600000, 150000, 900000, 450000};
    const std::uint64_t b_steps[] = {30000, 60000, 90000, 120000, 150000};
    std::uint64_t a_bytes = a.bytes_before, b_bytes = 0;
    for (int i = 0; i < 5; ++i) {
        at(3000 * (i + 1));
        a_bytes += a_steps[i];
        b_bytes += b_steps[i];
        ASSERT_EQ(S_OK, q->UpdateTask(10, a_bytes));
        ASSERT_EQ(S_OK, q->UpdateTask(20, b_bytes));
        if (i == 0) {
            ASSERT_EQ(S_OK, q->AddOfflineCdnIp(24, "http://offline.example/f", ip("10.0.0.1")));
        }
        if (i == 1) {
            ASSERT_EQ(E_FAIL, unregister(40, 0, std::string(20, 'X')));
        }
    }
    EXPECT_EQ((std::map<std::uint32_t, std::uint32_t>{{ip("10.0.0.1"), 3}, {ip("10.0.0.2"), 1}, {ip("10.0.0.3"), 1}}),
              stat->cdn_ip_refs());

    IHostData* b_figures = nullptr;  // from the sibling module: shared, not copied
    ASSERT_EQ(S_OK, tessaron_create_data("cdn_stat", &b_figures));
    b_figures->PutInt64(8, "10.0.0.1", 455000);
    at(16400);
    ASSERT_EQ(S_OK, unregister(20, b_bytes + 5000, b.cid, b_figures, 1));
    b_figures->Release();

    refhost::host_ref<refhost::data_object> a_figures = host->make_data("cdn_stat");
    a_figures->put_int("10.0.0.1", 1000000);
    a_figures->put_int("10.0.0.2", 1570000);
    at(17600);
    ASSERT_EQ(S_OK, unregister(10, a_bytes + 170000, a.cid, a_figures.get(), 2));

    at(31000);
    host->log.clear();
    host->events().fire_timers();
    EXPECT_TRUE(stat->tasks().empty());
    EXPECT_TRUE(stat->cdn_ip_refs().empty());
    EXPECT_EQ((std::vector<std::string>{"ping.GetPing 10.0.0.3 remove", "ping.GetPing 10.0.0.1 remove", "ping.StopAll"}),
              host->log.matching("ping."));

    ASSERT_EQ(2u, reports().size());
    const node_ptr report_b = node(
        "Quorrin",
        {{"cdn_down_bytes_stat", node("cdn_stat", {{"10.0.0.1", 455000}})},
         {"peerid", "PEER-END-TO-END-0001"},
         {"external_ip", 124846283},
         {"bandwidth", 2000000},
         {"dl_speed_limit", 1024},
         {"task_type", 1},
         {"click_type", 0},
         {"cid", "202122232425262728292A2B2C2D2E2F30313233"},
         {"gcid", ""},
         {"filesize", 8000000},
         {"click_time", W},
         {"timeb_click", 0},
         {"bytesb_click", 0},
         {"avgb_click", 0},
         {"timef_click", 16},
         {"bytesf_click", 455000},
         {"avgf_click", 28437},
         {"unreg_reason", 1},
         {"sample_interval", 3000},
         {"cdn_ip_list", node("cdn_ip_list", {{"count", 1}, {"0", 16777226}})},
         {"low_speed_point_list", node("low_speed_point_list", {{"count", 5},
                                                                {"0", point("LSP", 9, 180000, 30000, 100000, 50000, 4, one_ping)},
                                                                {"1", point("LSP", 6, 90000, 20000, 100000, 50000, 4, one_ping)},
                                                                {"2", point("LSP", 3, 30000, 10000, 100000, 50000, 4, no_pings)},
                                                                {"3", point("LSP", 16, 455000, 5000, 140000, 70000, 4, one_ping)},
                                                                {"4", point("LSP", 0, 0, 0, 50000, 500000, 1, no_pings)}})},
         {"high_speed_point_list", node("high_speed_point_list", {{"count", 5},
                                                                  {"0", point("HSP", 3, 30000, 10000, 100000, 50000, 4, no_pings)},
                                                                  {"1", point("HSP", 6, 90000, 20000, 100000, 50000, 4, one_ping)},
                                                                  {"2", point("HSP", 9, 180000, 30000, 100000, 50000, 4, one_ping)},
                                                                  {"3", point("HSP", 12, 300000, 40000, 100000, 50000, 4, one_ping)},
                                                                  {"4", point("HSP", 15, 450000, 50000, 100000, 50000, 4, one_ping)}})}});
    const node_ptr report_a = node(
        "Quorrin",
        {{"cdn_down_bytes_stat", node("cdn_stat", {{"10.0.0.1", 1000000}, {"10.0.0.2", 1570000}})},
         {"peerid", "PEER-END-TO-END-0001"},
         {"external_ip", 124846283},
         {"bandwidth", 2000000},
         {"dl_speed_limit", 1024},
         {"task_type", 3},
         {"click_type", 1},
         {"cid", "000102030405060708090A0B0C0D0E0F10111213"},
         {"gcid", "404142434445464748494A4B4C4D4E4F50515253"},
         {"filesize", 50000000},
         {"click_time", W},
         {"timeb_click", 10},
         {"bytesb_click", 2100000},
         {"avgb_click", 210000},
         {"timef_click", 17},
         {"bytesf_click", 2570000},
         {"avgf_click", 151176},
         {"unreg_reason", 2},
         {"sample_interval", 3000},
         {"cdn_ip_list", node("cdn_ip_list", {{"count", 2}, {"0", 16777226}, {"1", 33554442}})},
         {"low_speed_point_list", node("low_speed_point_list", {{"count", 5},
                                                                {"0", point("LSP", 6, 3000000, 200000, 100000, 50000, 4, two_pings)},
                                                                {"1", point("LSP", 15, 4500000, 150000, 100000, 50000, 4, two_pings)},
                                                                {"2", point("LSP", 3, 2400000, 100000, 100000, 50000, 4, two_pings)},
                                                                {"3", point("LSP", 17, 4670000, 85000, 130000, 65000, 3, two_pings)},
                                                                {"4", point("LSP", 9, 3150000, 50000, 100000, 50000, 4, two_pings)}})},
         {"high_speed_point_list", node("high_speed_point_list", {{"count", 5},
                                                                  {"0", point("HSP", 3, 2400000, 100000, 100000, 50000, 4, two_pings)},
                                                                  {"1", point("HSP", 15, 4500000, 150000, 100000, 50000, 4, two_pings)},
                                                                  {"2", point("HSP", 6, 3000000, 200000, 100000, 50000, 4, two_pings)},
                                                                  {"3", point("HSP", 0, 2100000, 210000, 50000, 50000, 0, two_pings)},
                                                                  {"4", point("HSP", 12, 4050000, 300000, 100000, 50000, 4, two_pings)}})}});
    EXPECT_EQ(*report_b, reports()[0].tree) << "expected:\n" << to_text(*report_b) << "actual:\n" << to_text(reports()[0].tree);
    EXPECT_EQ(*report_a, reports()[1].tree) << "expected:\n" << to_text(*report_a) << "actual:\n" << to_text(reports()[1].tree);

    stop();
    EXPECT_EQ(1u, tessaron_live_objects());  // the shared figures, now held by the host's report only
    host->reports().clear();
    EXPECT_EQ(0u, tessaron_live_objects());
}

}  // namespace
