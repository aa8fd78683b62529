// Every block that the module's own code allocates comes from the pool library. The plain
// operator new throws std::bad_alloc when the pool has nothing (each COM entry point turns that
// into E_OUTOFMEMORY); the nothrow form, used where objects are created, yields null instead.
#include <cstddef>
#include <new>

#include "support/UnknownBase.h"
#include "zq.h"

void* operator new(std::size_t size) {
    if (void* block = zq_gt(size)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return zq_gt(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return zq_gt(size); }

void operator delete(void* block) noexcept { zq_gv(block); }
void operator delete[](void* block) noexcept { zq_gv(block); }
void operator delete(void* block, std::size_t) noexcept { zq_gv(block); }
void operator delete[](void* block, std::size_t) noexcept { zq_gv(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { zq_gv(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { zq_gv(block); }

namespace {
// Kept through a volatile pointer so that the module imports zq_ms even though no call reaches it.
std::size_t (*volatile g_size_query)(void*) = &zq_ms;
}  // namespace

// Exported: nothing may ask the module for a block's size. (The C runtime's headers declare an
// imported _msize; this module's own definition replaces it.)
#ifdef _WIN32
#pragma GCC diagnostic ignored "-Wattributes"
#endif
extern "C" std::size_t _msize(void* block) {
    quorrin::ReportAssertionBrief("_msize calls must debug", ".\\vqnew.cpp", 76);
    return g_size_query(block);  // not reached: the report does not return
}
