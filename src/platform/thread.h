// Which thread is running: the engine serves its one designed re-entry only on the thread of the
// call that waits for it.
#pragma once

#include <cstdint>

namespace quorrin::platform {

using thread_id = std::uintptr_t;

// Never 0, and distinct among the threads alive at one time.
thread_id current_thread();

}  // namespace quorrin::platform
