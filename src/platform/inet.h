// Dotted IPv4 text to an address.
#pragma once

#include <cstdint>

namespace quorrin::platform {

// Exactly the sockets library's inet_addr: network byte order, INADDR_NONE for bad text.
std::uint32_t inet_addr_of(const char* text);

}  // namespace quorrin::platform
