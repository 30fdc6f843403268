// From a render mesh to the first control mesh: its positions welded, simplified with
// meshoptimizer to about the points asked, and the renumbering of points that every
// compacted control mesh goes through.
#pragma once

#include "tools/import/cage_rules.h"

#include <cstdint>
#include <vector>

// Joins the vertices of the triangles that share a position exactly (in order of first
// use) and drops triangles that joining collapses. Points no triangle uses are dropped.
// pointOf, when not null, receives each vertex's point (N; −1 for a vertex no triangle
// uses).
void weldPositions(ControlCage& cage, const std::vector<Vector3>& positions,
                   const std::vector<Triangle>& triangles, std::vector<int32_t>* pointOf = nullptr);

// Simplifies the welded mesh to about targetPoints points with the quadric simplifier,
// progressively: a large mesh (over largeMeshTriangles triangles) is first clustered by
// meshopt_simplifySloppy to about that many triangles, then the quadric simplifier takes the
// mesh (or that result) once to about intermediatePointsPerTarget·targetPoints points, and
// the final count is searched on that small result, never on the full mesh again. Border
// vertices (the mesh's outline and its eye or mouth openings) only collapse along their
// border, so every opening stays an opening. Borders are not locked in place: a face with
// open eyes and lips has hundreds of border vertices (the default face 644), more than the
// points asked for. The points are a subset of the welded positions, so they lie on the
// render surface; welded receives their indices into welded's points (K).
void simplifyCage(ControlCage& cage, std::vector<int32_t>& welded, const ControlCage& mesh,
                  int32_t targetPoints);

// Keeps the points that indices use, renumbered in order of first use (meshoptimizer's
// remap), and renumbers indices to match: points receives their positions (from source) and
// map their numbers in sourceMap's numbering (sourceMap[i] for source point i).
void compactIndices(std::vector<Vector3>& points, std::vector<int32_t>& map,
                    std::vector<unsigned>& indices, const std::vector<Vector3>& source,
                    const std::vector<int32_t>& sourceMap);

// The control mesh of triangles (indices into points), in their order, with the points they
// use renumbered in order of first use (compactIndices): cage receives both (K points, as
// many triangles as given) and pointOf (K) each point's index in points.
void compactTriangles(ControlCage& cage, std::vector<int32_t>& pointOf,
                      const std::vector<Vector3>& points, const std::vector<Triangle>& triangles);
