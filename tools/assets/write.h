// Writers for the viewer's data files: the face model, props and TGA textures.
// Each returns false (after printing one line naming the file) when the file cannot be
// written. Reals are printed with four decimals, so equal inputs give equal bytes.
#pragma once

#include "tools/assets/mesh.h"
#include "tools/assets/paint.h"
#include "tools/assets/props.h"

// The model file: render mesh (positions, texture coordinates from its domain points,
// triangles), then the control mesh (points, triangles as they are). The reader keeps a
// render triangle written a b c as (a, c, b), so each counter-clockwise triangle is
// written with its last two corners swapped.
bool writeModelFile(const char* path, const FaceMesh& render, const FaceMesh& control);

// A prop file: positions, texture coordinates, triangles (last two corners swapped, as
// in the model file).
bool writePropFile(const char* path, const PropMesh& prop);

// A true-colour TGA of 24 (RGB) or 32 (RGBA) bits per pixel, stored bottom row first
// (the format's default origin), run-length encoded when runLength is set.
bool writeTgaFile(const char* path, const Image& image, bool runLength);
