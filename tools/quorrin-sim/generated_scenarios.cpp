// Scenarios at scale, made from a seed: a busy host's day and a soak across the tick wrap. Only
// integer arithmetic on a generator of our own, so that a seed gives the same text on every
// build and platform.
#include <algorithm>
#include <nlohmann/json.hpp>

#include "scenario.h"

namespace sim {

namespace {

using json = nlohmann::ordered_json;

constexpr std::uint32_t kSecond = 1000;
constexpr std::uint32_t kMinute = 60 * kSecond;
constexpr std::uint32_t kHour = 60 * kMinute;

// splitmix64
class generator {
public:
    explicit generator(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // In [low, high].
    std::uint64_t between(std::uint64_t low, std::uint64_t high) { return low + next() % (high - low + 1); }
    // Spread evenly over the powers of two from low to high: many short, a few long.
    std::uint64_t spread(std::uint64_t low, std::uint64_t high) {
        std::uint64_t top = low;
        while (top < high && between(0, 4) != 0) top = std::min(high, top * 2);
        return between(std::max(low, top / 2), top);
    }
    bool percent(std::uint64_t p) { return next() % 100 < p; }

private:
    std::uint64_t m_state;
};

std::string dotted(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
}

// The host's CDN servers, each with its ping time; three of them do not answer pings.
struct cdn_pool {
    std::vector<std::string> addresses;
    json pings = json::object();

    cdn_pool(generator& g, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::string a = dotted(10, 20 + static_cast<std::uint32_t>(i / 16), static_cast<std::uint32_t>(i % 16), 
                                         1 + static_cast<std::uint32_t>(i));
            addresses.push_back(a);
            if (i % 16 != 5) pings[a] = g.between(4, 180);
        }
    }
    const std::string& any(generator& g) const { return addresses[g.next() % addresses.size()]; }
};

struct task_shape {
    std::uint32_t start_ms;
    std::uint32_t length_ms;  // until its end
    std::uint32_t dt_duration_ms;  // below this a finished task gets no report
    bool may_stay_open;
};

// One task of every kind the host meets: reported with a reason, too short, no longer sampled
// (swept), finished with the wrong cid, offline URL with its address learnt later, CDN addresses
// that do not parse, and refused registrations.
json make_task(generator& g, const cdn_pool& cdn, std::int32_t id, const task_shape& shape) {
    json t;
    t["id"] = id;
    t["type"] = g.between(0, 3);
    const bool offline = g.percent(22);
    t["click_type"] = offline ? 0 : 1;
    if (offline) {
        // A handful of URLs, so that tasks share them and the lower id takes the address.
        const std::string url = "http://offline.example/f" + std::to_string(g.between(0, 40)) + ".bin";
        t["offline_url"] = url;
        if (g.percent(75)) {
            t["offline_cdn"] = {{"at_ms", shape.start_ms + g.between(1, 20) * kSecond}, {"address", cdn.any(g)}};
        }
    } else if (g.percent(4)) {
        t["cdn"] = json::array();  // click type 1 without addresses: refused
    } else {
        json list = json::array();
        const std::uint64_t count = g.between(1, 4);
        for (std::uint64_t i = 0; i < count; ++i) list.push_back(cdn.any(g));
        if (g.percent(3)) list.push_back("cdn.example");  // inet_addr refuses it: INADDR_NONE
        t["cdn"] = list;
    }
    const std::uint64_t first_speed = g.spread(20000, 6000000);
    std::uint64_t size = 0;
    if (g.percent(40)) {
        // Completes early: the samples after that carry no new bytes.
        size = first_speed * g.between(1, 1 + shape.length_ms / kSecond);
    } else {
        size = std::uint64_t{g.between(1, 40)} * 100000000;
    }
    if (g.percent(50)) {
        t["time_before_ms"] = g.between(500, 600000);
        t["bytes_before"] = std::min<std::uint64_t>(size / 2, g.between(0, 50000000));
    }
    t["size"] = size + t.value("bytes_before", std::uint64_t{0});
    t["start_ms"] = shape.start_ms;
    json speed = json::array({json::array({0, first_speed})});
    for (std::uint32_t at = 0, steps = static_cast<std::uint32_t>(g.between(0, 3)); steps > 0; --steps) {
        at += static_cast<std::uint32_t>(g.between(1, 1 + shape.length_ms / 3));
        if (at >= shape.length_ms) break;
        speed.push_back(json::array({at, g.percent(10) ? 0 : g.spread(10000, 6000000)}));
    }
    t["speed"] = speed;

    json end;
    const std::uint64_t kind = g.between(0, 99);
    std::uint32_t length = shape.length_ms;
    if (kind < 8) {
        length = static_cast<std::uint32_t>(g.between(1, shape.dt_duration_ms / kSecond)) * kSecond - 400;
        end["how"] = "unregister";
    } else if (kind < 16) {
        end["how"] = "stop_sampling";
    } else if (kind < 21) {
        end["how"] = "wrong_cid";
    } else if (kind < 24 && shape.may_stay_open) {
        end["how"] = "open";
    } else {
        end["how"] = "unregister";
        end["reason"] = g.between(0, 6);
        if (g.percent(5)) end["cdn_bytes"] = nullptr;  // no report data object
    }
    if (end["how"] != "open") end["at_ms"] = shape.start_ms + length;
    t["end"] = end;
    return t;
}

json header(const std::string& description, std::uint32_t duration_ms, generator& g, const cdn_pool& cdn) {
    json s;
    s["description"] = description;
    s["duration_ms"] = duration_ms;
    s["config"] = {{"net_detect", {{"bandwidth", 12500000}}}};
    s["host"] = {{"external_ip", "203.0.113.40"},
                 {"download_limit", 8388608},
                 {"background_speed", g.between(10000, 300000)},
                 {"upload_speed", g.between(50000, 400000)},
                 {"total_download_bytes", g.between(0, 1) * 5000000000}};
    s["pings"] = cdn.pings;
    return s;
}

// The whole text: the header's keys, then one task a line.
std::string scenario_text(json s, const std::vector<json>& tasks) {
    std::string text = s.dump(2);
    text.erase(text.rfind('}'));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    text += ",\n  \"tasks\": [\n";
    for (std::size_t i = 0; i < tasks.size(); ++i) text += "    " + tasks[i].dump() + (i + 1 < tasks.size() ? ",\n" : "\n");
    return text + "  ]\n}\n";
}

// Default tuning (3 s samples, 30 s overdue, 15 s report gate, 14 points a list) over 24 hours:
// 2,000 tasks that start through the day, most within the evening's hours, some of them held open
// at the end; a few registrations repeat the id of a task still running and are refused.
std::string busy_day(std::uint64_t seed) {
    generator g(seed);
    const cdn_pool cdn(g, 64);
    const std::uint32_t day = 24 * kHour;
    json s = header("A busy host's day: 2,000 tasks of every kind over 24 hours at the default tuning.", day, g, cdn);
    std::vector<std::uint32_t> starts;
    for (int i = 0; i < 2000; ++i) {
        const bool evening = g.percent(50);
        const std::uint32_t last = day - 10 * kMinute;
        starts.push_back(static_cast<std::uint32_t>(evening ? g.between(18 * kHour, last) : g.between(0, last)));
    }
    std::sort(starts.begin(), starts.end());
    std::vector<json> tasks;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const auto length = static_cast<std::uint32_t>(std::min<std::uint64_t>(g.spread(20 * kSecond, 40 * kMinute), day - 1 - starts[i]));
        const bool late = starts[i] > day - kHour;
        json t = make_task(g, cdn, static_cast<std::int32_t>(10000 + i), {starts[i], length, 15 * kSecond, late});
        // Now and then the host registers again an id it still runs: refused.
        if (i > 0 && g.percent(2)) {
            const json& earlier = tasks.back();
            const json& end = earlier["end"];
            if (end["how"] == "unregister" && end["at_ms"].get<std::uint32_t>() > starts[i] + 10 * kSecond) {
                t["id"] = earlier["id"];
                t["end"]["how"] = "unregister";
                t["end"]["at_ms"] = starts[i] + 5 * kSecond;
            }
        }
        t["name"] = "task " + std::to_string(i + 1);
        tasks.push_back(std::move(t));
    }
    return scenario_text(s, tasks);
}

// Four hours with the same half hour of load eight times over, then the last tasks' ends; the
// module's tick starts so that it wraps in the middle of the fifth half hour. Tasks of every kind
// live across the wrap, and from the second half hour on the pool must not grow.
std::string wrap_soak(std::uint64_t seed) {
    generator g(seed);
    const cdn_pool cdn(g, 24);
    const std::uint32_t period = 30 * kMinute, periods = 8, longest = 16 * kMinute;
    const std::uint32_t duration = period * periods + longest + kMinute;
    json s = header("A soak across the tick wrap: the same half hour of 100 tasks eight times, the tick wrapping "
                    "after two hours and seven minutes.",
                    duration, g, cdn);
    s["virtual_clock"] = {{"tick_ms", static_cast<std::uint32_t>(0x100000000ull - 2ull * kHour - 7ull * kMinute)}};
    s["repeats_every_ms"] = period;
    s["config"]["Quorrin"] = {{"sample_interval", 2000}, {"dt_duration", 10000}, {"overdue", 20000}};
    std::vector<json> one_period;
    for (int i = 0; i < 100; ++i) {
        const auto start = static_cast<std::uint32_t>(g.between(0, period - 1));
        const auto length = static_cast<std::uint32_t>(g.spread(20 * kSecond, longest));
        one_period.push_back(make_task(g, cdn, 0, {start, length, 10 * kSecond, false}));
    }
    std::vector<json> tasks;
    for (std::uint32_t p = 0; p < periods; ++p) {
        const std::uint32_t shift = p * period;
        for (std::size_t i = 0; i < one_period.size(); ++i) {
            json t = one_period[i];
            t["id"] = static_cast<std::int32_t>(1000 * (p + 1) + i);
            t["name"] = "period " + std::to_string(p + 1) + " task " + std::to_string(i + 1);
            t["start_ms"] = t["start_ms"].get<std::uint32_t>() + shift;
            if (t.contains("offline_cdn")) t["offline_cdn"]["at_ms"] = t["offline_cdn"]["at_ms"].get<std::uint32_t>() + shift;
            if (t["end"].contains("at_ms")) t["end"]["at_ms"] = t["end"]["at_ms"].get<std::uint32_t>() + shift;
            tasks.push_back(std::move(t));
        }
    }
    return scenario_text(s, tasks);
}

}  // namespace

const std::vector<std::string>& builtin_scenario_names() {
    static const std::vector<std::string> names = {"short", "busy-day", "wrap-soak"};
    return names;
}

std::string builtin_scenario_text(const std::string& name, std::uint64_t seed) {
    if (name == "short") return builtin_scenario_text();
    if (name == "busy-day") return busy_day(seed);
    if (name == "wrap-soak") return wrap_soak(seed);
    throw scenario_error("no built-in scenario \"" + name + "\"");
}

scenario builtin_scenario(const std::string& name, std::uint64_t seed) {
    if (name == "short") return builtin_scenario();
    return parse_scenario(builtin_scenario_text(name, seed), "built-in " + name + " (seed " + std::to_string(seed) + ")");
}

}  // namespace sim
