// The statistics engine serves one host call at a time. A call that arrives while another is in
// progress (re-entered from inside a host call the engine is making, or made at the same moment
// on another thread) is refused at once with RPC_E_CALL_REJECTED and changes nothing; nobody
// waits. One process-wide guard: only one plug-in object is initialised at a time.
#pragma once

#include "quorrin/com_types.h"
#include "support/result_macros.h"

namespace quorrin {
namespace engine_guard {

// False when another engine call is in progress.
bool try_enter() noexcept;
// Ends the call; runs a shut-down handed over while it was in progress, still holding the guard.
void leave() noexcept;
bool busy() noexcept;
// The designed re-entry: the call in progress marks (and unmarks) its own thread while it waits
// for its finish message; only there is that message served. The other calls pay nothing for it.
void wait_here(bool waiting) noexcept;
bool waited_for_here() noexcept;

using deferred_work = void (*)(void* context) noexcept;
// Runs work(context) under the guard now, or, while an engine call is in progress, as that call
// leaves (on its thread). For the shut-down that a last Release starts: it cannot be refused.
void run_or_defer(deferred_work work, void* context) noexcept;

}  // namespace engine_guard

// Runs body as an engine call: refused while another is in progress, no C++ exception escapes.
// After leave() the object that made the call may be gone (a deferred shut-down destroys it).
template <class Body>
HRESULT guarded_call(Body&& body) noexcept {
    if (!engine_guard::try_enter()) return RPC_E_CALL_REJECTED;
    const HRESULT hr = com_boundary(body);
    engine_guard::leave();
    return hr;
}

}  // namespace quorrin
