// face-import's control mesh: the user's own (welded, checked against the rules below, and
// fitted to the render surface on request) or one simplified from the render mesh with
// meshoptimizer, repaired until it keeps the rules, fitted to the render surface and refined
// where the binding amplifies a move of the control mesh or leaves vertices far from it.
#pragma once

#include "geometry/vector.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class FaceModel;

constexpr int32_t defaultControlPoints = 240;

struct ControlCage {
    std::vector<Vector3> points;     // K
    std::vector<Triangle> triangles; // L, counter-clockwise seen from outside
};

// The rules of a control mesh, and the fault that breaks each. A triangle's quality is
// 4·√3·area / (sum of its squared sides): 1 for an equilateral triangle, 0 for a degenerate
// one; minTriangleQuality 0.2 is a triangle whose smallest angle is about 12° or whose
// largest is about 160°. Below it the Clough–Tocher sub-triangles turn to slivers whose
// tangents run nearly parallel (the binding's amplification reached 5 to 7 on such
// triangles of the Mr. Fixit head).
constexpr float minTriangleQuality = 0.2f;
// Two triangles on an edge fold over when their normals are more than 120° apart: the
// edge normal, their sum, shrinks to half a unit normal and swings with every small move.
constexpr float foldCosine = -0.5f;
// Every triangle faces the same side as the normals at its corners (the sum of the face
// normals around each point): a triangle whose normal is 87° or more from a corner's
// normal has turned against the point's fan, and where the fan's normals cancel the
// corner normal is not defined at all.
constexpr float minCornerCosine = 0.05f;

enum CageFault {
    sharedEdgeFault,  // an edge shared by more than two triangles
    repeatedFault,    // two triangles on the same three points
    orientationFault, // two neighbours running their shared edge the same way
    facingAwayFault,  // a connected part facing away from the render surface
    foldFault,        // normals more than 120° apart across an edge
    cornerFault,      // facing against the normal at one of its corners
    shapeFault,       // quality below minTriangleQuality (repeated or collinear corners)
    nonFiniteFault,   // a sub-patch not finite at rest
    cageFaultCount
};

// What the triangles with a fault do, as a warning names them after "N control triangles"
// ("fold over a neighbour (normals more than 120 degrees apart)").
const char* cageFaultText(CageFault fault);

// The triangles that break each rule, in increasing order, each at most once per rule.
struct CageFaults {
    std::vector<int32_t> triangles[cageFaultCount];
};

// The rules checked on cage. surfaceNormals (K, or empty to skip the check) holds the
// render surface's unit normal at or nearest each control point: a connected part of the
// control mesh (triangles joined by edges of two triangles) faces away when the sum over its
// triangles of their normals' dot products with their corners' surface normals is negative.
// Sub-patches are built with the face model's own construction.
void findCageFaults(CageFaults& faults, const ControlCage& cage,
                    const std::vector<Vector3>& surfaceNormals);

// The render surface's unit normal (computeMeshNormals of the render mesh) at the render
// vertex nearest each point of the cage: normals (K) for findCageFaults on a user's cage.
void nearestSurfaceNormals(std::vector<Vector3>& normals, const ControlCage& cage,
                           const std::vector<Vector3>& renderPositions,
                           const std::vector<Vector3>& renderNormals);

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

// The amplification face-import aims at, everywhere: for moves of 0.1 and of one unit.
constexpr float targetAmplification = 1.5f;
constexpr float targetUnitAmplification = 2.0f;

// The automatic control mesh of a render mesh (positions N with the unit normals
// computeMeshNormals gives them, triangles M): welded, simplified to 85 % of targetPoints
// (at least minPoints), repaired until it keeps every rule above (flips, collapses,
// insertions of render vertices, and at last dropping triangles), mended towards a stricter
// shape where an edit gets there, then fitted and refined in rounds: the render vertices
// (evenSample) are fitted to (fitCage: fully in the first round, two steps after each
// round's edits), bound, and their amplification for moves of 0.1 and of 1 measured; where
// one exceeds targetAmplification or targetUnitAmplification, stays unattached or hangs
// farther than half maxAttachDistance from its surface point, a render vertex nearby
// becomes a control point, kept only where the vertices around it, bound again locally,
// are no worse and one is better; up to targetPoints points. The round with the smallest
// excess over the aims (with unattached vertices beyond 2 % counted against it) is kept.
// Returns false with one line in error when no valid control mesh of at least minPoints
// points remains.
bool makeAutomaticCage(ControlCage& cage, CageReport& report, std::string& error,
                       const std::vector<Vector3>& positions, const std::vector<Vector3>& normals,
                       const std::vector<Triangle>& triangles, int32_t targetPoints,
                       int32_t minPoints);

// The render vertices the automatic control mesh is refined on (maxBoundVertices) and
// fitted to (maxFitVertices): all of them, or every k-th of a larger mesh, k the smallest
// that keeps at most that many. Fitting some 200 points needs far fewer vertices than
// judging the amplification at every one: binding 40,000 for each step of the fit took
// most of a 1M-vertex scan's import.
constexpr size_t maxBoundVertices = 40000;
constexpr size_t maxFitVertices = 10000;
void evenSample(std::vector<Vector3>& positions, std::vector<Vector3>& normals,
                const std::vector<Vector3>& allPositions, const std::vector<Vector3>& allNormals,
                size_t limit);

// The steps fitCage takes on a user's control mesh (--fit-cage).
constexpr int userCageFitSteps = 12;

// The barycentric weights l, in control triangle s / 3, of the point (u, v) of sub-patch s:
// sub-patch k spans corners k and k + 1 and the split point, which weighs a third on each.
void cornerWeights(float l[3], int32_t s, float u, float v);

// The face model of cage with positions and normals (N) as its render vertices, bound (no
// render triangles).
std::unique_ptr<FaceModel> bindCage(const ControlCage& cage, const std::vector<Vector3>& positions,
                                    const std::vector<Vector3>& normals);

// The amplification of each render vertex of model (bound to cage) against its aims:
// excess (N) receives the larger of its amplification for moves of smallAmplificationStep
// over targetAmplification and for moves of unitAmplificationStep over
// targetUnitAmplification; 1 or less meets both aims. A move that breaks a sub-patch (an
// infinite amplification) counts as brokenExcess, so that meshes where one unit's move
// breaks one somewhere still compare by their other vertices.
constexpr float brokenExcess = 100.0f;
void measureExcess(std::vector<float>& excess, const FaceModel& model, const ControlCage& cage);

// What fitting a control mesh did: the steps kept and the loss before and after.
struct FitReport {
    int32_t iterations = 0;
    double lossBefore = 0.0, lossAfter = 0.0;
};

// The loss the fit minimises, over the model's render vertices: for each, its distance d
// to its surface point (its attachment's, or for a vertex too far for one its nearest
// sample's under the binding's normal rule), counted as d²/2 up to maxAttachDistance R and
// as R²/2 + R²·ln(d / R) beyond, so that parts the surface misses pull it nearer but
// cannot tear it away; a vertex with no sample at all counts as if at the largest float.
double fitLoss(const FaceModel& model);

// Moves the points of cage (their count, numbering and triangles kept) so that its smooth
// surface passes through the render vertices (positions, normals: N), in at most iterations
// steps of binding and solving: the vertices are bound; the surface, linearised as each
// control triangle's barycentric interpolation of its corners' moves, is fitted to them by
// weighted least squares on their residuals along the surface normal plus a tenth of the
// whole residual (the samples' spacing, not the fit, decides the tangential part), the
// weights those of fitLoss's robust loss, the moves of neighbouring points tied and damped;
// Eigen's sparse Cholesky factorisation solves it. A step that makes a triangle break a
// rule of the control mesh (findCageFaults with surfaceNormals, K) that it kept loses the
// moves of the points around it, then is halved; a step is kept only where fitLoss falls
// and the largest excess (measureExcess) stays within max(1, the unfitted cage's), so that
// a closer surface never throws a drag farther than the aims allow; the fit stops when the
// loss falls by less than 1 % or no step is kept. Returns the model of the final cage, bound.
std::unique_ptr<FaceModel> fitCage(ControlCage& cage, FitReport& report,
                                   const std::vector<Vector3>& positions,
                                   const std::vector<Vector3>& normals,
                                   const std::vector<Vector3>& surfaceNormals, int iterations);

// A connected part of the render mesh that the surface leaves unattached: how many vertices,
// and the one nearest the part's centre (for regionName).
struct LeftBehind {
    int32_t count = 0;
    int32_t vertex = -1;
};

// The unattached render vertices of model in connected parts (joined by the render
// triangles' edges and by equal positions, so that texture seams do not split a part), the
// largest first; parts of fewer than minLeftBehind vertices are left out.
constexpr int32_t minLeftBehind = 10;
void findPartsLeftBehind(std::vector<LeftBehind>& parts, const FaceModel& model,
                         const std::vector<Vector3>& positions);

// Where a point lies on a model centred near the origin, facing +z with +y up, in words:
// "upper left front" (the model's own left, +x), from the box of positions (N > 0).
std::string regionName(const Vector3& point, const std::vector<Vector3>& positions);

// Keeps the points that indices use, renumbered in order of first use (meshoptimizer's
// remap), and renumbers indices to match: points receives their positions (from source) and
// map their numbers in sourceMap's numbering (sourceMap[i] for source point i).
void compactIndices(std::vector<Vector3>& points, std::vector<int32_t>& map,
                    std::vector<unsigned>& indices, const std::vector<Vector3>& source,
                    const std::vector<int32_t>& sourceMap);
