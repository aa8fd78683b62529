// The scenario reader (its checks and the positions it names) and the simulated network.
#include <gtest/gtest.h>

#include "json_position.h"
#include "network.h"
#include "scenario.h"

namespace {

TEST(SimScenario, BadValuesNamedWithTheirPlace) {
    struct text_case {
        const char* text;
        const char* expected;
    };
    const text_case cases[] = {
        {"{\"tasks\": [}", "t.json:1:12: not valid JSON"},
        {"{\"tasks\": []}\n", ""},
        {"{\"tasks\": [{\"id\": 1, \"speed\": 5}]}", "t.json:1:12: /tasks/0: needs an \"end\""},
        {"{\"tasks\": [{\"id\": 1.5, \"speed\": 5, \"end\": {\"at_ms\": 9}}]}", "/tasks/0/id: must be a whole number"},
        {"{\"tasks\": [{\"id\": 1, \"speed\": 5, \"end\": {\"at_ms\": 9}, \"cdn\": [\"1.2.3.4.5.6.7.8.9.10.11\"]}]}",
         "/tasks/0/cdn/0: an entry holds at most 20 characters"},
        {"{\"tasks\": [{\"id\": 1, \"speed\": [[0, 5], [0, 6]], \"end\": {\"at_ms\": 9}}]}",
         "/tasks/0/speed/1/0: steps must be in ascending time order"},
        {"{\"pings\": {\"10.0.0\": 5}, \"tasks\": []}", "t.json:1:12: /pings/10.0.0: \"10.0.0\" is not a dotted"},
        {"{\"config\": {\"Quorrin\": {\"overdue\": 4294967296}}, \"tasks\": []}", "/config/Quorrin/overdue: 4294967296 is out of range"},
        {"{\"services\": {\"report\": 1}, \"tasks\": []}", "/services/report: must be true or false"},
        {"{\"duration_ms\": 1000, \"tasks\": [{\"id\": 1, \"speed\": 5, \"end\": {\"at_ms\": 2000}}]}",
         "/tasks/0/end/at_ms: comes after the session's duration_ms"},
    };
    for (const text_case& c : cases) {
        std::string message;
        try {
            sim::parse_scenario(c.text, "t.json");
        } catch (const sim::scenario_error& e) {
            message = e.what();
        }
        if (*c.expected == '\0') {
            EXPECT_EQ("", message) << c.text;
        } else {
            EXPECT_NE(std::string::npos, message.find(c.expected)) << c.text << "\n  gave: " << message;
        }
    }
}

TEST(SimScenario, DefaultsAndConversions) {
    const sim::scenario s = sim::parse_scenario(R"({
      "config": {"Quorrin": {"overdue": 4294967295, "sample_interval": 999}},
      "settings": {"debug": {"show_peer_id": true}, "env": {"user_task_count": 3}},
      "host": {"external_ip": "1.2.3.4"},
      "tasks": [
        {"id": 7, "speed": 500, "end": {"at_ms": 900, "cdn_bytes": null}},
        {"id": 8, "cdn": [], "speed": [[100, 5]], "end": {"how": "open"}}
      ]})", "t.json");
    ASSERT_EQ(2u, s.tasks.size());
    const sim::task_plan& a = s.tasks[0];
    const sim::task_plan& b = s.tasks[1];
    EXPECT_EQ(20u, a.cid.size());
    EXPECT_NE(a.cid, b.cid);  // made from the id
    EXPECT_NE(a.cid, a.gcid);
    EXPECT_FALSE(a.cdn.has_value());  // absent: a null array
    ASSERT_TRUE(b.cdn.has_value());
    EXPECT_TRUE(b.cdn->empty());  // []: an array of no entries
    EXPECT_EQ(sim::end_kind::unregister, a.end);
    EXPECT_FALSE(a.report_data);
    EXPECT_EQ(sim::end_kind::open, b.end);
    EXPECT_EQ(1u, a.speed.size());
    EXPECT_EQ(0x04030201u, s.host.external_ip);

    ASSERT_EQ(1u, s.setting_bools.size());
    EXPECT_EQ(1, s.setting_bools[0].value);
    EXPECT_TRUE(s.fixes_user_task_count());
    // 32-bit host values keep their bits; the plug-in's bounds and defaults apply on top.
    EXPECT_EQ(4294967295u, s.quorrin_value("overdue", 30000, 10000));
    EXPECT_EQ(1000u, s.quorrin_value("sample_interval", 3000, 1000));
    EXPECT_EQ(15000u, s.quorrin_value("dt_duration", 15000, 0));

    sim::scenario without = s;
    without.services.stat_data = false;  // every lookup then falls back
    EXPECT_EQ(30000u, without.quorrin_value("overdue", 30000, 10000));
}

TEST(SimScenario, DottedAddresses) {
    EXPECT_EQ(0x04030201u, sim::parse_dotted("1.2.3.4"));
    EXPECT_EQ(0xFFFFFFFFu, sim::parse_dotted("255.255.255.255"));
    EXPECT_EQ(0u, sim::parse_dotted("0.0.0.0"));
    EXPECT_EQ(0x0100000Au, sim::parse_dotted("10.0.0.1"));
    for (const char* bad : {"", "1.2.3", "1.2.3.4.", "256.1.1.1", "1..2.3", " 1.2.3.4", "1.2.3.4 ", "1234.1.1.1", "a.b.c.d"}) {
        EXPECT_FALSE(sim::parse_dotted(bad).has_value()) << '"' << bad << '"';
    }
}

TEST(SimScenario, PositionsOfNestedValuesAndKeys) {
    const std::string text = "{\n  \"a\": {\"b\\\"c\": [1,\n    {\"d\": 22}]},\n  \"e\": [[]]\n}";
    struct row {
        std::vector<std::string> tokens;
        bool at_key;
        std::size_t line, column;
    };
    const row rows[] = {
        {{}, false, 1, 1},
        {{"a"}, false, 2, 8},
        {{"a", "b\"c"}, true, 2, 9},
        {{"a", "b\"c", "0"}, false, 2, 18},
        {{"a", "b\"c", "1", "d"}, false, 3, 11},
        {{"e", "0"}, false, 4, 9},
        {{"a", "missing"}, false, 2, 8},  // the deepest value found
        {{"a", "b\"c", "9"}, false, 2, 17},
    };
    for (const row& r : rows) {
        const sim::text_position p = sim::locate(text, r.tokens, r.at_key);
        std::string where;
        for (const std::string& t : r.tokens) where += "/" + t;
        EXPECT_EQ(r.line, p.line) << where;
        EXPECT_EQ(r.column, p.column) << where;
    }
}

sim::task_plan stepped_task() {
    sim::task_plan t;
    t.bytes_before = 1000;
    t.speed = {{0, 1000}, {2000, 3000}};
    return t;
}

TEST(SimNetwork, BytesFollowTheStepsUpToTheSize) {
    sim::task_plan t = stepped_task();
    EXPECT_EQ(1000u, sim::network::task_bytes(t, 0));
    EXPECT_EQ(2500u, sim::network::task_bytes(t, 1500));
    EXPECT_EQ(3000u, sim::network::task_bytes(t, 2000));
    EXPECT_EQ(6000u, sim::network::task_bytes(t, 3000));
    EXPECT_EQ(3000u, sim::network::task_speed(t, 2000));

    t.size = 5000;  // complete at 2667 ms
    EXPECT_EQ(5000u, sim::network::task_bytes(t, 3000));
    EXPECT_EQ(0u, sim::network::task_speed(t, 3000));
    EXPECT_EQ(3000u, sim::network::task_speed(t, 2500));

    sim::task_plan late;
    late.speed = {{500, 2000}};  // nothing before the first step
    EXPECT_EQ(0u, sim::network::task_bytes(late, 500));
    EXPECT_EQ(0u, sim::network::task_speed(late, 499));
    EXPECT_EQ(1000u, sim::network::task_bytes(late, 1000));

    sim::task_plan slow;
    slow.speed = {{0, 333}, {1, 333}, {2, 333}};  // divided once: no loss at each step
    EXPECT_EQ(999u, sim::network::task_bytes(slow, 3000));
}

TEST(SimNetwork, HostFiguresCountEveryTaskWithinItsLife) {
    sim::scenario s;
    s.host.background_speed = 100;
    s.host.total_download_bytes = 10;
    s.host.upload_speed = 40;
    sim::task_plan a;
    a.bytes_before = 777;  // downloaded before the session: not in the session's total
    a.speed = {{0, 1000}};
    a.end_ms = 2000;
    sim::task_plan b;
    b.start_ms = 1000;
    b.speed = {{0, 500}};
    b.end = sim::end_kind::open;
    s.tasks = {a, b};
    const sim::network net(s, 10000);

    EXPECT_EQ(10u + 150 + 1500 + 250, net.total_download(1500));
    EXPECT_EQ(10u + 300 + 2000 + 1000, net.total_download(3000));  // a ended at 2000
    EXPECT_EQ(100u + 1000, net.download_speed(500));
    EXPECT_EQ(100u + 1000 + 500, net.download_speed(1500));
    EXPECT_EQ(100u + 500, net.download_speed(2000));
    EXPECT_EQ(120u, net.upload_total(3000));
}

}  // namespace
