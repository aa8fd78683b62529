#include "manual_clock.h"

#include "platform/clock.h"

namespace {
std::uint32_t g_tick = 1000000;
std::uint32_t g_wall = 1700000000;
}  // namespace

namespace manual_clock {
void set_tick(std::uint32_t tick) { g_tick = tick; }
void advance(std::uint32_t ms) { g_tick += ms; }
void set_wall(std::uint32_t unix_seconds) { g_wall = unix_seconds; }
std::uint32_t tick() { return g_tick; }
std::uint32_t wall() { return g_wall; }
}  // namespace manual_clock

namespace quorrin::platform {
std::uint32_t tick_count() { return g_tick; }
std::uint32_t wall_time() { return g_wall; }
}  // namespace quorrin::platform
