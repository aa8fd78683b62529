// Failure propagation without exceptions across COM methods and exports.
#pragma once

#include <new>

#include "quorrin/com_types.h"

#define RETURN_IF_FAILED(expr)                        \
    do {                                              \
        const HRESULT hr_ = (expr);                   \
        if (FAILED(hr_)) return hr_;                  \
    } while (false)

#define RETURN_HR_IF(hr, condition)                   \
    do {                                              \
        if (condition) return (hr);                   \
    } while (false)

namespace quorrin {

// Runs the body of a COM entry point: no C++ exception leaves it. A failed allocation becomes
// E_OUTOFMEMORY, anything else E_UNEXPECTED.
template <class Body>
HRESULT com_boundary(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace quorrin
