// Fuzzes the take reader on A plain CSV: the rest of its header and its rows fuzzed (fuzz_take.h).
#include "tests/fuzz/fuzz_take.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzTake("time,", data, size);
    return 0;
}
