// The test binary's operator new, which can be told to fail: while failAllocationsAbove is
// not 0, every allocation of more bytes throws std::bad_alloc. Set it only in forked
// children; the sanitizer build's allocator is AddressSanitizer's own.
#pragma once

#include <cstddef>

extern size_t failAllocationsAbove;

// Whether AddressSanitizer replaces the allocator (and reserves terabytes of address space).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool addressSanitizer = true;
#elif defined(__has_feature)
constexpr bool addressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool addressSanitizer = false;
#endif
