#include "tools/import/cage_refine.h"

#include "face/amplification.h"
#include "face/face_model.h"
#include "face/sample_index.h"
#include "face/workers.h"
#include "tools/import/cage_fit.h"
#include "tools/import/cage_mend.h"
#include "tools/import/cage_order.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>

namespace {

// Refinement rounds, each binding the render vertices and measuring their amplification:
// at most 24, and at most as many as bind refinementVertexRounds vertices in all; a mesh
// too large to be bound whole gets sampledMeshRounds (a round over 40,000 vertices took
// about 0.1 s on the 2-core development VM, where a 1M-vertex scan must import within
// 5 times face-inspect's read and bind of the result, about 0.7 s).
constexpr int maxRefinementRounds = 24;
constexpr size_t refinementVertexRounds = 200000;
constexpr int sampledMeshRounds = 3;
// The refinement stops after this many rounds in a row that do not beat the best.
constexpr int maxStaleRounds = 4;
// The fit's steps (fitCage) on the first round's control mesh and after each round's edits.
constexpr int firstFitSteps = 8;
constexpr int roundFitSteps = 1;
// A bound vertex this far from its surface point is refined like one beyond an aim (after
// those): fitting alone did not bring it near.
constexpr float farDistance = 0.5f * maxAttachDistance;
// Each vertex left unattached beyond maxLooseShare counts in the choice of the best round as
// one whose excess is looseWeight over the aims.
constexpr float looseWeight = 1.0f;
// A render vertex becomes a control point inside its control triangle where its
// barycentric coordinates are all at least this (so that the three new triangles are not
// slivers); else it splits the side facing its smallest coordinate.
constexpr float minInsertWeight = 0.15f;
// The vertices that judge an insertion, at most about (thinJudges): a 1M-vertex scan's
// sample puts some 1,000 on the triangles around a new point.
constexpr size_t maxJudges = 256;
// Insertions tried per round, each bound locally (a few milliseconds): without a bound a
// mesh of many parts, where most fail, spent seconds in a round.
constexpr int32_t maxTrialsPerRound = 64;

// The rounds for a render mesh of renderVertexCount vertices of which boundCount are bound.
int refinementRounds(size_t renderVertexCount, size_t boundCount) {
    return renderVertexCount > maxBoundVertices
               ? sampledMeshRounds
               : int(std::max(size_t(1),
                              std::min(size_t(maxRefinementRounds),
                                       refinementVertexRounds / std::max(size_t(1), boundCount))));
}

// Binds the bound vertices to the cage and measures their excess (N), the attachments
// through model.
std::unique_ptr<FaceModel> bindAndMeasure(std::vector<float>& excess, const ControlCage& cage,
                                          const BoundVertices& bound) {
    std::unique_ptr<FaceModel> model = bindCage(cage, bound.positions, bound.normals);
    measureExcess(excess, *model, cage);
    return model;
}

// Thins the judges of an insertion (sorted) to about maxJudges: the vertex refined, every
// one beyond an aim and every unattached one stay (they decide whether it helps); of the
// others every k-th, which still catches a neighbourhood the insertion makes worse.
void thinJudges(std::vector<int32_t>& judges, int32_t refined, const std::vector<float>& excess,
                const FaceModel& model) {
    if (judges.size() <= maxJudges)
        return;
    const size_t stride = (judges.size() + maxJudges - 1) / maxJudges;
    size_t kept = 0;
    for (size_t k = 0; k < judges.size(); ++k) {
        const int32_t j = judges[k];
        if (j == refined || excess[size_t(j)] > 1.0f || model.attachments[j].subPatch < 0 ||
            k % stride == 0)
            judges[kept++] = j;
    }
    judges.resize(kept);
}

// Whether the point the editor inserted last helps the judges (bound vertices): bound to
// the triangles within two rings of it (all that shapes the sub-patches within one ring
// and their moves), none of them with an excess (measureExcess) beyond max(1, before), and
// one with less than before or attached where it was not. before holds the judges' excess
// in the model they were bound to.
bool insertionHelps(const Editor& e, const std::vector<float>& before, const FaceModel& model,
                    const std::vector<int32_t>& judges, const BoundVertices& bound) {
    std::vector<int32_t> triangles;
    triangleRings(triangles, e, 2);
    ControlCage local;
    std::vector<int32_t> pointOf;
    cageOf(local, pointOf, e, triangles);
    BoundVertices some;
    for (int32_t j : judges) {
        some.positions.push_back(bound.positions[size_t(j)]);
        some.normals.push_back(bound.normals[size_t(j)]);
    }
    // Most insertions fail, so the cheaper tests come first: the attachments, then the
    // amplification for small moves, then for moves of one unit.
    const std::unique_ptr<FaceModel> localModel = bindCage(local, some.positions, some.normals);
    for (size_t k = 0; k < judges.size(); ++k)
        if (model.attachments[judges[k]].subPatch >= 0 &&
            localModel->attachments[int32_t(k)].subPatch < 0)
            return false;
    std::vector<float> after(judges.size()), unit(judges.size());
    computeAmplification(after.data(), nullptr, *localModel, local.points.data(),
                         smallAmplificationStep);
    for (size_t k = 0; k < judges.size(); ++k)
        if (after[k] / targetAmplification > std::max(before[size_t(judges[k])], 1.0f))
            return false;
    computeAmplification(unit.data(), nullptr, *localModel, local.points.data(),
                         unitAmplificationStep);
    bool better = false;
    for (size_t k = 0; k < judges.size(); ++k) {
        const float was = before[size_t(judges[k])];
        const bool wasAttached = model.attachments[judges[k]].subPatch >= 0;
        const bool attached = localModel->attachments[int32_t(k)].subPatch >= 0;
        const float now =
            std::max(after[k] / targetAmplification, unit[k] / targetUnitAmplification);
        if (attached && now > std::max(was, 1.0f))
            return false;
        better = better || (attached && !wasAttached) || (attached && was > 1.0f && now < was);
    }
    return better;
}

// One round's control mesh: the editor's live triangles compacted and fitted, and the bound
// vertices bound to it.
struct RoundCage {
    ControlCage cage;
    std::vector<Vector3> surfaceNormals; // K: the render surface's normal at each point
    std::vector<int32_t> slot;           // L: the editor's triangle of each triangle
    std::vector<int32_t> pointOf;        // K: the editor's point of each point
    std::unique_ptr<FaceModel> model;    // the bound vertices bound to cage
    std::vector<float> excess;           // N: each bound vertex's excess (measureExcess)
};

// Step 1 of a round: the editor's live triangles as the round's control mesh (dead ones
// forgotten), its points fitted to the fitted vertices in fitSteps steps and written back
// to the editor, and the bound vertices bound and measured on it.
void fitAndBind(RoundCage& r, Editor& e, CageReport& report, const BoundVertices& bound,
                const BoundVertices& fitted, int fitSteps) {
    r.model.reset();
    dropDead(e);
    compactCage(r.cage, r.slot, r.pointOf, e);
    r.surfaceNormals.resize(r.pointOf.size());
    for (size_t p = 0; p < r.pointOf.size(); ++p)
        r.surfaceNormals[p] = e.surfaceNormals[size_t(r.pointOf[p])];
    FitReport fit;
    r.model = fitCage(r.cage, fit, fitted.positions, fitted.normals, r.surfaceNormals, fitSteps);
    report.fitSteps += fit.iterations;
    for (size_t p = 0; p < r.pointOf.size(); ++p)
        e.points[size_t(r.pointOf[p])] = r.cage.points[p];
    // A mesh fitted whole is bound already.
    if (fitted.positions.size() == bound.positions.size())
        measureExcess(r.excess, *r.model, r.cage);
    else
        r.model = bindAndMeasure(r.excess, r.cage, bound);
    // The triangles in the facing order (cage_order.h), bound again where it changed them.
    if (placeInFacingOrder(e, r.cage, r.slot, r.pointOf, *r.model, bound)) {
        for (size_t p = 0; p < r.pointOf.size(); ++p)
            r.surfaceNormals[p] = e.surfaceNormals[size_t(r.pointOf[p])];
        r.model = bindAndMeasure(r.excess, r.cage, bound);
    }
    ++report.rounds;
}

// The bound vertices that call for refinement, each in increasing order: those beyond an
// aim, those that hang farther than farDistance from their surface point, the unattached;
// and the largest excess of all.
struct Misfits {
    std::vector<int32_t> beyondAim, hangingFar, unattached;
    float largest = 0.0f;
};

// Step 2: the round's misfits.
void findMisfits(Misfits& m, const RoundCage& r) {
    const FaceModel& model = *r.model;
    const std::vector<float>& excess = r.excess;
    enum Kind : uint8_t { fine, beyondAim, notAttached, hangsFar };
    std::vector<uint8_t> kind(excess.size());
    parallelFor(sharedWorkers(), int64_t(excess.size()), 1024,
                [&](int64_t begin, int64_t end, int32_t) {
                    for (int64_t i = begin; i < end; ++i) {
                        const Attachment& a = model.attachments[i];
                        Vector3 Q;
                        SubPatchFrame frame;
                        kind[size_t(i)] = excess[size_t(i)] > 1.0f ? beyondAim
                                          : a.subPatch < 0         ? notAttached
                                          : model.evaluateFrame(Q, frame, a.subPatch, a.u, a.v) &&
                                                  length(a.restPosition - Q) > farDistance
                                              ? hangsFar
                                              : fine;
                    }
                });
    m = Misfits();
    for (size_t i = 0; i < excess.size(); ++i) {
        m.largest = std::max(m.largest, excess[i]);
        if (kind[i] != fine)
            (kind[i] == beyondAim     ? m.beyondAim
             : kind[i] == notAttached ? m.unattached
                                      : m.hangingFar)
                .push_back(int32_t(i));
    }
}

// The best round so far, and what it was judged by.
struct BestRound {
    ControlCage cage;
    std::vector<Vector3> surfaceNormals; // K
    float score = 0.0f;
    int32_t above = 0, loose = 0;
};

// Step 3: keeps the round as the best when it is the first or beats the best: the smallest
// score, the sum over the bound vertices of their excess beyond the aims (each at most
// brokenExcess), plus looseWeight for every vertex left unattached beyond maxLooseShare of
// them (an edit that gives up a part the surface carried is worse than a small excess), then
// the fewest unattached, then the fewest beyond an aim. The sum, not the largest excess alone,
// so that a round that mends most of the vertices beyond the aims counts as better even while
// one move still breaks a sub-patch somewhere. Returns whether it was kept.
bool keepIfBest(BestRound& best, const RoundCage& r, const Misfits& m, bool first) {
    const int32_t above = static_cast<int32_t>(m.beyondAim.size());
    const int32_t loose = static_cast<int32_t>(m.unattached.size());
    double total = 0.0;
    for (int32_t i : m.beyondAim)
        total += double(r.excess[size_t(i)]) - 1.0;
    const double allowed = double(maxLooseShare) * double(r.excess.size());
    const float score = float(total + double(looseWeight) * std::max(0.0, double(loose) - allowed));
    if (!(first || score < best.score ||
          (score == best.score &&
           (loose < best.loose || (loose == best.loose && above < best.above)))))
        return false;
    best.cage = r.cage;
    best.surfaceNormals = r.surfaceNormals;
    best.score = score;
    best.above = above;
    best.loose = loose;
    return true;
}

// Where bound vertex i meets the round's surface: a, its attachment, or for an unattached
// vertex the point of its nearest sample (samples, the model's) under the binding's normal
// rule. False when it has none.
bool surfacePoint(Attachment& a, SampleIndex& samples, const RoundCage& r,
                  const BoundVertices& bound, int32_t i) {
    const FaceModel& model = *r.model;
    a = model.attachments[i];
    if (a.subPatch >= 0)
        return true;
    float distance;
    const int32_t sample = findNearestSampleIndexed(
        distance, samples, model.sampleNormals.get(), bound.positions[size_t(i)],
        bound.normals[size_t(i)], hintingFreeSampleLimit, std::numeric_limits<float>::infinity(),
        minNormalDot);
    if (sample < 0)
        return false;
    a.subPatch = sample / samplesPerSubPatch;
    a.u = model.sampleParameters[sample % samplesPerSubPatch].u;
    a.v = model.sampleParameters[sample % samplesPerSubPatch].v;
    return true;
}

// The insertions to try for bound vertex i, at a on editor triangle t (corners c), the first
// that helps taken: the vertex itself (into the triangle, or onto the side facing a corner
// it lies near), the render vertex nearest the triangle's centre, and those nearest its
// sides' middles. Some may be none.
void insertionTries(std::vector<Edit>& tries, const Editor& e, int32_t t, const int32_t c[3],
                    const Attachment& a, const BoundVertices& bound, int32_t i) {
    float l[3];
    cornerWeights(l, a.subPatch, a.u, a.v);
    int low = 0, below = 0;
    for (int m = 0; m < 3; ++m) {
        low = l[m] < l[low] ? m : low;
        below += l[m] < minInsertWeight;
    }
    tries.clear();
    tries.push_back(insertEdit(e, t, below == 0 ? -1 : (low + 1) % 3, bound.positions[size_t(i)],
                               bound.normals[size_t(i)]));
    const Vector3* P = e.points.data();
    const Vector3 centre = (P[c[0]] + P[c[1]] + P[c[2]]) * (1.0f / 3.0f);
    for (int m = -1; m < 3; ++m) {
        const Vector3 at = m < 0 ? centre : (P[c[m]] + P[c[(m + 1) % 3]]) * 0.5f;
        const int32_t v = nearestCandidate(e, at, 0.4f * length(P[c[1]] - P[c[0]]));
        if (v >= 0 && v != i)
            tries.push_back(
                insertEdit(e, t, m, bound.positions[size_t(v)], bound.normals[size_t(v)]));
    }
}

// The judges of insertion, just made for bound vertex i: the vertex itself and the
// vertices that hung within one ring of the new point or on the triangles the insertion
// replaced, sorted, thinned (thinJudges).
void insertionJudges(std::vector<int32_t>& judges, const Editor& e, const Edit& insertion,
                     const RoundCage& r, const Hanging& h, int32_t i) {
    std::vector<int32_t> near;
    judges = {i};
    triangleRings(near, e, 1);
    near.insert(near.end(), insertion.removed.begin(), insertion.removed.end());
    for (int32_t t : near) {
        const int32_t old = size_t(t) < h.compactOf.size() ? h.compactOf[size_t(t)] : -1;
        if (old >= 0)
            for (int32_t j = h.vertices.first[size_t(old)]; j < h.vertices.first[size_t(old) + 1];
                 ++j)
                judges.push_back(h.vertices.entries[size_t(j)]);
    }
    sortUnique(judges);
    thinJudges(judges, i, r.excess, *r.model);
}

// Makes the first of tries that helps bound vertex i and its neighbours: each inserted and
// mended (insertMended), bound again around the new point, where none of the judges may get
// worse beyond the aim and one must get better or attached; else undone, report included.
// trials counts the insertions tried in the round; none past maxTrialsPerRound. Returns
// whether one was made.
bool insertFirstThatHelps(Editor& e, CageReport& report, int32_t& trials,
                          const std::vector<Edit>& tries, const RoundCage& r, const Hanging& h,
                          const BoundVertices& bound, int32_t i) {
    std::vector<int32_t> judges;
    for (const Edit& edit : tries) {
        if (edit.removed.empty() || trials >= maxTrialsPerRound)
            continue;
        ++trials;
        const Editor before = e;
        const CageReport counted = report;
        bool made = insertMended(e, report, edit);
        if (made) {
            insertionJudges(judges, e, edit, r, h, i);
            made = insertionHelps(e, r.excess, *r.model, judges, bound);
        }
        if (made)
            return true;
        e = before;
        report = counted;
    }
    return false;
}

// Step 4: one edit per neighbourhood and round, for the misfits in turn (those beyond an
// aim the worst first, then those hanging far, then the unattached): a vertex becomes a
// control point in the triangle it hangs on (an unattached one: the triangle of its nearest
// sample), or on the side it lies near (insertionTries); where no insertion helps, the
// triangle gets its best mending edit towards the aims instead, and its neighbourhood stays
// open to the insertions of other vertices. One attempt per triangle and kind of misfit
// tried (the unattached with looseTrials, refineCage). Returns the edits made.
int32_t refineNearMisfits(Editor& e, CageReport& report, Misfits& m, const RoundCage& r,
                          const BoundVertices& bound, bool looseTrials) {
    const std::vector<float>& excess = r.excess;
    std::vector<int32_t>& order = m.beyondAim;
    std::sort(order.begin(), order.end(),
              [&](int32_t a, int32_t b) { return excess[size_t(a)] > excess[size_t(b)]; });
    SampleIndex samples;
    if (!m.unattached.empty())
        buildSampleIndex(samples, r.model->samplePositions.get(), r.model->sampleCount,
                         int64_t(m.unattached.size()));
    const size_t looseFirst = order.size() + m.hangingFar.size();
    order.insert(order.end(), m.hangingFar.begin(), m.hangingFar.end());
    order.insert(order.end(), m.unattached.begin(), m.unattached.end());
    Hanging hanging;
    findHanging(hanging, *r.model, r.slot, e);
    std::vector<uint8_t> touched(e.points.size(), 0), tried(r.cage.triangles.size(), 0);
    std::vector<Edit> tries;
    // With looseTrials, where more than maxLooseShare of the vertices are unattached, those,
    // tried last, have a budget of trials of their own, so that they are tried at all; past
    // it they are left for the next round.
    const bool tooLoose =
        looseTrials && double(m.unattached.size()) > double(maxLooseShare) * double(excess.size());
    int32_t edits = 0, trialsOf[2] = {0, 0};
    for (size_t k = 0; k < order.size(); ++k) {
        const int32_t i = order[k];
        const int kind = tooLoose && k >= looseFirst ? 1 : 0;
        int32_t& trials = trialsOf[kind];
        if (kind == 1 && trials >= maxTrialsPerRound)
            break;
        Attachment a;
        if (!surfacePoint(a, samples, r, bound, i))
            continue;
        if (e.usedPoints >= e.maxPoints)
            break;
        const int32_t t = r.slot[size_t(a.subPatch / 3)];
        const uint8_t bit = uint8_t(1 << kind);
        if (!e.alive[size_t(t)] || (tried[size_t(a.subPatch / 3)] & bit))
            continue;
        tried[size_t(a.subPatch / 3)] |= bit;
        const int32_t c[3] = {e.triangles[size_t(t)].index[0], e.triangles[size_t(t)].index[1],
                              e.triangles[size_t(t)].index[2]};
        if (touched[size_t(c[0])] || touched[size_t(c[1])] || touched[size_t(c[2])])
            continue;
        insertionTries(tries, e, t, c, a, bound, i);
        if (!insertFirstThatHelps(e, report, trials, tries, r, hanging, bound, i)) {
            edits += mendTriangle(e, report, t, aims, false);
            continue;
        }
        ++edits;
        touchAround(touched, e, c);
    }
    return edits;
}

// Whether the editor's live triangles make the same control mesh as cage: a round whose
// edits the repair undid would repeat itself.
bool sameAsRound(const Editor& e, const ControlCage& cage) {
    ControlCage next;
    std::vector<int32_t> nextSlot, nextPointOf;
    compactCage(next, nextSlot, nextPointOf, e);
    return next.points == cage.points && next.triangles.size() == cage.triangles.size() &&
           std::equal(next.triangles.begin(), next.triangles.end(), cage.triangles.begin(),
                      [](const Triangle& a, const Triangle& b) {
                          return std::equal(a.index, a.index + 3, b.index);
                      });
}

} // namespace

void findHanging(Hanging& h, const FaceModel& model, const std::vector<int32_t>& slot,
                 const Editor& e) {
    const int32_t L = model.controlTriangleCount;
    Lists& lists = h.vertices;
    lists.first.assign(size_t(L) + 1, 0);
    for (int32_t i = 0; i < model.renderVertexCount; ++i)
        if (model.attachments[i].subPatch >= 0)
            ++lists.first[size_t(model.attachments[i].subPatch / 3) + 1];
    for (int32_t t = 0; t < L; ++t)
        lists.first[size_t(t) + 1] += lists.first[size_t(t)];
    lists.entries.resize(size_t(lists.first[size_t(L)]));
    std::vector<int32_t> next(lists.first.begin(), lists.first.end() - 1);
    for (int32_t i = 0; i < model.renderVertexCount; ++i)
        if (model.attachments[i].subPatch >= 0)
            lists.entries[size_t(next[size_t(model.attachments[i].subPatch / 3)]++)] = i;
    h.compactOf.assign(e.triangles.size(), -1);
    for (size_t t = 0; t < slot.size(); ++t)
        h.compactOf[size_t(slot[t])] = int32_t(t);
}

void touchAround(std::vector<uint8_t>& touched, const Editor& e, const int32_t c[3]) {
    for (int n = 0; n < 3; ++n)
        for (int32_t u : e.around[size_t(c[n])])
            for (int32_t q : e.triangles[size_t(u)].index)
                if (size_t(q) < touched.size())
                    touched[size_t(q)] = 1;
}

bool placeInFacingOrder(Editor& e, ControlCage& cage, std::vector<int32_t>& slot,
                        std::vector<int32_t>& pointOf, const FaceModel& model,
                        const BoundVertices& vertices) {
    std::vector<int32_t> order;
    int32_t marked;
    facingOrder(order, marked, model, vertices.positions.data(), vertices.normals.data(),
                int32_t(vertices.positions.size()));
    bool same = true;
    for (size_t k = 0; k < order.size(); ++k)
        same = same && order[k] == int32_t(k);
    if (same)
        return false;
    std::vector<int32_t> slots(order.size());
    for (size_t k = 0; k < order.size(); ++k)
        slots[k] = slot[size_t(order[k])];
    placeInOrder(e, slots);
    compactCage(cage, slot, pointOf, e);
    return true;
}

void refineCage(ControlCage& best, std::vector<Vector3>& bestNormals, Editor& e, CageReport& report,
                const BoundVertices& bound, const BoundVertices& fitted, size_t renderVertexCount,
                bool looseTrials) {
    BestRound kept;
    int staleRounds = 0; // rounds since the best
    RoundCage current;
    const int rounds = refinementRounds(renderVertexCount, bound.positions.size());
    for (int round = 0; round < rounds; ++round) {
        fitAndBind(current, e, report, bound, fitted, round == 0 ? firstFitSteps : roundFitSteps);
        Misfits misfits;
        findMisfits(misfits, current);
        if (keepIfBest(kept, current, misfits, round == 0))
            staleRounds = 0;
        else if (++staleRounds >= maxStaleRounds)
            break;
        const bool allFit =
            misfits.beyondAim.empty() && misfits.unattached.empty() && misfits.hangingFar.empty();
        if (allFit || e.usedPoints >= e.maxPoints)
            break;
        if (refineNearMisfits(e, report, misfits, current, bound, looseTrials) == 0)
            break;
        repair(e, report);
        if (sameAsRound(e, current.cage))
            break;
    }
    best = std::move(kept.cage);
    bestNormals = std::move(kept.surfaceNormals);
}
