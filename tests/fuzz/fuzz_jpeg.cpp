// Fuzzes JPEG decoding on arbitrary bytes: every libjpeg error must come back as
// a refusal (never an exit, a crash or a leak).
#include "tests/fuzz/fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DecodedImage image;
    std::string error;
    const bool decoded = decodeJpegBuffer(image, data, size, "fuzz.jpg", error, fuzzMaxSide);
    checkDecoded(decoded, image, error, "fuzz.jpg");
    return 0;
}
