// The form of a render mesh on which face-import chooses its automatic control mesh: one
// surface gives one form, however its file numbers its vertices and triangles, splits its
// seams and corners, or rounds its positions in its own units. Every choice made on it
// (simplification, repair, refinement, fit) is then the same for the same surface.
#pragma once

#include "geometry/vector.h"

#include <cstdint>
#include <vector>

struct CanonicalMesh {
    // The distinct positions on the grid, in increasing (x, y, z) order (P of them).
    std::vector<Vector3> positions;
    // P: the normals computeMeshNormals gives them over the triangles below.
    std::vector<Vector3> normals;
    // The triangles on them, each turned (its winding kept) to start at its lowest point,
    // in increasing order of their points; triangles the grid collapses are dropped.
    std::vector<Triangle> triangles;
    // The render vertices as the binding sees them, each on the grid with its own normal
    // rounded to normalGrid (one side of a seam or crease keeps its own), in increasing order
    // of both, a vertex repeated once: what every round binds and judges. The written model's
    // summary binds the render vertices themselves.
    std::vector<Vector3> vertexPositions, vertexNormals;
};

// The grid the positions are rounded to: a power of two, 2^-8 for a head placed at the
// viewer's 16 units (some 4,000 steps along its height, where a copy of the same file in
// other units differs by a few millionths after placement), scaled with height. height must
// be positive.
float canonicalGrid(float height);

// The canonical form of the mesh positions (N), normals (N, computeMeshNormals of the
// render mesh), triangles (M): every position rounded to the nearest multiple of grid
// (exactly: grid is a power of two), the equal ones joined; the vertices used ordered on
// the grid and by their normals rounded to normalGrid (then made unit).
constexpr float normalGrid = 1.0f / 4096.0f;
void makeCanonicalMesh(CanonicalMesh& mesh, const std::vector<Vector3>& positions,
                       const std::vector<Vector3>& normals, const std::vector<Triangle>& triangles,
                       float grid);
