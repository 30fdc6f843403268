// Fuzzes TGA decoding (our header checks and stb_image's decoder) on arbitrary bytes.
#include "tests/fuzz/fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DecodedImage image;
    std::string error;
    const bool decoded = decodeTgaBuffer(image, data, size, "fuzz.tga", error, fuzzMaxSide);
    checkDecoded(decoded, image, error, "fuzz.tga");
    return 0;
}
