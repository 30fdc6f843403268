// A decoded picture (packed 8-bit RGB or RGBA rows, top row first) and what an image file's
// name and first bytes say about its format; shared by the TGA and JPEG decoders.
#pragma once

#include "geometry/vector.h" // ArrayHolder
#include "io/memory_budget.h"

#include <cstddef>
#include <cstdint>

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
