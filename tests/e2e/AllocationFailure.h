#pragma once
// Allocation failure on demand for the calling thread: the e2e program replaces the global
// operator new, and a test arms it to throw std::bad_alloc at the n-th allocation from now.
// Other threads (capture, message pumps) are never affected.
namespace lumora::testing {

// Arms the n-th allocation on this thread to fail (n >= 1); 0 disarms.
void FailAllocationAfter(int n);
// Whether the armed failure has happened since it was armed.
bool AllocationFailed();
// False in builds that cannot replace operator new (AddressSanitizer).
bool AllocationFailureAvailable();

}  // namespace lumora::testing
