#include "platform/inet.h"

#include <cstring>

namespace quorrin::platform {

namespace {

// The C library's classes in the "C" locale, for plain bytes: a byte above 0x7F is neither.
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int digit_value(char c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// One part as the Win32 runtime's strtoul reads it with base 0: "0x" hexadecimal, a leading 0
// octal, else decimal, saturating at 2^32-1 (its unsigned long has 32 bits). Returns where the
// digits end, or nullptr when there are none ("0x" alone reads as no number there).
const char* read_part(const char* p, std::uint64_t& value) {
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;
    }
    const char* start = p;
    value = 0;
    for (int d; (d = digit_value(*p)) < base; ++p) {
        value = value * base + static_cast<std::uint64_t>(d);
        if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;
    }
    return p == start ? nullptr : p;
}

}  // namespace

// The Win32 inet_addr, result for result: one to four parts, each starting with a digit; the last
// part fills the bytes that are left; a blank (and anything after it) ends the text; a lone
// blank is 0.0.0.0.
std::uint32_t inet_addr_of(const char* text) {
    constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    if (text == nullptr) return kNone;
    if (text[0] == ' ' && text[1] == '\0') return 0;

    std::uint64_t parts[4] = {0, 0, 0, 0};
    int last = 0;
    for (const char* p = text;; ++last) {
        if (last == 4 || !is_digit(*p)) return kNone;
        p = read_part(p, parts[last]);
        if (p == nullptr) return kNone;
        if (*p == '\0' || is_blank(*p)) break;
        if (*p != '.') return kNone;
        ++p;
    }

    // The last part fills the bytes that the earlier parts left, the lowest byte last.
    unsigned char octets[4];
    for (int i = 3; i > last; --i) {
        octets[i] = static_cast<unsigned char>(parts[last] & 0xFF);
        parts[last] >>= 8;
    }
    for (int i = 0; i <= last; ++i) {
        if (parts[i] > 255) return kNone;
        octets[i] = static_cast<unsigned char>(parts[i]);
    }
    std::uint32_t address;
    std::memcpy(&address, octets, sizeof address);
    return address;
}

}  // namespace quorrin::platform
