#include "platform/module_info.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace quorrin::platform {

const char kSiblingModuleFile[] = "libtessaron.so";
const char kPathSeparator = '/';

bool is_readable_code(const void* p) {
    if (p == nullptr) return false;
    // The kernel reads the byte for us and answers EFAULT instead of a fault.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    const bool readable = ::write(fds[1], p, sizeof(void*)) == static_cast<ssize_t>(sizeof(void*));
    ::close(fds[0]);
    ::close(fds[1]);
    return readable;
}

std::string module_path_of(const void* code) {
    Dl_info info{};
    if (::dladdr(code, &info) == 0 || info.dli_fname == nullptr) return {};
    return info.dli_fname;
}

}  // namespace quorrin::platform
