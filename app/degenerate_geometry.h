// Degenerate geometry of a face model at rest, as face-inspect's summary reports it: the
// sub-patches whose control points are not finite, with the control triangles they come
// from, and the props' frames that cannot carry their props.
#pragma once

#include "face/face_model.h"

#include <cstdio>

// Writes to out, after the model's construction from controlPoints (K):
//   non-finite sub-patches: S
//     control triangle T (control points a, b, c: a repeated corner): sub-patches s, s+1
//   degenerate prop frames: P
//     black_th0 (control points 70, 74, 24)
// one indented line per control triangle with a non-finite sub-patch (its corners are
// "a repeated corner", "collinear corners" or, when a neighbour's normals spoil them,
// "corners spanning a triangle") and per prop frame that frameIsDegenerate refuses at rest.
// With fewer than minControlPointCount points the frames are "not checked".
void printDegenerateGeometry(FILE* out, const FaceModel& model, const Vector3* controlPoints,
                             int32_t K);
