#include "platform/assertion.h"

#include <windows.h>

#include <cstdlib>

namespace quorrin::platform {

void raise_assertion(const char* text) {
    const ULONG_PTR arguments[1] = {reinterpret_cast<ULONG_PTR>(text)};
    RaiseException(kAssertionExceptionCode, EXCEPTION_NONCONTINUABLE, 1, arguments);
    // A non-continuable exception cannot come back here; a debugger that forces it still stops.
    std::abort();
}

}  // namespace quorrin::platform
