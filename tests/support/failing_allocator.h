// The test binary's operator new, which can be told to fail: while failAllocationsAbove is
// not 0, every allocation of more bytes throws std::bad_alloc. Set it only in forked
// children. Under AddressSanitizer the allocator stays its own (it reserves terabytes of
// address space and pairs every new with its delete), and failAllocationsAbove does nothing.
#pragma once

#include <cstddef>

extern size_t failAllocationsAbove;

#if defined(__SANITIZE_ADDRESS__)
#define FACE_TEST_ASAN 1
#elif defined(__has_feature)
#define FACE_TEST_ASAN __has_feature(address_sanitizer)
#else
#define FACE_TEST_ASAN 0
#endif
constexpr bool addressSanitizer = FACE_TEST_ASAN;
