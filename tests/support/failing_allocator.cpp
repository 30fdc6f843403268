#include "tests/support/failing_allocator.h"

#include <cstdlib>
#include <new>

size_t failAllocationsAbove = 0;

// Under AddressSanitizer the allocator stays its own: replacing only some of the operators
// would mix its bookkeeping with ours (it reports the mismatch), and the tests that fail
// allocations are skipped there.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FACE_KEEP_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define FACE_KEEP_ALLOCATOR 1
#endif

#ifndef FACE_KEEP_ALLOCATOR
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
