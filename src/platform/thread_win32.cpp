#include "platform/thread.h"

#include <windows.h>

namespace quorrin::platform {

thread_id current_thread() { return GetCurrentThreadId(); }

}  // namespace quorrin::platform
