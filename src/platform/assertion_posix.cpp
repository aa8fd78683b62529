#include "platform/assertion.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace quorrin::platform {

void raise_assertion(const char* text) {
    // write(2) rather than stdio: the text goes out whole even if the heap is what broke.
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, left);
        if (n <= 0) break;
        text += n;
        left -= static_cast<std::size_t>(n);
    }
    (void)!::write(STDERR_FILENO, "\n", 1);
    std::abort();
}

}  // namespace quorrin::platform
