#include "platform/inet.h"

#include <arpa/inet.h>

namespace quorrin::platform {

std::uint32_t inet_addr_of(const char* text) { return static_cast<std::uint32_t>(inet_addr(text)); }

}  // namespace quorrin::platform
