// The report of a face model that face-inspect and face-import print: the mesh counts, how
// many render vertices the surface carries and how firmly, and the degenerate geometry at
// rest (non-finite sub-patches and the prop frames that cannot carry their props).
#pragma once

#include "face/amplification.h"
#include "face/face_model.h"

#include <cstdint>
#include <cstdio>
#include <vector>

// How a binding passes drags on: the amplification summaries for moves of
// smallAmplificationStep and of unitAmplificationStep (face/amplification.h).
struct BindingAmplification {
    AmplificationSummary small, unit;
};

// How far the attached render vertices hang from their surface points at rest: the
// distance |rest position − surface point| (median, 99th percentile, largest) and the
// tangent coordinates, the length √(offset₁² + offset₂²) of the offset's part along t1 and
// t2 in the frame t1, t2, n (99th percentile, largest). Every change of t1 and t2 under a drag is
// multiplied by them. Percentiles are the lower ones (the value at index ⌊p·(n − 1)⌋ of the sorted
// values).
struct SurfaceCloseness {
    int32_t attached = 0;
    float distanceMedian = 0.0f, distance99 = 0.0f, distanceLargest = 0.0f;
    float tangent99 = 0.0f, tangentLargest = 0.0f;
};

// Prints, one line each: control points (controlPointCount), control triangles, edges,
// render vertices, render triangles, sub-patches, samples, attached (count and share),
// unattached, weight minimum and lower median of the attached vertices, the distance and
// tangent coordinates (measureCloseness); the amplification for both steps
// (measureAmplification, printAmplification); then the degenerate geometry at rest
// (printDegenerateGeometry) for the model built from controlPoints (K), its sub-patches
// those of the rest pose.
void printModelSummary(const FaceModel& model, const Vector3* controlPoints,
                       int32_t controlPointCount);
// The same with the amplification measured beforehand.
void printModelSummary(const FaceModel& model, const Vector3* controlPoints,
                       int32_t controlPointCount, const BindingAmplification& amplification);

// The closeness of the model's attached render vertices to its current sub-patches.
void measureCloseness(SurfaceCloseness& closeness, const FaceModel& model);

// The summaries of the amplification of the model's render vertices for both steps from
// controlPoints.
void measureAmplification(BindingAmplification& amplification, const FaceModel& model,
                          const Vector3* controlPoints);

// Each render vertex's amplification for both steps and the control point whose move gives
// it (computeAmplification): N entries each.
struct VertexAmplification {
    std::vector<float> small, unit;
    std::vector<int32_t> smallWorst, unitWorst;
};
// The same summaries, with every vertex's values in values.
void measureAmplification(BindingAmplification& amplification, VertexAmplification& values,
                          const FaceModel& model, const Vector3* controlPoints);
// Prints one summary, measured for moves of step, for N render vertices, two lines:
//   amplification (moves of 0.1): largest 1.052 at render vertex 1234 (control point 87)
//   amplification (moves of 0.1) above 1.5: 0 (0.00%); above 3: 0 (0.00%)
// or one line "amplification (moves of 0.1): no render vertex moves".
void printAmplification(const AmplificationSummary& summary, float step, int32_t N);

// Writes to out, after the model's construction from controlPoints (K):
//   non-finite sub-patches: S
//     control triangle T (control points a, b, c: a repeated corner): sub-patches s, s+1
//   degenerate prop frames: P
//     black_th0 (control points 70, 74, 24)
// one indented line per control triangle with a non-finite sub-patch, naming the cause:
// "a repeated corner", "collinear corners", "a fold: control triangle U on edge (a, b)
// faces the opposite way", "the normals of the triangles on edge (a, b) cancel", "edge
// (a, b) is shared by 3 triangles", "the normals of control point p's triangles cancel",
// "the normal of control point p faces against it (its triangles fold over)", or else "corner
// and edge normals edge-on to its tangent planes (a sharp bend)"; and one per prop frame
// that frameIsDegenerate refuses at rest.
// With fewer than minControlPointCount points the frames are "not checked".
void printDegenerateGeometry(FILE* out, const FaceModel& model, const Vector3* controlPoints,
                             int32_t K);
