// Dotted IPv4 text to an address.
#pragma once

#include <cstdint>

namespace quorrin::platform {

// The sockets library's inet_addr: network byte order, INADDR_NONE for bad text. Win32 calls it;
// elsewhere our own conversion gives the Win32 result for every text, so that native tests prove
// what the product does.
std::uint32_t inet_addr_of(const char* text);

}  // namespace quorrin::platform
