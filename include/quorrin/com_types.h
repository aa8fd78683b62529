// Base COM types of the host contract. On Win32 they are the system's own (IID_IUnknown and
// IID_IClassFactory come from its uuid library); elsewhere they are declared here with the same
// layout, so that the same interface headers serve both builds.
//
// These headers need C++11 and define no macro that changes another header: on Win32 they include
// <windows.h> as the host has configured it (WIN32_LEAN_AND_MEAN, NOMINMAX and the like are the
// host's to define, before the first include). Their own macros begin with QUORRIN_; natively
// they also define the Windows names the interfaces are written with (STDMETHODCALLTYPE,
// STDAPICALLTYPE, STDAPI, SUCCEEDED, FAILED, TRUE, FALSE).
#pragma once

#include <cstdint>

// Ids and other constants live in the headers, with nothing to link. From C++17 on each is one
// object for the whole program; before that each translation unit has its own equal copy.
#if defined(__cpp_inline_variables) && __cpp_inline_variables >= 201606L
#define QUORRIN_CONSTANT inline constexpr
#else
#define QUORRIN_CONSTANT constexpr
#endif

#ifdef _WIN32
#include <windows.h>
#include <unknwn.h>
#else
#include <cstring>

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using BOOL = std::int32_t;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define STDAPI extern "C" __attribute__((visibility("default"))) HRESULT
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201u);
// COM's "the callee is busy, call again later".
constexpr HRESULT RPC_E_CALL_REJECTED = static_cast<HRESULT>(0x80010001u);

// No virtual destructor: slot 0 must be QueryInterface, as a host compiled elsewhere expects.
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

QUORRIN_CONSTANT GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
QUORRIN_CONSTANT GUID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
#endif

namespace quorrin {

// Maps an interface to its id, so that generic code (smart pointers, QueryInterface helpers)
// never spells an id twice.
template <class Interface>
struct iid_of;

}  // namespace quorrin

#define QUORRIN_DECLARE_IID(Interface, id)                      \
    namespace quorrin {                                         \
    template <>                                                 \
    struct iid_of<Interface> {                                  \
        static const GUID& value() { return id; }               \
    };                                                          \
    }

QUORRIN_DECLARE_IID(IUnknown, IID_IUnknown)
QUORRIN_DECLARE_IID(IClassFactory, IID_IClassFactory)
