// Textures from image files: true-colour TGA (24 or 32 bits per pixel, uncompressed or
// run-length encoded) and colour JPEG, decoded into packed 8-bit RGB or RGBA rows with the
// picture's top row first (the upload to OpenGL is draw/texture_upload.h's).
//
// Decoding never touches OpenGL, so it can be checked (and fuzzed) on its own. Refusals are
// one line "<file>: <part>: <what>", for instance
//   data/eye.tga: TGA header: 16 bits per pixel (only 24 and 32 are read)
//   data/skin.jpg: JPEG data: Premature end of JPEG file
#pragma once

#include "io/image_format.h"
#include "io/jpeg.h"
#include "io/tga.h"

#include <string>

// Reads the file (openFileContents) and decodes it by the format its name gives
// (imageFormatOf), within the memory available to the process. Refused also: a name of
// neither format (nothing is opened) and a file that cannot be read, is not a regular file
// or is too large (io/file_contents.h).
bool decodeImage(DecodedImage& out, const char* fileName, std::string& error);
