#include "platform/interlocked.h"

namespace quorrin::platform {

std::int32_t interlocked_increment(volatile std::int32_t* value) {
    return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

std::int32_t interlocked_decrement(volatile std::int32_t* value) {
    return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}

}  // namespace quorrin::platform
