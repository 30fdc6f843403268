// Checks shared by the image fuzz targets.
#pragma once

#include "io/texture.h"

// Side limit while fuzzing, so that a tiny input cannot make every run allocate and decode
// hundreds of megabytes (the limit itself is tested by the unit tests).
constexpr int32_t fuzzMaxSide = 1024;

// A decoded image is consistent; a refusal is one line naming the file and leaves out empty.
inline void checkDecoded(bool decoded, const DecodedImage& image, const std::string& error,
                         const char* fileName) {
    const bool ok =
        decoded ? image.width > 0 && image.height > 0 && image.width <= fuzzMaxSide &&
                      image.height <= fuzzMaxSide && (image.channels == 3 || image.channels == 4) &&
                      (image.components == 3 || image.components == 4) && image.pixels != nullptr
                : error.rfind(fileName, 0) == 0 && error.find('\n') == std::string::npos &&
                      image.pixels == nullptr;
    if (!ok)
        __builtin_trap();
    if (decoded) {
        // Touch the last byte: the buffer must be as large as promised.
        const volatile uint8_t last =
            image.pixels[size_t(image.width) * image.height * image.channels - 1];
        static_cast<void>(last);
    }
}
