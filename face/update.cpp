// Per-frame deformation: rebuild the surface from the current control points, carry every
// attached render vertex along, recompute the render normals. The surface arithmetic is
// written once (geometry/patches.h, face/attachments.h) and run here with Vector3 for the
// reference order and with Lanes4 for speed; the fast path takes the lengths of normals
// four to a register, each lane rounded as the one-vertex code rounds it. On several
// threads every step runs in blocks on the workers, each normal summed over its own
// corners in the one-thread order.
#include "face/face_model.h"

#include "geometry/grid.h"
#include "io/normals.h"

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
                               const Vector3* edgeNormals_, Lanes4* packed, int32_t begin,
                               int32_t end) {
    for (int32_t t = begin; t < end; ++t) {
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
    buildPatchesIn<Vector3>(controlPoints, normals, edgeNormals_, nullptr, 0, controlTriangleCount);
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
// ThreadSanitizer would instrument the copies' resolver, which runs before the sanitizer is
// set up: its build keeps the one default copy.
#if defined(__SANITIZE_THREAD__)
#define FACE_ONE_COPY
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define FACE_ONE_COPY
#endif
#endif
#if defined(__x86_64__) && !defined(FACE_ONE_COPY)
#define FACE_PLACEMENT __attribute__((target_clones("avx2", "default")))
#else
#define FACE_PLACEMENT
#endif

namespace {

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

// Places the count ≤ placementBlock render vertices from first on (the arithmetic of
// placedPosition, with unitNormal's length taken four at a time) into positions and padded.
inline __attribute__((always_inline)) void placeBlock(Vector3* positions, Lanes4* padded,
                                                      const Attachment* attachments, int32_t first,
                                                      int32_t count, const Lanes4* packed) {
    Lanes4 Q[placementBlock], t1[placementBlock], t2[placementBlock], c[placementBlock];
    float length[placementBlock];
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
    }
}

// Places the render vertices from their attachments and the packed sub-patches (the
// arithmetic of placedPosition, with unitNormal's length taken four at a time), and
// recomputes the render normals as computeMeshNormals computes them: every triangle's
// face normal (P1 − P0) × (P2 − P0) is added to its three vertices' sums in triangle
// order, then each sum longer than 2^−23 is multiplied by the reciprocal of its length.
FACE_PLACEMENT void placeVertices(Vector3* positions, Vector3* normals, Lanes4* padded,
                                  Lanes4* sums, const Attachment* attachments, int32_t N,
                                  const Lanes4* packed, const Triangle* triangles, int32_t M) {
    for (int32_t first = 0; first < N; first += placementBlock) {
        const int32_t count = std::min(placementBlock, N - first);
        placeBlock(positions, padded, attachments, first, count, packed);
        for (int32_t j = 0; j < count; ++j)
            sums[first + j] = Lanes4{};
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

// The vertices [begin, end) placed as placeVertices places them (begin a multiple of
// placementBlock).
FACE_PLACEMENT void placeVertexRange(Vector3* positions, Lanes4* padded,
                                     const Attachment* attachments, int32_t begin, int32_t end,
                                     const Lanes4* packed) {
    for (int32_t first = begin; first < end; first += placementBlock)
        placeBlock(positions, padded, attachments, first, std::min(placementBlock, end - first),
                   packed);
}

// The render normals of the vertices [begin, end) (begin a multiple of 4; end a multiple
// of 4 or N) from the triangles [firstTriangle, lastTriangle), which must hold every
// triangle with a corner in the range: each such triangle's face normal added to the sums
// of its corners in the range, in triangle order as placeVertices adds them, then the sums
// normalised as placeVertices does (four at a time, the last N mod 4 one by one).
FACE_PLACEMENT void renderNormalRange(Vector3* normals, Lanes4* sums, const Lanes4* padded,
                                      const Triangle* triangles, int32_t firstTriangle,
                                      int32_t lastTriangle, int32_t begin, int32_t end) {
    for (int32_t v = begin; v < end; ++v)
        sums[v] = Lanes4{};
    const uint32_t width = uint32_t(end - begin);
    for (int32_t t = firstTriangle; t < lastTriangle; ++t) {
        const int32_t* i = triangles[t].index;
        const bool in0 = uint32_t(i[0] - begin) < width, in1 = uint32_t(i[1] - begin) < width,
                   in2 = uint32_t(i[2] - begin) < width;
        if (!(in0 || in1 || in2))
            continue;
        const Lanes4 p0 = padded[i[0]];
        const Lanes4 face = cross(padded[i[1]] - p0, padded[i[2]] - p0);
        if (in0)
            sums[i[0]] = sums[i[0]] + face;
        if (in1)
            sums[i[1]] = sums[i[1]] + face;
        if (in2)
            sums[i[2]] = sums[i[2]] + face;
    }
    int32_t v = begin;
    for (; v + 4 <= end; v += 4)
        normalizeFour(&normals[v], &sums[v]);
    for (; v < end; ++v)
        store(normals[v], normalizedSum(sums[v]));
}

// Items per block of the workers in each step of the update (a fixed size whatever the
// thread count, so that the blocks are the same on every machine): each block about
// 10 to 100 µs of work, which is far above the cost of handing it to a worker. The
// placement's blocks hold whole placement blocks (the normals' block, renderNormalBlock,
// whole groups of four).
constexpr int64_t controlNormalBlock = 1024;
constexpr int64_t patchBlock = 64;
constexpr int64_t placementRange = 256 * placementBlock;
static_assert(renderNormalBlock % 4 == 0, "the normals are normalised four at a time");

} // namespace

void FaceModel::update(Vector3* positions, Vector3* normals, const Vector3* controlPoints,
                       WorkerPool& workers) {
    if (workers.threadCount > 1) {
        updateOnWorkers(positions, normals, controlPoints, workers);
        return;
    }
    updateControlNormals(controlPoints);
    buildPatchesIn<Lanes4>(controlPoints, controlNormals.get(), edgeNormals.get(),
                           packedSubPatches.get(), 0, controlTriangleCount);
    placeVertices(positions, normals, paddedPositions.get(), normalSums.get(), attachments.get(),
                  renderVertexCount, packedSubPatches.get(), renderTriangles.get(),
                  renderTriangleCount);
}

void FaceModel::updateOnWorkers(Vector3* positions, Vector3* normals, const Vector3* controlPoints,
                                WorkerPool& workers) {
    const int32_t K = controlPointCount, L = controlTriangleCount, E = edgeCount;
    const int32_t N = renderVertexCount, M = renderTriangleCount;
    // 1. Control face normals, triangle by triangle.
    parallelFor(workers, L, controlNormalBlock, [&](int64_t begin, int64_t end, int32_t) {
        computeFaceNormals(&controlFaceNormals[begin], controlPoints, &controlTriangles[begin],
                           int32_t(end - begin));
    });
    // 2, 3. Control point normals (items 0 .. K − 1) and edge normals (K .. K + E − 1),
    // each summed over its own corners.
    parallelFor(workers, int64_t(K) + E, controlNormalBlock,
                [&](int64_t begin, int64_t end, int32_t) {
                    const int32_t pointEnd = int32_t(std::min<int64_t>(end, K));
                    if (begin < pointEnd)
                        sumListedFaceNormals(controlNormals.get(), int32_t(begin), pointEnd,
                                             controlFaceNormals.get(), pointCorners);
                    const int32_t edgeBegin = int32_t(std::max<int64_t>(begin, K) - K);
                    if (edgeBegin < end - K)
                        sumListedFaceNormals(edgeNormals.get(), edgeBegin, int32_t(end - K),
                                             controlFaceNormals.get(), edgeCorners);
                });
    // 4. The sub-patches, triangle by triangle.
    parallelFor(workers, L, patchBlock, [&](int64_t begin, int64_t end, int32_t) {
        buildPatchesIn<Lanes4>(controlPoints, controlNormals.get(), edgeNormals.get(),
                               packedSubPatches.get(), int32_t(begin), int32_t(end));
    });
    // 5. The render vertices.
    parallelFor(workers, N, placementRange, [&](int64_t begin, int64_t end, int32_t) {
        placeVertexRange(positions, paddedPositions.get(), attachments.get(), int32_t(begin),
                         int32_t(end), packedSubPatches.get());
    });
    // 6. The render normals, block by block of vertices from the triangles that span each
    // block; where those spans overlap too much (triangles not in vertex order), on one
    // thread.
    if (renderNormalBlocksLocal)
        parallelFor(workers, N, renderNormalBlock, [&](int64_t begin, int64_t end, int32_t) {
            const int64_t block = begin / renderNormalBlock;
            renderNormalRange(normals, normalSums.get(), paddedPositions.get(),
                              renderTriangles.get(), renderNormalSpans[2 * block],
                              renderNormalSpans[2 * block + 1], int32_t(begin), int32_t(end));
        });
    else
        renderNormalRange(normals, normalSums.get(), paddedPositions.get(), renderTriangles.get(),
                          0, M, 0, N);
}

void FaceModel::spanRenderNormalBlocks() {
    const int32_t N = renderVertexCount, M = renderTriangleCount;
    const int64_t blocks = (int64_t(N) + renderNormalBlock - 1) / renderNormalBlock;
    renderNormalSpans.reset(new int32_t[2 * size_t(blocks)]);
    for (int64_t b = 0; b < blocks; ++b) {
        renderNormalSpans[2 * b] = M;
        renderNormalSpans[2 * b + 1] = 0;
    }
    for (int32_t t = 0; t < M; ++t)
        for (const int32_t v : renderTriangles[t].index) {
            const int64_t b = v / renderNormalBlock;
            renderNormalSpans[2 * b] = std::min(renderNormalSpans[2 * b], t);
            renderNormalSpans[2 * b + 1] = t + 1;
        }
    int64_t visited = 0;
    for (int64_t b = 0; b < blocks; ++b)
        visited += std::max(0, renderNormalSpans[2 * b + 1] - renderNormalSpans[2 * b]);
    renderNormalBlocksLocal = visited <= 2 * int64_t(M);
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
