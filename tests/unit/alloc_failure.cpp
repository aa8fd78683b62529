#include "alloc_failure.h"

#include <cstdlib>
#include <new>

namespace {
long g_countdown = -1;
bool g_fired = false;
int g_held = 0;
}  // namespace

void alloc_failure::fail_after(long after) {
    g_countdown = after;
    g_fired = false;
}
bool alloc_failure::fired() { return g_fired; }
void alloc_failure::hold(bool on) { g_held += on ? 1 : -1; }

void* operator new(std::size_t size) {
    if (g_held == 0 && g_countdown >= 0 && g_countdown-- == 0) {
        g_fired = true;
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
