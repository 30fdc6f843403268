// TGA decoding: our own reading of the header decides what is accepted and checks that the
// image data is all there; stb_image then decodes the pixels (byte order B, G, R(, A) to
// R, G, B(, A), run-length packets, bottom-first rows turned top first).
#include "io/tga.h"

#include "io/messages.h"
#include "io/text_scanner.h"

#include <stb_image.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

namespace {

constexpr size_t tgaHeaderSize = 18;
constexpr uint8_t tgaTrueColour = 2;
constexpr uint8_t tgaTrueColourRle = 10;
// Image descriptor bits: rows stored right to left, interleaving. (The top-first bit, 0x20,
// is honoured by the decoder.)
constexpr uint8_t tgaRightToLeft = 0x10;
constexpr uint8_t tgaInterleaving = 0xC0;
constexpr uint8_t tgaRlePacketIsRun = 0x80;
constexpr uint8_t tgaRlePacketCount = 0x7F;

uint16_t readLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool refuse(std::string& error, const char* fileName, const char* part, const std::string& what) {
    return fileError(error, fileName, part + (": " + what));
}

// End offset of the run-length encoded data of pixelCount pixels starting at offset, or 0
// when the data ends before the last pixel (firstMissing then tells which).
size_t rleDataEnd(const uint8_t* data, size_t size, size_t offset, uint64_t pixelCount,
                  size_t bytesPerPixel, uint64_t& firstMissing) {
    size_t p = offset;
    uint64_t covered = 0;
    while (covered < pixelCount) {
        if (p >= size) {
            firstMissing = covered;
            return 0;
        }
        const uint8_t packet = data[p++];
        const uint64_t count = uint64_t(packet & tgaRlePacketCount) + 1;
        const size_t bytes = (packet & tgaRlePacketIsRun)
                                 ? bytesPerPixel
                                 : static_cast<size_t>(count) * bytesPerPixel;
        if (size - p < bytes) {
            firstMissing = covered;
            return 0;
        }
        p += bytes;
        covered += count;
    }
    return p;
}

} // namespace

bool decodeTgaBuffer(DecodedImage& out, const uint8_t* data, size_t size, const char* fileName,
                     std::string& error, int32_t maxSide, uint64_t availableBytes) {
    // Another format under a .tga name would otherwise be refused for its "image type".
    const char* lookalike = imageLookalike(data, size);
    if (lookalike && std::strcmp(lookalike, "a TGA image") != 0)
        return refuse(error, fileName, "TGA header",
                      std::string("the file looks like ") + lookalike + ", not a TGA");
    // Header: id length, colour map type, image type, colour map fields (5 bytes), x and y
    // origin, width, height, pixel depth, image descriptor.
    if (size < tgaHeaderSize)
        return refuse(error, fileName, "TGA header",
                      "the file has " + countOf(size, "byte", "bytes") + ", fewer than a header");
    const uint8_t idLength = data[0];
    const uint8_t colourMapType = data[1];
    const uint8_t imageType = data[2];
    const int32_t width = readLe16(data + 12);
    const int32_t height = readLe16(data + 14);
    const uint8_t depth = data[16];
    const uint8_t descriptor = data[17];

    if (imageType != tgaTrueColour && imageType != tgaTrueColourRle)
        return refuse(error, fileName, "TGA header",
                      "image type " + std::to_string(imageType) +
                          " (only true colour, types 2 and 10, is read)");
    if (colourMapType != 0)
        return refuse(error, fileName, "TGA header", "the file has a colour map");
    if (depth != 24 && depth != 32)
        return refuse(error, fileName, "TGA header",
                      std::to_string(depth) + " bits per pixel (only 24 and 32 are read)");
    if (descriptor & tgaInterleaving)
        return refuse(error, fileName, "TGA header", "interleaved rows");
    if (width == 0 || height == 0)
        return refuse(error, fileName, "TGA header",
                      "the image is " + std::to_string(width) + " by " + std::to_string(height) +
                          " pixels");
    if (width > maxSide || height > maxSide)
        return refuse(error, fileName, "TGA header",
                      "the image is " + std::to_string(width) + " by " + std::to_string(height) +
                          " pixels, more than " + std::to_string(maxSide) + " on a side");

    // The decoder's buffer and our copy of it, both width × height × channels bytes.
    const size_t bytesPerPixel = depth / 8;
    const uint64_t decodeBytes = 2 * uint64_t(width) * uint64_t(height) * bytesPerPixel;
    if (decodeBytes > availableBytes)
        return refuse(error, fileName, "TGA header",
                      "the image is " + std::to_string(width) + " by " + std::to_string(height) +
                          " pixels and needs " + formatBytes(decodeBytes) + " to decode; " +
                          formatBytes(availableBytes) + " are available");

    // Check that every pixel is in the file before decoding: the decoder would silently
    // fill missing data with zeros.
    const size_t dataStart = tgaHeaderSize + idLength;
    const uint64_t pixelCount = uint64_t(width) * uint64_t(height);
    size_t dataEnd = 0;
    uint64_t firstMissing = 0;
    if (dataStart <= size) {
        if (imageType == tgaTrueColour) {
            if (size - dataStart >= pixelCount * bytesPerPixel)
                dataEnd = dataStart + pixelCount * bytesPerPixel;
            else
                firstMissing = (size - dataStart) / bytesPerPixel;
        } else {
            dataEnd = rleDataEnd(data, size, dataStart, pixelCount, bytesPerPixel, firstMissing);
        }
    }
    if (dataEnd == 0)
        return refuse(error, fileName, "TGA image data",
                      "the file ends at pixel " + std::to_string(firstMissing) + " of " +
                          std::to_string(pixelCount));

    const int channels = static_cast<int>(bytesPerPixel);
    int decodedWidth = 0, decodedHeight = 0, fileChannels = 0;
    // dataEnd is at most 18 + 255 + 16384² × 4 + packet bytes, well inside an int, for the
    // sides allowed; a caller's larger maxSide is refused here rather than overflowing.
    if (dataEnd > size_t(INT32_MAX))
        return refuse(error, fileName, "TGA image data", "the image data is too large");
    stbi_uc* decoded = stbi_load_from_memory(data, static_cast<int>(dataEnd), &decodedWidth,
                                             &decodedHeight, &fileChannels, channels);
    if (!decoded)
        return refuse(error, fileName, "TGA image data", stbi_failure_reason());
    if (decodedWidth != width || decodedHeight != height) {
        stbi_image_free(decoded);
        return refuse(error, fileName, "TGA image data", "decoded to another size");
    }

    const size_t rowBytes = size_t(width) * bytesPerPixel;
    // The decoder's buffer is freed however the copy's allocation ends.
    const std::unique_ptr<stbi_uc, void (*)(void*)> decodedOwner(decoded, stbi_image_free);
    ArrayHolder<uint8_t> pixels(new uint8_t[rowBytes * size_t(height)]);
    std::memcpy(pixels.get(), decoded, rowBytes * size_t(height));

    // The decoder honours the top-first bit but not right-to-left rows: mirror those.
    if (descriptor & tgaRightToLeft) {
        for (int32_t y = 0; y < height; ++y) {
            uint8_t* row = pixels.get() + size_t(y) * rowBytes;
            for (int32_t l = 0, r = width - 1; l < r; ++l, --r)
                for (size_t c = 0; c < bytesPerPixel; ++c)
                    std::swap(row[size_t(l) * bytesPerPixel + c],
                              row[size_t(r) * bytesPerPixel + c]);
        }
    }

    // The component count: 4 only when some pixel's alpha differs from the first pixel's.
    int32_t components = 3;
    if (channels == 4) {
        const uint8_t firstAlpha = pixels[3];
        for (uint64_t i = 1; i < pixelCount; ++i)
            if (pixels[i * 4 + 3] != firstAlpha) {
                components = 4;
                break;
            }
    }

    out.width = width;
    out.height = height;
    out.channels = channels;
    out.components = components;
    out.pixels = std::move(pixels);
    return true;
}
