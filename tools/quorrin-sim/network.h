// The simulated network: how many bytes each task has at a moment of its life, and the host-wide
// speeds and totals at a moment of the session. Byte counts follow the scenario's speed
// profiles exactly, so that a task's bytes do not depend on how punctually the loop ran.
#pragma once

#include <cstdint>

#include "scenario.h"

namespace sim {

class network {
public:
    network(const scenario& s, std::uint64_t session_ms) : m_scenario(s), m_session_ms(session_ms) {}

    // Bytes of the task offset_ms after its registration (its bytes before included), at most its size.
    static std::uint64_t task_bytes(const task_plan& t, std::uint64_t offset_ms);
    // Its speed then, 0 once the file is complete.
    static std::uint64_t task_speed(const task_plan& t, std::uint64_t offset_ms);

    // Host-wide figures at session time t: every task downloads from its start to its end,
    // whether or not the plug-in tracks it, beside the host's background traffic.
    std::uint64_t total_download(std::uint64_t t_ms) const;
    std::uint64_t download_speed(std::uint64_t t_ms) const;
    std::uint64_t upload_total(std::uint64_t t_ms) const { return m_scenario.host.upload_speed * t_ms / 1000; }
    std::uint64_t upload_speed() const { return m_scenario.host.upload_speed; }

private:
    // The end of the task's download in session time.
    std::uint64_t end_of(const task_plan& t) const;

    const scenario& m_scenario;
    std::uint64_t m_session_ms;
};

}  // namespace sim
