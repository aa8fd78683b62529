// The clock's state, shared by the platform's redirected clock reads. The module's calls come
// on one thread.
#pragma once

#include <cstdint>

namespace refhost::virtual_clock {

struct clock_state {
    enum class mode { system, virtual_time, shifted };
    mode how = mode::system;
    std::uint32_t tick_start = 0;
    std::uint32_t unix_start = 0;
    std::uint64_t ms = 0;  // virtual time: since the start; shifted: the shift

    // What the module reads, given what the system says.
    std::uint64_t tick64(std::uint64_t system_tick) const {
        return how == mode::virtual_time ? tick_start + ms : system_tick + ms;
    }
    std::uint64_t unix_time(std::uint64_t system_time) const {
        return (how == mode::virtual_time ? unix_start : system_time) + ms / 1000;
    }
};

extern clock_state g_clock;

}  // namespace refhost::virtual_clock
