// Triangulation of a triangular parameter grid of level n (rows r = 0..n, row r holding
// n + 1 − r vertices numbered consecutively from a base index; vertex (r, k) is sampled at
// u = k/n, v = r/n). Every triangle runs counter-clockwise in the (u, v) plane.
#pragma once

#include "geometry/vector.h"

// Number of vertices of a level-n grid: (n + 1)(n + 2)/2.
constexpr int32_t gridVertexCount(int32_t n) { return (n + 1) * (n + 2) / 2; }

// Number of triangles of a level-n grid: n².
constexpr int32_t gridTriangleCount(int32_t n) { return n * n; }

// Writes the n² triangles of one grid (n ≥ 1) whose first vertex has index base into
// out[0 .. n²−1]: per row, alternately upward (s_r+k, s_r+k+1, s_(r+1)+k) and downward
// (s_r+k+1, s_(r+1)+k+1, s_(r+1)+k) triangles, beginning and ending with an upward one.
void gridTriangles(Triangle* out, int32_t base, int32_t n);
