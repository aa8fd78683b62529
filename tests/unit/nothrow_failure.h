// The unit tests replace the global nothrow operator new so that a test can make the next
// nothrow allocations fail (as an exhausted pool does in the module).
#pragma once

namespace nothrow_failure {
// The next count nothrow allocations yield null.
void fail_next(int count);
}  // namespace nothrow_failure
