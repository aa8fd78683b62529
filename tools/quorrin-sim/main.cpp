#include <cstdio>
#include <iostream>

#include "app.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // Report lines go out byte for byte, with no carriage returns added.
    _setmode(_fileno(stdout), _O_BINARY);
    const bool terminal = _isatty(_fileno(stderr)) != 0;
#else
    const bool terminal = isatty(STDERR_FILENO) != 0;
#endif
    return sim::run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr, terminal);
}
