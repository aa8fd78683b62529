// Receives a string from the host into a byte string that the creator owns. Lives on the
// caller's stack for exactly one host call; the host keeps no reference to the setter.
#pragma once

#include "quorrin/plugin_interfaces.h"
#include "support/byte_string.h"
#include "support/UnknownBase.h"

namespace quorrin {

class CStringSetter : public IStringSetter, public CUnknownSingleThread {
public:
    // destination must outlive the setter; nothing is written into it here.
    explicit CStringSetter(byte_string* destination) : CUnknownSingleThread("CStringSetter"), m_pString(destination) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE SetString(std::uint32_t length, const char* chars) override;

private:
    byte_string* m_pString;
};

}  // namespace quorrin
