// The binding summary that face-inspect and face-import print for a face model: the mesh
// counts, how many render vertices the surface carries and how firmly, and how many
// sub-patches came out non-finite (degenerate control triangles or normals).
#pragma once

#include <cstdint>

class FaceModel;

// Prints, one line each: control points (controlPointCount), control triangles, edges,
// render vertices, render triangles, sub-patches, samples, attached (count and share),
// unattached, weight minimum and lower median of the attached vertices, and non-finite
// sub-patches (any of the ten control points not finite).
void printModelSummary(const FaceModel& model, int32_t controlPointCount);
