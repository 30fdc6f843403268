// Per-frame deformation: rebuild the surface from the current control points, carry every
// attached render vertex along, recompute the render normals.
#include "face/face_model.h"

#include "geometry/grid.h"
#include "io/normals.h"

#include <cassert>
#include <cmath>

namespace {

// Four floats in one SSE register (GCC and clang vector extension); lane 3 is padding.
typedef float Float4 __attribute__((vector_size(16)));

inline Float4 load3(const Vector3& v) { return Float4{v.x, v.y, v.z, 0.0f}; }

// (a·A + b·B) + c·C per lane, as combine3.
inline Float4 combine4(Float4 A, Float4 B, Float4 C, float a, float b, float c) {
    return (a * A + b * B) + c * C;
}

// The quadratic triangle's two de Casteljau steps, as evaluateQuadraticTriangle.
inline Float4 quadratic4(Float4 q1, Float4 q2, Float4 q3, Float4 q4, Float4 q5, Float4 q6,
                         float a, float b, float c) {
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
    rebuildSurface(controlPoints);

    // Pack every sub-patch's net once per frame.
    const int32_t subPatchCount = 3 * controlTriangleCount;
    for (int32_t s = 0; s < subPatchCount; ++s) {
        Vector3 p[10];
        subPatchNet(p, s);
        float(*packed)[4] = packedSubPatches[s].point;
        for (int j = 0; j < 10; ++j) {
            packed[j][0] = p[j].x;
            packed[j][1] = p[j].y;
            packed[j][2] = p[j].z;
            packed[j][3] = 0.0f;
        }
    }

    // Attached vertices: the reference's arithmetic with x, y and z in the lanes of one
    // vector register. Every lane takes the same operations in the same order as the scalar
    // code, so the positions are the reference's bit for bit.
    for (int32_t i = 0; i < renderVertexCount; ++i) {
        const Attachment& a = attachments[i];
        if (a.subPatch < 0) {
            positions[i] = a.restPosition;
            continue;
        }
        const Float4* p = reinterpret_cast<const Float4*>(packedSubPatches[a.subPatch].point);
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
        positions[i] = {result[0], result[1], result[2]};
    }

    // Render normals: the face normal of each triangle is added to its vertices as soon as
    // it is computed (the same sums in the same order as computeMeshNormals, without the
    // scratch array of face normals).
    const int32_t N = renderVertexCount;
    for (int32_t v = 0; v < N; ++v)
        normals[v] = {0.0f, 0.0f, 0.0f};
    for (int32_t t = 0; t < renderTriangleCount; ++t) {
        const int32_t* i = renderTriangles[t].index;
        const Vector3 e1 = positions[i[1]] - positions[i[0]];
        const Vector3 e2 = positions[i[2]] - positions[i[0]];
        const Vector3 face = cross(e1, e2);
        normals[i[0]] = normals[i[0]] + face;
        normals[i[1]] = normals[i[1]] + face;
        normals[i[2]] = normals[i[2]] + face;
    }
    for (int32_t v = 0; v < N; ++v) {
        const float len = length(normals[v]);
        if (len > normalLengthEpsilon)
            normals[v] = normals[v] * (1.0f / len);
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
