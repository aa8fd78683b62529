#include <algorithm>
#include <cstdio>

#include "services.h"

namespace refhost {

const GUID IID_ReferenceServiceProvider = {0x5E1A7C40, 0x2B9D, 0x4E61, {0x9A, 0x0C, 0x7F, 0x31, 0xD2, 0x48, 0x6B, 0x15}};

std::string guid_text(const GUID& id) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(id.Data1),
                  id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5],
                  id.Data4[6], id.Data4[7]);
    return text;
}

std::string dotted(std::uint32_t address) {
    return std::to_string(address & 0xFF) + "." + std::to_string((address >> 8) & 0xFF) + "." +
           std::to_string((address >> 16) & 0xFF) + "." + std::to_string(address >> 24);
}

service_provider::~service_provider() {
    release_kept();
    for (auto& [id, object] : m_registered) object->Release();
}

void service_provider::add_service(const GUID& id, IUnknown* service, const std::string& name) {
    m_services[id] = service_entry{service, name};
}

void service_provider::remove_service(const GUID& id) { m_services.erase(id); }

IUnknown* service_provider::registered(const GUID& id) const {
    const auto found = m_registered.find(id);
    return found == m_registered.end() ? nullptr : found->second;
}

void service_provider::release_kept() {
    for (IUnknown* object : m_kept) object->Release();
    m_kept.clear();
}

std::string service_provider::name_of(const GUID& id) const {
    const auto found = m_services.find(id);
    if (found != m_services.end()) return found->second.name;
    if (id == IID_IQuorrin) return "IQuorrin";
    if (id == SID_SpeedLimitService) return "speed limit";
    return guid_text(id);
}

HRESULT service_provider::RegisterObject(const GUID* id, IUnknown* object) {
    const hooked_call hooked(m_log->hook, "provider.RegisterObject");
    if (!id || !object) return E_POINTER;
    if (m_log->active()) m_log->add("provider.RegisterObject " + name_of(*id));
    object->AddRef();
    if (IUnknown* old = registered(*id)) old->Release();
    m_registered[*id] = object;
    return S_OK;
}

HRESULT service_provider::UnregisterObject(const GUID* id) {
    const hooked_call hooked(m_log->hook, "provider.UnregisterObject");
    if (!id) return E_POINTER;
    if (m_log->active()) m_log->add("provider.UnregisterObject " + name_of(*id));
    const auto found = m_registered.find(*id);
    if (found == m_registered.end()) return E_FAIL;
    if (keeps_unregistered) {
        m_kept.push_back(found->second);
    } else {
        found->second->Release();
    }
    m_registered.erase(found);
    return S_OK;
}

HRESULT service_provider::GetService(const GUID* service_id, void** out) {
    const hooked_call hooked(m_log->hook, "provider.GetService");
    if (!service_id || !out) return E_POINTER;
    if (m_log->active()) m_log->add("provider.GetService " + name_of(*service_id));
    *out = nullptr;
    const auto found = m_services.find(*service_id);
    if (found == m_services.end()) return E_NOINTERFACE;
    if (std::find(failing_services.begin(), failing_services.end(), *service_id) != failing_services.end()) {
        if (failure_hands_out) {
            found->second.service->AddRef();
            *out = found->second.service;
        }
        return E_FAIL;
    }
    found->second.service->AddRef();
    *out = found->second.service;
    return S_OK;
}

HRESULT service_provider::CreateObject(const CLSID* class_id, const IID* iid, void** out) {
    const hooked_call hooked(m_log->hook, "provider.CreateObject");
    if (!class_id || !iid || !out) return E_POINTER;
    if (m_log->active()) m_log->add("provider.CreateObject");
    *out = nullptr;
    if (*class_id != CLSID_HostData) return CLASS_E_CLASSNOTAVAILABLE;
    data_object* object = m_data->create();
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(*iid, out);
    object->Release();
    return hr;
}

}  // namespace refhost
