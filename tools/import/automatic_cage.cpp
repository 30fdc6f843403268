// The automatic control mesh: the simplifier's result made to keep the rules of
// cage_rules.h by local edits (edge flips, edge collapses, and at last dropping triangles),
// then refined where the binding amplifies moves: render vertices near the worst ones become
// control points, splitting the control triangle or edge they lie on.
#include "tools/import/automatic_cage.h"

#include "face/face_model.h"
#include "face/sample_index.h"
#include "io/normals.h"
#include "tools/import/cage_aims.h"
#include "tools/import/cage_editor.h"
#include "tools/import/cage_fit.h"
#include "tools/import/cage_mend.h"
#include "tools/import/cage_order.h"
#include "tools/import/cage_refine.h"
#include "tools/import/cage_simplify.h"
#include "tools/import/canonical_mesh.h"

#include <algorithm>
#include <utility>

namespace {

// Passes of mending towards the aims (which are not rules): each pass over a head of a few
// hundred triangles costs some tens of milliseconds.
constexpr int aimPasses = 3;
// The automatic control mesh is first simplified to this share of the points asked, the
// rest being kept for the refinement.
constexpr float simplifiedShare = 0.85f;
// The settling binds every vertex of a mesh of up to this many (SuzanneSubdiv's 126,000 take
// about 0.3 s a pass on the 2-core development VM), the refinement's sample of a larger one.
constexpr size_t maxSettledVertices = 250000;

// The render mesh welded and simplified to simplifiedShare of targetPoints (at least
// minPoints): simplified receives the control mesh, surfaceNormals (its K) the render
// surface's normal at each of its points. Returns false with error when the mesh has fewer
// than minPoints distinct positions.
bool simplifyRenderMesh(ControlCage& simplified, std::vector<Vector3>& surfaceNormals,
                        std::string& error, const std::vector<Vector3>& positions,
                        const std::vector<Vector3>& normals, const std::vector<Triangle>& triangles,
                        int32_t targetPoints, int32_t minPoints) {
    ControlCage welded;
    std::vector<int32_t> weldedPointOf;
    weldPositions(welded, positions, triangles, &weldedPointOf);
    if (static_cast<int32_t>(welded.points.size()) < minPoints) {
        error = "the mesh has " + std::to_string(welded.points.size()) +
                " distinct positions, fewer than the " + std::to_string(minPoints) +
                " control points needed";
        return false;
    }
    // The render surface's normals at the welded points: the sum of the normals of the
    // vertices joined there (both sides of a texture seam, as the surface is one there).
    std::vector<Vector3> weldedNormals(welded.points.size(), Vector3{0.0f, 0.0f, 0.0f});
    for (size_t i = 0; i < positions.size(); ++i)
        if (weldedPointOf[i] >= 0)
            weldedNormals[size_t(weldedPointOf[i])] =
                weldedNormals[size_t(weldedPointOf[i])] + normals[i];
    for (Vector3& n : weldedNormals)
        n = normalizedSum(n);
    std::vector<int32_t> weldedOf;
    simplifyCage(simplified, weldedOf, welded,
                 std::max(minPoints, int32_t(simplifiedShare * float(targetPoints))));
    surfaceNormals.resize(simplified.points.size());
    for (size_t p = 0; p < surfaceNormals.size(); ++p)
        surfaceNormals[p] = weldedNormals[size_t(weldedOf[p])];
    return true;
}

// The last word is the rules' own check (findCageFaults with surfaceNormals, K): a part
// that faces away from the render surface is turned back as a whole, and a triangle that
// still breaks a rule is dropped (counted in report), until none does.
void dropFaultyTriangles(ControlCage& cage, CageReport& report,
                         const std::vector<Vector3>& surfaceNormals) {
    CageFaults faults;
    for (;;) {
        findCageFaults(faults, cage, surfaceNormals);
        // A part whose edits turned it to face away from the render surface is turned
        // back as a whole (its triangles keep running their shared edges consistently).
        for (int32_t t : faults.triangles[facingAwayFault])
            std::swap(cage.triangles[size_t(t)].index[1], cage.triangles[size_t(t)].index[2]);
        if (!faults.triangles[facingAwayFault].empty())
            continue;
        std::vector<uint8_t> faulty(cage.triangles.size(), 0);
        bool any = false;
        for (const std::vector<int32_t>& list : faults.triangles)
            for (int32_t t : list)
                any = (faulty[size_t(t)] = 1);
        if (!any)
            break;
        std::vector<Triangle> kept;
        for (size_t t = 0; t < cage.triangles.size(); ++t)
            if (!faulty[t])
                kept.push_back(cage.triangles[t]);
        report.dropped += int32_t(cage.triangles.size() - kept.size());
        cage.triangles.swap(kept);
    }
}

} // namespace

bool makeAutomaticCage(ControlCage& cage, CageReport& report, std::string& error,
                       const CanonicalMesh& mesh, int32_t targetPoints, int32_t minPoints) {
    report = CageReport();
    ControlCage simplified;
    std::vector<Vector3> surfaceNormals;
    if (!simplifyRenderMesh(simplified, surfaceNormals, error, mesh.positions, mesh.normals,
                            mesh.triangles, targetPoints, minPoints))
        return false;
    report.simplifiedPoints = static_cast<int32_t>(simplified.points.size());

    // The render vertices bound in each round, with their own normals (as the model file's
    // reader gives them), and the fewer the fit takes.
    const std::vector<Vector3>& positions = mesh.vertexPositions;
    const std::vector<Vector3>& normals = mesh.vertexNormals;
    BoundVertices bound;
    evenSample(bound.positions, bound.normals, positions, normals, maxBoundVertices);
    BoundVertices fitted;
    evenSample(fitted.positions, fitted.normals, bound.positions, bound.normals, maxFitVertices);
    // The bound vertices are the candidates for new points too: a new point starts on the
    // render surface, and the fit moves it from there.
    const std::vector<Vector3>& candidates = bound.positions;
    const std::vector<Vector3>& candidateNormals = bound.normals;
    SampleIndex candidateIndex;
    buildSampleIndex(candidateIndex, candidates.data(), int32_t(candidates.size()));

    // An editor of the control mesh with the point limits and the candidates.
    const auto editorOf = [&](Editor& editor, const ControlCage& start,
                              const std::vector<Vector3>& startNormals) {
        editor.minPoints = minPoints;
        editor.maxPoints = targetPoints;
        editor.candidates = &candidates;
        editor.candidateNormals = &candidateNormals;
        editor.candidateIndex = &candidateIndex;
        startEditor(editor, report, start, startNormals);
    };
    Editor e;
    editorOf(e, simplified, surfaceNormals);
    repair(e, report);
    mend(e, report, aims, false, aimPasses);
    improveShapes(e, report);

    ControlCage best;
    std::vector<Vector3> bestNormals;
    refineCage(best, bestNormals, e, report, bound, fitted, positions.size());
    // The best round, settled where the binding of every bound vertex still throws one.
    Editor settled;
    editorOf(settled, best, bestNormals);
    // Over every vertex, or the refinement's sample of a larger mesh.
    BoundVertices every;
    if (positions.size() <= maxSettledVertices) {
        every.positions = positions;
        every.normals = normals;
    }
    const BoundVertices& judged = every.positions.empty() ? bound : every;
    settleToAims(settled, report, judged);
    {
        std::vector<int32_t> slot, settledPointOf;
        compactCage(best, slot, settledPointOf, settled);
        bestNormals.resize(settledPointOf.size());
        for (size_t p = 0; p < settledPointOf.size(); ++p)
            bestNormals[p] = settled.surfaceNormals[size_t(settledPointOf[p])];
    }
    dropFaultyTriangles(best, report, bestNormals);
    // Points no triangle uses any more are dropped, the others renumbered in order of use.
    std::vector<int32_t> pointOf;
    compactTriangles(cage, pointOf, best.points, best.triangles);
    // The triangles in the facing order (cage_order.h) over the vertices settled.
    const std::unique_ptr<FaceModel> samples = bindCage(cage, {}, {});
    std::vector<int32_t> order;
    int32_t marked;
    facingOrder(order, marked, *samples, judged.positions.data(), judged.normals.data(),
                int32_t(judged.positions.size()));
    std::vector<Triangle> ordered(order.size());
    for (size_t k = 0; k < order.size(); ++k)
        ordered[k] = cage.triangles[size_t(order[k])];
    const std::vector<Vector3> points = cage.points;
    compactTriangles(cage, pointOf, points, ordered);
    if (static_cast<int32_t>(cage.points.size()) < minPoints) {
        error = "no valid control mesh of " + std::to_string(minPoints) +
                " points or more: after repairing the simplified mesh " +
                std::to_string(cage.points.size()) + " points remain";
        return false;
    }
    return true;
}
