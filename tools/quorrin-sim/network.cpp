#include "network.h"

#include <algorithm>

namespace sim {

std::uint64_t network::task_bytes(const task_plan& t, std::uint64_t offset_ms) {
    // Sum of speed × milliseconds first, divided once, so that rounding does not pile up.
    std::uint64_t byte_ms = 0;
    for (std::size_t i = 0; i < t.speed.size(); ++i) {
        const std::uint64_t from = t.speed[i].at_ms;
        const std::uint64_t to = i + 1 < t.speed.size() ? t.speed[i + 1].at_ms : offset_ms;
        if (from >= offset_ms) break;
        byte_ms += t.speed[i].bytes_per_s * (std::min(to, offset_ms) - from);
    }
    const std::uint64_t bytes = t.bytes_before + byte_ms / 1000;
    return t.size != 0 ? std::min(bytes, t.size) : bytes;
}

std::uint64_t network::task_speed(const task_plan& t, std::uint64_t offset_ms) {
    if (t.size != 0 && task_bytes(t, offset_ms) >= t.size) return 0;
    std::uint64_t speed = 0;
    for (const speed_step& step : t.speed) {
        if (step.at_ms <= offset_ms) speed = step.bytes_per_s;
    }
    return speed;
}

std::uint64_t network::end_of(const task_plan& t) const {
    return t.end == end_kind::open ? m_session_ms : std::min<std::uint64_t>(t.end_ms, m_session_ms);
}

std::uint64_t network::total_download(std::uint64_t t_ms) const {
    std::uint64_t total = m_scenario.host.total_download_bytes + m_scenario.host.background_speed * t_ms / 1000;
    for (const task_plan& t : m_scenario.tasks) {
        if (t_ms <= t.start_ms) continue;
        const std::uint64_t until = std::min(t_ms, end_of(t));
        if (until > t.start_ms) total += task_bytes(t, until - t.start_ms) - t.bytes_before;
    }
    return total;
}

std::uint64_t network::download_speed(std::uint64_t t_ms) const {
    std::uint64_t speed = m_scenario.host.background_speed;
    for (const task_plan& t : m_scenario.tasks) {
        if (t_ms >= t.start_ms && t_ms < end_of(t)) speed += task_speed(t, t_ms - t.start_ms);
    }
    return speed;
}

}  // namespace sim
