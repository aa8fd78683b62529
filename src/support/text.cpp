#include "support/text.h"

#include <cstring>

#include "platform/inet.h"

namespace quorrin {

byte_string decimal_text(std::int32_t value) {
    char buffer[12];
    char* end = buffer + sizeof buffer;
    char* p = end;
    // Widen first: negating INT32_MIN as a 32-bit value would overflow.
    std::int64_t v = value;
    const bool negative = v < 0;
    if (negative) v = -v;
    do {
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (negative) *--p = '-';
    return byte_string(p, end);
}

byte_string hex_id_text(std::string_view id) {
    if (id.size() != 20) return {};
    static const char digits[] = "0123456789ABCDEF";
    byte_string text(40, '\0');
    for (std::size_t i = 0; i < 20; ++i) {
        const auto byte = static_cast<unsigned char>(id[i]);
        text[2 * i] = digits[byte >> 4];
        text[2 * i + 1] = digits[byte & 0x0F];
    }
    return text;
}

std::uint32_t parse_ipv4(const byte_string& text) { return platform::inet_addr_of(text.c_str()); }

std::uint32_t parse_ipv4_chars(const char* chars, std::size_t length) {
    char text[21] = {};
    std::memcpy(text, chars, length < 20 ? length : 20);
    return platform::inet_addr_of(text);
}

}  // namespace quorrin
