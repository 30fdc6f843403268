// The test binary's operator new, which can be told to fail: while failAllocationsAbove is
// not 0, every allocation of more bytes throws std::bad_alloc. Set it only in forked
// children; the sanitizer build's allocator is AddressSanitizer's own.
#pragma once

#include <cstddef>

extern size_t failAllocationsAbove;
