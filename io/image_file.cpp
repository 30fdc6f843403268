#include "io/image_file.h"

#include "io/file_contents.h"
#include "io/messages.h"

#include <stb_image_write.h>

#include <cerrno>

namespace {

// stb's output callback: appends to the std::string behind context.
void appendBytes(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), size_t(size));
}

// The encoded bytes, or a refusal when stb could not encode (it fails only when it cannot
// allocate).
bool writeEncoded(const char* fileName, bool encoded, const std::string& bytes,
                  std::string& error) {
    if (!encoded)
        return writeError(error, fileName, ENOMEM);
    return writeFileContents(fileName, bytes.data(), bytes.size(), error);
}

} // namespace

bool writeTgaFile(const char* fileName, const DecodedImage& image, bool runLength,
                  std::string& error) {
    std::string bytes;
    // stb keeps the choice of run-length packets in a global; it is set for every file.
    stbi_write_tga_with_rle = runLength ? 1 : 0;
    const bool encoded = stbi_write_tga_to_func(appendBytes, &bytes, image.width, image.height,
                                                image.channels, image.pixels.get()) != 0;
    return writeEncoded(fileName, encoded, bytes, error);
}

bool encodePng(std::string& bytes, const DecodedImage& image) {
    bytes.clear();
    return stbi_write_png_to_func(appendBytes, &bytes, image.width, image.height, image.channels,
                                  image.pixels.get(), image.width * image.channels) != 0;
}

bool writePngFile(const char* fileName, const DecodedImage& image, std::string& error) {
    std::string bytes;
    const bool encoded = encodePng(bytes, image);
    return writeEncoded(fileName, encoded, bytes, error);
}
