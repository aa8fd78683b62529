// IUnknown for tracked host objects that implement one or more interfaces.
#pragma once

#include <string>

#include "call_log.h"
#include "quorrin/com_types.h"
#include "tracked.h"

namespace refhost {

template <class First, class... Rest>
class com_object : public First, public Rest..., public tracked {
public:
    // log: whose hook sees every call made on this object, IUnknown's too; none when null.
    explicit com_object(std::string label, call_log* log = nullptr) : tracked(std::move(label)), m_log(log) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        const hooked_call hooked(hook(), "unknown.QueryInterface");
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        void* answer = find<First, Rest...>(iid);
        if (answer == nullptr && iid == IID_IUnknown) answer = static_cast<First*>(this);
        if (answer == nullptr || refuses(iid)) return E_NOINTERFACE;
        *out = answer;
        add_ref();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        const hooked_call hooked(hook(), "unknown.AddRef");
        return add_ref();
    }
    // The hook's leave runs after a last release has destroyed the object: it uses nothing of it.
    ULONG STDMETHODCALLTYPE Release() override {
        const hooked_call hooked(hook(), "unknown.Release");
        return release();
    }

protected:
    // A host object may decline an interface that it implements (a difficult host).
    virtual bool refuses(REFIID) const { return false; }
    call_hook* hook() const { return m_log ? m_log->hook : nullptr; }

    call_log* const m_log;

private:
    template <class I, class... More>
    void* find(REFIID iid) {
        if (iid == quorrin::iid_of<I>::value()) return static_cast<I*>(this);
        if constexpr (sizeof...(More) > 0) {
            return find<More...>(iid);
        } else {
            return nullptr;
        }
    }
};

}  // namespace refhost
