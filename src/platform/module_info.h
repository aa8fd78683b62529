// Which module a code address belongs to, and whether a pointer may be read at all.
#pragma once

#include <cstddef>

namespace quorrin::platform {

// The file of the sibling module whose data objects are shared rather than copied:
// "tessaron.dll" on Win32, "libtessaron.so" (the platform's shared-object name) elsewhere.
extern const char kSiblingModuleFile[];

// The separator before a module's file name in the paths below.
extern const char kPathSeparator;

// True when p can be read; never faults. Win32: IsBadCodePtr (one byte). POSIX: a read of a
// pointer's worth of bytes by the kernel (process_vm_readv, else a pipe write), so that a caller
// may then read one pointer at p.
bool is_readable_code(const void* p);

// Full path of the module whose image holds the code address, written into path (NUL-terminated):
// its length, or 0 when it has none or it needs more than size characters with the NUL
// (VirtualQuery allocation base + GetModuleFileNameA with 260 characters on Win32; dladdr on POSIX).
constexpr std::size_t kModulePathCapacity = 1024;
std::size_t module_path_into(const void* code, char* path, std::size_t size);

}  // namespace quorrin::platform
