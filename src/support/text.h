// Text and address conversions shared by the reports and the task registration.
#pragma once

#include <cstdint>
#include <string_view>

#include "support/byte_string.h"

namespace quorrin {

// Base 10, a minus sign for negatives, no leading zeros.
byte_string decimal_text(std::int32_t value);

// 40 upper-case hex digits for exactly 20 bytes; "" for any other length.
byte_string hex_id_text(std::string_view id);

// inet_addr of the text up to its first NUL: network byte order, 0xFFFFFFFF for bad text.
std::uint32_t parse_ipv4(const byte_string& text);
// The same for the characters of a host's address entry (at most 20), without a NUL of their own.
std::uint32_t parse_ipv4_chars(const char* chars, std::size_t length);

// The (length, characters) pair of a host call: never a null pointer, even for "".
inline const char* host_chars(std::string_view s) { return s.empty() ? "" : s.data(); }
inline std::uint32_t host_length(std::string_view s) { return static_cast<std::uint32_t>(s.size()); }

}  // namespace quorrin
