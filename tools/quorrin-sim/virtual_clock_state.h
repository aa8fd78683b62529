// The virtual clock's state, shared by the platform's redirected clock reads. The session and
// the module's calls run on one thread.
#pragma once

#include <cstdint>

namespace sim::virtual_clock {

struct clock_state {
    bool active = false;
    std::uint32_t tick_start = 0;
    std::uint32_t unix_start = 0;
    std::uint64_t ms = 0;

    std::uint64_t tick64() const { return tick_start + ms; }
    std::uint32_t tick() const { return static_cast<std::uint32_t>(tick64()); }
    std::uint64_t unix_time() const { return unix_start + ms / 1000; }
};

extern clock_state g_clock;

}  // namespace sim::virtual_clock
