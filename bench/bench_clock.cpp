// The benchmark module's clocks: the product's coarse monotonic tick plus an offset that the
// benchmark moves on, so that a task can run for seconds without the benchmark waiting for them.
// A tick still costs one clock_gettime of the same clock, as in the product.
#include <cstdint>
#include <ctime>

#include "platform/clock.h"

namespace {
std::uint32_t g_offset_ms = 0;  // the module's calls all come on the benchmark's one thread
}  // namespace

namespace quorrin::platform {

std::uint32_t tick_count() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms) + g_offset_ms;
}

std::uint32_t wall_time() { return static_cast<std::uint32_t>(std::time(nullptr)); }

}  // namespace quorrin::platform

extern "C" __attribute__((visibility("default"))) void quorrin_bench_advance_clock(std::uint32_t ms) {
    g_offset_ms += ms;
}
