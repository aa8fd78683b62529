#include "support/module_lock.h"

#include "platform/interlocked.h"

namespace quorrin {

namespace {
volatile std::int32_t g_lock_count = 0;
}

void module_lock() { platform::interlocked_increment(&g_lock_count); }

void module_unlock() { platform::interlocked_decrement(&g_lock_count); }

std::int32_t module_lock_count() { return __atomic_load_n(&g_lock_count, __ATOMIC_SEQ_CST); }

}  // namespace quorrin
