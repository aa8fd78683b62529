#include "network.h"

#include <algorithm>
#include <limits>

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

namespace {
// The speed of the profile's step at offset_ms, the file's size aside.
std::uint64_t step_speed(const task_plan& t, std::uint64_t offset_ms) {
    std::uint64_t speed = 0;
    for (const speed_step& step : t.speed) {
        if (step.at_ms <= offset_ms) speed = step.bytes_per_s;
    }
    return speed;
}
}  // namespace

std::uint64_t network::task_speed(const task_plan& t, std::uint64_t offset_ms) {
    return offset_ms >= complete_at(t) ? 0 : step_speed(t, offset_ms);
}

std::uint64_t network::complete_at(const task_plan& t) {
    if (t.size == 0) return std::numeric_limits<std::uint64_t>::max();
    if (t.bytes_before >= t.size) return 0;
    // task_bytes reaches the size once speed × milliseconds reaches this.
    const std::uint64_t needed = (t.size - t.bytes_before) * 1000;
    std::uint64_t byte_ms = 0;
    for (std::size_t i = 0; i < t.speed.size(); ++i) {
        const std::uint64_t v = t.speed[i].bytes_per_s;
        const bool last = i + 1 == t.speed.size();
        const std::uint64_t span = last ? 0 : t.speed[i + 1].at_ms - t.speed[i].at_ms;
        if (v != 0 && (last || byte_ms + v * span >= needed)) return t.speed[i].at_ms + (needed - byte_ms + v - 1) / v;
        byte_ms += v * span;
    }
    return std::numeric_limits<std::uint64_t>::max();
}

std::uint64_t network::end_of(const task_plan& t) const {
    return t.end == end_kind::open ? m_session_ms : std::min<std::uint64_t>(t.end_ms, m_session_ms);
}

network::network(const scenario& s, std::uint64_t session_ms) : m_scenario(s), m_session_ms(session_ms) {
    for (const task_plan& t : s.tasks) m_by_start.push_back(&t);
    std::stable_sort(m_by_start.begin(), m_by_start.end(),
                     [](const task_plan* a, const task_plan* b) { return a->start_ms < b->start_ms; });
}

void network::move_to(std::uint64_t t_ms) const {
    if (t_ms < m_at) {
        m_next_start = 0;
        m_downloading.clear();
        m_ended_bytes = 0;
    }
    m_at = t_ms;
    while (m_next_start < m_by_start.size() && m_by_start[m_next_start]->start_ms <= t_ms) {
        const task_plan* t = m_by_start[m_next_start++];
        m_downloading.push_back({t, complete_at(*t)});
    }
    const auto ended = std::partition(m_downloading.begin(), m_downloading.end(),
                                      [&](const downloading& d) { return t_ms < end_of(*d.plan); });
    for (auto it = ended; it != m_downloading.end(); ++it) {
        const task_plan& t = *it->plan;
        if (end_of(t) > t.start_ms) m_ended_bytes += task_bytes(t, end_of(t) - t.start_ms) - t.bytes_before;
    }
    m_downloading.erase(ended, m_downloading.end());
}

std::uint64_t network::total_download(std::uint64_t t_ms) const {
    move_to(t_ms);
    std::uint64_t total = m_scenario.host.total_download_bytes + m_scenario.host.background_speed * t_ms / 1000 + m_ended_bytes;
    for (const downloading& d : m_downloading) {
        const task_plan& t = *d.plan;
        if (t_ms > t.start_ms) total += task_bytes(t, t_ms - t.start_ms) - t.bytes_before;
    }
    return total;
}

std::uint64_t network::download_speed(std::uint64_t t_ms) const {
    move_to(t_ms);
    std::uint64_t speed = m_scenario.host.background_speed;
    for (const downloading& d : m_downloading) {
        const std::uint64_t offset = t_ms - d.plan->start_ms;
        if (offset < d.complete_ms) speed += step_speed(*d.plan, offset);
    }
    return speed;
}

}  // namespace sim
