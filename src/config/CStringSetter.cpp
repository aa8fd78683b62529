#include "config/CStringSetter.h"

#include "support/result_macros.h"

namespace quorrin {

HRESULT CStringSetter::QueryInterface(REFIID iid, void** out) {
    RETURN_HR_IF(E_POINTER, out == nullptr);
    *out = nullptr;
    if (iid == IID_IStringSetter || iid == IID_IUnknown) {
        *out = static_cast<IStringSetter*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT CStringSetter::SetString(std::uint32_t length, const char* chars) {
    return com_boundary([&] {
        if (length == 0) {
            m_pString->clear();
        } else if (chars != nullptr) {
            m_pString->assign(chars, length);
        } else {
            // A null pointer with a length has no characters to copy; keep the destination as it was.
            return E_POINTER;
        }
        return S_OK;
    });
}

}  // namespace quorrin
