#include "platform/module_info.h"

#include <windows.h>

namespace quorrin::platform {

const char kSiblingModuleFile[] = "tessaron.dll";
const char kPathSeparator = '\\';

bool is_readable_code(const void* p) {
    return IsBadCodePtr(reinterpret_cast<FARPROC>(const_cast<void*>(p))) == FALSE;
}

std::string module_path_of(const void* code) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(code, &info, sizeof info) == 0 || info.AllocationBase == nullptr) return {};
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::string(path, length);
}

}  // namespace quorrin::platform
