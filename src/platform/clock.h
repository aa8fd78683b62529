// The two clocks. They live in their own object file so that unit tests link a manual clock.
#pragma once

#include <cstdint>

namespace quorrin::platform {

// Milliseconds since an arbitrary start, wrapping at 2^32.
std::uint32_t tick_count();

// Unix seconds, cut to 32 bits.
std::uint32_t wall_time();

}  // namespace quorrin::platform
