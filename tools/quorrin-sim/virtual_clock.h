// The module's clock in virtual time: the simulator, not the system, says what time it is, and a
// session runs as fast as the processor allows. The module is the shipped one, unchanged: its
// clock reads are redirected from outside it (on Windows by patching the loaded module's import
// table, natively by this program's own clock_gettime and time, bound before the C library's).
// While virtual time is off, every redirected read gives the system's answer.
#pragma once

#include <cstdint>
#include <string>

namespace sim::virtual_clock {

// From now on the module reads tick tick_start + ms (wrapping at 2^32, as GetTickCount does)
// and Unix time unix_start + ms / 1000, ms being the virtual milliseconds set below (0 at first).
void start(std::uint32_t tick_start, std::uint32_t unix_start);
void set(std::uint64_t ms);
// Back to the system's clocks.
void stop();

// Redirects the clock reads of the module loaded at handle (an HMODULE on Windows); empty, or
// why it cannot. Natively nothing needs doing.
std::string attach(void* module_handle);

}  // namespace sim::virtual_clock
