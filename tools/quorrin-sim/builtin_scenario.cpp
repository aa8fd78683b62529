// The session that quorrin-sim plays when given no scenario file (`--print-scenario` shows it):
// every kind of task ending in about 15 seconds, the sweep included.
#include "scenario.h"

namespace sim {

const std::string& builtin_scenario_text() {
    static const std::string text = R"json({
  "description": "Six tasks: an offline-URL click that learns its CDN later, a click with three CDN servers, two tasks sharing an address, one too short to report, one the host stops sampling (swept) and one unregistered with the wrong cid (kept, then swept).",
  "config": {
    "Quorrin": {"sample_interval": 1000, "overdue": 10000, "dt_duration": 5000, "low_count": 5, "high_count": 5},
    "net_detect": {"bandwidth": 2500000}
  },
  "host": {
    "peer_id": "0123456789ABCDEF0001",
    "external_ip": "203.0.113.7",
    "download_limit": 4194304,
    "background_speed": 50000,
    "upload_speed": 120000
  },
  "pings": {"10.1.0.1": 18, "10.1.0.2": 25, "192.168.7.1": 41, "10.2.0.9": 33, "10.0.0.5": 12},
  "tasks": [
    {"id": 1, "name": "offline movie", "type": 2, "click_type": 0,
     "offline_url": "http://offline.example/movie.mkv",
     "size": 734003200, "bytes_before": 12000000, "time_before_ms": 20500, "start_ms": 0,
     "offline_cdn": {"at_ms": 3000, "address": "10.0.0.5"},
     "speed": [[0, 600000], [4000, 1200000], [9000, 300000]],
     "end": {"at_ms": 13000, "how": "unregister", "reason": 0}},
    {"id": 2, "name": "iso from three CDNs", "type": 1, "click_type": 1,
     "cdn": ["10.1.0.1", "10.1.0.2", "192.168.7.1"],
     "size": 4700000000, "start_ms": 500,
     "speed": [[0, 900000], [3000, 2000000], [6000, 500000], [8000, 1500000]],
     "end": {"at_ms": 12500, "how": "unregister", "reason": 0}},
    {"id": 3, "name": "shares 10.1.0.2", "type": 1, "click_type": 1,
     "cdn": ["10.1.0.2", "10.2.0.9"],
     "size": 250000000, "bytes_before": 3000000, "time_before_ms": 6000, "start_ms": 1000,
     "speed": [[0, 400000], [5000, 800000]],
     "end": {"at_ms": 12000, "how": "unregister", "reason": 1, "cdn_bytes": {"10.1.0.2": 3900000, "10.2.0.9": 2700000}}},
    {"id": 4, "name": "too short", "type": 1, "click_type": 1,
     "cdn": ["10.3.0.3"],
     "size": 2800000, "start_ms": 1500, "speed": 700000,
     "end": {"at_ms": 5500, "how": "unregister", "reason": 0}},
    {"id": 5, "name": "stalled, swept", "type": 1, "click_type": 1,
     "cdn": ["10.1.0.1"],
     "size": 90000000, "start_ms": 500, "speed": 200000,
     "end": {"at_ms": 3000, "how": "stop_sampling"}},
    {"id": 6, "name": "wrong cid", "type": 1, "click_type": 1,
     "cdn": ["192.168.7.1"],
     "size": 60000000, "start_ms": 1000, "speed": 300000,
     "end": {"at_ms": 3500, "how": "wrong_cid", "reason": 0}}
  ]
}
)json";
    return text;
}

}  // namespace sim
