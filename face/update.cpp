// Per-frame deformation: rebuild the surface from the current control points, carry every
// attached render vertex along, recompute the render normals. The surface arithmetic is
// written once (geometry/patches.h, face/attachments.h) and run here with Vector3 for the
// reference order and with Lanes4 for speed.
#include "face/face_model.h"

#include "geometry/grid.h"
#include "io/normals.h"

#include <cassert>
#include <cmath>
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
        for (int k = 0; k < 3; ++k) {
            const int next = (k + 1) % 3;
            const int32_t s = 3 * t + k;
            // Net order: b300, b210, b201, b120, b111, b102, b030, b021, b012, b003.
            const V net[10] = {P[k],   q.E1[k], q.I[k],    q.E2[k],   q.F[k],
                               q.G[k], P[next], q.I[next], q.G[next], q.C};
            b300[s] = controlPoints[i[k]];
            store(b210[s], net[1]);
            store(b201[s], net[2]);
            store(b120[s], net[3]);
            store(b111[s], net[4]);
            store(b102[s], net[5]);
            b030[s] = controlPoints[i[next]];
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

// Places the render vertices from their attachments and the packed sub-patches, and
// recomputes the render normals as computeMeshNormals computes them: every triangle's
// face normal (P1 − P0) × (P2 − P0) is added to its three vertices' sums in triangle
// order, then each sum longer than 2^−23 is multiplied by the reciprocal of its length.
FACE_PLACEMENT void placeVertices(Vector3* positions, Vector3* normals, Lanes4* padded,
                                  Lanes4* sums, const Attachment* attachments, int32_t N,
                                  const Lanes4* packed, const Triangle* triangles, int32_t M) {
    for (int32_t i = 0; i < N; ++i) {
        const Attachment& a = attachments[i];
        if (a.subPatch < 0)
            load(padded[i], a.restPosition);
        else
            padded[i] = placedPosition(a, &packed[10 * a.subPatch]);
        store(positions[i], padded[i]);
        sums[i] = Lanes4{};
    }
    for (int32_t t = 0; t < M; ++t) {
        const int32_t* i = triangles[t].index;
        const Lanes4 p0 = padded[i[0]];
        const Lanes4 face = cross(padded[i[1]] - p0, padded[i[2]] - p0);
        sums[i[0]] = sums[i[0]] + face;
        sums[i[1]] = sums[i[1]] + face;
        sums[i[2]] = sums[i[2]] + face;
    }
    for (int32_t v = 0; v < N; ++v) {
        Lanes4 n = sums[v];
        const float len = std::sqrt(dot(n, n));
        if (len > normalLengthEpsilon)
            n = n * (1.0f / len);
        store(normals[v], n);
    }
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
