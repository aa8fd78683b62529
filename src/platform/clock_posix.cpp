#include "platform/clock.h"

#include <ctime>

namespace quorrin::platform {

// The coarse monotonic clock, as GetTickCount is on Windows: advanced once a scheduler tick, and
// read in a few nanoseconds rather than the twenty of the precise clock, once per sample.
std::uint32_t tick_count() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

std::uint32_t wall_time() { return static_cast<std::uint32_t>(std::time(nullptr)); }

}  // namespace quorrin::platform
