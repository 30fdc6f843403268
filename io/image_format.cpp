// Telling image formats apart: by the file's name, which chooses the decoder, and by its
// first bytes, which only explain a refusal when the two disagree; and blank pictures.
#include "io/image_format.h"

#include <cstring>

ImageFormat imageFormatOf(const char* fileName) {
    if (std::strstr(fileName, ".tga"))
        return ImageFormat::tga;
    if (std::strstr(fileName, ".jpg") || std::strstr(fileName, ".jpeg"))
        return ImageFormat::jpeg;
    return ImageFormat::none;
}

const char* imageLookalike(const uint8_t* data, size_t size) {
    const auto startsWith = [&](const char* magic, size_t length) {
        return size >= length && std::memcmp(data, magic, length) == 0;
    };
    if (startsWith("\xFF\xD8\xFF", 3))
        return "a JPEG image";
    if (startsWith("\x89PNG\r\n\x1A\n", 8))
        return "a PNG image";
    if (startsWith("GIF87a", 6) || startsWith("GIF89a", 6))
        return "a GIF image";
    if (startsWith("BM", 2))
        return "a BMP image";
    // TGA has no magic number: a header with a colour map type of 0 or 1, a known image type
    // (colour-mapped, true colour or grey; plain or run-length encoded), a usual depth and
    // pixels.
    if (size >= 18 && data[1] <= 1 && (data[2] & ~8) >= 1 && (data[2] & ~8) <= 3 &&
        (data[16] == 8 || data[16] == 15 || data[16] == 16 || data[16] == 24 || data[16] == 32) &&
        (data[12] | data[13]) != 0 && (data[14] | data[15]) != 0)
        return "a TGA image";
    return nullptr;
}

void allocateImage(DecodedImage& image, int32_t width, int32_t height, int32_t channels) {
    image.pixels.reset(new uint8_t[size_t(width) * size_t(height) * size_t(channels)]());
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.components = channels;
}
