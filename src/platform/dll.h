// Module load and unload notifications.
#pragma once

namespace quorrin::platform {

// Win32: DisableThreadLibraryCalls. Elsewhere nothing: there are no thread notifications.
void disable_thread_notifications(void* module_handle);

}  // namespace quorrin::platform
