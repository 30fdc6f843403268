// Per-frame deformation: rebuild the surface from the current control points, carry every
// attached render vertex along, recompute the render normals. The surface arithmetic is
// written once (geometry/patches.h, face/attachments.h) and run here with Vector3 for the
// reference order and with Lanes4 for speed; the fast path takes the lengths of normals
// four to a register, each lane rounded as the one-vertex code rounds it.
#include "face/face_model.h"

#include "geometry/grid.h"
#include "io/normals.h"

#if defined(__SSE__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <type_traits>

void FaceModel::updateControlNormals(const Vector3* controlPoints) {
    const int32_t L = controlTriangleCount;
    computeFaceNormals(controlFaceNormals.get(), controlPoints, controlTriangles.get(), L);
    computeVertexNormals(controlNormals.get(), controlPointCount, controlFaceNormals.get(),
                         controlTriangles.get(), L);
    computeEdgeNormals(edgeNormals.get(), edgeCount, controlFaceNormals.get(), triangleEdges.get(),
                       L);
}

template <class V>
void FaceModel::buildPatchesIn(const Vector3* controlPoints, const Vector3* normals,
                               const Vector3* edgeNormals_, Lanes4* packed) {
    for (int32_t t = 0; t < controlTriangleCount; ++t) {
        const int32_t* i = controlTriangles[t].index;
        const EdgeRef* r = triangleEdges[t].edge;
        V P[3], N[3], M[3];
        for (int k = 0; k < 3; ++k) {
            load(P[k], controlPoints[i[k]]);
            load(N[k], normals[i[k]]);
            load(M[k], edgeNormals_[edgeIndex(r[k])]);
        }
        PatchPointsOf<V> q;
        buildTrianglePatches(q, P[0], N[0], P[1], N[1], P[2], N[2], M[0], M[1], M[2]);
        V nets[3][10];
        subPatchNets(nets, q, P);
        for (int k = 0; k < 3; ++k) {
            const int32_t s = 3 * t + k;
            const V* net = nets[k];
            b300[s] = controlPoints[i[k]];
            store(b210[s], net[1]);
            store(b201[s], net[2]);
            store(b120[s], net[3]);
            store(b111[s], net[4]);
            store(b102[s], net[5]);
            b030[s] = controlPoints[i[(k + 1) % 3]];
            store(b021[s], net[7]);
            store(b012[s], net[8]);
            store(b003[s], net[9]);
            if constexpr (std::is_same<V, Lanes4>::value)
                for (int j = 0; j < 10; ++j)
                    packed[10 * s + j] = net[j];
        }
    }
}

void FaceModel::buildPatches(const Vector3* controlPoints, const Vector3* normals,
                             const Vector3* edgeNormals_) {
    buildPatchesIn<Vector3>(controlPoints, normals, edgeNormals_, nullptr);
}

void FaceModel::updateReference(Vector3* positions, Vector3* normals,
                                const Vector3* controlPoints) {
    updateControlNormals(controlPoints);
    buildPatches(controlPoints, controlNormals.get(), edgeNormals.get());
    Vector3 p[10];
    for (int32_t i = 0; i < renderVertexCount; ++i) {
        const Attachment& a = attachments[i];
        if (a.subPatch < 0) {
            positions[i] = a.restPosition;
            continue;
        }
        subPatchNet(p, a.subPatch);
        positions[i] = placedPosition(a, p);
    }
    computeMeshNormals(normals, positions, renderVertexCount, renderTriangles.get(),
                       renderTriangleCount);
}

// Where the processor has AVX2, placeVertices runs a copy compiled for it (three-operand
// instructions, the same operations, so the same bits).
#if defined(__x86_64__)
#define FACE_PLACEMENT __attribute__((target_clones("avx2", "default")))
#else
#define FACE_PLACEMENT
#endif

namespace {

Float4 squareRoot(Float4 x) {
#if defined(__SSE__)
    return _mm_sqrt_ps(x);
#else
    return Float4{std::sqrt(x[0]), std::sqrt(x[1]), std::sqrt(x[2]), std::sqrt(x[3])};
#endif
}

// x, y and z of four padded vectors, four of each to a register.
inline __attribute__((always_inline)) void transposeFour(Float4& x, Float4& y, Float4& z,
                                                         const Lanes4* v) {
    const Float4 xy01 = __builtin_shufflevector(v[0].v, v[1].v, 0, 4, 1, 5);
    const Float4 xy23 = __builtin_shufflevector(v[2].v, v[3].v, 0, 4, 1, 5);
    const Float4 zw01 = __builtin_shufflevector(v[0].v, v[1].v, 2, 6, 3, 7);
    const Float4 zw23 = __builtin_shufflevector(v[2].v, v[3].v, 2, 6, 3, 7);
    x = __builtin_shufflevector(xy01, xy23, 0, 1, 4, 5);
    y = __builtin_shufflevector(xy01, xy23, 2, 3, 6, 7);
    z = __builtin_shufflevector(zw01, zw23, 0, 1, 4, 5);
}

// The lengths of four vectors given as x, y and z, each lane rounded as std::sqrt of dot
// rounds one: sqrt((x·x + y·y) + z·z).
inline Float4 lengthsFour(Float4 x, Float4 y, Float4 z) {
    return squareRoot((x * x + y * y) + z * z);
}

// Normalises four sums as one is normalised (a sum not longer than the epsilon is kept as
// it is), the lengths and reciprocals four at a time.
inline __attribute__((always_inline)) void normalizeFour(Vector3* normals, const Lanes4* sums) {
    Float4 x, y, z;
    transposeFour(x, y, z, sums);
    const Float4 len = lengthsFour(x, y, z);
    const Float4 one = {1.0f, 1.0f, 1.0f, 1.0f};
    const Float4 scale = len > normalLengthEpsilon ? one / len : one; // x·1 = x
    x *= scale;
    y *= scale;
    z *= scale;
    // Back to x, y, z of one vertex after another: twelve floats in three stores.
    const Float4 xy = __builtin_shufflevector(x, y, 0, 4, 1, 5);  // x0 y0 x1 y1
    const Float4 yz = __builtin_shufflevector(y, z, 1, 5, 2, 6);  // y1 z1 y2 z2
    const Float4 xy3 = __builtin_shufflevector(x, y, 2, 6, 3, 7); // x2 y2 x3 y3
    const Float4 packed[3] = {__builtin_shufflevector(xy, z, 0, 1, 4, 2),
                              __builtin_shufflevector(yz, xy3, 0, 1, 4, 5),
                              __builtin_shufflevector(xy3, z, 6, 2, 3, 7)};
    std::memcpy(static_cast<void*>(normals), packed, sizeof packed);
}

// Vertices placed per block: the block's surface points and frames are evaluated first,
// the lengths of its normals then taken four at a time, and the positions blended last,
// so that no square root and division stand in the way of the next vertex's evaluation.
constexpr int32_t placementBlock = 16;

// Places the render vertices from their attachments and the packed sub-patches (the
// arithmetic of placedPosition, with unitNormal's length taken four at a time), and
// recomputes the render normals as computeMeshNormals computes them: every triangle's
// face normal (P1 − P0) × (P2 − P0) is added to its three vertices' sums in triangle
// order, then each sum longer than 2^−23 is multiplied by the reciprocal of its length.
FACE_PLACEMENT void placeVertices(Vector3* positions, Vector3* normals, Lanes4* padded,
                                  Lanes4* sums, const Attachment* attachments, int32_t N,
                                  const Lanes4* packed, const Triangle* triangles, int32_t M) {
    Lanes4 Q[placementBlock], t1[placementBlock], t2[placementBlock], c[placementBlock];
    float length[placementBlock];
    for (int32_t first = 0; first < N; first += placementBlock) {
        const int32_t count = std::min(placementBlock, N - first);
        const Attachment* a = &attachments[first];
        for (int32_t j = 0; j < placementBlock; ++j) {
            c[j] = Lanes4{};
            if (j < count && a[j].subPatch >= 0) {
                evaluateSubPatch(Q[j], t1[j], t2[j], &packed[10 * a[j].subPatch], a[j].u, a[j].v,
                                 1.0f - a[j].u - a[j].v);
                c[j] = cross(t1[j], t2[j]);
            }
        }
        for (int32_t j = 0; j < placementBlock; j += 4) {
            Float4 x, y, z;
            transposeFour(x, y, z, &c[j]);
            const Float4 l = lengthsFour(x, y, z);
            std::memcpy(&length[j], &l, sizeof l);
        }
        for (int32_t j = 0; j < count; ++j) {
            Lanes4& p = padded[first + j];
            if (a[j].subPatch < 0)
                load(p, a[j].restPosition);
            else
                p = blendedPosition(a[j], Q[j], t1[j], t2[j], c[j] / length[j]);
            store(positions[first + j], p);
            sums[first + j] = Lanes4{};
        }
    }
    for (int32_t t = 0; t < M; ++t) {
        const int32_t* i = triangles[t].index;
        const Lanes4 p0 = padded[i[0]];
        const Lanes4 face = cross(padded[i[1]] - p0, padded[i[2]] - p0);
        sums[i[0]] = sums[i[0]] + face;
        sums[i[1]] = sums[i[1]] + face;
        sums[i[2]] = sums[i[2]] + face;
    }
    int32_t v = 0;
    for (; v + 4 <= N; v += 4)
        normalizeFour(&normals[v], &sums[v]);
    for (; v < N; ++v)
        store(normals[v], normalizedSum(sums[v]));
}

} // namespace

void FaceModel::update(Vector3* positions, Vector3* normals, const Vector3* controlPoints) {
    updateControlNormals(controlPoints);
    buildPatchesIn<Lanes4>(controlPoints, controlNormals.get(), edgeNormals.get(),
                           packedSubPatches.get());
    placeVertices(positions, normals, paddedPositions.get(), normalSums.get(), attachments.get(),
                  renderVertexCount, packedSubPatches.get(), renderTriangles.get(),
                  renderTriangleCount);
}

void FaceModel::tessellateSurface(int32_t level) {
    assert(level == tessellationLevel);
    Vector3 p[10];
    for (int32_t s = 0; s < 3 * controlTriangleCount; ++s) {
        subPatchNet(p, s);
        const int32_t base = s * tessellationVerticesPerSubPatch;
        sampleGrid(&surfacePositions[base], &surfaceNormals[base], 0, p, level);
        gridTriangles(&surfaceTriangles[s * tessellationTrianglesPerSubPatch], base, level);
    }
}
