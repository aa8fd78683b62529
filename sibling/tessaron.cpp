#include "tessaron.h"

#include "data_object.h"

#ifdef TESSARON_TWIN
#define TESSARON_NAME(name) tessaron_upper_##name
#else
#define TESSARON_NAME(name) tessaron_##name
#endif

namespace {
refhost::data_behaviour g_behaviour;
}  // namespace

HRESULT TESSARON_NAME(create_data)(const char* name, IHostData** out) {
    if (!out) return E_POINTER;
    auto* object = new refhost::data_object(&g_behaviour, nullptr, "tessaron data");
    object->set_name(name ? name : "");
    object->AddRef();
    *out = object;
    return S_OK;
}

std::size_t TESSARON_NAME(live_objects)() { return refhost::ledger::instance().live(); }
