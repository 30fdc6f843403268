// The JPEG decoder (libjpeg): colour JPEG held in memory.
#pragma once

#include "io/image_format.h"

#include <string>

// Decodes a JPEG held in memory with libjpeg's default parameters. Only three-component
// (colour) images are read: channels 3, components 3. Refused: a PNG, GIF, BMP or TGA file
// ("JPEG data: the file looks like a PNG image, not a JPEG"), another component count, a side
// above maxSide or pixels (width × height × 3 bytes) over availableBytes (both checked from
// the header, before decoding), any error libjpeg reports, and data that ends before the
// image does (libjpeg's warning "Premature end of JPEG file": refused rather than shown half
// grey). Other warnings (an unknown JFIF revision, extraneous bytes before a marker) are
// accepted. libjpeg's messages are never printed. Results as for decodeTgaBuffer.
bool decodeJpegBuffer(DecodedImage& out, const uint8_t* data, size_t size, const char* fileName,
                      std::string& error, int32_t maxSide = maxImageSide,
                      uint64_t availableBytes = unlimitedMemory);
