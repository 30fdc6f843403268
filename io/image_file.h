// Picture files written from decoded images through stb_image_write (compiled into Debian's
// libstb): TGA for the viewer's textures, PNG for the tools' pictures.
#pragma once

#include "io/texture.h"

#include <string>

// Writes image (channels 3 or 4, rows top first) as a true-colour TGA of 24 or 32 bits per
// pixel in the format's default layout: the 18-byte header with the alpha bits in the
// descriptor and the origin at the bottom left, then the rows bottom first, run-length
// packets (never crossing a row) when runLength is set. The folder is made when missing.
// Returns false with one line in error ("<file>: cannot be written (<reason>)").
bool writeTgaFile(const char* fileName, const DecodedImage& image, bool runLength,
                  std::string& error);

// Writes image (channels 3 or 4, rows top first) as a PNG; folder and result as for
// writeTgaFile.
bool writePngFile(const char* fileName, const DecodedImage& image, std::string& error);

// The image (channels 3 or 4, rows top first) encoded as PNG into bytes (replacing them).
// False only when stb cannot allocate.
bool encodePng(std::string& bytes, const DecodedImage& image);
