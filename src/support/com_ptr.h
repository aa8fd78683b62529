// The one owning smart pointer for COM references.
// From a raw pointer it adds a reference; attach() does not. detach() hands the reference back.
// put() (and operator&) release what is held first, for use as an out-parameter.
#pragma once

#include <utility>

#include "quorrin/com_types.h"

namespace quorrin {

template <class T>
class com_ptr {
public:
    com_ptr() = default;
    com_ptr(std::nullptr_t) {}
    explicit com_ptr(T* p) : m_p(p) {
        if (m_p) m_p->AddRef();
    }
    com_ptr(const com_ptr& other) : com_ptr(other.m_p) {}
    com_ptr(com_ptr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~com_ptr() { reset(); }

    com_ptr& operator=(const com_ptr& other) {
        com_ptr(other).swap(*this);
        return *this;
    }
    com_ptr& operator=(com_ptr&& other) noexcept {
        com_ptr(std::move(other)).swap(*this);
        return *this;
    }

    void reset() {
        if (T* p = std::exchange(m_p, nullptr)) p->Release();
    }
    // Takes over a reference that the caller already owns.
    void attach(T* p) {
        reset();
        m_p = p;
    }
    [[nodiscard]] T* detach() { return std::exchange(m_p, nullptr); }
    void swap(com_ptr& other) noexcept { std::swap(m_p, other.m_p); }

    T** put() {
        reset();
        return &m_p;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    T** operator&() { return put(); }

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // QueryInterface for U; out is usually &other, which has released what it held.
    template <class U>
    HRESULT query_to(U** out) const {
        *out = nullptr;
        if (!m_p) return E_POINTER;
        return m_p->QueryInterface(iid_of<U>::value(), reinterpret_cast<void**>(out));
    }

private:
    T* m_p = nullptr;
};

}  // namespace quorrin
