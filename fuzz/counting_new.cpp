// Counts the blocks of the global operator new, so that each fuzz input can prove that the
// module gave back everything it took, and fails the allocations that the input says, as an
// exhausted pool does: only those made while the module's own code runs, since the host's and
// the harness's memory is not the pool's. The blocks come from malloc, which the sanitizers watch.
#include <atomic>
#include <cstdlib>
#include <new>

#include "harness.h"

namespace {

std::atomic<long long> g_live{0};
std::atomic<bool> g_in_module{false};
std::atomic<long long> g_until_failure{-1};  // module allocations to pass before failing; -1: none
std::atomic<long long> g_failures_left{0};
std::atomic<long long> g_failed{0};

bool fails_now() noexcept {
    if (!g_in_module.load(std::memory_order_relaxed) || g_until_failure.load(std::memory_order_relaxed) < 0) return false;
    if (g_until_failure.load() > 0) {
        --g_until_failure;
        return false;
    }
    if (g_failures_left.load() <= 0) return false;
    if (--g_failures_left == 0) g_until_failure = -1;
    ++g_failed;
    return true;
}

void* take(std::size_t size) noexcept {
    if (fails_now()) return nullptr;
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

bool fuzz_in_module(bool in_module) { return g_in_module.exchange(in_module); }

void fuzz_fail_allocations(long long after, long long count) {
    g_failures_left = count;
    g_until_failure = count > 0 ? after : -1;
}

long long fuzz_failed_allocations() { return g_failed.load(); }

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
