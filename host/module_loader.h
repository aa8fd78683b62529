// Loads a plug-in module by path and finds its entry points, as a host does: LoadLibrary and
// GetProcAddress on Win32, dlopen and dlsym elsewhere.
#pragma once

#include <cstddef>
#include <string>

#include "quorrin/com_types.h"

namespace refhost {

class plugin_module {
public:
    using get_class_object_fn = HRESULT(STDMETHODCALLTYPE*)(REFCLSID, REFIID, void**);
    using no_argument_fn = HRESULT(STDMETHODCALLTYPE*)();
    using size_fn = std::size_t (*)(void*);

    explicit plugin_module(const std::string& path);
    ~plugin_module();
    plugin_module(const plugin_module&) = delete;
    plugin_module& operator=(const plugin_module&) = delete;

    // The module next to the running program: quorrin.dll on Win32, quorrin.so elsewhere.
    static std::string default_path();
    static std::string directory_of_program();

    bool loaded() const { return m_handle != nullptr; }
    // Why loading failed, or which entry point is missing.
    const std::string& error() const { return m_error; }
    void* symbol(const char* name) const;
    // The HMODULE on Win32, the dlopen handle elsewhere.
    void* handle() const { return m_handle; }

    get_class_object_fn DllGetClassObject = nullptr;
    no_argument_fn DllCanUnloadNow = nullptr;
    no_argument_fn DllRegisterServer = nullptr;
    no_argument_fn DllUnregisterServer = nullptr;
    size_fn msize = nullptr;

private:
    void* m_handle = nullptr;
    std::string m_error;
};

}  // namespace refhost
