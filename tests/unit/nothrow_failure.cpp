#include "nothrow_failure.h"

#include <new>

namespace {
int g_failures = 0;
}

void nothrow_failure::fail_next(int count) { g_failures = count; }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (g_failures > 0) {
        --g_failures;
        return nullptr;
    }
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}
