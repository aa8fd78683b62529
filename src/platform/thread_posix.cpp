#include "platform/thread.h"

#include <pthread.h>

namespace quorrin::platform {

// pthread_self is a read of the thread's own control block, where gettid would be a system call.
thread_id current_thread() { return static_cast<thread_id>(pthread_self()); }

}  // namespace quorrin::platform
