#include <gtest/gtest.h>

#include "report/point_reports.h"
#include "report/vq_data.h"
#include "session_fixture.h"

namespace {

using refhost::data_node;
using refhost::node;
using refhost::node_ptr;
using refhost::null_child;
using strings = std::vector<std::string>;

class TaskReport : public SessionTest {
protected:
    // Registers task 1 and finishes it seconds after the click.
    const data_node* run_task(std::uint32_t seconds, task_spec setup = {}, IHostData* report_data = nullptr) {
        EXPECT_EQ(S_OK, register_task(1, setup));
        manual_clock::advance(seconds * 1000 + 500);
        const std::size_t before = reports().size();
        EXPECT_EQ(S_OK, unregister(1, 1000, setup.cid, report_data));
        return reports().size() > before ? &reports().back().tree : nullptr;
    }
};

TEST_F(TaskReport, GateIsStrictAndAShortTaskCostsNoHostCall) {
    // dt_duration is 15000 unless configured.
    ASSERT_EQ(S_OK, register_task(1));
    manual_clock::advance(15999);
    host->log.clear();
    // The end's last sample still asks for the global speeds; nothing of the report is asked.
    for (const char* call : {"peer.GetPeerId", "peer.GetExternalIp", "stat_data.", "provider.GetService speed_limit", "report."}) {
        host->log.forbid(call);
    }
    EXPECT_EQ(S_OK, unregister(1, 100));
    host->log.allow_all();
    EXPECT_TRUE(reports().empty());
    EXPECT_NE(nullptr, run_task(16));
}

TEST_F(TaskReport, TopLevelKeysInOrder) {
    const data_node* tree = run_task(20);
    ASSERT_NE(nullptr, tree);
    EXPECT_EQ("Quorrin", tree->name);
    EXPECT_EQ("Quorrin", reports().back().name);
    EXPECT_EQ((strings{"cdn_down_bytes_stat", "peerid", "external_ip", "bandwidth", "dl_speed_limit", "task_type", "click_type",
                       "cid", "gcid", "filesize", "click_time", "timeb_click", "bytesb_click", "avgb_click", "timef_click",
                       "bytesf_click", "avgf_click", "unreg_reason", "sample_interval", "cdn_ip_list", "low_speed_point_list",
                       "high_speed_point_list"}),
              tree->keys());
    EXPECT_EQ(4294967295, tree->integer("bandwidth"));  // not configured: -1 zero-extended
}

TEST_F(TaskReport, SpeedLimitInKibibytes) {
    for (const auto& [limit, expected] : std::vector<std::pair<std::uint32_t, std::int64_t>>{{1023, 0}, {1048576, 1024}}) {
        host->speed_limit().limit = limit;
        const data_node* tree = run_task(20);
        ASSERT_NE(nullptr, tree);
        EXPECT_EQ(expected, tree->integer("dl_speed_limit")) << "limit " << limit;
    }
    host->speed_limit().writes_limit = false;
    EXPECT_EQ(4194303, run_task(20)->integer("dl_speed_limit"));
}

TEST_F(TaskReport, HostFiguresAndIdentity) {
    host->stat_values().set("net_detect", "bandwidth", 123456);
    host->peer().peer_id = "0123456789ABCDEF";
    host->peer().external_ip = 0xFFFFFFFEu;
    refhost::host_ref<refhost::data_object> cdn = host->make_data("cdn_stat");
    cdn->put_int("10.0.0.1", 777);
    const data_node* tree = run_task(20, {}, cdn.get());
    ASSERT_NE(nullptr, tree);
    EXPECT_EQ(123456, tree->integer("bandwidth"));
    EXPECT_EQ(refhost::data_value(std::string("0123456789ABCDEF")), *tree->find("peerid"));
    EXPECT_EQ(4294967294, tree->integer("external_ip"));
    EXPECT_EQ(*node("cdn_stat", {{"10.0.0.1", 777}}), *tree->child("cdn_down_bytes_stat"));
    EXPECT_EQ(0, cdn->foreign_refs());
}

TEST_F(TaskReport, PeerIdThatIsNeverWrittenIsEmpty) {
    host->peer().writes_peer_id = false;
    EXPECT_EQ(refhost::data_value(std::string()), *run_task(20)->find("peerid"));
}

TEST_F(TaskReport, ClickKeysAndTheirWidening) {
    manual_clock::set_wall(2147483648u);
    task_spec setup;
    setup.task_type = -1;
    setup.click_type = 7;
    setup.cid = ascending_bytes(0);
    setup.gcid = ascending_bytes(0, 19);
    setup.addresses = {"10.0.0.2", "192.168.1.1", "1.2.3.4"};
    const data_node* tree = run_task(20, setup);
    ASSERT_NE(nullptr, tree);
    EXPECT_EQ(-1, tree->integer("task_type"));
    EXPECT_EQ(7, tree->integer("click_type"));
    EXPECT_EQ(refhost::data_value(std::string("000102030405060708090A0B0C0D0E0F10111213")), *tree->find("cid"));
    EXPECT_EQ(refhost::data_value(std::string()), *tree->find("gcid"));
    EXPECT_EQ(2147483648, tree->integer("click_time"));
    EXPECT_EQ(*node("cdn_ip_list", {{"count", 3}, {"0", 16885952}, {"1", 33554442}, {"2", 67305985}}), *tree->child("cdn_ip_list"));
}

TEST_F(TaskReport, EmptyAddressListStillNested) {
    task_spec setup;
    setup.click_type = 0;
    setup.addresses = {};
    const data_node* tree = run_task(20, setup);
    ASSERT_NE(nullptr, tree);
    EXPECT_EQ(*node("cdn_ip_list", {{"count", 0}}), *tree->child("cdn_ip_list"));
}

TEST_F(TaskReport, ReportWithoutAReportObjectIsStillSubmitted) {
    ASSERT_EQ(S_OK, register_task(1));
    manual_clock::advance(20000);
    host->data.behaviour.create_fails = true;
    EXPECT_EQ(S_OK, unregister(1, 100));
    ASSERT_EQ(1u, reports().size());
    EXPECT_TRUE(reports()[0].null_object);
}

TEST_F(TaskReport, PointListsEmptiedAndWrittenInHeapOrder) {
    task_spec setup;
    setup.addresses = {};
    setup.click_type = 2;
    ASSERT_EQ(S_OK, register_task(1, setup));  // click point: avgs 0
    std::uint64_t bytes = 0;
    for (std::uint64_t step : {5, 9, 7}) {
        manual_clock::advance(1000);
        bytes += step;
        q->UpdateTask(1, bytes);
    }
    manual_clock::advance(17000);
    quorrin::task_record* r = stat->tasks().at(1);
    quorrin::sample_scratch scratch;
    r->end(bytes, 1, 0, scratch);  // the end sample: 0 bytes in 17 s
    quorrin::vq_data report;
    r->write_point_lists(report);
    EXPECT_EQ(0u, r->low_speed_point_list.size());
    EXPECT_EQ(0u, r->high_speed_point_list.size());
    const data_node tree = refhost::snapshot_of(report.get());
    const data_node* low = tree.child("low_speed_point_list");
    const data_node* high = tree.child("high_speed_point_list");
    ASSERT_TRUE(low && high);
    EXPECT_EQ(5, low->integer("count"));
    std::vector<std::int64_t> low_avgs, high_avgs;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ("LSP", low->child(std::to_string(i))->name);
        EXPECT_EQ("HSP", high->child(std::to_string(i))->name);
        low_avgs.push_back(low->child(std::to_string(i))->integer("avgs"));
        high_avgs.push_back(high->child(std::to_string(i))->integer("avgs"));
    }
    EXPECT_EQ((std::vector<std::int64_t>{9, 7, 5, 0, 0}), low_avgs);
    EXPECT_EQ((std::vector<std::int64_t>{0, 0, 5, 7, 9}), high_avgs);
    quorrin::vq_data again;
    r->write_point_lists(again);
    EXPECT_EQ(*node("", {{"low_speed_point_list", node("low_speed_point_list", {{"count", 0}})},
                         {"high_speed_point_list", node("high_speed_point_list", {{"count", 0}})}}),
              refhost::snapshot_of(again.get()));
}

TEST_F(TaskReport, BothListObjectsAreHeldUntilBothListsAreWritten) {
    ASSERT_EQ(S_OK, register_task(1));
    std::string low_list;  // the label of the low list's data object
    std::vector<std::string> held_when_high_named;
    host->log.on_add = [&](const std::string& entry) {
        const std::size_t dot = entry.find('.');
        const std::string call = entry.substr(dot + 1);
        if (call == "PutName low_speed_point_list") low_list = entry.substr(0, dot);
        if (call == "PutName high_speed_point_list") held_when_high_named = refhost::ledger::instance().unreleased();
    };
    quorrin::vq_data report;
    stat->tasks().at(1)->write_point_lists(report);
    host->log.on_add = nullptr;
    ASSERT_FALSE(low_list.empty());
    EXPECT_EQ(1, std::count_if(held_when_high_named.begin(), held_when_high_named.end(),
                               [&](const std::string& line) { return line.rfind(low_list + ":", 0) == 0; }))
        << ::testing::PrintToString(held_when_high_named);
}

TEST_F(TaskReport, SpeedPointWidensEverythingWithoutSign) {
    quorrin::speed_point p;
    p.time = 0x80000000u;
    p.already_dl_bytes = 0x1'0000'0000ull;
    p.avgs = 0xFFFFFFFFu;
    p.g_dl_speed = 1;
    p.g_up_speed = 2;
    p.g_task_count = -1;
    p.member_task_count = 65535;
    p.ping_cdn_list = {{ip("10.0.0.1"), -1}, {ip("10.0.0.2"), 40}};
    quorrin::vq_data target;
    target.set_name("LSP");
    quorrin::write_speed_point(p, target);
    EXPECT_EQ(*node("LSP", {{"time", 2147483648},
                            {"already_dl_bytes", 4294967296},
                            {"avgs", 4294967295},
                            {"g_dl_speed", 1},
                            {"g_up_speed", 2},
                            {"g_task_count", 4294967295},
                            {"member_task_count", 65535},
                            {"ping_cdn_list", node("ping_cdn_list", {{"count", 2},
                                                                     {"0", node("0", {{"ip", 16777226}, {"ping", 4294967295}})},
                                                                     {"1", node("1", {{"ip", 33554442}, {"ping", 40}})}})}}),
              refhost::snapshot_of(target.get()));
}

class TaskReportMissingServices : public SessionTest {
protected:
    TaskReportMissingServices() : SessionTest(refhost::host_options{true, true, false, true, true, false, true, true}) {}
};

TEST_F(TaskReportMissingServices, NoPeerKeysAndNoSubmission) {
    ASSERT_EQ(S_OK, register_task(1));
    manual_clock::advance(20000);
    host->log.clear();
    EXPECT_EQ(S_OK, unregister(1, 100));
    EXPECT_EQ(0u, host->log.count("report."));
    EXPECT_LT(0u, host->log.count("provider.CreateObject"));
}

class TaskReportWithoutPeerNetwork : public SessionTest {
protected:
    TaskReportWithoutPeerNetwork() : SessionTest(refhost::host_options{true, true, true, true, true, false, true, true}) {}
};

TEST_F(TaskReportWithoutPeerNetwork, StartsWithTheHostFigures) {
    ASSERT_EQ(S_OK, register_task(1));
    manual_clock::advance(20000);
    EXPECT_EQ(S_OK, unregister(1, 100));
    ASSERT_EQ(1u, reports().size());
    const strings keys = reports()[0].tree.keys();
    EXPECT_EQ((strings{"cdn_down_bytes_stat", "bandwidth", "dl_speed_limit", "task_type"}), strings(keys.begin(), keys.begin() + 4));
}

}  // namespace
