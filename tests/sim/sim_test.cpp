// quorrin-sim run in-process, as its main runs it: the report lines on "stdout", the summary on
// "stderr", the exit status.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app.h"
#include "module_loader.h"
#include "scenario.h"
#include "zq.h"

namespace {

using json = nlohmann::ordered_json;

struct sim_run {
    int status = -1;
    std::string out, err;
    std::vector<json> reports;

    // The summary row of a task: its line from the table, found by its id in the first column.
    std::string row(int id) const {
        std::istringstream lines(err);
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream cells(line);
            std::string first;
            if (cells >> first && first == std::to_string(id)) return line;
        }
        return "(no row for task " + std::to_string(id) + ")";
    }
};

sim_run run_sim(std::vector<std::string> args) {
    sim_run r;
    std::ostringstream out, err;
    r.status = sim::run(args, out, err);
    r.out = out.str();
    r.err = err.str();
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) r.reports.push_back(json::parse(line));
    return r;
}

std::string test_file(const std::string& name) { return std::string(SIM_TEST_FILES) + "/" + name; }

std::vector<std::string> keys_of(const json& object) {
    std::vector<std::string> keys;
    for (const auto& member : object.items()) keys.push_back(member.key());
    return keys;
}

// The built-in scenario's reported tasks differ in their bytes after the click.
const json* report_with_bytes_after(const std::vector<json>& reports, std::int64_t bytes_after) {
    for (const json& r : reports) {
        if (r["bytesf_click"] == bytes_after) return &r;
    }
    return nullptr;
}

const std::vector<std::string> kClickAndLists = {
    "task_type",   "click_type",   "cid",          "gcid",           "filesize",        "click_time",
    "timeb_click", "bytesb_click", "avgb_click",   "timef_click",    "bytesf_click",    "avgf_click",
    "unreg_reason", "sample_interval", "cdn_ip_list", "low_speed_point_list", "high_speed_point_list"};

std::vector<std::string> with_head(std::vector<std::string> head) {
    head.insert(head.end(), kClickAndLists.begin(), kClickAndLists.end());
    return head;
}

// Every point object of a list: named LSP or HSP, in order of avgs, with the point keys.
void expect_point_list(const json& list, const char* point_name, bool descending, const std::string& where) {
    ASSERT_TRUE(list.is_object()) << where;
    const std::int64_t count = list["count"];
    EXPECT_EQ(static_cast<std::size_t>(count) + 2, list.size()) << where;  // "#name", "count", the points
    std::int64_t previous = descending ? INT64_MAX : -1;
    for (std::int64_t i = 0; i < count; ++i) {
        const json& p = list[std::to_string(i)];
        EXPECT_EQ(point_name, p["#name"]) << where << " point " << i;
        EXPECT_EQ((std::vector<std::string>{"#name", "time", "already_dl_bytes", "avgs", "g_dl_speed", "g_up_speed",
                                            "g_task_count", "member_task_count", "ping_cdn_list"}),
                  keys_of(p))
            << where << " point " << i;
        const std::int64_t avgs = p["avgs"];
        EXPECT_TRUE(descending ? avgs <= previous : avgs >= previous) << where << " point " << i;
        previous = avgs;
    }
}

TEST(SimBuiltIn, EveryKindOfEndingAndTheReportTrees) {
    const sim_run r = run_sim({"--quiet"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("result: ok")) << r.err;

    // Verdicts: three reported, then one of each other kind.
    for (int id : {1, 2, 3}) EXPECT_NE(std::string::npos, r.row(id).find("reported")) << r.row(id);
    EXPECT_NE(std::string::npos, r.row(4).find("too short")) << r.row(4);
    EXPECT_NE(std::string::npos, r.row(5).find("swept")) << r.row(5);
    EXPECT_NE(std::string::npos, r.row(6).find("wrong cid")) << r.row(6);
    EXPECT_NE(std::string::npos, r.row(6).find("record swept")) << r.row(6);

    ASSERT_EQ(3u, r.reports.size()) << r.out;
    const std::vector<std::string> keys = with_head(
        {"#name", "cdn_down_bytes_stat", "peerid", "external_ip", "bandwidth", "dl_speed_limit"});
    for (const json& report : r.reports) {
        EXPECT_EQ("Quorrin", report["#name"]);
        EXPECT_EQ(keys, keys_of(report));
        EXPECT_EQ("0123456789ABCDEF0001", report["peerid"]);
        EXPECT_EQ(203 + (113 << 16) + (7LL << 24), report["external_ip"]);  // 203.0.113.7 as inet_addr gives it
        EXPECT_EQ(2500000, report["bandwidth"]);
        EXPECT_EQ(4096, report["dl_speed_limit"]);
        EXPECT_EQ(1000, report["sample_interval"]);
        EXPECT_EQ(5, report["low_speed_point_list"]["count"]);
        EXPECT_EQ(5, report["high_speed_point_list"]["count"]);
        expect_point_list(report["low_speed_point_list"], "LSP", true, "low list");
        expect_point_list(report["high_speed_point_list"], "HSP", false, "high list");
    }

    // Bytes follow the speed profiles exactly, whatever the loop's timing.
    const json* offline = report_with_bytes_after(r.reports, 9600000);
    const json* three_cdns = report_with_bytes_after(r.reports, 15700000);
    const json* shared = report_with_bytes_after(r.reports, 6800000);
    ASSERT_TRUE(offline && three_cdns && shared) << r.out;

    // Click type 0: no address at the click, 10.0.0.5 from AddOfflineCdnIp; the fastest points
    // came after it and carry its ping.
    EXPECT_EQ(0, (*offline)["click_type"]);
    EXPECT_EQ(12000000, (*offline)["bytesb_click"]);
    EXPECT_EQ(20, (*offline)["timeb_click"]);
    EXPECT_EQ(600000, (*offline)["avgb_click"]);
    EXPECT_EQ(json::parse(R"({"#name":"cdn_ip_list","count":1,"0":83886090})"), (*offline)["cdn_ip_list"]);
    const json& fastest = (*offline)["high_speed_point_list"]["4"];
    EXPECT_EQ(json::parse(R"({"#name":"ping_cdn_list","count":1,"0":{"#name":"0","ip":83886090,"ping":12}})"),
              fastest["ping_cdn_list"]);
    EXPECT_EQ(json::parse(R"({"#name":"cdn_down_bytes_stat","10.0.0.5":9600000})"), (*offline)["cdn_down_bytes_stat"]);

    // Three addresses in ascending order of their inet_addr value; a size beyond 32 bits.
    EXPECT_EQ(4700000000LL, (*three_cdns)["filesize"]);
    EXPECT_EQ(json::parse(R"({"#name":"cdn_ip_list","count":3,"0":16777482,"1":17279168,"2":33554698})"),
              (*three_cdns)["cdn_ip_list"]);
    EXPECT_EQ("43112233445566778899AABBCCDDEEFF00000002", (*three_cdns)["cid"]);  // made from the id

    // The host's own CDN figures travel under cdn_down_bytes_stat as given.
    EXPECT_EQ(json::parse(R"({"#name":"cdn_down_bytes_stat","10.1.0.2":3900000,"10.2.0.9":2700000})"),
              (*shared)["cdn_down_bytes_stat"]);
    EXPECT_EQ(1, (*shared)["unreg_reason"]);
    EXPECT_EQ(6, (*shared)["timeb_click"]);
    EXPECT_EQ(500000, (*shared)["avgb_click"]);
}

class SimScenarioFile : public ::testing::Test {};

TEST_F(SimScenarioFile, SmallSessionWithoutPeerNetwork) {
    const std::string page = std::string(SIM_TEST_OUTPUT) + "/small.html";
    std::remove(page.c_str());
    const sim_run r = run_sim({"--quiet", "--scenario", test_file("small.json"), "--html", page});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.row(10).find("reported")) << r.row(10);
    EXPECT_NE(std::string::npos, r.row(11).find("too short")) << r.row(11);
    EXPECT_NE(std::string::npos, r.row(12).find("wrong cid")) << r.row(12);
    EXPECT_NE(std::string::npos, r.row(12).find("record still open")) << r.row(12);
    EXPECT_NE(std::string::npos, r.row(13).find("rejected")) << r.row(13);
    EXPECT_NE(std::string::npos, r.row(13).find("without CDN addresses")) << r.row(13);

    ASSERT_EQ(1u, r.reports.size()) << r.out;
    const json& report = r.reports[0];
    EXPECT_EQ(with_head({"#name", "cdn_down_bytes_stat", "bandwidth", "dl_speed_limit"}), keys_of(report));
    EXPECT_EQ(json::parse(R"({"#name":"cdn_down_bytes_stat","10.9.0.1":350000})"), report["cdn_down_bytes_stat"]);
    EXPECT_EQ(800000, report["bandwidth"]);
    EXPECT_EQ(1024, report["dl_speed_limit"]);
    EXPECT_EQ(3, report["task_type"]);
    EXPECT_EQ("000102030405060708090A0B0C0D0E0F10111213", report["cid"]);
    EXPECT_EQ("", report["gcid"]);
    EXPECT_EQ(0, report["timeb_click"]);
    EXPECT_EQ(100000, report["avgb_click"]);  // under a second before the click: the bytes themselves
    EXPECT_EQ(650000, report["bytesf_click"]);
    EXPECT_EQ(7, report["unreg_reason"]);
    EXPECT_EQ(json::parse(R"({"#name":"cdn_ip_list","count":2,"0":16779530,"1":33556746})"), report["cdn_ip_list"]);
    // 10.9.0.1 answers pings, 10.9.0.2 does not (-1 as 32 bits).
    EXPECT_EQ(json::parse(R"({"#name":"ping_cdn_list","count":2,"0":{"#name":"0","ip":16779530,"ping":7},
                              "1":{"#name":"1","ip":33556746,"ping":4294967295}})"),
              report["low_speed_point_list"]["0"]["ping_cdn_list"]);

    std::ifstream html(page);
    std::stringstream text;
    text << html.rdbuf();
    const std::string body = text.str();
    std::size_t charts = 0;
    for (std::size_t at = body.find("<svg"); at != std::string::npos; at = body.find("<svg", at + 1)) ++charts;
    EXPECT_EQ(1u, charts);
    EXPECT_NE(std::string::npos, body.find("000102030405060708090A0B0C0D0E0F10111213"));
    EXPECT_NE(std::string::npos, body.find("</html>"));
}

TEST_F(SimScenarioFile, HostWithoutEventServiceNorPings) {
    const sim_run r = run_sim({"--quiet", "--scenario", test_file("no_events.json")});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.row(1).find("reported")) << r.row(1);
    EXPECT_NE(std::string::npos, r.err.find("its id is already tracked")) << r.err;
    EXPECT_NE(std::string::npos, r.row(3).find("still open")) << r.row(3);
    EXPECT_NE(std::string::npos, r.err.find(" 0 timer tick(s)")) << r.err;

    ASSERT_EQ(1u, r.reports.size()) << r.out;
    const json& report = r.reports[0];
    // Text that is no address counts as INADDR_NONE; no ping service: every ping is -1.
    EXPECT_EQ(json::parse(R"({"#name":"cdn_ip_list","count":2,"0":16777226,"1":4294967295})"), report["cdn_ip_list"]);
    EXPECT_EQ(4294967295LL, report["high_speed_point_list"]["0"]["ping_cdn_list"]["1"]["ping"]);
    // The host's figures by default: the bytes after the click over the addresses it knows.
    EXPECT_EQ(json::parse(R"({"#name":"cdn_down_bytes_stat","10.0.0.1":2200})"), report["cdn_down_bytes_stat"]);
}

struct bad_case {
    const char* file;
    const char* position;
    const char* names;
};

TEST(SimBadInput, ScenarioErrorsNameTheKeyAndRunNothing) {
    const bad_case cases[] = {
        {"bad_unknown_key.json", "bad_unknown_key.json:5:15: /tasks/1/clik_type:", "unknown key \"clik_type\""},
        {"bad_value.json", "bad_value.json:4:36: /tasks/0/end/how:", "\"later\" is not one of"},
    };
    for (const bad_case& c : cases) {
        zq_usage before{};
        zq_usage_of(&before);
        const sim_run r = run_sim({"--scenario", test_file(c.file)});
        zq_usage after{};
        zq_usage_of(&after);
        EXPECT_EQ(2, r.status) << c.file;
        EXPECT_NE(std::string::npos, r.err.find(c.position)) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.names)) << r.err;
        EXPECT_EQ("", r.out) << c.file;
        EXPECT_EQ(std::string::npos, r.err.find("loaded")) << r.err;  // the module was never loaded
        EXPECT_EQ(before.allocations, after.allocations) << c.file;
    }
}

TEST(SimBadInput, SessionOfHoursIsRefusedInRealTime) {
    const sim_run r = run_sim({"--builtin", "busy-day"});
    EXPECT_EQ(2, r.status);
    EXPECT_NE(std::string::npos, r.err.find("run it with --clock virtual")) << r.err;
    EXPECT_EQ("", r.out);
}

TEST(SimBadInput, MissingModuleFailsWithItsPath) {
    const sim_run r = run_sim({"--quiet", "--module", "no-such-dir/quorrin-none", "--scenario", test_file("small.json")});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("cannot load no-such-dir/quorrin-none")) << r.err;
    EXPECT_EQ("", r.out);
}

TEST(SimBadInput, ModuleWithoutTheEntryPointsIsNamed) {
#ifdef _WIN32
    const std::string pool = refhost::plugin_module::directory_of_program() + "\\zq.dll";
#else
    const std::string pool = refhost::plugin_module::directory_of_program() + "/libzq.so";
#endif
    const sim_run r = run_sim({"--quiet", "--module", pool, "--scenario", test_file("small.json")});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("does not export DllGetClassObject")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("result: FAILED")) << r.err;
}

TEST(SimBadInput, BuiltInScenarioIsWhatPrintScenarioShows) {
    std::ostringstream out, err;
    EXPECT_EQ(0, sim::run({"--print-scenario"}, out, err));
    EXPECT_EQ(sim::builtin_scenario_text(), out.str());
    EXPECT_EQ(6u, sim::builtin_scenario().tasks.size());
}

}  // namespace
