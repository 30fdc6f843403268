// Per-frame deformation: rebuild the surface from the current control points, carry every
// attached render vertex along, recompute the render normals.
#include "face/face_model.h"

#include "geometry/grid.h"
#include "io/normals.h"

#include <cassert>

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
    updateReference(positions, normals, controlPoints);
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
