// Binding render vertices to a control mesh, measuring how far the binding throws them, and
// fitting the control mesh's points to the render surface.
#pragma once

#include "tools/import/cage_rules.h"

#include <cstdint>
#include <memory>
#include <vector>

class FaceModel;

// The amplification face-import aims at, everywhere: for moves of 0.1 and of one unit.
constexpr float targetAmplification = 1.5f;
constexpr float targetUnitAmplification = 2.0f;

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
