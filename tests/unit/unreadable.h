// A page that exists but cannot be read, for pointers that must not be followed.
#pragma once

#include <cstddef>

#ifdef _WIN32
#include <windows.h>
inline void* unreadable_page() { return VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS); }
#else
#include <sys/mman.h>
inline void* unreadable_page() { return mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0); }
#endif

// size readable bytes that end exactly where an unreadable page begins: reading one byte past
// them faults.
inline unsigned char* guarded_tail(std::size_t size) {
#ifdef _WIN32
    auto* base = static_cast<unsigned char*>(VirtualAlloc(nullptr, 8192, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base + 4096, 4096, PAGE_NOACCESS, &old);
#else
    auto* base = static_cast<unsigned char*>(mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base + 4096, 4096, PROT_NONE);
#endif
    return base + 4096 - size;
}
