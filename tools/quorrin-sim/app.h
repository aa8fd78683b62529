// quorrin-sim's command line, apart from main so that tests can run it in-process.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace sim {

// Exit status: 0 the session went as a host expects; 1 it failed (module, export, call result,
// references left held); 2 bad command line, scenario file or output file (nothing ran).
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool err_is_terminal = false);

}  // namespace sim
