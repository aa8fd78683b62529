// IUnknown for tracked host objects that implement one or more interfaces.
#pragma once

#include "quorrin/com_types.h"
#include "tracked.h"

namespace refhost {

template <class First, class... Rest>
class com_object : public First, public Rest..., public tracked {
public:
    using tracked::tracked;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        void* answer = find<First, Rest...>(iid);
        if (answer == nullptr && iid == IID_IUnknown) answer = static_cast<First*>(this);
        if (answer == nullptr || refuses(iid)) return E_NOINTERFACE;
        *out = answer;
        add_ref();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

protected:
    // A host object may decline an interface that it implements (a difficult host).
    virtual bool refuses(REFIID) const { return false; }

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
