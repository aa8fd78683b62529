// The module lock count that DllCanUnloadNow tests: raised for every live object of the module,
// every extra class-factory reference and every LockServer(TRUE).
#pragma once

#include <cstdint>

namespace quorrin {

void module_lock();
void module_unlock();
std::int32_t module_lock_count();

}  // namespace quorrin
