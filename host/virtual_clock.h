// The module's clock as the host says: virtual time, in which a session runs as fast as the
// processor allows, or the system's clock moved on, which lets a benchmark's task run for seconds
// without waiting for them. The module is the one that ships, unchanged: its clock reads are
// redirected from outside it (on Windows by patching the loaded module's import table, natively
// by the program's own clock_gettime and time, bound before the C library's; a program that uses
// this links with -Wl,--export-dynamic-symbol for both). While neither is on, every redirected
// read gives the system's answer.
#pragma once

#include <cstdint>
#include <string>

namespace refhost::virtual_clock {

// From now on the module reads tick tick_start + ms (wrapping at 2^32, as GetTickCount does)
// and Unix time unix_start + ms / 1000, ms being the virtual milliseconds set below (0 at first).
void start(std::uint32_t tick_start, std::uint32_t unix_start);
void set(std::uint64_t ms);
// From now on the module reads the system's clocks moved on by ms more than before.
void shift(std::uint32_t ms);
// Back to the system's clocks.
void stop();

// Redirects the clock reads of the module loaded at handle (an HMODULE on Windows); empty, or
// why it cannot. Natively nothing needs doing.
std::string attach(void* module_handle);

}  // namespace refhost::virtual_clock
