// The fuzz input as the session reads it: front to back, zeros past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class byte_source {
public:
    byte_source(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool exhausted() const { return m_pos >= m_size; }
    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    bool flag() { return (byte() & 1) != 0; }
    // True about once in `in` reads.
    bool rarely(unsigned in) { return byte() % in == 0; }
    std::uint32_t u32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(byte()) << (8 * i);
        return v;
    }
    std::uint64_t u64() { return u32() | (static_cast<std::uint64_t>(u32()) << 32); }
    template <class T, std::size_t N>
    T pick(const T (&options)[N]) {
        return options[byte() % N];
    }
    std::string text(std::size_t length) {
        std::string s;
        while (s.size() < length && !exhausted()) s += static_cast<char>(byte());
        return s;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};
