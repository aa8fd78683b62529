// Module load and unload notifications.
#pragma once

namespace quorrin::platform {

// Win32: DisableThreadLibraryCalls, which Windows refuses for this DLL (it has static TLS), so
// the request is only a request. Elsewhere nothing: there are no thread notifications.
void disable_thread_notifications(void* module_handle);

}  // namespace quorrin::platform
