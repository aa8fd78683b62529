// A page that exists but cannot be read, for pointers that must not be followed.
#pragma once

#ifdef _WIN32
#include <windows.h>
inline void* unreadable_page() { return VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS); }
#else
#include <sys/mman.h>
inline void* unreadable_page() { return mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0); }
#endif
