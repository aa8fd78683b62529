#include "virtual_clock.h"

#include "virtual_clock_state.h"

namespace refhost::virtual_clock {

clock_state g_clock;

void start(std::uint32_t tick_start, std::uint32_t unix_start) {
    g_clock.tick_start = tick_start;
    g_clock.unix_start = unix_start;
    g_clock.ms = 0;
    g_clock.how = clock_state::mode::virtual_time;
}

void set(std::uint64_t ms) { g_clock.ms = ms; }

void shift(std::uint32_t ms) {
    if (g_clock.how != clock_state::mode::shifted) g_clock.ms = 0;
    g_clock.how = clock_state::mode::shifted;
    g_clock.ms += ms;
}

void stop() { g_clock.how = clock_state::mode::system; }

}  // namespace refhost::virtual_clock
