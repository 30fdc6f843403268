// face-import's control mesh: the user's own (welded) or one simplified from the render
// mesh with meshoptimizer.
#pragma once

#include "geometry/vector.h"

#include <cstdint>
#include <vector>

constexpr int32_t defaultControlPoints = 240;

struct ControlCage {
    std::vector<Vector3> points;     // K
    std::vector<Triangle> triangles; // L, counter-clockwise seen from outside
};

// Joins the vertices of the triangles that share a position exactly (in order of first
// use) and drops triangles that joining collapses. Points no triangle uses are dropped.
void weldPositions(ControlCage& cage, const std::vector<Vector3>& positions,
                   const std::vector<Triangle>& triangles);

// Simplifies the welded mesh to about targetPoints points with the quadric simplifier.
// Border vertices (the mesh's outline and its eye or mouth openings) only collapse along
// their border, so every opening stays an opening. Borders are not locked in place: a face
// with open eyes and lips has hundreds of border vertices (the default face 644), more than
// the points asked for. The points are a subset of the welded positions, so they lie on the
// render surface.
void simplifyCage(ControlCage& cage, const ControlCage& welded, int32_t targetPoints);
