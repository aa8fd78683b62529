// The module, loaded by path as a host loads it (quorrin/module_library.h), and where the
// reference host's programs find it.
#pragma once

#include <string>

#include "quorrin/module_library.h"

namespace refhost {

class plugin_module : public quorrin::module_library {
public:
    using module_library::module_library;

    // The module next to the running program: quorrin.dll on Win32, quorrin.so elsewhere.
    static std::string default_path();
    static std::string directory_of_program();

    // Any exported symbol, or null.
    void* symbol(const char* name) const { return reinterpret_cast<void*>(function<void (*)()>(name)); }

    // The module's _msize, which only its tests call; null without it.
    quorrin::msize_fn msize = function<quorrin::msize_fn>("_msize");
};

}  // namespace refhost
