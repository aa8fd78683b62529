// The host's key/value data object. Values are 64-bit integers, byte strings and child objects,
// each under a byte-string key; every object carries a name of its own. Strings cross as a
// 32-bit length then a pointer to the characters, never a null pointer for an empty string.
#pragma once

#include <cstdint>

#include "quorrin/com_types.h"
#include "quorrin/ids.h"

struct IStringSetter;

// Slots 4 and 10 to 12 are the host's own business; the module never calls them.
struct IHostData : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE PutName(std::uint32_t name_length, const char* name) = 0;           // 3
    virtual HRESULT STDMETHODCALLTYPE Reserved4() { return E_NOTIMPL; }                                   // 4
    virtual HRESULT STDMETHODCALLTYPE PutInt64(std::uint32_t key_length, const char* key,
                                               std::int64_t value) = 0;                                   // 5
    // *value holds the caller's default on entry.
    virtual HRESULT STDMETHODCALLTYPE GetInt64(std::uint32_t key_length, const char* key,
                                               std::int64_t* value) = 0;                                  // 6
    virtual HRESULT STDMETHODCALLTYPE PutString(std::uint32_t key_length, const char* key,
                                                std::uint32_t value_length, const char* value) = 0;       // 7
    // The value is handed back through receiver->SetString before the call returns.
    virtual HRESULT STDMETHODCALLTYPE GetString(std::uint32_t key_length, const char* key,
                                                IStringSetter* receiver) = 0;                             // 8
    // The object takes its own reference to child if it keeps it; child may be null.
    virtual HRESULT STDMETHODCALLTYPE PutData(std::uint32_t key_length, const char* key,
                                              IHostData* child) = 0;                                      // 9
    virtual HRESULT STDMETHODCALLTYPE Reserved10() { return E_NOTIMPL; }                                  // 10
    virtual HRESULT STDMETHODCALLTYPE Reserved11() { return E_NOTIMPL; }                                  // 11
    virtual HRESULT STDMETHODCALLTYPE Reserved12() { return E_NOTIMPL; }                                  // 12
    // Copies this object's whole content (name, values, children) into target.
    virtual HRESULT STDMETHODCALLTYPE CopyTo(IHostData* target) = 0;                                      // 13
};

QUORRIN_DECLARE_IID(IHostData, IID_IHostData)
