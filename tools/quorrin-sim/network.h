// The simulated network: how many bytes each task has at a moment of its life, and the host-wide
// speeds and totals at a moment of the session. Byte counts follow the scenario's speed
// profiles exactly, so that a task's bytes do not depend on how punctually the loop ran.
#pragma once

#include <cstdint>
#include <vector>

#include "scenario.h"

namespace sim {

class network {
public:
    network(const scenario& s, std::uint64_t session_ms);

    // Bytes of the task offset_ms after its registration (its bytes before included), at most its size.
    static std::uint64_t task_bytes(const task_plan& t, std::uint64_t offset_ms);
    // Its speed then, 0 once the file is complete.
    static std::uint64_t task_speed(const task_plan& t, std::uint64_t offset_ms);
    // The first offset at which its bytes reach its size; never (the largest value) without a size.
    static std::uint64_t complete_at(const task_plan& t);

    // Host-wide figures at session time t: every task downloads from its start to its end,
    // whether or not the plug-in tracks it, beside the host's background traffic. Asked in time
    // order, each costs the tasks downloading at t; asked for an earlier t, it starts over.
    std::uint64_t total_download(std::uint64_t t_ms) const;
    std::uint64_t download_speed(std::uint64_t t_ms) const;
    std::uint64_t upload_total(std::uint64_t t_ms) const { return m_scenario.host.upload_speed * t_ms / 1000; }
    std::uint64_t upload_speed() const { return m_scenario.host.upload_speed; }

private:
    // The end of the task's download in session time.
    std::uint64_t end_of(const task_plan& t) const;
    // Brings the tasks downloading up to t: starts those that began by then and folds the bytes
    // of those that ended into m_ended_bytes.
    void move_to(std::uint64_t t_ms) const;

    const scenario& m_scenario;
    std::uint64_t m_session_ms;
    std::vector<const task_plan*> m_by_start;  // the tasks in order of their start
    // Where the last question left the tasks: a cache, so the figures stay const.
    mutable std::size_t m_next_start = 0;
    struct downloading {
        const task_plan* plan;
        std::uint64_t complete_ms;  // after its registration
    };
    mutable std::vector<downloading> m_downloading;
    mutable std::uint64_t m_ended_bytes = 0;  // after their clicks, of the tasks that ended by m_at
    mutable std::uint64_t m_at = 0;
};

}  // namespace sim
