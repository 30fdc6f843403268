// Fuzzes the take reader on A web tracker's JSON: its list of frames fuzzed (fuzz_take.h).
#include "tests/fuzz/fuzz_take.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzTake("[", data, size);
    return 0;
}
