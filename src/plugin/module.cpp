// The module's boundary: its exports, its one-entry class table and the cached class factory.
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/dll.h"
#include "plugin/CDownloadLibPlugin.h"
#include "plugin/kept_services.h"
#include "quorrin/exports.h"
#include "support/module_lock.h"
#include "support/result_macros.h"

namespace quorrin {

namespace {

// The class factory that the class table keeps. The table's own reference does not hold the
// module; every further one does.
class class_factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        RETURN_HR_IF(E_POINTER, out == nullptr);
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (++m_count == 2) module_lock();
        return m_count;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG count;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            count = --m_count;
            if (count == 1) module_unlock();
        }
        if (count == 0) delete this;
        return count;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        RETURN_HR_IF(E_POINTER, out == nullptr);
        *out = nullptr;
        RETURN_HR_IF(CLASS_E_NOAGGREGATION, outer != nullptr);
        auto* plugin = new (std::nothrow) CDownloadLibPlugin();
        RETURN_HR_IF(E_OUTOFMEMORY, plugin == nullptr);
        const HRESULT hr = plugin->QueryInterface(iid, out);
        if (FAILED(hr)) delete plugin;  // its count never left 0
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            module_lock();
        } else {
            module_unlock();
        }
        return S_OK;
    }

private:
    std::mutex m_mutex;
    ULONG m_count = 1;  // the class table's reference
};

std::mutex g_class_table_lock;
class_factory* g_factory = nullptr;

// The registrar finds no registry script (resource 103) to run: the class is served from the
// class table alone and no key is written.
constexpr HRESULT kNoRegistryScript = static_cast<HRESULT>(0x80070715u);  // ERROR_RESOURCE_TYPE_NOT_FOUND

void module_detach() {
    class_factory* factory = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_class_table_lock);
        factory = std::exchange(g_factory, nullptr);
    }
    if (factory) factory->Release();
    release_kept_services();
}

}  // namespace

}  // namespace quorrin

using namespace quorrin;

STDAPI DllCanUnloadNow() { return module_lock_count() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    RETURN_HR_IF(E_POINTER, out == nullptr);
    *out = nullptr;
    RETURN_HR_IF(CLASS_E_CLASSNOTAVAILABLE, clsid != CLSID_DownloadLibPlugin);
    return com_boundary([&] {
        std::lock_guard<std::mutex> lock(g_class_table_lock);
        if (!g_factory) g_factory = new (std::nothrow) class_factory();
        RETURN_HR_IF(E_OUTOFMEMORY, g_factory == nullptr);
        return g_factory->QueryInterface(iid, out);
    });
}

STDAPI DllRegisterServer() { return kNoRegistryScript; }

STDAPI DllUnregisterServer() { return kNoRegistryScript; }

// The types that hosts cast the exports to (quorrin/exports.h) are those of the definitions.
static_assert(std::is_same<decltype(&DllCanUnloadNow), dll_can_unload_now_fn>::value, "DllCanUnloadNow");
static_assert(std::is_same<decltype(&DllGetClassObject), dll_get_class_object_fn>::value, "DllGetClassObject");
static_assert(std::is_same<decltype(&DllRegisterServer), dll_register_server_fn>::value, "DllRegisterServer");
static_assert(std::is_same<decltype(&DllUnregisterServer), dll_unregister_server_fn>::value, "DllUnregisterServer");

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        platform::disable_thread_notifications(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Only on FreeLibrary: at process exit the host's objects may already be gone.
        module_detach();
    }
    return TRUE;
}
#else
__attribute__((destructor)) static void quorrin_module_unload() { module_detach(); }
#endif
