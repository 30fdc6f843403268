// Textures in the current GL context from decoded images (io/texture.h): mip-mapped, one
// name per picture.
#pragma once

#include "io/texture.h"

#include <cstdint>
#include <string>

// The name loadTexture returns when no texture was made (all bits set, −1 as an int).
constexpr uint32_t noTexture = 0xFFFFFFFFu;

// Makes a mip-mapped texture of the image in the current GL context and returns its name:
// glGenTextures, glBindTexture(GL_TEXTURE_2D), min filter GL_LINEAR_MIPMAP_NEAREST, texture
// environment GL_MODULATE, GL_UNPACK_ALIGNMENT 1 (odd widths of RGB rows), then
// gluBuild2DMipmaps with image.channels components as GL_RGB or GL_RGBA. The texture stays
// bound. Image row 0 becomes texture row t = 0. Returns GL_NO_ERROR, or the error that
// gluBuild2DMipmaps gave (out of memory, say): the texture is then deleted and name is
// noTexture.
unsigned int uploadTexture(uint32_t& name, const DecodedImage& image);

// Decodes the file and uploads it. Returns the texture name and sets width, height and
// components (image.components), or returns noTexture with the outputs untouched (and no GL
// call made, unless the upload itself failed). Never prints: the reason goes to *error when error
// is not null.
uint32_t loadTexture(int& width, int& height, int& components, const char* fileName,
                     std::string* error = nullptr);
