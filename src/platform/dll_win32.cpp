#include "platform/dll.h"

#include <windows.h>

namespace quorrin::platform {

// Windows refuses this for a DLL with static TLS, and the mingw-w64 runtime gives every DLL a TLS
// directory: the notifications stay on, and DllMain returns at once for them.
void disable_thread_notifications(void* module_handle) { DisableThreadLibraryCalls(static_cast<HMODULE>(module_handle)); }

}  // namespace quorrin::platform
