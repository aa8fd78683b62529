// Natively the module calls the C library's clock_gettime and time, and the program's
// definitions of both below come first in the lookup of every module it loads. The module reads
// its tick from CLOCK_MONOTONIC_COARSE alone; every other clock, and both while the host's clock
// is off, go on to the C library.
#include <dlfcn.h>
#include <time.h>

#include "virtual_clock.h"
#include "virtual_clock_state.h"

namespace refhost::virtual_clock {

namespace {

using clock_gettime_fn = int (*)(clockid_t, timespec*);
using time_fn = time_t (*)(time_t*);

template <class F>
F next_definition(const char* name) {
    static_assert(sizeof(F) == sizeof(void*));
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

int system_clock_gettime(clockid_t id, timespec* out) {
    static const clock_gettime_fn next = next_definition<clock_gettime_fn>("clock_gettime");
    return next(id, out);
}

time_t system_time(time_t* out) {
    static const time_fn next = next_definition<time_fn>("time");
    return next(out);
}

std::string attach(void*) { return {}; }

}  // namespace refhost::virtual_clock

using refhost::virtual_clock::clock_state;
using refhost::virtual_clock::g_clock;

extern "C" int clock_gettime(clockid_t id, timespec* out) noexcept {
    if (g_clock.how == clock_state::mode::system || id != CLOCK_MONOTONIC_COARSE) {
        return refhost::virtual_clock::system_clock_gettime(id, out);
    }
    std::uint64_t system_ms = 0;
    if (g_clock.how == clock_state::mode::shifted) {
        refhost::virtual_clock::system_clock_gettime(id, out);
        system_ms = static_cast<std::uint64_t>(out->tv_sec) * 1000 + static_cast<std::uint64_t>(out->tv_nsec) / 1000000;
    }
    const std::uint64_t ms = g_clock.tick64(system_ms);
    out->tv_sec = static_cast<time_t>(ms / 1000);
    out->tv_nsec = static_cast<long>(ms % 1000 * 1000000);
    return 0;
}

extern "C" time_t time(time_t* out) noexcept {
    if (g_clock.how == clock_state::mode::system) return refhost::virtual_clock::system_time(out);
    const std::uint64_t system = g_clock.how == clock_state::mode::shifted
                                     ? static_cast<std::uint64_t>(refhost::virtual_clock::system_time(nullptr))
                                     : 0;
    const auto now = static_cast<time_t>(g_clock.unix_time(system));
    if (out) *out = now;
    return now;
}
