// A task's CDN addresses: an ordered set of unsigned 32-bit values, kept as a sorted array. A
// task has a handful of addresses; a sample that a list takes reads them all, so they lie in one
// block rather than a tree node each.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace quorrin {

class cdn_ip_set {
public:
    using value_type = std::uint32_t;
    using const_iterator = std::vector<std::uint32_t>::const_iterator;

    cdn_ip_set() = default;
    cdn_ip_set(std::initializer_list<std::uint32_t> addresses) {
        for (const std::uint32_t a : addresses) insert(a);
    }

    // Adds the address unless it is there; throws std::bad_alloc and changes nothing.
    void insert(std::uint32_t address) {
        const auto at = std::lower_bound(m_addresses.begin(), m_addresses.end(), address);
        if (at == m_addresses.end() || *at != address) m_addresses.insert(at, address);
    }
    void erase(std::uint32_t address) noexcept {
        const auto at = std::lower_bound(m_addresses.begin(), m_addresses.end(), address);
        if (at != m_addresses.end() && *at == address) m_addresses.erase(at);
    }
    std::size_t count(std::uint32_t address) const {
        return std::binary_search(m_addresses.begin(), m_addresses.end(), address) ? 1 : 0;
    }

    std::size_t size() const { return m_addresses.size(); }
    bool empty() const { return m_addresses.empty(); }
    const_iterator begin() const { return m_addresses.begin(); }
    const_iterator end() const { return m_addresses.end(); }
    const std::uint32_t* data() const { return m_addresses.data(); }

    bool operator==(const cdn_ip_set& other) const { return m_addresses == other.m_addresses; }
    bool operator!=(const cdn_ip_set& other) const { return m_addresses != other.m_addresses; }

private:
    std::vector<std::uint32_t> m_addresses;  // ascending
};

}  // namespace quorrin
