// The automatic control mesh: the simplifier's result made to keep the rules of
// cage_rules.h by local edits (edge flips, edge collapses, and at last dropping triangles),
// then refined where the binding amplifies moves: render vertices near the worst ones become
// control points, splitting the control triangle or edge they lie on.
#include "tools/import/automatic_cage.h"

#include "face/sample_index.h"
#include "io/normals.h"
#include "tools/import/cage_aims.h"
#include "tools/import/cage_editor.h"
#include "tools/import/cage_fit.h"
#include "tools/import/cage_mend.h"
#include "tools/import/cage_refine.h"
#include "tools/import/cage_simplify.h"
#include "tools/import/canonical_mesh.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

namespace {

// Passes of mending towards the aims (which are not rules): each pass over a head of a few
// hundred triangles costs some tens of milliseconds.
constexpr int aimPasses = 3;
// The automatic control mesh is first simplified to a share of the points asked, the rest
// being kept for the refinement: 85 %, and where that does not meet the aims, 70 % and 55 %
// in turn (the simplifier's choices differ, and which one a head takes well is not known
// beforehand: Suzanne went from 1.365 and 1.684 to 1.075 and 1.183 at 70 %, the dwarf from
// 2.52 and 5.02 to 1.18 and 1.70 at 55 %). Each try costs a whole refinement and settling (a
// few seconds for a head of 10,000 vertices on the 2-core development VM, 10 s for
// human.zae's 14,517): a mesh of more than retriedVertices vertices gets the first only.
// Where none meets the share attached, the same again with the refinement's own trials for
// the unattached (refineCage's looseTrials): those leave fewer vertices behind (WusonOBJ
// 1.8 % fewer), but a finer mesh often throws the others farther, so they are tried only
// where the attached share is missed, and kept only where they throw no farther (a smaller
// sum of the excess alone) than the attempt kept.
struct Attempt {
    float share;
    bool looseTrials;
};
constexpr Attempt attempts[] = {{0.85f, false}, {0.7f, false}, {0.55f, false},
                                {0.85f, true},  {0.7f, true},  {0.55f, true}};
constexpr Attempt largeMeshAttempts[] = {{0.85f, false}, {0.85f, true}};
constexpr size_t retriedVertices = 10000;
// A settled mesh meets the aims where no vertex is beyond them and at most maxLooseShare of
// them are unattached; of two that do not, the smaller sum of the excess wins, each vertex
// unattached beyond that share counting as one letGoWeight beyond (as in the settling).
// The settling binds every vertex of a mesh of up to this many (SuzanneSubdiv's 126,000 take
// about 0.3 s a pass on the 2-core development VM), the refinement's sample of a larger one.
constexpr size_t maxSettledVertices = 250000;

// The render mesh welded and simplified to share of targetPoints (at least minPoints): simplified
// receives the control mesh, surfaceNormals (its K) the render surface's normal at each of its
// points. Returns false with error when the mesh has fewer than minPoints distinct positions.
bool simplifyRenderMesh(ControlCage& simplified, std::vector<Vector3>& surfaceNormals,
                        std::string& error, const std::vector<Vector3>& positions,
                        const std::vector<Vector3>& normals, const std::vector<Triangle>& triangles,
                        float share, int32_t targetPoints, int32_t minPoints) {
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
                 std::max(minPoints, int32_t(share * float(targetPoints))));
    surfaceNormals.resize(simplified.points.size());
    for (size_t p = 0; p < surfaceNormals.size(); ++p)
        surfaceNormals[p] = weldedNormals[size_t(weldedOf[p])];
    return true;
}

// Whether two refined control meshes are the same, bit for bit, with the same normals: the
// settling that follows is then the same too.
bool sameRefined(const ControlCage& a, const std::vector<Vector3>& aNormals, const ControlCage& b,
                 const std::vector<Vector3>& bNormals) {
    const auto same = [](const auto& x, const auto& y) {
        return x.size() == y.size() &&
               (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof x[0]) == 0);
    };
    return same(a.points, b.points) && same(a.triangles, b.triangles) && same(aNormals, bNormals);
}

double missedAims(const SettleResult& r) {
    return r.excess +
           letGoWeight * std::max(0.0, double(r.loose) - double(maxLooseShare) * r.vertices);
}
bool meetsAims(const SettleResult& r) { return missedAims(r) == 0.0 && r.thrown == 0; }
bool betterSettled(const SettleResult& a, const SettleResult& b) {
    return missedAims(a) < missedAims(b);
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
                       const CanonicalMesh& mesh, const BoundVertices& renderVertices,
                       int32_t targetPoints, int32_t minPoints) {
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
    buildSampleIndex(candidateIndex, candidates.data(), int32_t(candidates.size()),
                     int64_t(candidates.size()));
    // The settling is over every vertex, or the refinement's sample of a larger mesh.
    BoundVertices every;
    if (positions.size() <= maxSettledVertices) {
        every.positions = positions;
        every.normals = normals;
    }
    const BoundVertices& judged = every.positions.empty() ? bound : every;

    // An editor of the control mesh with the point limits and the candidates.
    const auto editorOf = [&](Editor& editor, CageReport& counts, const ControlCage& start,
                              const std::vector<Vector3>& startNormals) {
        editor.minPoints = minPoints;
        editor.maxPoints = targetPoints;
        editor.candidates = &candidates;
        editor.candidateNormals = &candidateNormals;
        editor.candidateIndex = &candidateIndex;
        startEditor(editor, counts, start, startNormals);
    };
    // Attempts from the simplifier's result at each share of the points asked, until one
    // meets the aims; the best of those that keep minPoints points is kept.
    ControlCage kept;
    SettleResult keptResult;
    // Each attempt's refined control mesh and its normals: an attempt with the unattached's
    // own trials whose refinement gives the same as the attempt at its share without them
    // would settle the same, so it could not be kept (it is no better than what was kept).
    std::vector<ControlCage> refinedOf(std::size(attempts));
    std::vector<std::vector<Vector3>> refinedNormalsOf(std::size(attempts));
    const bool small = positions.size() <= retriedVertices;
    const Attempt* tries = small ? attempts : largeMeshAttempts;
    const size_t tryCount = small ? std::size(attempts) : std::size(largeMeshAttempts);
    for (size_t attempt = 0; attempt < tryCount; ++attempt) {
        const Attempt& a = tries[attempt];
        if (a.looseTrials &&
            double(keptResult.loose) <= double(maxLooseShare) * keptResult.vertices)
            continue;
        CageReport counts;
        ControlCage simplified;
        std::vector<Vector3> surfaceNormals;
        if (!simplifyRenderMesh(simplified, surfaceNormals, error, mesh.positions, mesh.normals,
                                mesh.triangles, a.share, targetPoints, minPoints)) {
            if (attempt == 0)
                return false;
            continue;
        }
        counts.simplifiedPoints = static_cast<int32_t>(simplified.points.size());
        Editor e;
        editorOf(e, counts, simplified, surfaceNormals);
        repair(e, counts);
        mend(e, counts, aims, false, aimPasses);
        improveShapes(e, counts);
        ControlCage refined;
        std::vector<Vector3> refinedNormals;
        refineCage(refined, refinedNormals, e, counts, bound, fitted, positions.size(),
                   a.looseTrials);
        const auto alike = std::find_if(tries, tries + attempt, [&](const Attempt& b) {
            return b.share == a.share && !b.looseTrials;
        });
        if (alike != tries + attempt &&
            sameRefined(refined, refinedNormals, refinedOf[size_t(alike - tries)],
                        refinedNormalsOf[size_t(alike - tries)]))
            continue;
        refinedOf[attempt] = refined;
        refinedNormalsOf[attempt] = refinedNormals;
        // The best round, settled where the binding of a vertex still throws it.
        Editor settled;
        editorOf(settled, counts, refined, refinedNormals);
        SettleResult result;
        settleToAims(result, settled, counts, judged);
        // Then the render vertices where they are: one that the grid moved by a thousandth
        // may bind to another sample and be thrown where its grid point was not (on
        // AC/Wuson.ac, 22 times as far). This settling edits only where that happened.
        if (&judged == &every)
            settleToAims(result, settled, counts, renderVertices);
        ControlCage settledCage;
        std::vector<int32_t> slot, settledPointOf;
        compactCage(settledCage, slot, settledPointOf, settled);
        std::vector<Vector3> settledNormals(settledPointOf.size());
        for (size_t p = 0; p < settledPointOf.size(); ++p)
            settledNormals[p] = settled.surfaceNormals[size_t(settledPointOf[p])];
        dropFaultyTriangles(settledCage, counts, settledNormals);
        // Points no triangle uses any more are dropped, the others renumbered in order of use.
        ControlCage candidate;
        std::vector<int32_t> pointOf;
        compactTriangles(candidate, pointOf, settledCage.points, settledCage.triangles);
        const bool enough = static_cast<int32_t>(candidate.points.size()) >= minPoints;
        if (attempt == 0 || (enough && betterSettled(result, keptResult) &&
                             (!a.looseTrials || result.excess <= keptResult.excess))) {
            kept = std::move(candidate);
            keptResult = result;
            report = counts;
        }
        if (meetsAims(keptResult) && static_cast<int32_t>(kept.points.size()) >= minPoints)
            break;
    }
    if (static_cast<int32_t>(kept.points.size()) < minPoints) {
        error = "no valid control mesh of " + std::to_string(minPoints) +
                " points or more: after repairing the simplified mesh " +
                std::to_string(kept.points.size()) + " points remain";
        return false;
    }
    // The triangles stay in the facing order the settling bound them in (cage_order.h): an
    // order found afresh binds some vertices elsewhere, which nothing judged (a 3DS Max STL
    // file's worst vertex went from 2.6 to 30 times as far).
    cage = std::move(kept);
    return true;
}
