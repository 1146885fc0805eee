// A switch in the test program's own operator new that fails one chosen allocation: the program
// replaces the global allocation functions, so the codec library, loaded into it, allocates
// through them too. Off unless armed.
#pragma once

#include <cstddef>

namespace zov::test {

// The `n`th allocation from now (1 the next one) fails: the throwing forms throw
// std::bad_alloc, the nothrow forms return null. Later allocations succeed again.
void failAllocation(long n);
// Disarms the switch; returns how many allocations were made since it was armed.
long stopFailingAllocations();
// Whether the armed allocation has failed yet.
bool allocationFailed();

}  // namespace zov::test
