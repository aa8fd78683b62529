#include "zq.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

// Each block carries its size in front, in a header that keeps the block maximally aligned.
constexpr std::size_t kHeader = 16;

std::atomic<std::int64_t> g_blocks{0};
std::atomic<std::int64_t> g_bytes{0};
std::atomic<std::int64_t> g_allocations{0};
std::atomic<std::int64_t> g_size_queries{0};
std::atomic<std::size_t> g_largest{0};
std::atomic<std::int64_t> g_fail_after{-1};  // -1: never
std::atomic<std::int64_t> g_fail_count{0};

// Failure injection is for single-threaded tests; the ordinary path costs one relaxed load.
bool should_fail() {
    const std::int64_t after = g_fail_after.load(std::memory_order_relaxed);
    if (after < 0) return false;
    if (after > 0) {
        g_fail_after.fetch_sub(1);
        return false;
    }
    const std::int64_t left = g_fail_count.load();
    if (left == 0) {
        g_fail_after.store(-1);
        return false;
    }
    if (left > 0) g_fail_count.store(left - 1);
    return true;
}

}  // namespace

void* zq_gt(std::size_t size) {
    for (std::size_t seen = g_largest.load(std::memory_order_relaxed);
         size > seen && !g_largest.compare_exchange_weak(seen, size, std::memory_order_relaxed);) {
    }
    if (should_fail()) return nullptr;
    if (size > static_cast<std::size_t>(-1) - kHeader) return nullptr;
    auto* raw = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (!raw) return nullptr;
    *reinterpret_cast<std::size_t*>(raw) = size;
    g_blocks.fetch_add(1);
    g_bytes.fetch_add(static_cast<std::int64_t>(size));
    g_allocations.fetch_add(1);
    return raw + kHeader;
}

void zq_gv(void* block) {
    if (!block) return;
    unsigned char* raw = static_cast<unsigned char*>(block) - kHeader;
    g_blocks.fetch_sub(1);
    g_bytes.fetch_sub(static_cast<std::int64_t>(*reinterpret_cast<std::size_t*>(raw)));
    std::free(raw);
}

std::size_t zq_ms(void* block) {
    g_size_queries.fetch_add(1);
    // Nothing in quorrin may reach this: say so loudly if something does.
    std::fputs("zq_ms: a block's size was asked for\n", stderr);
    if (!block) return 0;
    return *reinterpret_cast<std::size_t*>(static_cast<unsigned char*>(block) - kHeader);
}

void zq_usage_of(zq_usage* usage) {
    if (!usage) return;
    usage->blocks = g_blocks.load();
    usage->bytes = g_bytes.load();
    usage->allocations = g_allocations.load();
    usage->size_queries = g_size_queries.load();
}

std::size_t zq_take_largest() { return g_largest.exchange(0); }

void zq_fail(std::int64_t after, std::int64_t count) {
    g_fail_count.store(count);
    g_fail_after.store(count == 0 ? -1 : after);
}
