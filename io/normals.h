// Smooth per-vertex normals of a triangle mesh: area-weighted sums of the adjacent face
// normals, scaled to unit length when longer than the float epsilon.
#pragma once

#include "geometry/vector.h"

#include <cmath>

// Float epsilon (2^−23): a summed normal must be strictly longer than this to be scaled.
constexpr float normalLengthEpsilon = 1.1920929e-7f;

// A sum of face normals normalised (geometry/vector.h's normalize) when its length
// sqrt(dot(sum, sum)) exceeds normalLengthEpsilon; a shorter sum (an unused vertex,
// cancelling faces) is kept as it is. V is Vector3 or a lane type with the same dot and
// scaling.
template <class V> V normalizedSum(const V& sum) {
    return std::sqrt(dot(sum, sum)) > normalLengthEpsilon ? normalize(sum) : sum;
}

// normals[0..count−1]: zero, plus faceNormals[t] at the three places cornerOf(t, j) names
// (j = 0, 1, 2) of every triangle t < M in order, then each sum scaled by normalizedSum. The
// vertex normals (cornerOf: the corner's vertex) and the edge normals of the face model
// (cornerOf: the side's edge) are both made so.
template <class CornerOf>
void sumFaceNormals(Vector3* normals, int32_t count, const Vector3* faceNormals, int32_t M,
                    CornerOf cornerOf) {
    for (int32_t i = 0; i < count; ++i)
        normals[i] = {0.0f, 0.0f, 0.0f};
    for (int32_t t = 0; t < M; ++t)
        for (int32_t j = 0; j < 3; ++j) {
            Vector3& n = normals[cornerOf(t, j)];
            n = n + faceNormals[t];
        }
    for (int32_t i = 0; i < count; ++i)
        normals[i] = normalizedSum(normals[i]);
}

// The corners of a mesh gathered per item (vertex or edge), for sums formed item by item in
// parallel: the triangles of item i are triangles[first[i] .. first[i + 1] − 1], each
// listed once per corner cornerOf maps to i, in the order sumFaceNormals adds them
// (triangle t ascending, then j = 0, 1, 2), so a sum over a list rounds as that sum.
struct CornerLists {
    ArrayHolder<int64_t> first;     // count + 1
    ArrayHolder<int32_t> triangles; // 3M
};

// Lists of count items from the corners cornerOf(t, j) (each below count) of M triangles.
template <class CornerOf>
void buildCornerLists(CornerLists& lists, int32_t count, int32_t M, CornerOf cornerOf) {
    lists.first.reset(new int64_t[size_t(count) + 1]);
    lists.triangles.reset(new int32_t[3 * size_t(M)]);
    int64_t* first = lists.first.get();
    for (int32_t i = 0; i <= count; ++i)
        first[i] = 0;
    for (int32_t t = 0; t < M; ++t)
        for (int32_t j = 0; j < 3; ++j)
            ++first[cornerOf(t, j) + 1];
    for (int32_t i = 0; i < count; ++i)
        first[i + 1] += first[i];
    // Filled in triangle order, each item's entries from its first on: first[i] runs up to
    // first[i + 1] and is then moved back.
    for (int32_t t = 0; t < M; ++t)
        for (int32_t j = 0; j < 3; ++j)
            lists.triangles[first[cornerOf(t, j)]++] = t;
    for (int32_t i = count; i > 0; --i)
        first[i] = first[i - 1];
    first[0] = 0;
}

// normals[begin .. end − 1] as sumFaceNormals makes them, each from its own list: zero,
// plus faceNormals of the listed triangles in list order, then normalizedSum.
inline void sumListedFaceNormals(Vector3* normals, int32_t begin, int32_t end,
                                 const Vector3* faceNormals, const CornerLists& lists) {
    for (int32_t i = begin; i < end; ++i) {
        Vector3 n = {0.0f, 0.0f, 0.0f};
        for (int64_t k = lists.first[i]; k < lists.first[i + 1]; ++k)
            n = n + faceNormals[lists.triangles[k]];
        normals[i] = normalizedSum(n);
    }
}

// faceNormals[0..M−1] = (P1 − P0) × (P2 − P0) of each stored triangle (i0, i1, i2),
// unnormalised (length twice the area). Indices must be below the position count.
void computeFaceNormals(Vector3* faceNormals, const Vector3* positions, const Triangle* triangles,
                        int32_t M);

// normals[0..N−1]: zero, plus the face normal of every triangle at each of its three
// vertices (twice for a vertex listed twice), then scaled by 1/length where the length
// exceeds normalLengthEpsilon; shorter sums (unused vertices, cancelling faces) are kept.
void computeVertexNormals(Vector3* normals, int32_t N, const Vector3* faceNormals,
                          const Triangle* triangles, int32_t M);

// Both steps with a scratch array of M face normals, freed before returning.
void computeMeshNormals(Vector3* normals, const Vector3* positions, int32_t N,
                        const Triangle* triangles, int32_t M);
