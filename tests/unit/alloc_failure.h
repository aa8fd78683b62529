// The unit tests replace the plain global operator new so that a test can make one allocation
// of the module's fail (std::bad_alloc), as an exhausted pool does in the product.
#pragma once

namespace alloc_failure {
// The allocation `after` allocations from now fails (0: the next one); -1 disarms.
void fail_after(long after);
// Whether the armed failure has happened.
bool fired();
// While held (nested counts), allocations neither count nor fail: the host's own code.
void hold(bool on);
}  // namespace alloc_failure
