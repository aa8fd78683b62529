// The raise behind the module's assertion reports.
#pragma once

#include <cstdint>

namespace quorrin::platform {

// The code of the structured exception that carries an assertion report on Win32.
constexpr std::uint32_t kAssertionExceptionCode = 0xE0008001u;

// Never returns. Win32: RaiseException(kAssertionExceptionCode, EXCEPTION_NONCONTINUABLE, 1, {text}),
// so whoever hosts the process can read the NUL-terminated text from the exception's one argument.
// POSIX: writes the text and a newline to stderr, then aborts.
[[noreturn]] void raise_assertion(const char* text);

}  // namespace quorrin::platform
