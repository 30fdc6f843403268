#include "tools/import/cage_aims.h"

#include "face/face_model.h"
#include "tools/import/cage_fit.h"
#include "tools/import/cage_mend.h"

#include <algorithm>
#include <memory>
#include <numeric>

namespace {

// A collapse tried here may only take a point that hardly shapes the surface (cage_mend's
// bound for mending towards the aims).
constexpr float maxAimCollapseDeviation = 0.1f;
// A corner moved along the surface goes about this share of a mean control edge.
constexpr float moveStep = 0.2f;
// A judged sum of excess must fall by at least this to count as better (float noise in the
// binding of the same vertices to a changed mesh is far smaller).
constexpr double minExcessGain = 1e-4;
// An edit may let vertices go only while the share unattached stays within maxLooseShare,
// or within letGoShare more than were unattached when the settling started: a vertex on a
// thin part that hangs at the binding's reach on a small triangle is thrown farther than
// any other, and letting two go took Sydney's largest amplification for moves of 0.1 from
// 5.25 to 2.5.
constexpr float letGoShare = 0.01f;

// The editor's live triangles as a control mesh bound to the vertices in the facing order:
// the triangles are placed in that order in the editor too.
struct Bound {
    ControlCage cage;
    std::vector<int32_t> slot, pointOf; // cage's triangles' editor slots, points' editor points
    std::unique_ptr<FaceModel> model;
    std::vector<float> excess; // per vertex (measureExcess)
};

void bindInFacingOrder(Bound& b, Editor& e, const BoundVertices& vertices) {
    dropDead(e);
    compactCage(b.cage, b.slot, b.pointOf, e);
    b.model = bindCage(b.cage, vertices.positions, vertices.normals);
    if (placeInFacingOrder(e, b.cage, b.slot, b.pointOf, *b.model, vertices))
        b.model = bindCage(b.cage, vertices.positions, vertices.normals);
    measureExcess(b.excess, *b.model, b.cage);
}

// The excess (measureExcess) of the judges (vertices) bound to the editor's whole live mesh,
// and whether each is attached.
void judgeOnWholeMesh(std::vector<float>& excess, std::vector<uint8_t>& attached, const Editor& e,
                      const std::vector<int32_t>& judges, const BoundVertices& vertices) {
    ControlCage cage;
    std::vector<int32_t> slot, pointOf;
    compactCage(cage, slot, pointOf, e);
    std::vector<Vector3> positions, normals;
    for (int32_t j : judges) {
        positions.push_back(vertices.positions[size_t(j)]);
        normals.push_back(vertices.normals[size_t(j)]);
    }
    const std::unique_ptr<FaceModel> model = bindCage(cage, positions, normals);
    measureExcess(excess, *model, cage);
    attached.resize(judges.size());
    for (size_t k = 0; k < judges.size(); ++k)
        attached[k] = model->attachments[int32_t(k)].subPatch >= 0;
}

// The live triangles within rings rings (1 or more) of the given points, sorted.
void trianglesAround(std::vector<int32_t>& triangles, const Editor& e, std::vector<int32_t> points,
                     int rings) {
    triangles.clear();
    for (int r = 0; r < rings; ++r) {
        for (int32_t p : points)
            if (size_t(p) < e.around.size())
                triangles.insert(triangles.end(), e.around[size_t(p)].begin(),
                                 e.around[size_t(p)].end());
        sortUnique(triangles);
        points.clear();
        for (int32_t t : triangles)
            points.insert(points.end(), e.triangles[size_t(t)].index,
                          e.triangles[size_t(t)].index + 3);
        sortUnique(points);
    }
}

// The edits tried for vertex i on editor triangle t (attached at a): the flips of its
// edges, the side nearest the vertex first; the vertex made a control point (into the
// triangle, or onto the side it lies near); the render vertices nearest the centre and the
// sides' middles; collapses of its edges that hardly shape the surface. Some may be none.
void aimEdits(std::vector<Edit>& edits, const Editor& e, int32_t t, const Attachment& a,
              const BoundVertices& vertices, int32_t i) {
    float l[3];
    cornerWeights(l, a.subPatch, a.u, a.v);
    int low = 0;
    for (int m = 1; m < 3; ++m)
        low = l[m] < l[low] ? m : low;
    const int nearest = (low + 1) % 3; // the side facing the smallest weight
    const int32_t* c = e.triangles[size_t(t)].index;
    edits.clear();
    for (int k = 0; k < 3; ++k)
        edits.push_back(flipEdit(e, t, (nearest + k) % 3));
    edits.push_back(insertEdit(e, t, l[low] < 0.15f ? nearest : -1, vertices.positions[size_t(i)],
                               vertices.normals[size_t(i)]));
    const Vector3* P = e.points.data();
    const Vector3 centre = (P[c[0]] + P[c[1]] + P[c[2]]) * (1.0f / 3.0f);
    for (int m = -1; m < 3; ++m) {
        const Vector3 at = m < 0 ? centre : (P[c[m]] + P[c[(m + 1) % 3]]) * 0.5f;
        const int32_t v = nearestCandidate(e, at, 0.4f * length(P[c[1]] - P[c[0]]));
        if (v >= 0)
            edits.push_back(
                insertEdit(e, t, m, (*e.candidates)[size_t(v)], (*e.candidateNormals)[size_t(v)]));
    }
    for (int k = 0; k < 3; ++k) {
        edits.push_back(collapseEdit(e, c[k], c[(k + 1) % 3], maxAimCollapseDeviation));
        edits.push_back(collapseEdit(e, c[(k + 1) % 3], c[k], maxAimCollapseDeviation));
    }
    // Each corner moved a little along the surface (to the render vertex nearest a point a
    // fifth of a mean edge away: outwards, inwards, and either way across), reshaping the
    // triangle and its neighbours without changing which points make them.
    for (int k = 0; k < 3; ++k) {
        const Vector3 out = unitOrZero(P[c[k]] - centre);
        const Vector3 across = unitOrZero(cross(out, e.surfaceNormals[size_t(c[k])]));
        for (const Vector3& way : {out, out * -1.0f, across, across * -1.0f}) {
            const int32_t v = nearestCandidate(e, P[c[k]] + way * (moveStep * e.scale),
                                               0.5f * moveStep * e.scale);
            if (v >= 0)
                edits.push_back(moveEdit(e, c[k], (*e.candidates)[size_t(v)],
                                         (*e.candidateNormals)[size_t(v)]));
        }
    }
    // Across the nearest side, where a vertex that the binding kept at its sample's
    // parameters has its nearest surface point: the neighbour's other edges flipped, the
    // vertex made a control point in it, or the render vertex nearest its centre.
    const int32_t u = neighbour(e, c[nearest], c[(nearest + 1) % 3]);
    if (u < 0)
        return;
    const int32_t* d = e.triangles[size_t(u)].index;
    for (int k = 0; k < 3; ++k)
        if (!((d[k] == c[nearest] || d[k] == c[(nearest + 1) % 3]) &&
              (d[(k + 1) % 3] == c[nearest] || d[(k + 1) % 3] == c[(nearest + 1) % 3])))
            edits.push_back(flipEdit(e, u, k));
    edits.push_back(
        insertEdit(e, u, -1, vertices.positions[size_t(i)], vertices.normals[size_t(i)]));
    const Vector3 beyond = (P[d[0]] + P[d[1]] + P[d[2]]) * (1.0f / 3.0f);
    const int32_t v = nearestCandidate(e, beyond, 0.4f * length(P[d[1]] - P[d[0]]));
    if (v >= 0)
        edits.push_back(
            insertEdit(e, u, -1, (*e.candidates)[size_t(v)], (*e.candidateNormals)[size_t(v)]));
}

// Makes the edit where every rule still holds around it (an insertion with the mending
// around its new point, insertMended); false, with nothing changed, where it cannot.
bool makeWithinRules(Editor& e, CageReport& report, const Edit& edit) {
    if (edit.kind == Edit::insertion)
        return insertMended(e, report, edit);
    std::vector<int32_t> corners, slots;
    editCorners(corners, e, edit);
    const int32_t brokenBefore = localShortfall(e, corners, rules).broken;
    if (!applyEdit(e, edit, slots))
        return false;
    if (localShortfall(e, corners, rules).broken > brokenBefore) {
        undoEdit(e, edit, slots);
        return false;
    }
    countEdit(report, edit);
    return true;
}

// The sum of the excess beyond the aims.
double excessSum(const std::vector<float>& excess) {
    double sum = 0.0;
    for (float x : excess)
        sum += std::max(0.0, double(x) - 1.0);
    return sum;
}

} // namespace

void settleToAims(SettleResult& result, Editor& e, CageReport& report,
                  const BoundVertices& vertices) {
    int32_t trials = 0;
    std::vector<Edit> edits;
    std::vector<int32_t> region, judges, corners;
    std::vector<float> before, after;
    std::vector<uint8_t> attached;
    int32_t allowedLoose = -1;
    Editor best;
    CageReport bestReport;
    double bestScore = 0.0;
    // The last pass only binds, to judge the one before.
    for (int pass = 0; pass <= maxAimPasses; ++pass) {
        Bound b;
        bindInFacingOrder(b, e, vertices);
        int32_t loose = 0;
        for (int32_t i = 0; i < b.model->renderVertexCount; ++i)
            loose += b.model->attachments[i].subPatch < 0;
        const float N = float(b.model->renderVertexCount);
        if (allowedLoose < 0)
            allowedLoose = std::max(loose + int32_t(letGoShare * N), int32_t(maxLooseShare * N));
        // The whole mesh's score, as the judges' below; a pass whose edits made it worse
        // elsewhere (a vertex none of them judged) is undone, and the settling stops.
        const double score = excessSum(b.excess) + letGoWeight * double(loose);
        if (pass > 0 && !(score < bestScore)) {
            e = best;
            report = bestReport;
            break;
        }
        best = e;
        bestReport = report;
        bestScore = score;
        result.excess = excessSum(b.excess);
        result.loose = loose;
        result.vertices = b.model->renderVertexCount;
        result.thrown = 0;
        for (float x : b.excess)
            result.thrown += x > 1.0f;
        std::vector<int32_t> thrown, unattached;
        for (size_t i = 0; i < b.excess.size(); ++i) {
            if (b.excess[i] > 1.0f)
                thrown.push_back(int32_t(i));
            if (b.model->attachments[int32_t(i)].subPatch < 0)
                unattached.push_back(int32_t(i));
        }
        if (thrown.empty() || pass == maxAimPasses || trials >= maxAimTrials)
            break;
        std::stable_sort(thrown.begin(), thrown.end(), [&](int32_t x, int32_t y) {
            return b.excess[size_t(x)] > b.excess[size_t(y)];
        });
        Hanging hanging;
        findHanging(hanging, *b.model, b.slot, e);
        std::vector<uint8_t> touched(e.points.size(), 0), tried(b.cage.triangles.size(), 0);
        int32_t kept = 0;
        for (int32_t i : thrown) {
            if (trials >= maxAimTrials)
                break;
            const Attachment& a = b.model->attachments[i];
            const int32_t t = b.slot[size_t(a.subPatch / 3)];
            if (!e.alive[size_t(t)] || tried[size_t(a.subPatch / 3)])
                continue;
            tried[size_t(a.subPatch / 3)] = 1;
            const int32_t c[3] = {e.triangles[size_t(t)].index[0], e.triangles[size_t(t)].index[1],
                                  e.triangles[size_t(t)].index[2]};
            if (touched[size_t(c[0])] || touched[size_t(c[1])] || touched[size_t(c[2])])
                continue;
            // The judges: the vertices on the triangles within three rings of this one, as
            // bound in the pass (an edit changes the sub-patches within a ring of its points,
            // and a move of a point changes those within a ring of it).
            trianglesAround(region, e, {c[0], c[1], c[2]}, 3);
            // And every vertex unattached, which the edit may take up anywhere.
            judges = unattached;
            judges.push_back(i);
            for (int32_t r : region)
                if (size_t(r) < hanging.compactOf.size() && hanging.compactOf[size_t(r)] >= 0) {
                    const size_t on = size_t(hanging.compactOf[size_t(r)]);
                    judges.insert(
                        judges.end(), hanging.vertices.entries.begin() + hanging.vertices.first[on],
                        hanging.vertices.entries.begin() + hanging.vertices.first[on + 1]);
                }
            sortUnique(judges);
            before.resize(judges.size());
            for (size_t k = 0; k < judges.size(); ++k)
                before[k] = b.excess[size_t(judges[k])];
            const double sumBefore = excessSum(before);
            const float largestBefore =
                std::max(1.0f, *std::max_element(before.begin(), before.end()));
            aimEdits(edits, e, t, a, vertices, i);
            for (const Edit& edit : edits) {
                if (edit.removed.empty() || trials >= maxAimTrials)
                    continue;
                ++trials;
                const Editor saved = e;
                const CageReport counted = report;
                bool helps = makeWithinRules(e, report, edit);
                if (helps) {
                    judgeOnWholeMesh(after, attached, e, judges, vertices);
                    int32_t lost = 0;
                    for (size_t k = 0; k < judges.size(); ++k)
                        lost += int32_t(b.model->attachments[judges[k]].subPatch >= 0) -
                                int32_t(attached[k]);
                    helps = (lost <= 0 || loose + lost <= allowedLoose) &&
                            *std::max_element(after.begin(), after.end()) <= largestBefore &&
                            excessSum(after) + letGoWeight * double(std::max(0, lost)) <
                                sumBefore - minExcessGain;
                    if (helps)
                        loose += std::max(0, lost);
                }
                if (!helps) {
                    e = saved;
                    report = counted;
                    continue;
                }
                ++kept;
                // The neighbourhood is settled for this pass.
                touchAround(touched, e, c);
                break;
            }
        }
        if (kept == 0)
            break;
    }
}
