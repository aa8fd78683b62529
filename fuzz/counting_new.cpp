// Counts the blocks of the global operator new, so that each fuzz input can prove that the
// module gave back everything it took. The blocks come from malloc, which the sanitizers watch.
#include <atomic>
#include <cstdlib>
#include <new>

#include "harness.h"

namespace {

std::atomic<long long> g_live{0};

void* take(std::size_t size) noexcept {
    void* block = std::malloc(size ? size : 1);
    if (block) ++g_live;
    return block;
}

void give(void* block) noexcept {
    if (!block) return;
    --g_live;
    std::free(block);
}

}  // namespace

long long fuzz_live_blocks() { return g_live.load(); }

void* operator new(std::size_t size) {
    if (void* block = take(size)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return take(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return take(size); }

void operator delete(void* block) noexcept { give(block); }
void operator delete[](void* block) noexcept { give(block); }
void operator delete(void* block, std::size_t) noexcept { give(block); }
void operator delete[](void* block, std::size_t) noexcept { give(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { give(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { give(block); }
