// Texture painters of face-assets: each colours every pixel of an image from where the
// pixel lands on its mesh (through the texture coordinates of shape.h and
// props.h), with deterministic smooth noise for variation.
#pragma once

#include "io/texture.h"

// Skin of the face: 1024 × 1024 RGB in face-domain texture space.
void paintSkin(DecodedImage& image);

// Eyeball: 256 × 256 RGB; the top rows (v near 0) are the pupil, then the iris, then the
// white of the eye.
void paintEye(DecodedImage& image);

// A row of teeth: 256 × 64 RGBA; alpha is 255 on teeth and gums, 0 in the gaps between
// the teeth and past their tips, and in between along the edges.
void paintTeeth(DecodedImage& image, bool upper);
