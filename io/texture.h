// Textures from image files: true-colour TGA (24 or 32 bits per pixel, uncompressed or
// run-length encoded) and colour JPEG, decoded into packed 8-bit RGB or RGBA rows with the
// picture's top row first (the upload to OpenGL is draw/texture_upload.h's).
//
// Decoding never touches OpenGL, so it can be checked (and fuzzed) on its own. Refusals are
// one line "<file>: <part>: <what>", for instance
//   data/eye.tga: TGA header: 16 bits per pixel (only 24 and 32 are read)
//   data/skin.jpg: JPEG data: Premature end of JPEG file
#pragma once

#include "geometry/vector.h"
#include "io/memory_budget.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Largest width or height accepted; larger images are refused before decoding.
constexpr int32_t maxImageSide = 16384;

// A decoded picture.
struct DecodedImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;        // bytes per pixel in pixels: 3 (R, G, B) or 4 (R, G, B, A)
    int32_t components = 0;      // the count reported to callers: 3, or 4 when alpha varies
    ArrayHolder<uint8_t> pixels; // width × height × channels bytes; rows packed, top row first
};

// Makes image a width × height picture of channels bytes per pixel (components the same),
// every byte zero.
void allocateImage(DecodedImage& image, int32_t width, int32_t height, int32_t channels);

enum class ImageFormat { none, tga, jpeg };

// What an image file's first bytes look like, for the message about a file named for one
// format that holds another: "a JPEG image" (FF D8 FF), "a PNG image", "a GIF image", "a BMP
// image", "a TGA image" (a plausible true-colour, colour-mapped or grey TGA header), or null.
const char* imageLookalike(const uint8_t* data, size_t size);

// Format chosen by the name alone, by case-sensitive substring anywhere in it: ".tga" gives
// tga; otherwise ".jpg" or ".jpeg" gives jpeg; otherwise none (so "x.tga.bak" is a TGA and
// "x.JPG" is none).
ImageFormat imageFormatOf(const char* fileName);

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

// Reads the file (openFileContents) and decodes it by the format its name gives
// (imageFormatOf), within the memory available to the process. Refused also: a name of
// neither format (nothing is opened) and a file that cannot be read, is not a regular file
// or is too large (io/file_contents.h).
bool decodeImage(DecodedImage& out, const char* fileName, std::string& error);
