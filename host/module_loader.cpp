#include "module_loader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace refhost {

namespace {
template <class F>
F entry(const plugin_module& module, const char* name, std::string& error) {
    void* p = module.symbol(name);
    if (!p && error.empty()) error = std::string("the module does not export ") + name;
    return reinterpret_cast<F>(p);
}
}  // namespace

plugin_module::plugin_module(const std::string& path) {
#ifdef _WIN32
    m_handle = LoadLibraryA(path.c_str());
    if (!m_handle) m_error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
#else
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) m_error = "cannot load " + path + ": " + dlerror();
#endif
    if (!m_handle) return;
    DllGetClassObject = entry<get_class_object_fn>(*this, "DllGetClassObject", m_error);
    DllCanUnloadNow = entry<no_argument_fn>(*this, "DllCanUnloadNow", m_error);
    DllRegisterServer = entry<no_argument_fn>(*this, "DllRegisterServer", m_error);
    DllUnregisterServer = entry<no_argument_fn>(*this, "DllUnregisterServer", m_error);
    msize = entry<size_fn>(*this, "_msize", m_error);
}

plugin_module::~plugin_module() {
    if (!m_handle) return;
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(m_handle));
#else
    dlclose(m_handle);
#endif
}

void* plugin_module::symbol(const char* name) const {
    if (!m_handle) return nullptr;
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
#else
    return dlsym(m_handle, name);
#endif
}

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
