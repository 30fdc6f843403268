// The automatic control mesh: the simplifier's result made to keep the rules of
// import_cage.h by local edits (edge flips, edge collapses, and at last dropping
// triangles), then refined where the binding amplifies moves: render vertices near the
// worst ones become control points, splitting the control triangle or edge they lie on.
#include "tools/import/import_cage.h"

#include "face/amplification.h"
#include "face/face_model.h"
#include "face/sample_index.h"
#include "io/normals.h"
#include "face/workers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <unordered_map>

namespace {

// A bound on the repair passes over the triangles that break a rule (each pass edits every
// one it can); what is left then is dropped.
constexpr int maxRepairPasses = 20;
// Passes of mending towards the aims (which are not rules): each pass over a head of a few
// hundred triangles costs some tens of milliseconds.
constexpr int aimPasses = 3;
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
// The share of bound vertices a control mesh may leave unattached before the choice of the
// best round counts it against the mesh, and how much: 10 per share, a tenth per per cent.
constexpr float maxLooseShare = 0.02f;
constexpr float looseWeight = 10.0f;
// The automatic control mesh is first simplified to this share of the points asked, the
// rest being kept for the refinement.
constexpr float simplifiedShare = 0.85f;
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
// Mending towards the aims collapses a point only when it lies within this share of the
// mean control edge of the triangles that replace its own: of 0.05, 0.1, 0.15 and 0.25,
// 0.1 gave the smallest amplification over the seven heads of the corpus.
constexpr float maxAimCollapseDeviation = 0.1f;
// Shape flips, made only to raise the smaller quality of two triangles, keep the surface:
// the two diagonals lie within this share of the mean control edge of each other.
constexpr float maxShapeFlipDeviation = 0.05f;

uint64_t sideKey(int32_t a, int32_t b) { return uint64_t(uint32_t(a)) << 32 | uint32_t(b); }

float triangleQuality(const Vector3& a, const Vector3& b, const Vector3& c) {
    const float squares = dot(b - a, b - a) + dot(c - b, c - b) + dot(a - c, a - c);
    const float area = 0.5f * length(cross(b - a, c - a));
    return squares > 0.0f ? 4.0f * std::sqrt(3.0f) * area / squares : 0.0f;
}

Vector3 unitOr0(const Vector3& v) {
    const float len = length(v);
    return len > 0.0f ? v / len : Vector3{0.0f, 0.0f, 0.0f};
}

// Thresholds of the local shape a triangle keeps: its quality, the cosine between its
// normal and each neighbour's, and between its normal and each corner's normal.
struct Shape {
    float quality, foldCosine, cornerCosine;
};
// The rules (import_cage.h).
constexpr Shape rules = {minTriangleQuality, foldCosine, minCornerCosine};
// What the mending aims at beyond them, where an edit gets there: quality 0.4 (a smallest
// angle of about 25°), normals within 90° of each neighbour's and 60° of each corner's. The
// worst vertices of the corpus's heads (amplification 2 to 14) hung on triangles of quality
// 0.08 to 0.24 or with a corner's normal 76° to 80° away.
constexpr Shape aims = {0.4f, 0.0f, 0.5f};

// A control mesh being edited: triangles are never moved, only marked dead, so that an
// edit can be undone; each directed side belongs to at most one live triangle. New points
// come from a set of render vertices (the candidates), found through a k-d tree.
struct Editor {
    std::vector<Vector3> points;
    std::vector<Vector3> surfaceNormals; // the render surface's normal at each point
    std::vector<Triangle> triangles;
    std::vector<uint8_t> alive;
    std::vector<std::vector<int32_t>> around; // live triangles at each point
    std::unordered_map<uint64_t, int32_t> sides;
    std::vector<uint8_t> pinned; // points the refinement inserted: kept
    int32_t usedPoints = 0;
    int32_t minPoints = 0, maxPoints = 0; // no collapse below, no insertion above
    float scale = 1.0f;                   // mean control edge length, for deviations
    const std::vector<Vector3>* candidates = nullptr;
    const std::vector<Vector3>* candidateNormals = nullptr;
    SampleIndex* candidateIndex = nullptr;
};

const std::vector<int32_t> noTriangles;

// An edit: the live triangles removed and the triangles added in their place, with a new
// point (index points.size() when the edit is made) where it inserts one.
struct Edit {
    std::vector<int32_t> removed;
    std::vector<Triangle> added;
    float cost = 0.0f; // how far it moves the surface, in mean edges (smaller is better)
    enum Kind { flip, collapse, drop, insertion } kind = flip;
    bool addsPoint = false;
    Vector3 position = {0, 0, 0}, normal = {0, 0, 0};
};

void place(Editor& e, int32_t t) {
    e.alive[size_t(t)] = 1;
    const int32_t* i = e.triangles[size_t(t)].index;
    for (int k = 0; k < 3; ++k) {
        e.sides[sideKey(i[k], i[(k + 1) % 3])] = t;
        std::vector<int32_t>& list = e.around[size_t(i[k])];
        e.usedPoints += list.empty();
        list.push_back(t);
    }
}

void unplace(Editor& e, int32_t t) {
    e.alive[size_t(t)] = 0;
    const int32_t* i = e.triangles[size_t(t)].index;
    for (int k = 0; k < 3; ++k) {
        e.sides.erase(sideKey(i[k], i[(k + 1) % 3]));
        std::vector<int32_t>& list = e.around[size_t(i[k])];
        list.erase(std::find(list.begin(), list.end(), t));
        e.usedPoints -= list.empty();
    }
}

int32_t neighbour(const Editor& e, int32_t a, int32_t b) {
    const auto it = e.sides.find(sideKey(b, a));
    return it == e.sides.end() ? -1 : it->second;
}

int32_t thirdCorner(const Triangle& t, int32_t a, int32_t b) {
    for (int k = 0; k < 3; ++k)
        if (t.index[k] != a && t.index[k] != b)
            return t.index[k];
    return -1;
}

// Whether t can join the live triangles: three corners, none of its sides in use (a side
// in use means a third triangle on an edge or two running it the same way), and no
// triangle on the same points facing the other way.
bool fits(const Editor& e, const Triangle& t) {
    const int32_t* i = t.index;
    if (i[0] == i[1] || i[1] == i[2] || i[2] == i[0])
        return false;
    for (int k = 0; k < 3; ++k)
        if (e.sides.count(sideKey(i[k], i[(k + 1) % 3])))
            return false;
    const int32_t u = neighbour(e, i[0], i[1]);
    return u < 0 || thirdCorner(e.triangles[size_t(u)], i[0], i[1]) != i[2];
}

void undo(Editor& e, const Edit& edit, const std::vector<int32_t>& slots) {
    for (int32_t t : slots)
        unplace(e, t);
    for (int32_t t : edit.removed)
        place(e, t);
    if (edit.addsPoint) {
        e.points.pop_back();
        e.surfaceNormals.pop_back();
        e.around.pop_back();
    }
}

// Applies the edit, writing the new triangles' slots; false (and nothing changed) when an
// added triangle does not fit.
bool apply(Editor& e, const Edit& edit, std::vector<int32_t>& slots) {
    slots.clear();
    if (edit.addsPoint) {
        e.points.push_back(edit.position);
        e.surfaceNormals.push_back(edit.normal);
        e.around.emplace_back();
    }
    for (int32_t t : edit.removed)
        unplace(e, t);
    for (const Triangle& t : edit.added) {
        if (!fits(e, t)) {
            undo(e, edit, slots);
            return false;
        }
        slots.push_back(static_cast<int32_t>(e.triangles.size()));
        e.triangles.push_back(t);
        e.alive.push_back(0);
        place(e, slots.back());
    }
    return true;
}

Vector3 faceNormal(const Editor& e, int32_t t) {
    const int32_t* i = e.triangles[size_t(t)].index;
    const Vector3* P = e.points.data();
    return cross(P[i[1]] - P[i[0]], P[i[2]] - P[i[0]]);
}

// The point's normal as the face model makes it: the normalised sum of its face normals.
Vector3 pointNormal(const Editor& e, int32_t p) {
    Vector3 sum = {0.0f, 0.0f, 0.0f};
    for (int32_t t : e.around[size_t(p)])
        sum = sum + faceNormal(e, t);
    return normalizedSum(sum);
}

// How well a live triangle keeps a shape: the smallest of quality / shape.quality,
// (1 + cos) / (1 + shape.foldCosine) over its neighbours and the cosine to each corner's
// normal / shape.cornerCosine. It keeps the shape at 1 or more.
float score(const Editor& e, int32_t t, const Shape& shape) {
    const int32_t* i = e.triangles[size_t(t)].index;
    const Vector3* P = e.points.data();
    const Vector3 n = unitOr0(faceNormal(e, t));
    if (!(dot(n, n) > 0.0f))
        return 0.0f;
    float s = triangleQuality(P[i[0]], P[i[1]], P[i[2]]) / shape.quality;
    for (int k = 0; k < 3; ++k) {
        const int32_t u = neighbour(e, i[k], i[(k + 1) % 3]);
        if (u >= 0)
            s = std::min(s, (1.0f + dot(n, unitOr0(faceNormal(e, u)))) / (1.0f + shape.foldCosine));
        s = std::min(s, dot(n, pointNormal(e, i[k])) / shape.cornerCosine);
    }
    return s;
}

// The smallest score of the live triangles at the given points (a point an edit would
// insert has none before the edit).
float localScore(const Editor& e, const std::vector<int32_t>& corners, const Shape& shape) {
    float s = 1e30f;
    for (int32_t p : corners)
        for (int32_t t : size_t(p) < e.around.size() ? e.around[size_t(p)] : noTriangles)
            s = std::min(s, score(e, t, shape));
    return s;
}

// How far the live triangles at some points fall short of a shape: how many score below 1,
// and the sum of their shortfalls (1 − score, at most 1 each).
struct Shortfall {
    int32_t broken = 0;
    float deficit = 0.0f;
};

Shortfall localShortfall(const Editor& e, const std::vector<int32_t>& corners, const Shape& shape) {
    Shortfall f;
    std::vector<int32_t> seen;
    for (int32_t p : corners)
        for (int32_t t : size_t(p) < e.around.size() ? e.around[size_t(p)] : noTriangles)
            if (std::find(seen.begin(), seen.end(), t) == seen.end()) {
                seen.push_back(t);
                const float s = score(e, t, shape);
                if (!(s >= 1.0f)) {
                    ++f.broken;
                    f.deficit += 1.0f - std::max(0.0f, s);
                }
            }
    return f;
}

// The points of the edit's triangles, the new point included.
void editCorners(std::vector<int32_t>& corners, const Editor& e, const Edit& edit) {
    corners.clear();
    for (int32_t t : edit.removed)
        corners.insert(corners.end(), e.triangles[size_t(t)].index,
                       e.triangles[size_t(t)].index + 3);
    for (const Triangle& t : edit.added)
        corners.insert(corners.end(), t.index, t.index + 3);
    std::sort(corners.begin(), corners.end());
    corners.erase(std::unique(corners.begin(), corners.end()), corners.end());
}

bool onBorder(const Editor& e, int32_t p) {
    for (int32_t t : e.around[size_t(p)]) {
        const int32_t* i = e.triangles[size_t(t)].index;
        for (int k = 0; k < 3; ++k)
            if ((i[k] == p || i[(k + 1) % 3] == p) && neighbour(e, i[k], i[(k + 1) % 3]) < 0)
                return true;
    }
    return false;
}

Edit flipEdit(const Editor& e, int32_t t, int k) {
    Edit edit;
    const int32_t* i = e.triangles[size_t(t)].index;
    const int32_t x = i[k], y = i[(k + 1) % 3], z = i[(k + 2) % 3];
    const int32_t u = neighbour(e, x, y);
    if (u < 0)
        return edit;
    const int32_t d = thirdCorner(e.triangles[size_t(u)], x, y);
    edit.removed = {t, u};
    edit.added = {{{x, d, z}}, {{d, y, z}}};
    // How far apart the two diagonals lie, along the pair's normal.
    const Vector3* P = e.points.data();
    const Vector3 n = unitOr0(faceNormal(e, t) + faceNormal(e, u));
    edit.cost = std::abs(dot((P[x] + P[y]) * 0.5f - (P[z] + P[d]) * 0.5f, n)) / e.scale;
    return edit;
}

// Moves point from onto point to: its triangles that hold both go, the others are bent
// over to `to`. A border point only slides along its border, so that openings keep their
// outline; none is made while the mesh has only minPoints points.
Edit collapseEdit(const Editor& e, int32_t from, int32_t to, float maxDeviation) {
    Edit edit;
    if (e.usedPoints <= e.minPoints || (size_t(from) < e.pinned.size() && e.pinned[size_t(from)]))
        return edit;
    if (onBorder(e, from) && neighbour(e, from, to) >= 0 && neighbour(e, to, from) >= 0)
        return edit;
    edit.removed = e.around[size_t(from)];
    float deviation = 0.0f;
    const Vector3* P = e.points.data();
    for (int32_t t : edit.removed) {
        Triangle moved = e.triangles[size_t(t)];
        bool holdsBoth = false;
        for (int32_t& c : moved.index) {
            holdsBoth = holdsBoth || c == to;
            if (c == from)
                c = to;
        }
        if (holdsBoth)
            continue;
        edit.added.push_back(moved);
        const Vector3 n = unitOr0(
            cross(P[moved.index[1]] - P[moved.index[0]], P[moved.index[2]] - P[moved.index[0]]));
        deviation = std::max(deviation, std::abs(dot(P[from] - P[moved.index[0]], n)));
    }
    if (deviation > maxDeviation * e.scale) {
        edit.removed.clear();
        return edit;
    }
    // A small premium: a flip that does as well keeps the point.
    edit.cost = 0.05f + deviation / e.scale;
    edit.kind = Edit::collapse;
    return edit;
}

Edit dropEdit(const Editor& e, int32_t t) {
    Edit edit;
    edit.removed = {t};
    const int32_t* i = e.triangles[size_t(t)].index;
    const Vector3* P = e.points.data();
    float longest = 0.0f;
    for (int k = 0; k < 3; ++k)
        longest = std::max(longest, length(P[i[(k + 1) % 3]] - P[i[k]]));
    const float height = longest > 0.0f ? length(faceNormal(e, t)) / longest : 0.0f;
    edit.cost = 0.5f + height / e.scale;
    edit.kind = Edit::drop;
    return edit;
}

// Inserts position (a render vertex, with its surface normal) as a new point: into
// triangle t, or onto its side k (from corner k to k + 1) and the triangle beyond it when k
// is 0, 1 or 2.
Edit insertEdit(const Editor& e, int32_t t, int k, const Vector3& position, const Vector3& normal) {
    Edit edit;
    if (e.usedPoints >= e.maxPoints)
        return edit;
    const int32_t* i = e.triangles[size_t(t)].index;
    for (int c = 0; c < 3; ++c)
        if (length(position - e.points[size_t(i[c])]) <= 1e-3f * e.scale)
            return edit;
    const int32_t p = static_cast<int32_t>(e.points.size());
    edit.kind = Edit::insertion;
    edit.addsPoint = true;
    edit.position = position;
    edit.normal = normal;
    // A premium over flips and light collapses: an insertion spends the point budget.
    edit.cost = 0.15f;
    edit.removed = {t};
    if (k < 0) {
        edit.added = {{{i[0], i[1], p}}, {{i[1], i[2], p}}, {{i[2], i[0], p}}};
        return edit;
    }
    const int32_t x = i[k], y = i[(k + 1) % 3], z = i[(k + 2) % 3];
    edit.added = {{{x, p, z}}, {{p, y, z}}};
    const int32_t u = neighbour(e, x, y);
    if (u >= 0) {
        const int32_t d = thirdCorner(e.triangles[size_t(u)], x, y);
        edit.removed.push_back(u);
        edit.added.push_back({{y, p, d}});
        edit.added.push_back({{p, x, d}});
    }
    return edit;
}

// The candidate render vertex nearest to point, if it lies within reach of it.
int32_t nearestCandidate(const Editor& e, const Vector3& point, float reach) {
    float distance;
    const int32_t n = e.candidateIndex->pointCount;
    const int32_t i =
        findNearestSampleIndexed(distance, *e.candidateIndex, e.candidateNormals->data(), point,
                                 Vector3{0, 0, 0}, n + 1, reach, 0.0f);
    return i;
}

void count(CageReport& report, const Edit& edit) {
    report.flips += edit.kind == Edit::flip;
    report.collapses += edit.kind == Edit::collapse;
    report.dropped += edit.kind == Edit::drop ? int32_t(edit.removed.size()) : 0;
    report.inserted += edit.kind == Edit::insertion;
}

// Mends one triangle that falls short of a shape: of the flips and collapses of its
// edges, the insertions of the render vertices nearest its sides' middles and its centre
// (within the point budget) and, when allowed and it lies on a border, dropping it: the
// cheapest edit after which every triangle around keeps the shape, else the one that raises
// the smallest score around the most. No edit may break a rule that held. Returns whether
// an edit was made.
bool mendTriangle(Editor& e, CageReport& report, int32_t t, const Shape& shape, bool drops) {
    // Beyond the rules a collapse may only take a point that hardly shapes the surface.
    const float maxDeviation = drops ? 1e30f : maxAimCollapseDeviation;
    std::vector<Edit> edits;
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
    // The cheapest edit after which every triangle around keeps the shape; else the one
    // that lowers the shortfall around the most without breaking more triangles. No edit
    // may break more rules than were broken.
    std::vector<int32_t> corners, slots;
    const Edit* best = nullptr;
    bool bestValid = false;
    float bestGain = 0.0f, bestCost = 0.0f;
    for (const Edit& edit : edits) {
        if (edit.removed.empty())
            continue;
        editCorners(corners, e, edit);
        const Shortfall before = localShortfall(e, corners, shape);
        const Shortfall rulesBefore = localShortfall(e, corners, rules);
        if (!apply(e, edit, slots))
            continue;
        const Shortfall after = localShortfall(e, corners, shape);
        const Shortfall rulesAfter = localShortfall(e, corners, rules);
        undo(e, edit, slots);
        if (rulesAfter.broken > rulesBefore.broken || after.broken > before.broken)
            continue;
        const bool valid = after.broken == 0;
        const float gain = before.deficit - after.deficit;
        const bool better = valid ? !bestValid || edit.cost < bestCost
                                  : !bestValid && gain > 1e-4f && gain > bestGain;
        if (better) {
            best = &edit;
            bestValid = valid;
            bestGain = gain;
            bestCost = edit.cost;
        }
    }
    if (!best)
        return false;
    apply(e, *best, slots);
    count(report, *best);
    return true;
}

std::vector<int32_t> shortTriangles(const Editor& e, const Shape& shape) {
    std::vector<std::pair<float, int32_t>> found;
    for (int32_t t = 0; t < int32_t(e.triangles.size()); ++t)
        if (e.alive[size_t(t)]) {
            const float s = score(e, t, shape);
            if (!(s >= 1.0f))
                found.push_back({s, t});
        }
    std::sort(found.begin(), found.end());
    std::vector<int32_t> list;
    for (const auto& f : found)
        list.push_back(f.second);
    return list;
}

// Edits until every live triangle keeps the shape, or no edit helps any more, in at most
// the given passes over the triangles.
void mend(Editor& e, CageReport& report, const Shape& shape, bool drops, int passes) {
    for (int pass = 0; pass < passes; ++pass) {
        bool changed = false;
        for (int32_t t : shortTriangles(e, shape))
            if (e.alive[size_t(t)] && !(score(e, t, shape) >= 1.0f))
                changed = mendTriangle(e, report, t, shape, drops) || changed;
        if (!changed)
            break;
    }
}

// Mends every triangle that breaks a rule; what no edit mends is dropped, the worst first.
void repair(Editor& e, CageReport& report) {
    mend(e, report, rules, true, maxRepairPasses);
    std::vector<int32_t> slots;
    for (std::vector<int32_t> broken = shortTriangles(e, rules); !broken.empty();
         broken = shortTriangles(e, rules)) {
        Edit edit;
        edit.removed = {broken[0]};
        edit.kind = Edit::drop;
        apply(e, edit, slots);
        count(report, edit);
    }
}

// Flips edges where that raises the smaller quality of the two triangles by a tenth, the
// surface stays (maxShapeFlipDeviation) and every triangle around keeps the rules.
void improveShapes(Editor& e, CageReport& report) {
    std::vector<int32_t> corners, slots;
    for (int pass = 0; pass < 4; ++pass) {
        bool changed = false;
        for (int32_t t = 0; t < int32_t(e.triangles.size()); ++t)
            for (int k = 0; k < 3 && e.alive[size_t(t)]; ++k) {
                const Edit edit = flipEdit(e, t, k);
                if (edit.removed.empty() || edit.cost > maxShapeFlipDeviation)
                    continue;
                const Vector3* P = e.points.data();
                float before = 1.0f, after = 1.0f;
                for (int32_t r : edit.removed) {
                    const int32_t* i = e.triangles[size_t(r)].index;
                    before = std::min(before, triangleQuality(P[i[0]], P[i[1]], P[i[2]]));
                }
                for (const Triangle& a : edit.added)
                    after = std::min(after,
                                     triangleQuality(P[a.index[0]], P[a.index[1]], P[a.index[2]]));
                if (!(after > 1.1f * before))
                    continue;
                editCorners(corners, e, edit);
                if (!apply(e, edit, slots))
                    continue;
                if (localScore(e, corners, rules) >= 1.0f) {
                    ++report.flips;
                    changed = true;
                } else {
                    undo(e, edit, slots);
                }
            }
        if (!changed)
            break;
    }
}

// Forgets the dead triangles (edits leave them behind for undoing).
void dropDead(Editor& e) {
    std::vector<Triangle> live;
    for (size_t t = 0; t < e.triangles.size(); ++t)
        if (e.alive[t])
            live.push_back(e.triangles[t]);
    e.triangles.clear();
    e.alive.clear();
    e.sides.clear();
    e.around.assign(e.points.size(), {});
    e.usedPoints = 0;
    for (const Triangle& t : live) {
        e.triangles.push_back(t);
        e.alive.push_back(0);
        place(e, static_cast<int32_t>(e.triangles.size()) - 1);
    }
}

// Inserts a point and mends the triangles around it that break a rule (edits that keep
// the new point); undoes it all unless every triangle around keeps the rules then.
bool insertMended(Editor& e, CageReport& report, const Edit& insertion) {
    const Editor before = e;
    const CageReport counted = report;
    std::vector<int32_t> slots, corners;
    if (!apply(e, insertion, slots))
        return false;
    const int32_t p = static_cast<int32_t>(e.points.size()) - 1;
    count(report, insertion);
    // The points around the new one and their triangles: where the insertion changed the
    // normals.
    const auto ring = [&]() {
        corners.clear();
        for (int32_t t : e.around[size_t(p)])
            corners.insert(corners.end(), e.triangles[size_t(t)].index,
                           e.triangles[size_t(t)].index + 3);
        std::sort(corners.begin(), corners.end());
        corners.erase(std::unique(corners.begin(), corners.end()), corners.end());
    };
    for (int pass = 0; pass < 3; ++pass) {
        ring();
        if (localShortfall(e, corners, rules).broken == 0) {
            e.pinned.resize(e.points.size(), 0);
            e.pinned[size_t(p)] = 1;
            return true;
        }
        std::vector<int32_t> broken;
        for (int32_t q : corners)
            for (int32_t t : e.around[size_t(q)])
                if (!(score(e, t, rules) >= 1.0f))
                    broken.push_back(t);
        for (int32_t t : broken)
            if (e.alive[size_t(t)] && !(score(e, t, rules) >= 1.0f))
                mendTriangle(e, report, t, rules, false);
        if (e.around[size_t(p)].empty())
            break;
    }
    ring();
    if (!e.around[size_t(p)].empty() && localShortfall(e, corners, rules).broken == 0) {
        e.pinned.resize(e.points.size(), 0);
        e.pinned[size_t(p)] = 1;
        return true;
    }
    e = before;
    report = counted;
    return false;
}

// Offsets of a compressed list per item: item i's entries are entries[first[i] ..
// first[i + 1] − 1].
struct Lists {
    std::vector<int32_t> first, entries;
};

// The attached vertices of the model per control triangle.
void hangingVertices(Lists& lists, const FaceModel& model) {
    const int32_t L = model.controlTriangleCount;
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
}

// The editor's triangles listed (their indices) as a control mesh, points renumbered in order
// of first use; pointOf[p] is the editor's point of point p.
void cageOf(ControlCage& cage, std::vector<int32_t>& pointOf, const Editor& e,
            const std::vector<int32_t>& triangles) {
    std::vector<unsigned> indices;
    for (int32_t t : triangles)
        for (int k = 0; k < 3; ++k)
            indices.push_back(unsigned(e.triangles[size_t(t)].index[k]));
    std::vector<int32_t> identity(e.points.size());
    for (size_t p = 0; p < identity.size(); ++p)
        identity[p] = int32_t(p);
    compactIndices(cage.points, pointOf, indices, e.points, identity);
    cage.triangles.resize(triangles.size());
    for (size_t t = 0; t < triangles.size(); ++t)
        for (int k = 0; k < 3; ++k)
            cage.triangles[t].index[k] = int32_t(indices[3 * t + size_t(k)]);
}

// The live triangles as a control mesh (cageOf); slot[t] is the editor's triangle of
// triangle t.
void compactCage(ControlCage& cage, std::vector<int32_t>& slot, std::vector<int32_t>& pointOf,
                 const Editor& e) {
    slot.clear();
    for (int32_t t = 0; t < int32_t(e.triangles.size()); ++t)
        if (e.alive[size_t(t)])
            slot.push_back(t);
    cageOf(cage, pointOf, e, slot);
}

// The simplifier's triangles in the editor: repeated triangles once, pairs back to back
// not at all; each part joined by edges of two triangles turned to run its edges
// consistently and to face the render surface; a triangle that would make a third on an
// edge dropped.
void startEditor(Editor& e, CageReport& report, const ControlCage& simplified,
                 const std::vector<Vector3>& surfaceNormals) {
    e.points = simplified.points;
    e.surfaceNormals = surfaceNormals;
    e.around.assign(e.points.size(), {});
    const int32_t L = static_cast<int32_t>(simplified.triangles.size());
    std::vector<Triangle> tris = simplified.triangles;

    // Sorted corners find repeats; both orientations among them make a back-to-back pair.
    std::vector<std::pair<std::array<int32_t, 3>, int32_t>> sorted;
    for (int32_t t = 0; t < L; ++t) {
        std::array<int32_t, 3> c = {tris[size_t(t)].index[0], tris[size_t(t)].index[1],
                                    tris[size_t(t)].index[2]};
        std::sort(c.begin(), c.end());
        sorted.push_back({c, t});
    }
    std::sort(sorted.begin(), sorted.end());
    std::vector<uint8_t> keep(size_t(L), 1);
    for (size_t i = 0; i < sorted.size();) {
        size_t j = i;
        bool reversed = false;
        while (j < sorted.size() && sorted[j].first == sorted[i].first) {
            const int32_t* a = tris[size_t(sorted[i].second)].index;
            const int32_t* b = tris[size_t(sorted[j].second)].index;
            // Same orientation: b is a rotation of a.
            const bool same = (a[0] == b[0] && a[1] == b[1]) || (a[0] == b[1] && a[1] == b[2]) ||
                              (a[0] == b[2] && a[1] == b[0]);
            reversed = reversed || !same;
            keep[size_t(sorted[j].second)] = j == i;
            ++j;
        }
        if (reversed)
            for (size_t s = i; s < j; ++s)
                keep[size_t(sorted[s].second)] = 0;
        report.dropped += int32_t(j - i) - (reversed ? 0 : 1);
        i = j;
    }

    // Triangles per undirected edge, and parts through edges of exactly two triangles.
    std::unordered_map<uint64_t, std::vector<int32_t>> edgeTriangles;
    for (int32_t t = 0; t < L; ++t)
        if (keep[size_t(t)])
            for (int k = 0; k < 3; ++k) {
                const int32_t a = tris[size_t(t)].index[k], b = tris[size_t(t)].index[(k + 1) % 3];
                edgeTriangles[sideKey(std::min(a, b), std::max(a, b))].push_back(t);
            }
    std::vector<int32_t> order, partStart;
    std::vector<uint8_t> seen(size_t(L), 0);
    for (int32_t seed = 0; seed < L; ++seed) {
        if (!keep[size_t(seed)] || seen[size_t(seed)])
            continue;
        partStart.push_back(static_cast<int32_t>(order.size()));
        seen[size_t(seed)] = 1;
        order.push_back(seed);
        for (size_t q = order.size() - 1; q < order.size(); ++q) {
            const int32_t t = order[q];
            for (int k = 0; k < 3; ++k) {
                const int32_t a = tris[size_t(t)].index[k], b = tris[size_t(t)].index[(k + 1) % 3];
                const std::vector<int32_t>& on =
                    edgeTriangles[sideKey(std::min(a, b), std::max(a, b))];
                if (on.size() != 2)
                    continue;
                const int32_t u = on[0] == t ? on[1] : on[0];
                if (seen[size_t(u)])
                    continue;
                // u must run the edge from b to a.
                int32_t* c = tris[size_t(u)].index;
                for (int m = 0; m < 3; ++m)
                    if (c[m] == a && c[(m + 1) % 3] == b)
                        std::swap(c[1], c[2]);
                seen[size_t(u)] = 1;
                order.push_back(u);
            }
        }
    }
    partStart.push_back(static_cast<int32_t>(order.size()));
    // Each part faces the render surface; the largest parts are placed first.
    std::vector<int32_t> parts(partStart.size() - 1);
    for (size_t p = 0; p < parts.size(); ++p) {
        parts[p] = static_cast<int32_t>(p);
        double facing = 0.0;
        for (int32_t j = partStart[p]; j < partStart[p + 1]; ++j) {
            const int32_t* i = tris[size_t(order[size_t(j)])].index;
            const Vector3* P = e.points.data();
            facing += dot(cross(P[i[1]] - P[i[0]], P[i[2]] - P[i[0]]),
                          surfaceNormals[size_t(i[0])] + surfaceNormals[size_t(i[1])] +
                              surfaceNormals[size_t(i[2])]);
        }
        if (facing < 0.0)
            for (int32_t j = partStart[p]; j < partStart[p + 1]; ++j)
                std::swap(tris[size_t(order[size_t(j)])].index[1],
                          tris[size_t(order[size_t(j)])].index[2]);
    }
    std::stable_sort(parts.begin(), parts.end(), [&](int32_t a, int32_t b) {
        return partStart[size_t(a) + 1] - partStart[size_t(a)] >
               partStart[size_t(b) + 1] - partStart[size_t(b)];
    });
    for (int32_t p : parts)
        for (int32_t j = partStart[size_t(p)]; j < partStart[size_t(p) + 1]; ++j) {
            const Triangle& t = tris[size_t(order[size_t(j)])];
            if (!fits(e, t)) {
                ++report.dropped;
                continue;
            }
            e.triangles.push_back(t);
            e.alive.push_back(0);
            place(e, static_cast<int32_t>(e.triangles.size()) - 1);
        }
    double sum = 0.0;
    size_t edges = 0;
    for (const Triangle& t : e.triangles)
        for (int k = 0; k < 3; ++k, ++edges)
            sum += length(e.points[size_t(t.index[(k + 1) % 3])] - e.points[size_t(t.index[k])]);
    e.scale = edges > 0 && sum > 0.0 ? float(sum / double(edges)) : 1.0f;
}

// The render vertices the refinement binds: all of them, or an even sample of a large mesh.
struct BoundVertices {
    std::vector<Vector3> positions, normals;
};

// Binds the bound vertices to the cage and measures their excess (N), the attachments
// through model.
std::unique_ptr<FaceModel> bindAndMeasure(std::vector<float>& excess, const ControlCage& cage,
                                          const BoundVertices& bound) {
    std::unique_ptr<FaceModel> model = bindCage(cage, bound.positions, bound.normals);
    measureExcess(excess, *model, cage);
    return model;
}

// The live triangles within the given number of rings of the point the editor inserted
// last: ring 0 its triangles, ring n + 1 the triangles at the points of ring n.
void triangleRings(std::vector<int32_t>& triangles, const Editor& e, int rings) {
    triangles = e.around.back();
    for (int r = 0; r < rings; ++r) {
        std::vector<int32_t> points;
        for (int32_t t : triangles)
            points.insert(points.end(), e.triangles[size_t(t)].index,
                          e.triangles[size_t(t)].index + 3);
        for (int32_t q : points)
            triangles.insert(triangles.end(), e.around[size_t(q)].begin(),
                             e.around[size_t(q)].end());
        std::sort(triangles.begin(), triangles.end());
        triangles.erase(std::unique(triangles.begin(), triangles.end()), triangles.end());
    }
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

} // namespace

bool makeAutomaticCage(ControlCage& cage, CageReport& report, std::string& error,
                       const std::vector<Vector3>& positions, const std::vector<Vector3>& normals,
                       const std::vector<Triangle>& triangles, int32_t targetPoints,
                       int32_t minPoints) {
    report = CageReport();
    ControlCage welded, simplified;
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
    report.simplifiedPoints = static_cast<int32_t>(simplified.points.size());
    std::vector<Vector3> surfaceNormals(simplified.points.size());
    for (size_t p = 0; p < surfaceNormals.size(); ++p)
        surfaceNormals[p] = weldedNormals[size_t(weldedOf[p])];

    // The render vertices bound in each round, with the normals the model file's reader
    // gives them; they are the candidates for new points too.
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

    Editor e;
    e.minPoints = minPoints;
    e.maxPoints = targetPoints;
    e.candidates = &candidates;
    e.candidateNormals = &candidateNormals;
    e.candidateIndex = &candidateIndex;
    startEditor(e, report, simplified, surfaceNormals);
    repair(e, report);
    mend(e, report, aims, false, aimPasses);
    improveShapes(e, report);

    ControlCage current, best;
    std::vector<Vector3> bestNormals, currentNormals;
    float bestScore = 0.0f;
    int32_t bestAbove = 0, bestLoose = 0;
    int staleRounds = 0; // rounds since the best
    std::vector<int32_t> slot, pointOf;
    std::vector<float> excess;
    const int rounds =
        positions.size() > maxBoundVertices
            ? sampledMeshRounds
            : int(std::max(size_t(1), std::min(size_t(maxRefinementRounds),
                                               refinementVertexRounds /
                                                   std::max(size_t(1), bound.positions.size()))));
    for (int round = 0; round < rounds; ++round) {
        dropDead(e);
        compactCage(current, slot, pointOf, e);
        // The points fitted to the bound vertices: fully at first, then a few steps after
        // each round's edits.
        currentNormals.resize(pointOf.size());
        for (size_t p = 0; p < pointOf.size(); ++p)
            currentNormals[p] = e.surfaceNormals[size_t(pointOf[p])];
        FitReport fit;
        std::unique_ptr<FaceModel> model =
            fitCage(current, fit, fitted.positions, fitted.normals, currentNormals,
                    round == 0 ? firstFitSteps : roundFitSteps);
        report.fitSteps += fit.iterations;
        for (size_t p = 0; p < pointOf.size(); ++p)
            e.points[size_t(pointOf[p])] = current.points[p];
        // A mesh fitted whole is bound already.
        if (fitted.positions.size() == bound.positions.size())
            measureExcess(excess, *model, current);
        else
            model = bindAndMeasure(excess, current, bound);
        ++report.rounds;
        // The vertices beyond an aim, the worst first, then those that hang far from the
        // surface, then the unattached.
        enum Kind : uint8_t { fine, beyondAim, notAttached, hangsFar };
        std::vector<uint8_t> kind(excess.size());
        parallelFor(sharedWorkers(), int64_t(excess.size()), 1024,
                    [&](int64_t begin, int64_t end, int32_t) {
                        for (int64_t i = begin; i < end; ++i) {
                            const Attachment& a = model->attachments[i];
                            Vector3 Q;
                            SubPatchFrame frame;
                            kind[size_t(i)] =
                                excess[size_t(i)] > 1.0f ? beyondAim
                                : a.subPatch < 0         ? notAttached
                                : model->evaluateFrame(Q, frame, a.subPatch, a.u, a.v) &&
                                        length(a.restPosition - Q) > farDistance
                                    ? hangsFar
                                    : fine;
                        }
                    });
        std::vector<int32_t> bad, far, unattached;
        float largest = 0.0f;
        for (size_t i = 0; i < excess.size(); ++i) {
            largest = std::max(largest, excess[i]);
            if (kind[i] != fine)
                (kind[i] == beyondAim     ? bad
                 : kind[i] == notAttached ? unattached
                                          : far)
                    .push_back(int32_t(i));
        }
        const int32_t above = static_cast<int32_t>(bad.size());
        const int32_t loose = static_cast<int32_t>(unattached.size());
        // The best round: the smallest score, the excess down to the aims plus a tenth for
        // every per cent of the bound vertices left unattached beyond maxLooseShare (an edit
        // that gives up a part the surface carried is worse than a small excess), then the
        // fewest unattached, then the fewest beyond an aim.
        const float looseShare = float(loose) / float(std::max<size_t>(1, excess.size()));
        const float score =
            std::max(largest, 1.0f) + looseWeight * std::max(0.0f, looseShare - maxLooseShare);
        if (round == 0 || score < bestScore ||
            (score == bestScore &&
             (loose < bestLoose || (loose == bestLoose && above < bestAbove)))) {
            best = current;
            bestNormals = currentNormals;
            bestScore = score;
            bestAbove = above;
            bestLoose = loose;
            staleRounds = 0;
        } else if (++staleRounds >= maxStaleRounds) {
            break;
        }
        if ((bad.empty() && unattached.empty() && far.empty()) || e.usedPoints >= e.maxPoints)
            break;

        // One edit per neighbourhood and round: a vertex becomes a control point in the
        // triangle it hangs on (an unattached one: the triangle of its nearest sample), or
        // on the side it lies near; for one near a corner the triangle gets the best of its
        // other edits.
        std::sort(bad.begin(), bad.end(),
                  [&](int32_t a, int32_t b) { return excess[size_t(a)] > excess[size_t(b)]; });
        SampleIndex samples;
        if (!unattached.empty())
            buildSampleIndex(samples, model->samplePositions.get(), model->sampleCount);
        bad.insert(bad.end(), far.begin(), far.end());
        bad.insert(bad.end(), unattached.begin(), unattached.end());
        // The bound vertices hanging on each triangle, and the triangle of each editor slot.
        Lists hanging;
        hangingVertices(hanging, *model);
        std::vector<int32_t> compactOf(e.triangles.size(), -1);
        for (size_t t = 0; t < slot.size(); ++t)
            compactOf[size_t(slot[t])] = int32_t(t);
        std::vector<uint8_t> touched(e.points.size(), 0), tried(current.triangles.size(), 0);
        int32_t edits = 0, trials = 0;
        for (int32_t i : bad) {
            Attachment a = model->attachments[i];
            if (a.subPatch < 0) {
                float distance;
                const int32_t sample = findNearestSampleIndexed(
                    distance, samples, model->sampleNormals.get(), bound.positions[size_t(i)],
                    bound.normals[size_t(i)], hintingFreeSampleLimit,
                    std::numeric_limits<float>::infinity(), minNormalDot);
                if (sample < 0)
                    continue;
                a.subPatch = sample / samplesPerSubPatch;
                a.u = model->sampleParameters[sample % samplesPerSubPatch].u;
                a.v = model->sampleParameters[sample % samplesPerSubPatch].v;
            }
            if (e.usedPoints >= e.maxPoints)
                break;
            const int32_t t = slot[size_t(a.subPatch / 3)];
            // One attempt per triangle and round.
            if (!e.alive[size_t(t)] || tried[size_t(a.subPatch / 3)])
                continue;
            tried[size_t(a.subPatch / 3)] = 1;
            const int32_t c[3] = {e.triangles[size_t(t)].index[0], e.triangles[size_t(t)].index[1],
                                  e.triangles[size_t(t)].index[2]};
            if (touched[size_t(c[0])] || touched[size_t(c[1])] || touched[size_t(c[2])])
                continue;
            float l[3];
            cornerWeights(l, a.subPatch, a.u, a.v);
            int low = 0, below = 0;
            for (int m = 0; m < 3; ++m) {
                low = l[m] < l[low] ? m : low;
                below += l[m] < minInsertWeight;
            }
            // Insertions to try, the first that helps taken: the vertex itself (into the
            // triangle, or onto the side facing a corner it lies near), the render vertex
            // nearest the triangle's centre, and those nearest its sides' middles.
            std::vector<Edit> tries;
            tries.push_back(insertEdit(e, t, below == 0 ? -1 : (low + 1) % 3,
                                       bound.positions[size_t(i)], bound.normals[size_t(i)]));
            {
                const Vector3* P = e.points.data();
                const Vector3 centre = (P[c[0]] + P[c[1]] + P[c[2]]) * (1.0f / 3.0f);
                for (int m = -1; m < 3; ++m) {
                    const Vector3 at = m < 0 ? centre : (P[c[m]] + P[c[(m + 1) % 3]]) * 0.5f;
                    const int32_t v = nearestCandidate(e, at, 0.4f * length(P[c[1]] - P[c[0]]));
                    if (v >= 0 && v != i)
                        tries.push_back(insertEdit(e, t, m, bound.positions[size_t(v)],
                                                   bound.normals[size_t(v)]));
                }
            }
            bool made = false;
            for (const Edit& edit : tries) {
                if (edit.removed.empty() || trials >= maxTrialsPerRound)
                    continue;
                ++trials;
                // The vertices that hung within one ring of the new point, or on the
                // triangles the edits replaced, and the vertex itself judge it: bound
                // again around the new point, none may get worse beyond the aim, and one
                // must get better or attached.
                const Editor before = e;
                const CageReport counted = report;
                made = insertMended(e, report, edit);
                if (made) {
                    std::vector<int32_t> judges = {i}, near;
                    triangleRings(near, e, 1);
                    near.insert(near.end(), edit.removed.begin(), edit.removed.end());
                    for (int32_t r : near) {
                        const int32_t old =
                            size_t(r) < compactOf.size() ? compactOf[size_t(r)] : -1;
                        if (old >= 0)
                            for (int32_t j = hanging.first[size_t(old)];
                                 j < hanging.first[size_t(old) + 1]; ++j)
                                judges.push_back(hanging.entries[size_t(j)]);
                    }
                    std::sort(judges.begin(), judges.end());
                    judges.erase(std::unique(judges.begin(), judges.end()), judges.end());
                    thinJudges(judges, i, excess, *model);
                    made = insertionHelps(e, excess, *model, judges, bound);
                }
                if (made)
                    break;
                e = before;
                report = counted;
            }
            if (!made) {
                // The triangle's best mending edit instead; its neighbourhood stays open
                // to the insertions of other vertices.
                edits += mendTriangle(e, report, t, aims, false);
                continue;
            }
            ++edits;
            for (int32_t p : c)
                for (int32_t u : e.around[size_t(p)])
                    for (int32_t q : e.triangles[size_t(u)].index)
                        if (size_t(q) < touched.size())
                            touched[size_t(q)] = 1;
        }
        if (edits == 0)
            break;
        repair(e, report);
        // A round whose edits the mending undid would repeat itself.
        ControlCage next;
        std::vector<int32_t> nextSlot, nextPointOf;
        compactCage(next, nextSlot, nextPointOf, e);
        if (next.points == current.points && next.triangles.size() == current.triangles.size() &&
            std::equal(next.triangles.begin(), next.triangles.end(), current.triangles.begin(),
                       [](const Triangle& a, const Triangle& b) {
                           return std::equal(a.index, a.index + 3, b.index);
                       }))
            break;
    }

    // The last word is the rules' own check: a triangle that still breaks one is dropped.
    CageFaults faults;
    for (;;) {
        findCageFaults(faults, best, bestNormals);
        // A part whose edits turned it to face away from the render surface is turned
        // back as a whole (its triangles keep running their shared edges consistently).
        for (int32_t t : faults.triangles[facingAwayFault])
            std::swap(best.triangles[size_t(t)].index[1], best.triangles[size_t(t)].index[2]);
        if (!faults.triangles[facingAwayFault].empty())
            continue;
        std::vector<uint8_t> faulty(best.triangles.size(), 0);
        bool any = false;
        for (const std::vector<int32_t>& list : faults.triangles)
            for (int32_t t : list)
                any = (faulty[size_t(t)] = 1);
        if (!any)
            break;
        std::vector<Triangle> kept;
        for (size_t t = 0; t < best.triangles.size(); ++t)
            if (!faulty[t])
                kept.push_back(best.triangles[t]);
        report.dropped += int32_t(best.triangles.size() - kept.size());
        best.triangles.swap(kept);
    }
    // Points no triangle uses any more are dropped, the others renumbered in order of use.
    cage.points.clear();
    cage.triangles = best.triangles;
    std::vector<int32_t> number(best.points.size(), -1);
    for (Triangle& t : cage.triangles)
        for (int32_t& c : t.index) {
            if (number[size_t(c)] < 0) {
                number[size_t(c)] = static_cast<int32_t>(cage.points.size());
                cage.points.push_back(best.points[size_t(c)]);
            }
            c = number[size_t(c)];
        }
    if (static_cast<int32_t>(cage.points.size()) < minPoints) {
        error = "no valid control mesh of " + std::to_string(minPoints) +
                " points or more: after repairing the simplified mesh " +
                std::to_string(cage.points.size()) + " points remain";
        return false;
    }
    return true;
}
