// Geometry attachments: how each render vertex hangs on the smooth surface.
//
// At construction every sub-patch is sampled at 66 hinting samples; the nearest
// acceptable sample of a render vertex gives a sub-patch and a start for the projection
// of geometry/projection.h. The vertex is then recorded in the sub-patch's local frame at
// its attachment point, with a weight that falls off with its distance from the surface.
// Each frame the frame is re-evaluated on the deformed surface and the vertex rebuilt.
//
// Sub-patch evaluation takes the ten control points p[0..9] in cubic net order (a³, a²b,
// a²c, ab², abc, ac², b³, b²c, bc², c³); u weighs corner a, v corner b, w the split point.
#pragma once

#include "geometry/grid.h"
#include "geometry/lanes.h"
#include "geometry/patches.h"
#include "geometry/vector.h"

#include <cmath>
#include <cstdint>

// Fixed attachment parameters.
constexpr float maxAttachDistance = 0.5f;  // samples this far or farther are never taken;
                                           // also the distance scale of the weight
constexpr int32_t freeSubPatchCount = 366; // samples of sub-patches below this are taken on
                                           // distance alone
constexpr float minNormalDot = 0.25f;      // later samples need normal·vertex normal above this
constexpr int32_t hintingLevel = 10;       // sample grid level
constexpr int32_t samplesPerSubPatch = gridVertexCount(hintingLevel);              // 66
constexpr int32_t hintingFreeSampleLimit = samplesPerSubPatch * freeSubPatchCount; // 24,156

// How one render vertex hangs on the surface (64 bytes).
struct Attachment {
    int32_t subPatch;      // sub-patch index, or −1 when unattached
    float weight;          // blend weight of the surface-carried position; 0 when unattached
    float u, v;            // parameters of the attachment point (w = 1 − u − v)
    float offset[3];       // rest position − surface point, on t1, t2, n of the frame there
    float normalCoords[3]; // rest normal · t1, t2 and n
    Vector3 restPosition;  // loaded position
    Vector3 restNormal;    // loaded normal
};
static_assert(sizeof(Attachment) == 64, "an attachment is sixteen 32-bit fields");

// Local frame of a sub-patch point: the tangents t1, t2 (one third of the parameter
// derivatives, unnormalised) and the unit normal n.
struct SubPatchFrame {
    Vector3 t1, t2, n;
};

// A parameter pair (u, v) on a sub-patch.
struct PatchParameter {
    float u, v;
};

// The evaluation and the placement below are written once over a lane type V (Vector3,
// or Lanes4 of geometry/lanes.h for the fast update), so both compute the same bits.

// point = combine3(A, B, C; u, v, w) with A, B, C the quadratic sub-nets (p1..p6),
// (p2, p4, p5, p7, p8, p9), (p3, p5, p6, p8, p9, p10) at (u, v, w); t1 = A − C, t2 = B − C.
template <class V, class S>
inline __attribute__((always_inline)) void evaluateSubPatch(V& point, V& t1, V& t2, const V* p, S u,
                                                            S v, S w) {
    V A, B, C;
    cubicSubNets(A, B, C, p, u, v, w);
    point = combine3(A, B, C, u, v, w);
    t1 = A - C;
    t2 = B - C;
}

// (t1 × t2) / |t1 × t2| (non-finite where t1 × t2 = 0).
template <class V> V unitNormal(const V& t1, const V& t2) {
    const V c = cross(t1, t2);
    return c / squareRoot(dot(c, c));
}

// point as above and normal = unitNormal(t1, t2).
template <class V>
void evaluateSubPatchNormal(V& point, V& normal, const V* p, float u, float v, float w) {
    V t1, t2;
    evaluateSubPatch(point, t1, t2, p, u, v, w);
    normal = unitNormal(t1, t2);
}

// The position of an attached vertex from the point Q and frame (t1, t2, n) of its
// sub-patch at its parameters: (1 − weight)·rest + weight·(Q + o1·t1 + o2·t2 + o3·n).
// The same over a scalar type S for the offsets and the weight (see geometry/bezier.h).
template <class V, class S>
inline __attribute__((always_inline)) V blendedPosition(const V& rest, S weight, S o1, S o2, S o3,
                                                        const V& Q, const V& t1, const V& t2,
                                                        const V& n) {
    const V carried = Q + o1 * t1 + o2 * t2 + o3 * n;
    return (1.0f - weight) * rest + weight * carried;
}
template <class V>
inline __attribute__((always_inline)) V blendedPosition(const Attachment& a, const V& Q,
                                                        const V& t1, const V& t2, const V& n) {
    V rest;
    load(rest, a.restPosition);
    return blendedPosition(rest, a.weight, a.offset[0], a.offset[1], a.offset[2], Q, t1, t2, n);
}

// The position of an attached vertex on the surface whose sub-patch has the net p: the
// blend above with the point and frame at the attachment's (u, v, 1 − u − v). It and
// evaluateSubPatch are always inlined, so that the update's loops (and their AVX2 copy)
// hold the whole arithmetic.
template <class V>
inline __attribute__((always_inline)) V placedPosition(const Attachment& a, const V* p) {
    V Q, t1, t2;
    evaluateSubPatch(Q, t1, t2, p, a.u, a.v, 1.0f - a.u - a.v);
    return blendedPosition(a, Q, t1, t2, unitNormal(t1, t2));
}

// Both grids enumerate rows i = 0..n, columns k = 0..n − i; grid point j = 0, 1, 2, ...
// ((n + 1)(n + 2)/2 of them) is written with evaluateSubPatchNormal to byte offset
// j·stride of positions and of normals; a stride below 12 means packed Vector3 (12).
//
// sampleGrid: u = k/n, v = i/n (with step 1/n), corners and edges included.
void sampleGrid(Vector3* positions, Vector3* normals, int32_t strideBytes, const Vector3* p,
                int32_t n);
// sampleCells: cell centres u = offset + step·k, v = offset + step·i with
// step = (n/(n + 1))/n and offset = (1 − n/(n + 1))·0.5.
void sampleCells(Vector3* positions, Vector3* normals, int32_t strideBytes, const Vector3* p,
                 int32_t n);

// a·A + b·B + c·C on parameter pairs, summed as (a·A + b·B) + c·C.
PatchParameter interpolate2D(const PatchParameter& A, const PatchParameter& B,
                             const PatchParameter& C, float a, float b, float c);

// parameters[0..(n + 1)(n + 2)/2 − 1] = (u, v) of sampleCells' enumeration, each as
// interpolate2D((1, 0), (0, 1), (0, 0), u, v, w).
void fillParameterGrid(PatchParameter* parameters, int32_t n);

// Weight of a vertex at relative distance x (distance / maxAttachDistance):
// exp(0.5·ln cos x) for −1 < x < 1, else 0.
float attachmentWeight(float x);
