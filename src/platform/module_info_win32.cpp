#include "platform/module_info.h"

#include <windows.h>

namespace quorrin::platform {

const char kSiblingModuleFile[] = "tessaron.dll";
const char kPathSeparator = '\\';

bool is_readable_code(const void* p) {
    return IsBadCodePtr(reinterpret_cast<FARPROC>(const_cast<void*>(p))) == FALSE;
}

std::size_t module_path_into(const void* code, char* path, std::size_t size) {
    MEMORY_BASIC_INFORMATION info{};
    if (size == 0 || VirtualQuery(code, &info, sizeof info) == 0 || info.AllocationBase == nullptr) return 0;
    // The path buffer is MAX_PATH characters, however much room the caller has.
    const DWORD room = static_cast<DWORD>(size < MAX_PATH ? size : MAX_PATH);
    const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), path, room);
    if (length == 0 || length >= room) {
        path[0] = '\0';
        return 0;
    }
    return length;
}

}  // namespace quorrin::platform
