// The clock that unit tests link in place of the platform's: it moves only when told.
#pragma once

#include <cstdint>

namespace manual_clock {

void set_tick(std::uint32_t tick);
void advance(std::uint32_t ms);  // wraps at 2^32 like GetTickCount
void set_wall(std::uint32_t unix_seconds);
std::uint32_t tick();
std::uint32_t wall();

}  // namespace manual_clock
