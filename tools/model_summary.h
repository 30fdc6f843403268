// The binding summary that face-inspect and face-import print for a face model: the mesh
// counts, how many render vertices the surface carries and how firmly, and how many
// sub-patches came out non-finite and which prop frames are degenerate.
#pragma once

#include "geometry/vector.h"

#include <cstdint>

class FaceModel;

// Prints, one line each: control points (controlPointCount), control triangles, edges,
// render vertices, render triangles, sub-patches, samples, attached (count and share),
// unattached, weight minimum and lower median of the attached vertices; then the degenerate
// geometry at rest (printDegenerateGeometry) for the model built from controlPoints (K).
void printModelSummary(const FaceModel& model, const Vector3* controlPoints,
                       int32_t controlPointCount);
