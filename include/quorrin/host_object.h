// IUnknown for a host's own COM objects. Derive from host_object<I1, I2, ...>, implement the
// interfaces' methods, create with new (the count starts at 1, the creator's reference) and let
// Release delete. QueryInterface answers IUnknown and each listed interface under its id
// (iid_of; an interface without one, such as IHostServiceProvider, is reached as IUnknown only);
// every other id gets E_NOINTERFACE and a null pointer. The count is atomic, so references may be
// taken and dropped on any thread.
#pragma once

#include <atomic>
#include <new>

#include "quorrin/com_types.h"

namespace quorrin {

namespace detail {

// The id of Interface, or null for an interface that has none.
template <class Interface, class = void>
struct id_of {
    static const GUID* get() { return nullptr; }
};
template <class Interface>
struct id_of<Interface, decltype(void(&iid_of<Interface>::value))> {
    static const GUID* get() { return &iid_of<Interface>::value(); }
};

template <class... Interfaces>
struct interface_lookup;

template <>
struct interface_lookup<> {
    template <class Object>
    static void* find(Object*, REFIID) { return nullptr; }
};

template <class First, class... Rest>
struct interface_lookup<First, Rest...> {
    template <class Object>
    static void* find(Object* object, REFIID iid) {
        const GUID* id = id_of<First>::get();
        if (id && iid == *id) return static_cast<First*>(object);
        return interface_lookup<Rest...>::find(object, iid);
    }
};

// Running out of memory never leaves a COM method: body's result, or E_OUTOFMEMORY.
template <class Body>
HRESULT no_throw(Body body) {
#if defined(__cpp_exceptions) || defined(__EXCEPTIONS) || defined(_CPPUNWIND)
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
#else
    return body();
#endif
}

}  // namespace detail

template <class First, class... Rest>
class host_object : public First, public Rest... {
public:
    host_object() : m_refs(1) {}
    host_object(const host_object&) = delete;
    host_object& operator=(const host_object&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = iid == IID_IUnknown ? static_cast<First*>(this) : find_interface(iid);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~host_object() {}
    // Other ids a derived object answers (a private id, an interface reached another way).
    virtual void* find_interface(REFIID iid) { return detail::interface_lookup<First, Rest...>::find(this, iid); }

private:
    std::atomic<ULONG> m_refs;
};

}  // namespace quorrin
