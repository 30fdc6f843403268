// Per-frame deformation: rebuild the surface from the current control points, carry every
// attached render vertex along, recompute the render normals.
#include "face/face_model.h"

#include "geometry/grid.h"
#include "geometry/patches.h"
#include "io/normals.h"

#include <cassert>
#include <cmath>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// Four floats in one SSE register (GCC and clang vector extension); lane 3 is padding.
// May alias the plain float arrays it is loaded from.
typedef float Float4 __attribute__((vector_size(16), __may_alias__));

inline Float4 load3(const Vector3& v) { return Float4{v.x, v.y, v.z, 0.0f}; }

// (a·A + b·B) + c·C per lane, as combine3.
inline Float4 combine4(Float4 A, Float4 B, Float4 C, float a, float b, float c) {
    return (a * A + b * B) + c * C;
}

// The quadratic triangle's two de Casteljau steps, as evaluateQuadraticTriangle.
inline Float4 quadratic4(Float4 q1, Float4 q2, Float4 q3, Float4 q4, Float4 q5, Float4 q6, float a,
                         float b, float c) {
    return combine4(combine4(q1, q2, q3, a, b, c), combine4(q2, q4, q5, a, b, c),
                    combine4(q3, q5, q6, a, b, c), a, b, c);
}

// The cross product with the scalar code's expressions in its lanes.
inline Float4 cross4(Float4 a, Float4 b) {
    const Float4 a1 = __builtin_shufflevector(a, a, 1, 2, 0, 3);
    const Float4 b1 = __builtin_shufflevector(b, b, 1, 2, 0, 3);
    const Float4 c = a * b1 - a1 * b; // (a.x·b.y − a.y·b.x, a.y·b.z − a.z·b.y, ...)
    return __builtin_shufflevector(c, c, 1, 2, 0, 3);
}

// Dot product summed as the scalar code sums it: (x·x' + y·y') + z·z'.
inline float dot4(Float4 a, Float4 b) {
    const Float4 m = a * b;
    return (m[0] + m[1]) + m[2];
}

inline Float4 lerp4(Float4 A, Float4 B, float t) {
    const float s = 1.0f - t;
    return A * s + B * t;
}

inline Float4 projectAlong4(Float4 X, Float4 d, Float4 Q, Float4 H) {
    const float t = dot4(Q - X, H) / dot4(H, d);
    return X + t * d;
}

// edgePlane in lanes: the edge's inner points E1, E2 and its cross-plane normal H.
inline void edgePlane4(Float4& E1, Float4& E2, Float4& H, Float4 P, Float4 N, Float4 P2, Float4 N2,
                       Float4 M) {
    Float4 normal = lerp4(lerp4(N, M, oneThird), lerp4(M, N2, oneThird), oneThird);
    E1 = projectAlong4(lerp4(P, P2, oneThird), normal, P, N);
    normal = lerp4(lerp4(N, M, twoThirds), lerp4(M, N2, twoThirds), twoThirds);
    E2 = projectAlong4(lerp4(P, P2, twoThirds), normal, P2, N2);
    const Float4 D = E2 - E1;
    const Float4 h = cross4(cross4(M, D), D);
    H = h * (1.0f / std::sqrt(dot4(h, h)));
}

// buildTrianglePatches in lanes, with its steps in its order: the same bits.
inline void trianglePatches4(Float4 out[16], const Float4 P[3], const Float4 N[3],
                             const Float4 M[3]) {
    Float4* E1 = out;     // 0..2
    Float4* E2 = out + 3; // 3..5
    Float4* I = out + 6;  // 6..8
    Float4* F = out + 9;  // 9..11
    Float4* G = out + 12; // 12..14
    Float4& C = out[15];
    Float4 H[3];
    for (int k = 0; k < 3; ++k) {
        const int next = (k + 1) % 3;
        edgePlane4(E1[k], E2[k], H[k], P[k], N[k], P[next], N[next], M[k]);
    }
    for (int k = 0; k < 3; ++k) {
        float l[3] = {oneNinth, oneNinth, oneNinth};
        l[k] = sevenNinths;
        const Float4 X = combine4(P[0], P[1], P[2], l[0], l[1], l[2]);
        const Float4 n = quadratic4(N[0], M[0], M[2], N[1], M[1], N[2], l[0], l[1], l[2]);
        I[k] = projectAlong4(X, n, P[k], N[k]);
    }
    for (int k = 0; k < 3; ++k) {
        float l[3] = {fourNinths, fourNinths, fourNinths};
        l[(k + 2) % 3] = oneNinth;
        const Float4 X = combine4(P[0], P[1], P[2], l[0], l[1], l[2]);
        const Float4 n = quadratic4(N[0], M[0], M[2], N[1], M[1], N[2], l[0], l[1], l[2]);
        F[k] = projectAlong4(X, n, E1[k], H[k]);
    }
    for (int k = 0; k < 3; ++k)
        G[k] = combine4(I[k], F[k], F[(k + 2) % 3], oneThird, oneThird, oneThird);
    C = combine4(G[0], G[1], G[2], oneThird, oneThird, oneThird);
}

inline Vector3 store3(Float4 v) { return {v[0], v[1], v[2]}; }

// One attached vertex: the reference's frame evaluation and blend, x, y and z in the lanes.
inline void placeVertex(Vector3& out, Float4& padded, const Attachment& a, const Float4* p) {
    const float u = a.u, v = a.v, w = 1.0f - u - v;
    const Float4 A = quadratic4(p[0], p[1], p[2], p[3], p[4], p[5], u, v, w);
    const Float4 B = quadratic4(p[1], p[3], p[4], p[6], p[7], p[8], u, v, w);
    const Float4 C = quadratic4(p[2], p[4], p[5], p[7], p[8], p[9], u, v, w);
    const Float4 Q = combine4(A, B, C, u, v, w);
    const Float4 t1 = A - C, t2 = B - C;
    const Float4 c = cross4(t1, t2);
    const float len = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
    const Float4 n = c / len;
    const Float4 carried = Q + a.offset[0] * t1 + a.offset[1] * t2 + a.offset[2] * n;
    const float weight = a.weight;
    const Float4 result = (1.0f - weight) * load3(a.restPosition) + weight * carried;
    out = {result[0], result[1], result[2]};
    padded = result;
}

#if defined(__x86_64__)
// Two attached vertices at once in the two halves of an AVX register: the same lane
// operations as placeVertex, so the same bits. Used where the processor has AVX.
#define FACE_AVX __attribute__((target("avx")))
typedef float Float8 __attribute__((vector_size(32), __may_alias__));

FACE_AVX inline Float8 join(Float4 low, Float4 high) {
    return __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7);
}
FACE_AVX inline Float8 splat(float low, float high) {
    return Float8{low, low, low, low, high, high, high, high};
}
FACE_AVX inline Float8 combine8(Float8 A, Float8 B, Float8 C, Float8 a, Float8 b, Float8 c) {
    return (a * A + b * B) + c * C;
}
FACE_AVX inline Float8 quadratic8(Float8 q1, Float8 q2, Float8 q3, Float8 q4, Float8 q5, Float8 q6,
                                  Float8 a, Float8 b, Float8 c) {
    return combine8(combine8(q1, q2, q3, a, b, c), combine8(q2, q4, q5, a, b, c),
                    combine8(q3, q5, q6, a, b, c), a, b, c);
}
FACE_AVX inline Float8 cross8(Float8 a, Float8 b) {
    const Float8 a1 = __builtin_shufflevector(a, a, 1, 2, 0, 3, 5, 6, 4, 7);
    const Float8 b1 = __builtin_shufflevector(b, b, 1, 2, 0, 3, 5, 6, 4, 7);
    const Float8 c = a * b1 - a1 * b;
    return __builtin_shufflevector(c, c, 1, 2, 0, 3, 5, 6, 4, 7);
}

FACE_AVX void placeVertexPair(Vector3& out0, Vector3& out1, Float4& padded0, Float4& padded1,
                              const Attachment& a0, const Attachment& a1, const Float4* p0,
                              const Float4* p1) {
    Float8 p[10];
    for (int j = 0; j < 10; ++j)
        p[j] = join(p0[j], p1[j]);
    const Float8 u = splat(a0.u, a1.u), v = splat(a0.v, a1.v);
    const Float8 w = splat(1.0f - a0.u - a0.v, 1.0f - a1.u - a1.v);
    const Float8 A = quadratic8(p[0], p[1], p[2], p[3], p[4], p[5], u, v, w);
    const Float8 B = quadratic8(p[1], p[3], p[4], p[6], p[7], p[8], u, v, w);
    const Float8 C = quadratic8(p[2], p[4], p[5], p[7], p[8], p[9], u, v, w);
    const Float8 Q = combine8(A, B, C, u, v, w);
    const Float8 t1 = A - C, t2 = B - C;
    const Float8 c = cross8(t1, t2);
    // |c|² as (x² + y²) + z², spread over each half, then one correctly rounded root.
    const Float8 c2 = c * c;
    const Float8 len2 = (__builtin_shufflevector(c2, c2, 0, 0, 0, 0, 4, 4, 4, 4) +
                         __builtin_shufflevector(c2, c2, 1, 1, 1, 1, 5, 5, 5, 5)) +
                        __builtin_shufflevector(c2, c2, 2, 2, 2, 2, 6, 6, 6, 6);
    const Float8 n = c / _mm256_sqrt_ps(len2);
    const Float8 carried = Q + splat(a0.offset[0], a1.offset[0]) * t1 +
                           splat(a0.offset[1], a1.offset[1]) * t2 +
                           splat(a0.offset[2], a1.offset[2]) * n;
    const Float8 rest = join(load3(a0.restPosition), load3(a1.restPosition));
    const Float8 result =
        splat(1.0f - a0.weight, 1.0f - a1.weight) * rest + splat(a0.weight, a1.weight) * carried;
    out0 = {result[0], result[1], result[2]};
    out1 = {result[4], result[5], result[6]};
    padded0 = __builtin_shufflevector(result, result, 0, 1, 2, 3);
    padded1 = __builtin_shufflevector(result, result, 4, 5, 6, 7);
}

bool processorHasAvx() {
    static const bool hasAvx = __builtin_cpu_supports("avx");
    return hasAvx;
}
#else
inline bool processorHasAvx() { return false; }
#endif

} // namespace

void FaceModel::rebuildSurface(const Vector3* controlPoints) {
    const int32_t L = controlTriangleCount;
    computeFaceNormals(controlFaceNormals.get(), controlPoints, controlTriangles.get(), L);
    computeVertexNormals(controlNormals.get(), controlPointCount, controlFaceNormals.get(),
                         controlTriangles.get(), L);
    computeEdgeNormals(edgeNormals.get(), edgeCount, controlFaceNormals.get(), triangleEdges.get(),
                       L);
    buildPatches(controlPoints, controlNormals.get(), edgeNormals.get());
}

void FaceModel::updateReference(Vector3* positions, Vector3* normals,
                                const Vector3* controlPoints) {
    rebuildSurface(controlPoints);
    for (int32_t i = 0; i < renderVertexCount; ++i) {
        const Attachment& a = attachments[i];
        if (a.subPatch < 0) {
            positions[i] = a.restPosition;
            continue;
        }
        Vector3 Q;
        SubPatchFrame f;
        evaluateFrame(Q, f, a.subPatch, a.u, a.v);
        const float w = a.weight;
        const Vector3 carried = Q + a.offset[0] * f.t1 + a.offset[1] * f.t2 + a.offset[2] * f.n;
        positions[i] = (1.0f - w) * a.restPosition + w * carried;
    }
    computeMeshNormals(normals, positions, renderVertexCount, renderTriangles.get(),
                       renderTriangleCount);
}

void FaceModel::update(Vector3* positions, Vector3* normals, const Vector3* controlPoints) {
    // Control-mesh normals as the reference computes them.
    const int32_t L = controlTriangleCount;
    computeFaceNormals(controlFaceNormals.get(), controlPoints, controlTriangles.get(), L);
    computeVertexNormals(controlNormals.get(), controlPointCount, controlFaceNormals.get(),
                         controlTriangles.get(), L);
    computeEdgeNormals(edgeNormals.get(), edgeCount, controlFaceNormals.get(), triangleEdges.get(),
                       L);

    // The sub-patches, built in lanes (buildPatches' values, bit for bit), stored into the
    // ten arrays and packed for the vertices below.
    for (int32_t t = 0; t < L; ++t) {
        const int32_t* i = controlTriangles[t].index;
        const EdgeRef* r = triangleEdges[t].edge;
        Float4 P[3], N[3], M[3], q[16];
        for (int k = 0; k < 3; ++k) {
            P[k] = load3(controlPoints[i[k]]);
            N[k] = load3(controlNormals[i[k]]);
            M[k] = load3(edgeNormals[edgeIndex(r[k])]);
        }
        trianglePatches4(q, P, N, M);
        const Float4* E1 = q;
        const Float4* E2 = q + 3;
        const Float4* I = q + 6;
        const Float4* F = q + 9;
        const Float4* G = q + 12;
        const Float4 C = q[15];
        for (int k = 0; k < 3; ++k) {
            const int next = (k + 1) % 3;
            const int32_t s = 3 * t + k;
            // Net order: b300, b210, b201, b120, b111, b102, b030, b021, b012, b003.
            const Float4 net[10] = {P[k], E1[k],   I[k],    E2[k],   F[k],
                                    G[k], P[next], I[next], G[next], C};
            Float4* packed = reinterpret_cast<Float4*>(packedSubPatches[s].point);
            for (int j = 0; j < 10; ++j)
                packed[j] = net[j];
            b300[s] = controlPoints[i[k]];
            b210[s] = store3(E1[k]);
            b201[s] = store3(I[k]);
            b120[s] = store3(E2[k]);
            b030[s] = controlPoints[i[next]];
            b111[s] = store3(F[k]);
            b102[s] = store3(G[k]);
            b021[s] = store3(I[next]);
            b012[s] = store3(G[next]);
            b003[s] = store3(C);
        }
    }

    // Attached vertices: the reference's arithmetic with x, y and z in the lanes of one
    // vector register (two vertices in one register where the processor has AVX). Every
    // lane takes the same operations in the same order as the scalar code, so the
    // positions are the reference's bit for bit.
    const bool pairs = processorHasAvx();
    Float4* padded = reinterpret_cast<Float4*>(paddedPositions.get());
    auto net = [this](int32_t s) {
        return reinterpret_cast<const Float4*>(packedSubPatches[s].point);
    };
    int32_t waiting = -1; // an attached vertex waiting for a partner
    for (int32_t i = 0; i < renderVertexCount; ++i) {
        const Attachment& a = attachments[i];
        if (a.subPatch < 0) {
            positions[i] = a.restPosition;
            padded[i] = load3(a.restPosition);
            continue;
        }
        if (!pairs) {
            placeVertex(positions[i], padded[i], a, net(a.subPatch));
            continue;
        }
#if defined(__x86_64__)
        if (waiting < 0) {
            waiting = i;
            continue;
        }
        const Attachment& b = attachments[waiting];
        placeVertexPair(positions[waiting], positions[i], padded[waiting], padded[i], b, a,
                        net(b.subPatch), net(a.subPatch));
        waiting = -1;
#endif
    }
    if (waiting >= 0)
        placeVertex(positions[waiting], padded[waiting], attachments[waiting],
                    net(attachments[waiting].subPatch));

    // Render normals as computeMeshNormals computes them: every triangle's face normal
    // (P1 − P0) × (P2 − P0) is added to its three vertices' sums in triangle order, then
    // each sum longer than 2^−23 is multiplied by the reciprocal of its length.
    const int32_t N = renderVertexCount;
    Float4* sums = reinterpret_cast<Float4*>(normalSums.get());
    for (int32_t v = 0; v < N; ++v)
        sums[v] = Float4{0.0f, 0.0f, 0.0f, 0.0f};
    for (int32_t t = 0; t < renderTriangleCount; ++t) {
        const int32_t* i = renderTriangles[t].index;
        const Float4 p0 = padded[i[0]];
        const Float4 face = cross4(padded[i[1]] - p0, padded[i[2]] - p0);
        sums[i[0]] += face;
        sums[i[1]] += face;
        sums[i[2]] += face;
    }
    for (int32_t v = 0; v < N; ++v) {
        Float4 n = sums[v];
        const float len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (len > normalLengthEpsilon)
            n = n * (1.0f / len);
        normals[v] = {n[0], n[1], n[2]};
    }
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
