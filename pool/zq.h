// The pool library that quorrin.dll takes every block of memory from. It wraps the system heap,
// is safe from any thread, and counts what is in use.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#ifdef ZQ_BUILDING
#define ZQ_API extern "C" __declspec(dllexport)
#else
#define ZQ_API extern "C" __declspec(dllimport)
#endif
#else
#define ZQ_API extern "C" __attribute__((visibility("default")))
#endif

// One argument each, 32-bit on Win32 and pointer-sized natively.
ZQ_API void* zq_gt(std::size_t size);  // a new block, or null when none is available
ZQ_API void zq_gv(void* block);        // gives a block back; null is accepted
ZQ_API std::size_t zq_ms(void* block);  // the size the block was asked with

struct zq_usage {
    std::int64_t blocks;     // blocks in use
    std::int64_t bytes;      // bytes in use (as asked for)
    std::int64_t allocations;  // zq_gt calls that gave a block, ever
    std::int64_t size_queries;  // zq_ms calls, ever
};

// For tests and benchmarks: what is in use now.
ZQ_API void zq_usage_of(zq_usage* usage);
// For tests: the largest size that zq_gt was asked for since the previous call (0 at first).
ZQ_API std::size_t zq_take_largest();
// For tests: after `after` more blocks have been given, the next `count` requests get null
// (count -1: all of them). zq_fail(-1, 0) turns failures off.
ZQ_API void zq_fail(std::int64_t after, std::int64_t count);
