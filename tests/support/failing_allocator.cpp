#include "tests/support/failing_allocator.h"

#include <cstdlib>
#include <new>

size_t failAllocationsAbove = 0;

// Under AddressSanitizer its allocator stays in place: replacing only some of the operators
// would mix its bookkeeping with ours, and it reports the mismatch.
#if !FACE_TEST_ASAN
void* operator new(size_t size) {
    if (failAllocationsAbove != 0 && size > failAllocationsAbove)
        throw std::bad_alloc();
    if (void* p = std::malloc(size != 0 ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
#endif
