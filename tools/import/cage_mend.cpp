#include "tools/import/cage_mend.h"

#include <algorithm>
#include <utility>

namespace {

// A bound on the repair passes over the triangles that break a rule (each pass edits every
// one it can); what is left then is dropped.
constexpr int maxRepairPasses = 20;
// Passes of improveShapes over the triangles.
constexpr int shapePasses = 4;
// Rounds of mending around a point just inserted.
constexpr int insertionMendPasses = 3;
// Mending towards the aims collapses a point only when it lies within this share of the
// mean control edge of the triangles that replace its own: of 0.05, 0.1, 0.15 and 0.25,
// 0.1 gave the smallest amplification over the seven heads of the corpus.
constexpr float maxAimCollapseDeviation = 0.1f;
// Shape flips, made only to raise the smaller quality of two triangles, keep the surface:
// the two diagonals lie within this share of the mean control edge of each other.
constexpr float maxShapeFlipDeviation = 0.05f;

// The edits mendTriangle chooses from for live triangle t, in the order it tries them; some
// may be none (no triangles removed).
void mendingEdits(std::vector<Edit>& edits, const Editor& e, int32_t t, bool drops) {
    // Beyond the rules a collapse may only take a point that hardly shapes the surface.
    const float maxDeviation = drops ? 1e30f : maxAimCollapseDeviation;
    edits.clear();
    const int32_t* i = e.triangles[size_t(t)].index;
    const Vector3* P = e.points.data();
    bool border = false;
    for (int k = 0; k < 3; ++k) {
        const int32_t x = i[k], y = i[(k + 1) % 3];
        border = border || neighbour(e, x, y) < 0;
        edits.push_back(flipEdit(e, t, k));
        edits.push_back(collapseEdit(e, x, y, maxDeviation));
        edits.push_back(collapseEdit(e, y, x, maxDeviation));
        if (e.usedPoints < e.maxPoints) {
            const Vector3 middle = (P[x] + P[y]) * 0.5f;
            const int32_t v = nearestCandidate(e, middle, 0.4f * length(P[y] - P[x]));
            if (v >= 0)
                edits.push_back(insertEdit(e, t, k, (*e.candidates)[size_t(v)],
                                           (*e.candidateNormals)[size_t(v)]));
        }
    }
    if (e.usedPoints < e.maxPoints) {
        const Vector3 centre = (P[i[0]] + P[i[1]] + P[i[2]]) * (1.0f / 3.0f);
        const float reach =
            0.4f * std::min(length(P[i[1]] - P[i[0]]),
                            std::min(length(P[i[2]] - P[i[1]]), length(P[i[0]] - P[i[2]])));
        const int32_t v = nearestCandidate(e, centre, reach);
        if (v >= 0)
            edits.push_back(
                insertEdit(e, t, -1, (*e.candidates)[size_t(v)], (*e.candidateNormals)[size_t(v)]));
    }
    if (drops && border)
        edits.push_back(dropEdit(e, t));
}

// The edit of edits that mends best (see mendTriangle), each tried on the editor and
// undone; −1 when none helps.
int32_t bestMendingEdit(Editor& e, const std::vector<Edit>& edits, const Shape& shape) {
    std::vector<int32_t> corners, slots;
    int32_t best = -1;
    bool bestValid = false;
    float bestGain = 0.0f, bestCost = 0.0f;
    for (size_t n = 0; n < edits.size(); ++n) {
        const Edit& edit = edits[n];
        if (edit.removed.empty())
            continue;
        editCorners(corners, e, edit);
        const Shortfall before = localShortfall(e, corners, shape);
        const Shortfall rulesBefore = localShortfall(e, corners, rules);
        if (!applyEdit(e, edit, slots))
            continue;
        const Shortfall after = localShortfall(e, corners, shape);
        const Shortfall rulesAfter = localShortfall(e, corners, rules);
        undoEdit(e, edit, slots);
        if (rulesAfter.broken > rulesBefore.broken || after.broken > before.broken)
            continue;
        const bool valid = after.broken == 0;
        const float gain = before.deficit - after.deficit;
        const bool better = valid ? !bestValid || edit.cost < bestCost
                                  : !bestValid && gain > 1e-4f && gain > bestGain;
        if (better) {
            best = int32_t(n);
            bestValid = valid;
            bestGain = gain;
            bestCost = edit.cost;
        }
    }
    return best;
}

// The live triangles that fall short of the shape, the worst (lowest score) first.
std::vector<int32_t> shortTriangles(const Editor& e, const Shape& shape) {
    std::vector<std::pair<float, int32_t>> found;
    for (int32_t t = 0; t < int32_t(e.triangles.size()); ++t)
        if (e.alive[size_t(t)]) {
            const float s = shapeScore(e, t, shape);
            if (!(s >= 1.0f))
                found.push_back({s, t});
        }
    std::sort(found.begin(), found.end());
    std::vector<int32_t> list;
    for (const auto& f : found)
        list.push_back(f.second);
    return list;
}

// The smallest quality of the triangles (slots in the editor, or records).
float smallestQuality(const Editor& e, const std::vector<int32_t>& triangles) {
    const Vector3* P = e.points.data();
    float smallest = 1.0f;
    for (int32_t r : triangles) {
        const int32_t* i = e.triangles[size_t(r)].index;
        smallest = std::min(smallest, triangleQuality(P[i[0]], P[i[1]], P[i[2]]));
    }
    return smallest;
}

float smallestQuality(const Editor& e, const std::vector<Triangle>& triangles) {
    const Vector3* P = e.points.data();
    float smallest = 1.0f;
    for (const Triangle& a : triangles)
        smallest = std::min(smallest, triangleQuality(P[a.index[0]], P[a.index[1]], P[a.index[2]]));
    return smallest;
}

// The points of the triangles at point p, sorted and each once: where inserting p changed
// the normals.
void ringCorners(std::vector<int32_t>& corners, const Editor& e, int32_t p) {
    corners.clear();
    for (int32_t t : e.around[size_t(p)])
        corners.insert(corners.end(), e.triangles[size_t(t)].index,
                       e.triangles[size_t(t)].index + 3);
    sortUnique(corners);
}

void pin(Editor& e, int32_t p) {
    e.pinned.resize(e.points.size(), 0);
    e.pinned[size_t(p)] = 1;
}

} // namespace

bool mendTriangle(Editor& e, CageReport& report, int32_t t, const Shape& shape, bool drops) {
    std::vector<Edit> edits;
    mendingEdits(edits, e, t, drops);
    const int32_t best = bestMendingEdit(e, edits, shape);
    if (best < 0)
        return false;
    std::vector<int32_t> slots;
    applyEdit(e, edits[size_t(best)], slots);
    countEdit(report, edits[size_t(best)]);
    return true;
}

void mend(Editor& e, CageReport& report, const Shape& shape, bool drops, int passes) {
    for (int pass = 0; pass < passes; ++pass) {
        bool changed = false;
        for (int32_t t : shortTriangles(e, shape))
            if (e.alive[size_t(t)] && !(shapeScore(e, t, shape) >= 1.0f))
                changed = mendTriangle(e, report, t, shape, drops) || changed;
        if (!changed)
            break;
    }
}

void repair(Editor& e, CageReport& report) {
    mend(e, report, rules, true, maxRepairPasses);
    std::vector<int32_t> slots;
    for (std::vector<int32_t> broken = shortTriangles(e, rules); !broken.empty();
         broken = shortTriangles(e, rules)) {
        Edit edit;
        edit.removed = {broken[0]};
        edit.kind = Edit::drop;
        applyEdit(e, edit, slots);
        countEdit(report, edit);
    }
}

void improveShapes(Editor& e, CageReport& report) {
    std::vector<int32_t> corners, slots;
    for (int pass = 0; pass < shapePasses; ++pass) {
        bool changed = false;
        for (int32_t t = 0; t < int32_t(e.triangles.size()); ++t)
            for (int k = 0; k < 3 && e.alive[size_t(t)]; ++k) {
                const Edit edit = flipEdit(e, t, k);
                if (edit.removed.empty() || edit.cost > maxShapeFlipDeviation)
                    continue;
                const float before = smallestQuality(e, edit.removed);
                const float after = smallestQuality(e, edit.added);
                if (!(after > 1.1f * before))
                    continue;
                editCorners(corners, e, edit);
                if (!applyEdit(e, edit, slots))
                    continue;
                if (localScore(e, corners, rules) >= 1.0f) {
                    ++report.flips;
                    changed = true;
                } else {
                    undoEdit(e, edit, slots);
                }
            }
        if (!changed)
            break;
    }
}

bool insertMended(Editor& e, CageReport& report, const Edit& insertion) {
    const Editor before = e;
    const CageReport counted = report;
    std::vector<int32_t> slots, corners;
    if (!applyEdit(e, insertion, slots))
        return false;
    const int32_t p = static_cast<int32_t>(e.points.size()) - 1;
    countEdit(report, insertion);
    for (int pass = 0; pass < insertionMendPasses; ++pass) {
        ringCorners(corners, e, p);
        if (localShortfall(e, corners, rules).broken == 0) {
            pin(e, p);
            return true;
        }
        std::vector<int32_t> broken;
        for (int32_t q : corners)
            for (int32_t t : e.around[size_t(q)])
                if (!(shapeScore(e, t, rules) >= 1.0f))
                    broken.push_back(t);
        for (int32_t t : broken)
            if (e.alive[size_t(t)] && !(shapeScore(e, t, rules) >= 1.0f))
                mendTriangle(e, report, t, rules, false);
        if (e.around[size_t(p)].empty())
            break;
    }
    ringCorners(corners, e, p);
    if (!e.around[size_t(p)].empty() && localShortfall(e, corners, rules).broken == 0) {
        pin(e, p);
        return true;
    }
    e = before;
    report = counted;
    return false;
}
