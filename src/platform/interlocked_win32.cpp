#include "platform/interlocked.h"

#include <windows.h>

static_assert(sizeof(LONG) == sizeof(std::int32_t), "LONG is 32-bit");

namespace quorrin::platform {

std::int32_t interlocked_increment(volatile std::int32_t* value) {
    return InterlockedIncrement(reinterpret_cast<volatile LONG*>(value));
}

std::int32_t interlocked_decrement(volatile std::int32_t* value) {
    return InterlockedDecrement(reinterpret_cast<volatile LONG*>(value));
}

}  // namespace quorrin::platform
