// A complete host data object (IHostData), ready to hand out from CreateObject or to copy into a
// host's own code. It keeps a name and 64-bit integers, byte strings and child objects under
// byte-string keys, in the order each key was first written: a key written again keeps its place
// and takes the new value and kind. CopyTo is deep: the target gets new children of its own, so
// what is later written into the copy never reaches this object.
//
//   HRESULT CreateObject(const CLSID* clsid, const IID* iid, void** out) {
//       ...  // null checks, *out = nullptr
//       if (*clsid != CLSID_HostData) return CLASS_E_CLASSNOTAVAILABLE;
//       return quorrin::host_data_object::create(*iid, out);
//   }
//
// Results: E_POINTER for a null out pointer or receiver, and for a null key, name or value with a
// non-zero length (a null pointer with length 0 reads as ""); E_FAIL from GetInt64 and GetString
// when the key is absent or holds another kind; E_INVALIDARG from PutData for a child that is
// this object or holds it (a cycle would never be freed); E_OUTOFMEMORY when memory runs out. A
// call that fails changes nothing.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "quorrin/com_types.h"
#include "quorrin/host_data.h"
#include "quorrin/host_object.h"
#include "quorrin/ids.h"
#include "quorrin/plugin_interfaces.h"

namespace quorrin {

// {6037038A-D41E-4B37-85AB-3133121BD1CF} answered only by host_data_object: finds the object
// behind an IHostData pointer.
QUORRIN_CONSTANT GUID IID_host_data_object = {0x6037038A, 0xD41E, 0x4B37, {0x85, 0xAB, 0x31, 0x33, 0x12, 0x1B, 0xD1, 0xCF}};

class host_data_object : public host_object<IHostData> {
public:
    enum class kind { integer, bytes, object };
    struct entry {
        std::string key;
        kind type;
        std::int64_t integer;
        std::string bytes;
        IHostData* object;  // may be null; a counted reference while this object holds it
    };

    // A new empty object with one reference, the caller's; null when memory runs out.
    static host_data_object* create() { return new (std::nothrow) host_data_object(); }
    // A new empty object's interface iid in *out, as CreateObject gives it.
    static HRESULT create(REFIID iid, void** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        host_data_object* object = create();
        if (!object) return E_OUTOFMEMORY;
        const HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    // The object behind data when it is a host_data_object, else null. No reference is taken.
    static host_data_object* from(IHostData* data) {
        void* found = nullptr;
        if (!data || FAILED(data->QueryInterface(IID_host_data_object, &found)) || !found) return nullptr;
        host_data_object* object = static_cast<host_data_object*>(found);
        object->Release();
        return object;
    }

    const std::string& name() const { return m_name; }
    const std::vector<entry>& entries() const { return m_entries; }
    // The entry under key, or null.
    const entry* find(const std::string& key) const {
        for (const entry& e : m_entries)
            if (e.key == key) return &e;
        return nullptr;
    }

    // The host's own writes, without lengths.
    HRESULT put_int64(const std::string& key, std::int64_t value) { return PutInt64(size_of(key), key.c_str(), value); }
    HRESULT put_string(const std::string& key, const std::string& value) {
        return PutString(size_of(key), key.c_str(), size_of(value), value.c_str());
    }
    HRESULT put_data(const std::string& key, IHostData* child) { return PutData(size_of(key), key.c_str(), child); }

    HRESULT STDMETHODCALLTYPE PutName(std::uint32_t length, const char* name) override {
        if (!name && length) return E_POINTER;
        return detail::no_throw([&]() -> HRESULT {
            m_name.assign(name ? name : "", length);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE PutInt64(std::uint32_t key_length, const char* key, std::int64_t value) override {
        return put(key_length, key, [&](entry& e) {
            e.type = kind::integer;
            e.integer = value;
        });
    }
    HRESULT STDMETHODCALLTYPE GetInt64(std::uint32_t key_length, const char* key, std::int64_t* value) override {
        if (!value) return E_POINTER;
        const entry* e = nullptr;
        const HRESULT hr = lookup(key_length, key, kind::integer, &e);
        if (SUCCEEDED(hr)) *value = e->integer;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE PutString(std::uint32_t key_length, const char* key, std::uint32_t value_length,
                                        const char* value) override {
        if (!value && value_length) return E_POINTER;
        return put(key_length, key, [&](entry& e) {
            e.type = kind::bytes;
            e.bytes.assign(value ? value : "", value_length);
        });
    }
    HRESULT STDMETHODCALLTYPE GetString(std::uint32_t key_length, const char* key, IStringSetter* receiver) override {
        if (!receiver) return E_POINTER;
        const entry* e = nullptr;
        const HRESULT hr = lookup(key_length, key, kind::bytes, &e);
        if (FAILED(hr)) return hr;
        return receiver->SetString(size_of(e->bytes), e->bytes.c_str());
    }
    HRESULT STDMETHODCALLTYPE PutData(std::uint32_t key_length, const char* key, IHostData* child) override {
        if (holds(from(child), this)) return E_INVALIDARG;
        return put(key_length, key, [&](entry& e) {
            e.type = kind::object;
            e.object = child;
        });
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IHostData* target) override {
        if (!target) return E_POINTER;
        if (target == this) return S_OK;
        AddRef();  // the target may hold this object and let it go while it is written
        HRESULT hr = target->PutName(size_of(m_name), m_name.c_str());
        for (std::size_t i = 0; SUCCEEDED(hr) && i < m_entries.size(); ++i) {
            const entry& e = m_entries[i];
            if (e.type == kind::integer) hr = target->PutInt64(size_of(e.key), e.key.c_str(), e.integer);
            if (e.type == kind::bytes)
                hr = target->PutString(size_of(e.key), e.key.c_str(), size_of(e.bytes), e.bytes.c_str());
            if (e.type == kind::object) hr = copy_child(*target, e);
        }
        Release();
        return hr;
    }

protected:
    host_data_object() {}
    ~host_data_object() override {
        for (entry& e : m_entries)
            if (e.object) e.object->Release();
    }
    void* find_interface(REFIID iid) override {
        if (iid == IID_host_data_object) return this;
        return host_object<IHostData>::find_interface(iid);
    }

private:
    static std::uint32_t size_of(const std::string& s) { return static_cast<std::uint32_t>(s.size()); }

    // Builds the new value apart, then puts it in place: a failure leaves the object as it was.
    template <class Fill>
    HRESULT put(std::uint32_t key_length, const char* key, Fill fill) {
        if (!key && key_length) return E_POINTER;
        return detail::no_throw([&]() -> HRESULT {
            entry fresh = {std::string(key ? key : "", key_length), kind::integer, 0, std::string(), nullptr};
            fill(fresh);
            entry* slot = nullptr;
            for (entry& e : m_entries)
                if (e.key == fresh.key) slot = &e;
            IHostData* old = nullptr;
            if (slot) {
                old = slot->object;
                slot->type = fresh.type;
                slot->integer = fresh.integer;
                slot->bytes.swap(fresh.bytes);
                slot->object = fresh.object;
            } else {
                m_entries.push_back(std::move(fresh));  // the last step that may fail
                slot = &m_entries.back();
            }
            if (slot->object) slot->object->AddRef();
            if (old) old->Release();
            return S_OK;
        });
    }

    HRESULT lookup(std::uint32_t key_length, const char* key, kind type, const entry** found) const {
        if (!key && key_length) return E_POINTER;
        return detail::no_throw([&]() -> HRESULT {
            const entry* e = find(std::string(key ? key : "", key_length));
            if (!e || e->type != type) return E_FAIL;
            *found = e;
            return S_OK;
        });
    }

    HRESULT copy_child(IHostData& target, const entry& e) {
        if (!e.object) return target.PutData(size_of(e.key), e.key.c_str(), nullptr);
        host_data_object* copy = create();
        if (!copy) return E_OUTOFMEMORY;
        HRESULT hr = e.object->CopyTo(copy);
        if (SUCCEEDED(hr)) hr = target.PutData(size_of(e.key), e.key.c_str(), copy);
        copy->Release();
        return hr;
    }

    // Whether object is wanted or holds it among its children, as far as they are host_data_objects.
    static bool holds(const host_data_object* object, const host_data_object* wanted) {
        if (!object) return false;
        if (object == wanted) return true;
        for (const entry& e : object->m_entries)
            if (e.type == kind::object && holds(from(e.object), wanted)) return true;
        return false;
    }

    std::string m_name;
    std::vector<entry> m_entries;
};

}  // namespace quorrin
