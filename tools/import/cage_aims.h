// The last step of the automatic control mesh: edits made, one neighbourhood at a time, where
// the binding of every vertex still throws one beyond the aims, each judged on the whole
// control mesh until none is left or no edit helps.
#pragma once

#include "tools/import/cage_editor.h"
#include "tools/import/cage_refine.h"

#include <cstdint>
#include <vector>

// Works on the editor's control mesh (every live triangle keeps the rules; its candidates
// are render vertices) in passes, each over vertices (positions and normals, N each: the
// render vertices as the binding sees them, or an even sample of a large mesh): they are
// bound to the control mesh with its triangles in the facing order (cage_order.h) and their
// excess measured (measureExcess). For each vertex beyond an aim, the worst first, one per
// control triangle and neighbourhood, the edits around its control triangle are tried in
// turn: flipping each of its edges, the nearest first; the vertex made a control point, or
// the render vertex nearest the triangle's centre or a side's middle, within e.maxPoints;
// collapsing an edge that hardly shapes the surface; moving each corner a little along the
// surface; the same across the nearest side. Each is kept only where every rule still holds
// and, over the vertices that hang on the triangles within three rings of it and every
// unattached one, bound again on the whole control mesh, the largest excess does not grow
// and the sum of their excess falls, each vertex let go counting as one a fifth beyond the
// aims (and none let go once 2 % of the vertices, or 1 % more than when it started, are
// unattached). A pass after which the whole mesh's sum (each unattached vertex counted so
// too) is no better is undone. Stops when no vertex is beyond the aims, a pass keeps no edit
// or is undone, or after maxAimPasses passes or maxAimTrials edits tried in all. report
// counts the edits kept.
// A vertex let go counts as one this far beyond the aims: a fifth, so that letting two go to
// bring one of 2.9 for moves of 0.1 (an excess of 0.9) within the aim counts as better (PLY's
// Wuson); the settling lets at most 1 % more go.
constexpr double letGoWeight = 0.2;

// result receives the settled mesh's figures over the vertices, as bound last.
struct SettleResult {
    double excess = 0.0;  // the sum of the excess beyond the aims
    int32_t thrown = 0;   // vertices beyond an aim
    int32_t loose = 0;    // vertices unattached
    int32_t vertices = 0; // vertices bound
};
constexpr int maxAimPasses = 8;
constexpr int32_t maxAimTrials = 400;
void settleToAims(SettleResult& result, Editor& e, CageReport& report,
                  const BoundVertices& vertices);
