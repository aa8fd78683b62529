// The types of the module's exports. quorrin.dll exports the five functions below by name and,
// in this order, by ordinals 1 to 5; quorrin.so exports the same names and nothing else. A host
// needs DllGetClassObject, and DllCanUnloadNow before it unloads the module; it registers nothing
// (the class is served without registry entries). quorrin/module_library.h loads them.
#pragma once

#include <cstddef>

#include "quorrin/com_types.h"

namespace quorrin {

// 1: S_OK when nothing of the module is alive (no object, no extra factory reference, no
// LockServer(TRUE)), else S_FALSE.
typedef HRESULT(STDAPICALLTYPE* dll_can_unload_now_fn)();
// 2: the class factory of CLSID_DownloadLibPlugin (IUnknown or IClassFactory); any other class
// gives CLASS_E_CLASSNOTAVAILABLE.
typedef HRESULT(STDAPICALLTYPE* dll_get_class_object_fn)(REFCLSID clsid, REFIID iid, void** out);
// 3 and 4: the module carries no registry script, so both write nothing and return
// 0x80070715 (ERROR_RESOURCE_TYPE_NOT_FOUND).
typedef HRESULT(STDAPICALLTYPE* dll_register_server_fn)();
typedef HRESULT(STDAPICALLTYPE* dll_unregister_server_fn)();
// 5: never returns; it raises the module's assertion report. Not for hosts.
typedef std::size_t (*msize_fn)(void* block);

}  // namespace quorrin
