// Natively the module calls the C library's clock_gettime and time, and this program's
// definitions of both come first in the lookup of every module it loads (they are exported, see
// CMakeLists.txt). The module reads its tick from CLOCK_MONOTONIC_COARSE alone; every other
// clock, and both while virtual time is off, go on to the C library.
#include <dlfcn.h>
#include <time.h>

#include "virtual_clock.h"
#include "virtual_clock_state.h"

namespace sim::virtual_clock {

namespace {

using clock_gettime_fn = int (*)(clockid_t, timespec*);
using time_fn = time_t (*)(time_t*);

template <class F>
F next_definition(const char* name) {
    static_assert(sizeof(F) == sizeof(void*));
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int system_clock_gettime(clockid_t id, timespec* out) {
    static const clock_gettime_fn next = next_definition<clock_gettime_fn>("clock_gettime");
    return next(id, out);
}

time_t system_time(time_t* out) {
    static const time_fn next = next_definition<time_fn>("time");
    return next(out);
}

}  // namespace

std::string attach(void*) { return {}; }

}  // namespace sim::virtual_clock

using sim::virtual_clock::g_clock;

extern "C" int clock_gettime(clockid_t id, timespec* out) noexcept {
    if (!g_clock.active || id != CLOCK_MONOTONIC_COARSE) {
        return sim::virtual_clock::system_clock_gettime(id, out);
    }
    const std::uint64_t ms = g_clock.tick64();
    out->tv_sec = static_cast<time_t>(ms / 1000);
    out->tv_nsec = static_cast<long>(ms % 1000 * 1000000);
    return 0;
}

extern "C" time_t time(time_t* out) noexcept {
    if (!g_clock.active) return sim::virtual_clock::system_time(out);
    const auto now = static_cast<time_t>(g_clock.unix_time());
    if (out) *out = now;
    return now;
}
