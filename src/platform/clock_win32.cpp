#include "platform/clock.h"

#include <windows.h>

#include <ctime>

namespace quorrin::platform {

std::uint32_t tick_count() { return GetTickCount(); }

std::uint32_t wall_time() { return static_cast<std::uint32_t>(std::time(nullptr)); }

}  // namespace quorrin::platform
