#include "tools/import/cage_editor.h"

#include "face/sample_index.h"
#include "io/normals.h"
#include "tools/import/cage_edges.h"
#include "tools/import/cage_simplify.h"

#include <algorithm>
#include <cmath>

namespace {

// The key of the directed side from a to b in the editor's sides.
uint64_t sideKey(int32_t a, int32_t b) { return uint64_t(uint32_t(a)) << 32 | uint32_t(b); }

const std::vector<int32_t> noTriangles;

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

// A new triangle at the end of the editor's list, placed.
void append(Editor& e, const Triangle& t) {
    e.triangles.push_back(t);
    e.alive.push_back(0);
    place(e, static_cast<int32_t>(e.triangles.size()) - 1);
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

Vector3 faceNormal(const Editor& e, int32_t t) {
    return faceNormal(e.points.data(), e.triangles[size_t(t)]);
}

// The point's normal as the face model makes it: the normalised sum of its face normals.
Vector3 pointNormal(const Editor& e, int32_t p) {
    Vector3 sum = {0.0f, 0.0f, 0.0f};
    for (int32_t t : e.around[size_t(p)])
        sum = sum + faceNormal(e, t);
    return normalizedSum(sum);
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

// The simplifier's triangles with repeats and back-to-back pairs marked (keep: 0 for a
// triangle left out), each repeat left out counted in report.
void markRepeats(std::vector<uint8_t>& keep, CageReport& report,
                 const std::vector<Triangle>& tris) {
    const int32_t L = static_cast<int32_t>(tris.size());
    // Sorted corners find repeats; both orientations among them make a back-to-back pair.
    std::vector<SortedCorners> sorted;
    sortByCorners(sorted, tris.data(), L);
    keep.assign(size_t(L), 1);
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
}

// The kept triangles in parts joined by edges of exactly two kept triangles, each part
// grown breadth first from its lowest triangle: order receives the triangles part after
// part, partStart (parts + 1) where each part begins. Every triangle reached is turned, where
// needed, to run the edge it was reached over against the triangle it was reached from.
void orientParts(std::vector<int32_t>& order, std::vector<int32_t>& partStart,
                 std::vector<Triangle>& tris, const std::vector<uint8_t>& keep) {
    const int32_t L = static_cast<int32_t>(tris.size());
    EdgeAdjacency adjacency;
    buildEdgeAdjacency(adjacency, tris.data(), L, keep.data());
    order.clear();
    partStart.clear();
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
                const int32_t edge = edgeBetween(adjacency, t, a, b);
                const int32_t* on = adjacency.sides.data() + adjacency.first[size_t(edge)];
                if (adjacency.first[size_t(edge) + 1] - adjacency.first[size_t(edge)] != 2)
                    continue;
                const int32_t u = on[0] / 3 == t ? on[1] / 3 : on[0] / 3;
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
}

} // namespace

int32_t neighbour(const Editor& e, int32_t a, int32_t b) {
    const auto it = e.sides.find(sideKey(b, a));
    return it == e.sides.end() ? -1 : it->second;
}

void undoEdit(Editor& e, const Edit& edit, const std::vector<int32_t>& slots) {
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

bool applyEdit(Editor& e, const Edit& edit, std::vector<int32_t>& slots) {
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
            undoEdit(e, edit, slots);
            return false;
        }
        slots.push_back(static_cast<int32_t>(e.triangles.size()));
        append(e, t);
    }
    return true;
}

void countEdit(CageReport& report, const Edit& edit) {
    report.flips += edit.kind == Edit::flip;
    report.collapses += edit.kind == Edit::collapse;
    report.dropped += edit.kind == Edit::drop ? int32_t(edit.removed.size()) : 0;
    report.inserted += edit.kind == Edit::insertion;
}

float shapeScore(const Editor& e, int32_t t, const Shape& shape) {
    const int32_t* i = e.triangles[size_t(t)].index;
    const Vector3* P = e.points.data();
    const Vector3 n = unitOrZero(faceNormal(e, t));
    if (!(dot(n, n) > 0.0f))
        return 0.0f;
    float s = triangleQuality(P[i[0]], P[i[1]], P[i[2]]) / shape.quality;
    for (int k = 0; k < 3; ++k) {
        const int32_t u = neighbour(e, i[k], i[(k + 1) % 3]);
        if (u >= 0)
            s = std::min(s,
                         (1.0f + dot(n, unitOrZero(faceNormal(e, u)))) / (1.0f + shape.foldCosine));
        s = std::min(s, dot(n, pointNormal(e, i[k])) / shape.cornerCosine);
    }
    return s;
}

float localScore(const Editor& e, const std::vector<int32_t>& corners, const Shape& shape) {
    float s = 1e30f;
    for (int32_t p : corners)
        for (int32_t t : size_t(p) < e.around.size() ? e.around[size_t(p)] : noTriangles)
            s = std::min(s, shapeScore(e, t, shape));
    return s;
}

Shortfall localShortfall(const Editor& e, const std::vector<int32_t>& corners, const Shape& shape) {
    Shortfall f;
    std::vector<int32_t> seen;
    for (int32_t p : corners)
        for (int32_t t : size_t(p) < e.around.size() ? e.around[size_t(p)] : noTriangles)
            if (std::find(seen.begin(), seen.end(), t) == seen.end()) {
                seen.push_back(t);
                const float s = shapeScore(e, t, shape);
                if (!(s >= 1.0f)) {
                    ++f.broken;
                    f.deficit += 1.0f - std::max(0.0f, s);
                }
            }
    return f;
}

void sortUnique(std::vector<int32_t>& list) {
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
}

void editCorners(std::vector<int32_t>& corners, const Editor& e, const Edit& edit) {
    corners.clear();
    for (int32_t t : edit.removed)
        corners.insert(corners.end(), e.triangles[size_t(t)].index,
                       e.triangles[size_t(t)].index + 3);
    for (const Triangle& t : edit.added)
        corners.insert(corners.end(), t.index, t.index + 3);
    sortUnique(corners);
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
    const Vector3 n = unitOrZero(faceNormal(e, t) + faceNormal(e, u));
    edit.cost = std::abs(dot((P[x] + P[y]) * 0.5f - (P[z] + P[d]) * 0.5f, n)) / e.scale;
    return edit;
}

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
        const Vector3 n = unitOrZero(faceNormal(P, moved));
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

Edit moveEdit(const Editor& e, int32_t p, const Vector3& position, const Vector3& normal) {
    Edit edit;
    if ((size_t(p) < e.pinned.size() && e.pinned[size_t(p)]) ||
        length(position - e.points[size_t(p)]) <= 1e-3f * e.scale)
        return edit;
    const int32_t q = static_cast<int32_t>(e.points.size());
    edit.kind = Edit::move;
    edit.addsPoint = true;
    edit.position = position;
    edit.normal = normal;
    edit.removed = e.around[size_t(p)];
    for (int32_t t : edit.removed) {
        Triangle moved = e.triangles[size_t(t)];
        for (int32_t& c : moved.index)
            c = c == p ? q : c;
        edit.added.push_back(moved);
    }
    edit.cost = length(position - e.points[size_t(p)]) / e.scale;
    return edit;
}

int32_t nearestCandidate(const Editor& e, const Vector3& point, float reach) {
    float distance;
    const int32_t n = e.candidateIndex->pointCount;
    const int32_t i =
        findNearestSampleIndexed(distance, *e.candidateIndex, e.candidateNormals->data(), point,
                                 Vector3{0, 0, 0}, n + 1, reach, 0.0f);
    return i;
}

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
        sortUnique(triangles);
    }
}

void dropDead(Editor& e) {
    std::vector<int32_t> live;
    for (int32_t t = 0; t < int32_t(e.triangles.size()); ++t)
        if (e.alive[size_t(t)])
            live.push_back(t);
    placeInOrder(e, live);
}

void placeInOrder(Editor& e, const std::vector<int32_t>& slots) {
    std::vector<Triangle> live;
    for (int32_t t : slots)
        live.push_back(e.triangles[size_t(t)]);
    e.triangles.clear();
    e.alive.clear();
    e.sides.clear();
    e.around.assign(e.points.size(), {});
    e.usedPoints = 0;
    for (const Triangle& t : live)
        append(e, t);
}

void cageOf(ControlCage& cage, std::vector<int32_t>& pointOf, const Editor& e,
            const std::vector<int32_t>& triangles) {
    std::vector<Triangle> listed;
    listed.reserve(triangles.size());
    for (int32_t t : triangles)
        listed.push_back(e.triangles[size_t(t)]);
    compactTriangles(cage, pointOf, e.points, listed);
}

void compactCage(ControlCage& cage, std::vector<int32_t>& slot, std::vector<int32_t>& pointOf,
                 const Editor& e) {
    slot.clear();
    for (int32_t t = 0; t < int32_t(e.triangles.size()); ++t)
        if (e.alive[size_t(t)])
            slot.push_back(t);
    cageOf(cage, pointOf, e, slot);
}

void startEditor(Editor& e, CageReport& report, const ControlCage& simplified,
                 const std::vector<Vector3>& surfaceNormals) {
    e.points = simplified.points;
    e.surfaceNormals = surfaceNormals;
    e.around.assign(e.points.size(), {});
    std::vector<Triangle> tris = simplified.triangles;
    std::vector<uint8_t> keep;
    markRepeats(keep, report, tris);
    std::vector<int32_t> order, partStart;
    orientParts(order, partStart, tris, keep);

    // Each part faces the render surface; the largest parts are placed first.
    std::vector<int32_t> parts(partStart.size() - 1);
    for (size_t p = 0; p < parts.size(); ++p) {
        parts[p] = static_cast<int32_t>(p);
        double facing = 0.0;
        for (int32_t j = partStart[p]; j < partStart[p + 1]; ++j) {
            const Triangle& t = tris[size_t(order[size_t(j)])];
            const int32_t* i = t.index;
            facing += dot(faceNormal(e.points.data(), t), surfaceNormals[size_t(i[0])] +
                                                              surfaceNormals[size_t(i[1])] +
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
            append(e, t);
        }
    // The mean control edge, the editor's unit of deviation.
    double sum = 0.0;
    size_t edges = 0;
    for (const Triangle& t : e.triangles)
        for (int k = 0; k < 3; ++k, ++edges)
            sum += length(e.points[size_t(t.index[(k + 1) % 3])] - e.points[size_t(t.index[k])]);
    e.scale = edges > 0 && sum > 0.0 ? float(sum / double(edges)) : 1.0f;
}
