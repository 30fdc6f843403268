// Drawing of a textured triangle mesh through OpenGL client-side arrays, shared by the face's
// render mesh and the props (Prop::draw, declared with the prop in io/prop.h, is defined
// here: the prop reader stays free of GL).
#pragma once

#include "geometry/vector.h"

// Draws the M triangles (indices into the N-entry arrays positions, normals and texCoords)
// with whatever texture, matrices, lighting and material are current: enables the vertex,
// normal and texture-coordinate arrays in that order, draws, and disables them in reverse,
// so the three arrays end disabled whatever they were before.
void drawTexturedMesh(const Vector3* positions, const Vector3* normals, const TexCoord* texCoords,
                      const Triangle* triangles, int32_t M);
