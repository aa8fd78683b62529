// Interlocked counts, for the counters that COM callers may touch from any thread.
#pragma once

#include <cstdint>

namespace quorrin::platform {

// Both return the new value.
std::int32_t interlocked_increment(volatile std::int32_t* value);
std::int32_t interlocked_decrement(volatile std::int32_t* value);

}  // namespace quorrin::platform
