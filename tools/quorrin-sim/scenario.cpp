#include "scenario.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "json_position.h"

namespace sim {

namespace {

using json = nlohmann::ordered_json;
using path = std::vector<std::string>;

std::string pointer_text(const path& p) {
    std::string out;
    for (const std::string& token : p) {
        out += '/';
        for (const char c : token) {
            if (c == '~') {
                out += "~0";
            } else if (c == '/') {
                out += "~1";
            } else {
                out += c;
            }
        }
    }
    return out.empty() ? "/" : out;
}

path operator+(path p, const std::string& token) {
    p.push_back(token);
    return p;
}

// Reads values out of the parsed document and reports a bad one at its place in the text.
class reader {
public:
    reader(const std::string& text, const std::string& source) : m_text(text), m_source(source) {}

    [[noreturn]] void fail(const path& at, const std::string& message, bool at_key = false) const {
        const text_position p = locate(m_text, at, at_key);
        throw scenario_error(m_source + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + ": " +
                             pointer_text(at) + ": " + message);
    }

    // Fails on the first member whose key is not among the known ones.
    void known_keys(const json& object, const path& at, std::initializer_list<const char*> keys) const {
        if (!object.is_object()) fail(at, "must be an object");
        for (const auto& member : object.items()) {
            const bool known = std::any_of(keys.begin(), keys.end(), [&](const char* k) { return member.key() == k; });
            if (known) continue;
            std::string list;
            for (const char* k : keys) list += std::string(list.empty() ? "" : ", ") + k;
            fail(at + member.key(), "unknown key \"" + member.key() + "\" (known here: " + list + ")", true);
        }
    }

    std::uint64_t unsigned_value(const json& v, const path& at, std::uint64_t max) const {
        if (!v.is_number_integer()) fail(at, "must be a whole number, not " + describe(v));
        if (!v.is_number_unsigned()) fail(at, "must not be negative (" + v.dump() + ")");
        const auto value = v.get<std::uint64_t>();
        if (value > max) fail(at, v.dump() + " is out of range (at most " + std::to_string(max) + ")");
        return value;
    }
    std::int64_t signed_value(const json& v, const path& at, std::int64_t min, std::int64_t max) const {
        if (!v.is_number_integer()) fail(at, "must be a whole number, not " + describe(v));
        if (v.is_number_unsigned() && v.get<std::uint64_t>() > static_cast<std::uint64_t>(max)) {
            fail(at, v.dump() + " is out of range (" + std::to_string(min) + " to " + std::to_string(max) + ")");
        }
        const auto value = v.get<std::int64_t>();
        if (value < min || value > max) {
            fail(at, v.dump() + " is out of range (" + std::to_string(min) + " to " + std::to_string(max) + ")");
        }
        return value;
    }
    std::uint32_t u32(const json& v, const path& at) const {
        return static_cast<std::uint32_t>(unsigned_value(v, at, std::numeric_limits<std::uint32_t>::max()));
    }
    std::int32_t i32(const json& v, const path& at) const {
        return static_cast<std::int32_t>(signed_value(v, at, std::numeric_limits<std::int32_t>::min(),
                                                      std::numeric_limits<std::int32_t>::max()));
    }
    // A 32-bit host value: signed, or unsigned up to 2^32 - 1 (kept as its 32 bits).
    std::int32_t host_int(const json& v, const path& at) const {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(
            signed_value(v, at, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::uint32_t>::max())));
    }
    bool boolean(const json& v, const path& at) const {
        if (!v.is_boolean()) fail(at, "must be true or false, not " + describe(v));
        return v.get<bool>();
    }
    std::string text(const json& v, const path& at) const {
        if (!v.is_string()) fail(at, "must be a string, not " + describe(v));
        return v.get<std::string>();
    }
    std::uint32_t address(const json& v, const path& at) const {
        const std::string dotted = text(v, at);
        const std::optional<std::uint32_t> parsed = parse_dotted(dotted);
        if (!parsed) fail(at, "\"" + dotted + "\" is not a dotted IPv4 address");
        return *parsed;
    }
    // Bytes given as hex digits.
    std::string hex_bytes(const json& v, const path& at) const {
        const std::string digits = text(v, at);
        if (digits.size() % 2 != 0) fail(at, "must be an even number of hex digits");
        std::string bytes;
        for (std::size_t i = 0; i < digits.size(); i += 2) {
            const int hi = nibble(digits[i]), lo = nibble(digits[i + 1]);
            if (hi < 0 || lo < 0) fail(at, "\"" + digits + "\" holds a character that is not a hex digit");
            bytes += static_cast<char>(hi * 16 + lo);
        }
        return bytes;
    }

    static std::string describe(const json& v) {
        switch (v.type()) {
            case json::value_t::null: return "null";
            case json::value_t::boolean: return "a boolean";
            case json::value_t::string: return "a string";
            case json::value_t::array: return "an array";
            case json::value_t::object: return "an object";
            case json::value_t::number_float: return "the fraction " + v.dump();
            default: return v.dump();
        }
    }

private:
    static int nibble(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    const std::string& m_text;
    const std::string& m_source;
};

// {"section": {"key": value}} into a list of values.
void read_sections(const reader& r, const json& v, const path& at, std::vector<config_value>& ints,
                   std::vector<config_value>* bools) {
    if (!v.is_object()) r.fail(at, "must be an object of sections");
    for (const auto& section : v.items()) {
        const path s = at + section.key();
        if (!section.value().is_object()) r.fail(s, "must be an object of keys and values");
        for (const auto& key : section.value().items()) {
            const path k = s + key.key();
            if (bools && key.value().is_boolean()) {
                bools->push_back({section.key(), key.key(), key.value().get<bool>() ? 1 : 0});
            } else {
                ints.push_back({section.key(), key.key(), r.host_int(key.value(), k)});
            }
        }
    }
}

void read_pings(const reader& r, const json& v, const path& at, std::map<std::uint32_t, std::int32_t>& pings) {
    if (!v.is_object()) r.fail(at, "must be an object of address: milliseconds");
    for (const auto& entry : v.items()) {
        const path p = at + entry.key();
        const std::optional<std::uint32_t> address = parse_dotted(entry.key());
        if (!address) r.fail(p, "\"" + entry.key() + "\" is not a dotted IPv4 address", true);
        pings[*address] = r.i32(entry.value(), p);
    }
}

void read_services(const reader& r, const json& v, const path& at, refhost::host_options& o) {
    r.known_keys(v, at, {"stat_data", "settings", "report", "events", "transfer", "peer_network", "ping", "speed_limit"});
    const std::pair<const char*, bool*> flags[] = {
        {"stat_data", &o.stat_data}, {"settings", &o.settings},       {"report", &o.stat_report},
        {"events", &o.asyn_event},   {"transfer", &o.transfer_stat},  {"peer_network", &o.peer_network},
        {"ping", &o.ping},           {"speed_limit", &o.speed_limit}};
    for (const auto& [key, flag] : flags) {
        if (v.contains(key)) *flag = r.boolean(v[key], at + key);
    }
}

void read_host(const reader& r, const json& v, const path& at, host_plan& h) {
    r.known_keys(v, at, {"peer_id", "external_ip", "download_limit", "background_speed", "upload_speed",
                         "total_download_bytes", "writes_speed_pair"});
    if (v.contains("peer_id")) h.peer_id = r.text(v["peer_id"], at + "peer_id");
    if (v.contains("external_ip")) h.external_ip = r.address(v["external_ip"], at + "external_ip");
    if (v.contains("download_limit")) h.download_limit = r.u32(v["download_limit"], at + "download_limit");
    const std::uint64_t fast = std::uint64_t{1} << 40;  // 1 TiB/s: keeps byte sums far from wrapping
    if (v.contains("background_speed")) h.background_speed = r.unsigned_value(v["background_speed"], at + "background_speed", fast);
    if (v.contains("upload_speed")) h.upload_speed = r.unsigned_value(v["upload_speed"], at + "upload_speed", fast);
    if (v.contains("total_download_bytes")) {
        h.total_download_bytes = r.unsigned_value(v["total_download_bytes"], at + "total_download_bytes", std::uint64_t{1} << 62);
    }
    if (v.contains("writes_speed_pair")) h.writes_speed_pair = r.boolean(v["writes_speed_pair"], at + "writes_speed_pair");
}

std::vector<speed_step> read_speed(const reader& r, const json& v, const path& at) {
    const std::uint64_t fast = std::uint64_t{1} << 40;
    if (v.is_number()) return {{0, r.unsigned_value(v, at, fast)}};
    if (!v.is_array() || v.empty()) r.fail(at, "must be bytes per second, or a non-empty array of [ms, bytes per second]");
    std::vector<speed_step> steps;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const path s = at + std::to_string(i);
        if (!v[i].is_array() || v[i].size() != 2) r.fail(s, "must be [ms after the registration, bytes per second]");
        const speed_step step{r.u32(v[i][0], s + "0"), r.unsigned_value(v[i][1], s + "1", fast)};
        if (!steps.empty() && step.at_ms <= steps.back().at_ms) r.fail(s + "0", "steps must be in ascending time order");
        steps.push_back(step);
    }
    return steps;
}

void read_end(const reader& r, const json& v, const path& at, task_plan& t) {
    r.known_keys(v, at, {"at_ms", "how", "reason", "cdn_bytes"});
    if (v.contains("how")) {
        const std::string how = r.text(v["how"], at + "how");
        if (how == "unregister") {
            t.end = end_kind::unregister;
        } else if (how == "wrong_cid") {
            t.end = end_kind::wrong_cid;
        } else if (how == "stop_sampling") {
            t.end = end_kind::stop_sampling;
        } else if (how == "open") {
            t.end = end_kind::open;
        } else {
            r.fail(at + "how", "\"" + how + "\" is not one of unregister, wrong_cid, stop_sampling, open");
        }
    }
    if (v.contains("at_ms")) {
        t.end_ms = r.u32(v["at_ms"], at + "at_ms");
        if (t.end == end_kind::open) r.fail(at + "at_ms", "an open task has no end time");
        if (t.end_ms <= t.start_ms) r.fail(at + "at_ms", "must come after the task's start_ms (" + std::to_string(t.start_ms) + ")");
    } else if (t.end != end_kind::open) {
        r.fail(at, "needs \"at_ms\" (or \"how\": \"open\")");
    }
    if (v.contains("reason")) t.reason = r.i32(v["reason"], at + "reason");
    if (v.contains("cdn_bytes")) {
        const json& b = v["cdn_bytes"];
        if (b.is_null()) {
            t.report_data = false;
        } else {
            if (!b.is_object()) r.fail(at + "cdn_bytes", "must be an object of key: bytes, or null");
            std::vector<std::pair<std::string, std::int64_t>> figures;
            for (const auto& entry : b.items()) {
                figures.emplace_back(entry.key(), r.signed_value(entry.value(), at + "cdn_bytes" + entry.key(),
                                                                 std::numeric_limits<std::int64_t>::min(),
                                                                 std::numeric_limits<std::int64_t>::max()));
            }
            t.cdn_bytes = std::move(figures);
        }
    }
}

// A 20-byte id that differs per task and per kind, for tasks that give none.
std::string default_id(std::int32_t id, char kind) {
    std::string bytes(20, '\0');
    bytes[0] = kind;
    const auto u = static_cast<std::uint32_t>(id);
    for (int i = 0; i < 4; ++i) bytes[16 + i] = static_cast<char>((u >> (8 * (3 - i))) & 0xFF);
    for (int i = 1; i < 16; ++i) bytes[i] = static_cast<char>(0x11 * (i % 16));
    return bytes;
}

task_plan read_task(const reader& r, const json& v, const path& at) {
    r.known_keys(v, at, {"id", "name", "type", "click_type", "cid", "gcid", "size", "bytes_before", "time_before_ms",
                         "start_ms", "cdn", "offline_url", "offline_cdn", "speed", "pings", "end"});
    task_plan t;
    t.pointer = pointer_text(at);
    if (!v.contains("id")) r.fail(at, "needs an \"id\"");
    t.id = r.i32(v["id"], at + "id");
    t.name = v.contains("name") ? r.text(v["name"], at + "name") : "task " + std::to_string(t.id);
    if (v.contains("type")) t.type = r.i32(v["type"], at + "type");
    if (v.contains("click_type")) t.click_type = r.i32(v["click_type"], at + "click_type");
    t.cid = v.contains("cid") ? r.hex_bytes(v["cid"], at + "cid") : default_id(t.id, 'C');
    t.gcid = v.contains("gcid") ? r.hex_bytes(v["gcid"], at + "gcid") : default_id(t.id, 'G');
    if (v.contains("size")) t.size = r.unsigned_value(v["size"], at + "size", std::uint64_t{1} << 62);
    if (v.contains("bytes_before")) t.bytes_before = r.unsigned_value(v["bytes_before"], at + "bytes_before", std::uint64_t{1} << 62);
    if (t.size != 0 && t.bytes_before > t.size) r.fail(at + "bytes_before", "is more than the size");
    if (v.contains("time_before_ms")) t.time_before_ms = r.u32(v["time_before_ms"], at + "time_before_ms");
    if (v.contains("start_ms")) t.start_ms = r.u32(v["start_ms"], at + "start_ms");
    if (v.contains("cdn")) {
        const json& c = v["cdn"];
        if (!c.is_null()) {
            if (!c.is_array()) r.fail(at + "cdn", "must be an array of dotted addresses, or null");
            std::vector<std::string> list;
            for (std::size_t i = 0; i < c.size(); ++i) {
                const std::string entry = r.text(c[i], at + "cdn" + std::to_string(i));
                if (entry.size() > 20) r.fail(at + "cdn" + std::to_string(i), "an entry holds at most 20 characters");
                list.push_back(entry);
            }
            t.cdn = std::move(list);
        }
    }
    if (v.contains("offline_url")) t.offline_url = r.text(v["offline_url"], at + "offline_url");
    if (v.contains("speed")) {
        t.speed = read_speed(r, v["speed"], at + "speed");
    } else {
        r.fail(at, "needs a \"speed\" (bytes per second, or [[ms, bytes per second], ...])");
    }
    if (v.contains("pings")) read_pings(r, v["pings"], at + "pings", t.pings);
    if (v.contains("end")) {
        read_end(r, v["end"], at + "end", t);
    } else {
        r.fail(at, "needs an \"end\" ({\"at_ms\": ..., \"how\": ...})");
    }
    if (v.contains("offline_cdn")) {
        const json& o = v["offline_cdn"];
        const path p = at + "offline_cdn";
        r.known_keys(o, p, {"at_ms", "address", "url"});
        offline_cdn call;
        if (!o.contains("at_ms") || !o.contains("address")) r.fail(p, "needs \"at_ms\" and \"address\"");
        call.at_ms = r.u32(o["at_ms"], p + "at_ms");
        if (call.at_ms < t.start_ms) r.fail(p + "at_ms", "comes before the task's start_ms");
        call.address = r.address(o["address"], p + "address");
        call.url = o.contains("url") ? r.text(o["url"], p + "url") : t.offline_url;
        t.offline = call;
    }
    return t;
}

}  // namespace

std::optional<std::uint32_t> parse_dotted(const std::string& text) {
    std::uint32_t address = 0;
    std::size_t at = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (at >= text.size() || text[at] != '.') return std::nullopt;
            ++at;
        }
        const std::size_t begin = at;
        unsigned value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - begin < 3) value = value * 10 + (text[at++] - '0');
        if (at == begin || value > 255) return std::nullopt;
        address |= static_cast<std::uint32_t>(value) << (8 * octet);  // network order in memory
    }
    if (at != text.size()) return std::nullopt;
    return address;
}

bool scenario::fixes_user_task_count() const {
    return std::any_of(setting_ints.begin(), setting_ints.end(),
                       [](const config_value& v) { return v.section == "env" && v.key == "user_task_count"; });
}

std::uint32_t scenario::quorrin_value(const std::string& key, std::uint32_t fallback, std::uint32_t lower_bound) const {
    std::uint32_t value = fallback;
    if (services.stat_data) {
        for (const config_value& v : stat_values) {
            if (v.section == "Quorrin" && v.key == key) value = static_cast<std::uint32_t>(v.value);
        }
    }
    return std::max(value, lower_bound);
}

scenario parse_scenario(const std::string& text, const std::string& source) {
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::parse_error& e) {
        const text_position p = position_of_offset(text, e.byte > 0 ? e.byte - 1 : 0);
        std::string what = e.what();
        const std::size_t cut = what.find(": ");
        if (cut != std::string::npos) what = what.substr(cut + 2);
        throw scenario_error(source + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + ": not valid JSON: " + what);
    }
    const reader r(text, source);
    const path root;
    r.known_keys(doc, root, {"description", "duration_ms", "virtual_clock", "repeats_every_ms", "config", "settings",
                             "services", "host", "pings", "tasks"});

    scenario s;
    s.source = source;
    if (doc.contains("description")) r.text(doc["description"], root + "description");
    if (doc.contains("duration_ms")) {
        s.duration_ms = r.u32(doc["duration_ms"], root + "duration_ms");
    }
    if (doc.contains("virtual_clock")) {
        const json& c = doc["virtual_clock"];
        const path at = root + "virtual_clock";
        r.known_keys(c, at, {"tick_ms", "unix_time"});
        if (c.contains("tick_ms")) s.virtual_clock.tick_ms = r.u32(c["tick_ms"], at + "tick_ms");
        if (c.contains("unix_time")) s.virtual_clock.unix_time = r.u32(c["unix_time"], at + "unix_time");
    }
    if (doc.contains("repeats_every_ms")) {
        const path at = root + "repeats_every_ms";
        s.repeats_every_ms = r.u32(doc["repeats_every_ms"], at);
        if (*s.repeats_every_ms == 0) r.fail(at, "must be more than 0");
        if (!s.duration_ms) r.fail(at, "needs a \"duration_ms\" that covers several periods");
    }
    if (doc.contains("config")) read_sections(r, doc["config"], root + "config", s.stat_values, nullptr);
    if (doc.contains("settings")) read_sections(r, doc["settings"], root + "settings", s.setting_ints, &s.setting_bools);
    if (doc.contains("services")) read_services(r, doc["services"], root + "services", s.services);
    if (doc.contains("host")) read_host(r, doc["host"], root + "host", s.host);
    if (doc.contains("pings")) read_pings(r, doc["pings"], root + "pings", s.pings);
    if (!doc.contains("tasks") || !doc["tasks"].is_array()) r.fail(root + "tasks", "needs a \"tasks\" array");
    const json& tasks = doc["tasks"];
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        const path at = root + "tasks" + std::to_string(i);
        s.tasks.push_back(read_task(r, tasks[i], at));
        const task_plan& t = s.tasks.back();
        if (s.duration_ms && t.end != end_kind::open && t.end_ms > *s.duration_ms) {
            r.fail(at + "end" + "at_ms", "comes after the session's duration_ms (" + std::to_string(*s.duration_ms) + ")");
        }
    }
    return s;
}

scenario load_scenario_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw scenario_error(path + ": cannot open the scenario file");
    std::ostringstream text;
    text << in.rdbuf();
    return parse_scenario(text.str(), path);
}

scenario builtin_scenario() { return parse_scenario(builtin_scenario_text(), "built-in scenario"); }

}  // namespace sim
