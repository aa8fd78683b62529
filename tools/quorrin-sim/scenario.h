// A download session as quorrin-sim plays it: the host's configuration and services, and the
// tasks with their timelines. Loaded from JSON (the built-in scenario is JSON too).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "reference_host.h"

namespace sim {

// A scenario that cannot be played: the message names the file, the position and the key.
class scenario_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct config_value {
    std::string section;
    std::string key;
    std::int32_t value;
};

// Speed of a task from at_ms (after its registration) until the next step.
struct speed_step {
    std::uint32_t at_ms;
    std::uint64_t bytes_per_s;
};

enum class end_kind {
    unregister,     // UnregisterTask with the task's cid
    wrong_cid,      // UnregisterTask with another cid; the host then stops sampling
    stop_sampling,  // the host stops sampling and never unregisters
    open,           // still running when the session ends
};

struct offline_cdn {
    std::uint32_t at_ms = 0;   // session time of the AddOfflineCdnIp call
    std::string url;           // the URL handed over (the task's offline_url unless given)
    std::uint32_t address = 0;  // inet_addr form
};

struct task_plan {
    std::string pointer;  // JSON pointer of the task, for messages
    std::string name;
    std::int32_t id = 0;
    std::int32_t type = 0;
    std::int32_t click_type = 1;
    std::string cid;   // bytes
    std::string gcid;  // bytes
    std::uint64_t size = 0;  // 0: no limit to the bytes
    std::uint64_t bytes_before = 0;
    std::uint32_t time_before_ms = 0;
    std::uint32_t start_ms = 0;
    std::optional<std::vector<std::string>> cdn;  // absent: a null address array
    std::string offline_url;  // "offline_url" of the task's data object
    std::optional<offline_cdn> offline;
    std::vector<speed_step> speed;
    std::map<std::uint32_t, std::int32_t> pings;
    end_kind end = end_kind::unregister;
    std::uint32_t end_ms = 0;
    std::int32_t reason = 0;
    bool report_data = true;  // false: UnregisterTask gets a null data object
    std::optional<std::vector<std::pair<std::string, std::int64_t>>> cdn_bytes;  // default: shares of the bytes
};

struct host_plan {
    std::string peer_id = "0123456789ABCDEF0001";
    std::uint32_t external_ip = 0;
    std::uint32_t download_limit = 0xFFFFFFFFu;  // bytes/s, the speed limit service's answer
    std::uint64_t background_speed = 0;  // bytes/s the host downloads beside the tasks
    std::uint64_t upload_speed = 0;      // bytes/s
    std::uint64_t total_download_bytes = 0;  // the host's total at the start
    bool writes_speed_pair = true;  // GetDownloadSpeed writes download and upload speed
};

// The module's clock at the session's start, when the session runs in virtual time.
struct clock_start {
    std::uint32_t tick_ms = 3600000;      // GetTickCount an hour after the machine started
    std::uint32_t unix_time = 1767225600;  // 2026-01-01 00:00:00 UTC
};

struct scenario {
    std::string source;  // file name, or "built-in"
    std::optional<std::uint32_t> duration_ms;  // absent: until every task has ended (and been swept)
    clock_start virtual_clock;
    // The load repeats with this period: the pool's use must not grow from one period to the next.
    std::optional<std::uint32_t> repeats_every_ms;
    std::vector<config_value> stat_values;
    std::vector<config_value> setting_ints;
    std::vector<config_value> setting_bools;
    refhost::host_options services;
    host_plan host;
    std::map<std::uint32_t, std::int32_t> pings;
    std::vector<task_plan> tasks;

    bool fixes_user_task_count() const;
    // The configured Quorrin value with the plug-in's default and lower bound applied.
    std::uint32_t quorrin_value(const std::string& key, std::uint32_t fallback, std::uint32_t lower_bound) const;
};

// Parses and checks a scenario; throws scenario_error naming source:line:column and the key.
scenario parse_scenario(const std::string& text, const std::string& source);
scenario load_scenario_file(const std::string& path);
scenario builtin_scenario();
const std::string& builtin_scenario_text();
// The built-in scenarios by name: "short" (the one above), and, made from the seed, "busy-day"
// and "wrap-soak". An unknown name throws scenario_error.
const std::vector<std::string>& builtin_scenario_names();
std::string builtin_scenario_text(const std::string& name, std::uint64_t seed);
scenario builtin_scenario(const std::string& name, std::uint64_t seed);

// inet_addr form of a dotted IPv4 address; nullopt unless it is four decimal octets.
std::optional<std::uint32_t> parse_dotted(const std::string& text);

}  // namespace sim
