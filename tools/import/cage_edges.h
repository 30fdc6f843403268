// The edges of a control mesh and the triangles on each, for the rules' check and the
// editor's start: the face model's edge table (buildEdgeTable) with, per edge, the triangle
// sides that lie on it; and the triangles ordered by their points, which finds repeats.
#pragma once

#include "face/face_model.h"

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

// Side k of triangle t runs from its corner k to corner k + 1 (mod 3); it is named 3t + k.
struct EdgeAdjacency {
    ArrayHolder<Edge> edges;                  // E: each edge's two points, the lower first
    int32_t edgeCount = 0;                    // E
    std::vector<TriangleEdges> triangleEdges; // L: the edge of each side, as buildEdgeTable
                                              // numbers them (in order of first appearance)
    // The sides on edge e are sides[first[e] .. first[e + 1] − 1], in increasing order
    // (triangle, then side): first holds E + 1 entries, sides one per side listed.
    std::vector<int32_t> first, sides;
};

// The adjacency of triangles (L). Every side is numbered into an edge; used (L entries, or
// null for all) marks the triangles whose sides are listed on their edges, so that a triangle
// left out has no neighbour and is no one's neighbour.
void buildEdgeAdjacency(EdgeAdjacency& adjacency, const Triangle* triangles, int32_t L,
                        const uint8_t* used = nullptr);

// The edge of triangle t (as numbered when the adjacency was built) that joins points a and
// b, in either direction; −1 when t has no such side. The triangle's corners may have been
// reordered since (a triangle turned over keeps its edges).
int32_t edgeBetween(const EdgeAdjacency& adjacency, int32_t t, int32_t a, int32_t b);

// A triangle's corners sorted, with its index: triangles on the same three points have the
// same corners.
using SortedCorners = std::pair<std::array<int32_t, 3>, int32_t>;

// The triangles (L) ordered by their sorted corners: sorted receives L entries, in increasing
// order, so that triangles on the same three points come together, in increasing index.
void sortByCorners(std::vector<SortedCorners>& sorted, const Triangle* triangles, int32_t L);
