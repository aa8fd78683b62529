// The module's strings live in the runtime library's heap (malloc and free), not in the pool:
// the pool serves objects and containers, and is not sized for strings of whatever length a
// host hands over (a 4,000-byte cid is one 4,000-byte block).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

namespace quorrin {

template <class T>
struct runtime_allocator {
    using value_type = T;

    runtime_allocator() = default;
    template <class U>
    runtime_allocator(const runtime_allocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (void* block = std::malloc(n * sizeof(T))) return static_cast<T*>(block);
        throw std::bad_alloc();
    }
    void deallocate(T* block, std::size_t) noexcept { std::free(block); }

    friend bool operator==(const runtime_allocator&, const runtime_allocator&) { return true; }
    friend bool operator!=(const runtime_allocator&, const runtime_allocator&) { return false; }
};

using byte_string = std::basic_string<char, std::char_traits<char>, runtime_allocator<char>>;

// Byte for byte against the standard string (tests, the reference host).
inline bool operator==(const byte_string& a, const std::string& b) { return std::string_view(a) == b; }
inline bool operator==(const std::string& a, const byte_string& b) { return b == a; }
inline bool operator!=(const byte_string& a, const std::string& b) { return !(a == b); }
inline bool operator!=(const std::string& a, const byte_string& b) { return !(b == a); }

}  // namespace quorrin
