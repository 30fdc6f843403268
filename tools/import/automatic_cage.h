// face-import's automatic control mesh: one simplified from the render mesh with
// meshoptimizer, repaired until it keeps the rules (cage_rules.h), fitted to the render
// surface and refined where the binding amplifies a move of the control mesh or leaves
// vertices far from it.
#pragma once

#include "tools/import/cage_rules.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr int32_t defaultControlPoints = 240;

// What making the automatic control mesh did, for face-import's lines.
struct CageReport {
    int32_t simplifiedPoints = 0; // points after simplifying
    int32_t flips = 0;            // edges flipped (repairs and shape)
    int32_t collapses = 0;        // edges collapsed
    int32_t dropped = 0;          // triangles dropped (repeated, back to back, a third on an
                                  // edge, slivers on a border, or what no edit mended)
    int32_t inserted = 0;         // render vertices made control points (repairs, refinement)
    int32_t rounds = 0;           // refinement rounds (binding and amplification each)
    int32_t fitSteps = 0;         // steps of fitting the points to the render surface
};

// The automatic control mesh of a render mesh in its canonical form (canonical_mesh.h):
// simplified from its welded positions to 85 % of targetPoints (at least minPoints),
// repaired until it keeps every rule (flips, collapses, insertions of render vertices, and
// at last dropping triangles), mended towards a stricter shape where an edit gets there,
// then fitted and refined in rounds (refineCage in cage_refine.h) up to targetPoints points
// over its vertices as bound (the render vertices, or an even sample of a large mesh), and
// the best round settled over them (settleToAims in cage_aims.h), then over renderVertices
// (the render vertices where they are, as the written model binds them: a vertex the grid
// moved may bind elsewhere) where the mesh is small enough; what still breaks a rule
// is dropped, and the triangles are put in the facing order (cage_order.h). Returns false
// with one line in error when no valid control mesh of at least minPoints points remains.
struct CanonicalMesh;
struct BoundVertices;
bool makeAutomaticCage(ControlCage& cage, CageReport& report, std::string& error,
                       const CanonicalMesh& mesh, const BoundVertices& renderVertices,
                       int32_t targetPoints, int32_t minPoints);
