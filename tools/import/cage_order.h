// The order of a control mesh's triangles for the binding's facing rule: the samples of the
// first freeSubPatchCount sub-patches (the first freeTriangleCount triangles) are taken on
// distance alone, whatever the vertex's normal, so a triangle within reach of a surface that
// faces the other way (the far side of a thin plate, the other lip, an eyelid over the eye)
// and nearer than that surface's own goes after them, where the rule keeps that surface's
// vertices off it.
#pragma once

#include "face/attachments.h"
#include "geometry/vector.h"

#include <cstdint>
#include <vector>

class FaceModel;

constexpr int32_t freeTriangleCount = freeSubPatchCount / 3; // 122

// order receives a permutation of model's L control triangles (order[k]: the triangle to
// place k-th; model's samples are those of its triangles as they are numbered now), found
// over the vertices positions and normals (N each; model's own render vertices are not
// used). A vertex that would take a free sample of a triangle (the binding's nearest-sample
// rule with the triangles in the new order; in the first pass every sample counts as free,
// so that every triangle a vertex might take is found at once) though it faces away from it (their
// normals' dot product at most minNormalDot) is counted on that triangle: as taken where a sample
// facing it lies within reach too (its own side of a thin part, which it would take instead), as
// depending where none does (a vertex on the back of a strip the control mesh makes of a thin
// part, which no other surface would carry). A triangle taken by more vertices than depend
// on it is marked, and the marked triangles go after the others, each group in its current
// order; when fewer than freeTriangleCount are unmarked, the marked ones that fewest
// vertices took fill the free places. Repeated with the new order until no triangle is
// marked anew (at most a few times). marked receives the count of marked triangles.
void facingOrder(std::vector<int32_t>& order, int32_t& marked, const FaceModel& model,
                 const Vector3* positions, const Vector3* normals, int32_t N);
