#include "platform/dll.h"

namespace quorrin::platform {

void disable_thread_notifications(void*) {}

}  // namespace quorrin::platform
