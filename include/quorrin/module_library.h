// Loads the module by path and finds its exports (quorrin/exports.h), as a host does.
#pragma once

#include <string>

#include "quorrin/com_types.h"
#include "quorrin/exports.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace quorrin {

// The module, loaded by path. On Win32 its own folder is searched first for the libraries it
// imports (LoadLibraryEx with LOAD_WITH_ALTERED_SEARCH_PATH, on the full path), so zq.dll beside
// quorrin.dll is found wherever the program lives; natively dlopen(RTLD_NOW | RTLD_LOCAL), and the
// module finds libzq.so beside it by its own run path. A relative path is taken from the working
// folder on both. Unloads the module when destroyed: release
// every object of the module first (DllCanUnloadNow answers S_OK then).
class module_library {
public:
    explicit module_library(const std::string& path) {
#ifdef _WIN32
        char full[MAX_PATH];
        const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
        const std::string absolute = length > 0 && length < MAX_PATH ? std::string(full, length) : path;
        m_handle = LoadLibraryExA(absolute.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!m_handle) {
            const DWORD code = GetLastError();
            m_error = "cannot load " + path + " (error " + std::to_string(code) +
                      (code == ERROR_MOD_NOT_FOUND ? ": it, or a library it imports such as zq.dll, was not found)" : ")");
        }
#else
        // A bare file name would be sought on the library path: it names the file in the working
        // folder here, as on Windows.
        const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
        m_handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!m_handle) {
            const char* why = dlerror();
            m_error = "cannot load " + path + (why ? std::string(": ") + why : std::string());
        }
#endif
        if (!m_handle) return;
        DllGetClassObject = required<dll_get_class_object_fn>("DllGetClassObject");
        DllCanUnloadNow = required<dll_can_unload_now_fn>("DllCanUnloadNow");
        DllRegisterServer = function<dll_register_server_fn>("DllRegisterServer");
        DllUnregisterServer = function<dll_unregister_server_fn>("DllUnregisterServer");
    }
    ~module_library() {
        if (!m_handle) return;
#ifdef _WIN32
        FreeLibrary(static_cast<HMODULE>(m_handle));
#else
        dlclose(m_handle);
#endif
    }
    module_library(const module_library&) = delete;
    module_library& operator=(const module_library&) = delete;

    bool loaded() const { return m_handle != nullptr; }
    // Why loading failed, or the first of the two exports a host needs (DllGetClassObject,
    // DllCanUnloadNow) that is missing; empty when all is well.
    const std::string& error() const { return m_error; }
    // The HMODULE on Windows, the dlopen handle elsewhere; null when loading failed.
    void* handle() const { return m_handle; }

    // Any exported function by name, or null.
    template <class Function>
    Function function(const char* name) const {
        if (!m_handle) return nullptr;
#ifdef _WIN32
        // Through the generic function type, which converts to any other without a warning.
        return reinterpret_cast<Function>(
            reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(m_handle), name)));
#else
        return reinterpret_cast<Function>(dlsym(m_handle, name));
#endif
    }

    // Null when loading failed or the module lacks the export.
    dll_get_class_object_fn DllGetClassObject = nullptr;
    dll_can_unload_now_fn DllCanUnloadNow = nullptr;
    dll_register_server_fn DllRegisterServer = nullptr;
    dll_unregister_server_fn DllUnregisterServer = nullptr;

private:
    template <class Function>
    Function required(const char* name) {
        const Function f = function<Function>(name);
        if (!f && m_error.empty()) m_error = std::string("the module does not export ") + name;
        return f;
    }

    void* m_handle = nullptr;
    std::string m_error;
};

}  // namespace quorrin
