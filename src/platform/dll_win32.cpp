#include "platform/dll.h"

#include <windows.h>

namespace quorrin::platform {

void disable_thread_notifications(void* module_handle) { DisableThreadLibraryCalls(static_cast<HMODULE>(module_handle)); }

}  // namespace quorrin::platform
