#include "support/text.h"

#include "platform/inet.h"

namespace quorrin {

std::string decimal_text(std::int32_t value) {
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
    return std::string(p, end);
}

std::string hex_id_text(std::string_view id) {
    if (id.size() != 20) return {};
    static const char digits[] = "0123456789ABCDEF";
    std::string text(40, '\0');
    for (std::size_t i = 0; i < 20; ++i) {
        const auto byte = static_cast<unsigned char>(id[i]);
        text[2 * i] = digits[byte >> 4];
        text[2 * i + 1] = digits[byte & 0x0F];
    }
    return text;
}

std::uint32_t parse_ipv4(const std::string& text) { return platform::inet_addr_of(text.c_str()); }

}  // namespace quorrin
