#include "module_loader.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace refhost {

std::string plugin_module::directory_of_program() {
#ifdef _WIN32
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, length);
    const std::size_t cut = text.find_last_of("\\/");
#else
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string text(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    const std::size_t cut = text.rfind('/');
#endif
    return cut == std::string::npos ? std::string(".") : text.substr(0, cut);
}

std::string plugin_module::default_path() {
#ifdef _WIN32
    return directory_of_program() + "\\quorrin.dll";
#else
    return directory_of_program() + "/quorrin.so";
#endif
}

}  // namespace refhost
