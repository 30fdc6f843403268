// Wavefront OBJ output of a textured triangle mesh, for modelling tools.
#pragma once

#include "geometry/vector.h"

#include <cstdint>
#include <string>

// Writes the mesh as OBJ: a comment line "# <comment>", then v (positions[0..N−1]), vt
// (texCoords, v flipped to the OBJ convention of v = 0 at the picture's bottom), vn
// (normals), and one f per triangle (triangles[0..M−1], indices below N) in its stored
// order, the front (counter-clockwise) winding. Reals with nine significant digits, so every
// float reads back unchanged. The folder is made when missing. Returns false with one line
// in error ("<file>: cannot be written (<reason>)") when the file cannot be written.
bool writeObjFile(const char* fileName, const char* comment, const Vector3* positions,
                  const TexCoord* texCoords, const Vector3* normals, int32_t N,
                  const Triangle* triangles, int32_t M, std::string& error);
