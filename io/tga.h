// The TGA decoder: true-colour TGA (24 or 32 bits per pixel, uncompressed or run-length
// encoded) held in memory.
#pragma once

#include "io/image_format.h"

#include <string>

// Decodes a TGA held in memory (fileName only names it in messages). Read: image types 2
// (uncompressed) and 10 (run-length encoded) true colour without a colour map, 24 bits per
// pixel (channels 3, components 3) or 32 (channels 4; components 3 when every pixel's alpha
// equals the first pixel's, else 4). Rows come out top first whatever the file's origin bits
// say (stored bottom first, the default, or top first; right-to-left rows are mirrored).
// Refused: a JPEG, PNG, GIF or BMP file ("TGA header: the file looks like a JPEG image, not a
// TGA"), another type or depth, a colour map, interleaved rows, no pixels, a side above
// maxSide, pixels whose decoding (two buffers of width × height × channels bytes) needs more
// than availableBytes (checked from the header), and image data that ends before the last
// pixel. On success fills out and returns true; otherwise returns false with the message in
// error and out untouched.
bool decodeTgaBuffer(DecodedImage& out, const uint8_t* data, size_t size, const char* fileName,
                     std::string& error, int32_t maxSide = maxImageSide,
                     uint64_t availableBytes = unlimitedMemory);
