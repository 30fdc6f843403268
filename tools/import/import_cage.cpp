#include "tools/import/import_cage.h"

#include "face/face_model.h"
#include "face/sample_index.h"
#include "geometry/patches.h"
#include "io/normals.h"

#include <meshoptimizer.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <tuple>

namespace {

// Disjoint sets over the items 0 .. n − 1 (union-find with path halving).
struct DisjointSets {
    std::vector<int32_t> parent;
    explicit DisjointSets(int32_t n) : parent(static_cast<size_t>(n)) {
        std::iota(parent.begin(), parent.end(), 0);
    }
    int32_t find(int32_t i) {
        while (parent[size_t(i)] != i)
            i = parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
        return i;
    }
    void join(int32_t a, int32_t b) { parent[size_t(find(a))] = find(b); }
};

// The simplifier may remove any amount of detail: only the point count limits it.
constexpr float unlimitedError = 1.0f;
// A mesh above this many triangles is first clustered to about this many, which takes
// 75 ms on a 1M-vertex scan where one quadric pass took 1.1 s (the 2-core development VM).
constexpr size_t largeMeshTriangles = 100000;
// The quadric pass goes to this many times the points asked; the final count is then
// searched on that result (about 13 passes over a mesh of a few thousand triangles).
constexpr size_t intermediatePointsPerTarget = 8;

float triangleQuality(const Vector3& a, const Vector3& b, const Vector3& c) {
    const float squares = dot(b - a, b - a) + dot(c - b, c - b) + dot(a - c, a - c);
    const float area = 0.5f * length(cross(b - a, c - a));
    return squares > 0.0f ? 4.0f * std::sqrt(3.0f) * area / squares : 0.0f;
}

size_t usedPoints(const std::vector<unsigned>& indices, size_t indexCount,
                  std::vector<uint8_t>& seen) {
    std::memset(seen.data(), 0, seen.size());
    size_t count = 0;
    for (size_t i = 0; i < indexCount; ++i)
        if (!seen[indices[i]]) {
            seen[indices[i]] = 1;
            ++count;
        }
    return count;
}

// The fewest points not below targetPoints (or, for a mesh with fewer, as many as it
// keeps), searched over the target index count of meshopt_simplify on one small mesh.
void searchPointCount(std::vector<unsigned>& best, const std::vector<unsigned>& source,
                      const std::vector<Vector3>& points, size_t targetPoints) {
    const size_t indexCount = source.size();
    std::vector<unsigned> result(indexCount);
    std::vector<uint8_t> seen(points.size());
    size_t low = 0, high = indexCount, bestPoints = 0;
    best.clear();
    while (low <= high) {
        const size_t target = (low + high) / 2 / 3 * 3;
        const size_t count =
            meshopt_simplify(result.data(), source.data(), indexCount, &points[0].x, points.size(),
                             sizeof(Vector3), target, unlimitedError, 0, nullptr);
        const size_t found = usedPoints(result, count, seen);
        const bool enough = found >= targetPoints, hadEnough = bestPoints >= targetPoints;
        if (best.empty() || (enough && (!hadEnough || found < bestPoints)) ||
            (!enough && !hadEnough && found > bestPoints)) {
            bestPoints = found;
            best.assign(result.begin(), result.begin() + static_cast<long>(count));
        }
        if (found == targetPoints || high - low < 3)
            break;
        if (!enough)
            low = target + 3;
        else if (target < 3)
            break;
        else
            high = target - 3;
    }
}

} // namespace

// Keeps the points the indices use, renumbered in order of first use: points receives
// their positions and map their indices in the source's numbering through sourceMap.
void compactIndices(std::vector<Vector3>& points, std::vector<int32_t>& map,
                    std::vector<unsigned>& indices, const std::vector<Vector3>& source,
                    const std::vector<int32_t>& sourceMap) {
    std::vector<unsigned> remap(source.size());
    const size_t count = meshopt_optimizeVertexFetchRemap(remap.data(), indices.data(),
                                                          indices.size(), source.size());
    points.resize(count);
    map.resize(count);
    for (size_t i = 0; i < source.size(); ++i)
        if (remap[i] != ~0u) {
            points[remap[i]] = source[i];
            map[remap[i]] = sourceMap[i];
        }
    meshopt_remapIndexBuffer(indices.data(), indices.data(), indices.size(), remap.data());
}

const char* cageFaultText(CageFault fault) {
    static const char* const texts[cageFaultCount] = {
        "share an edge with two or more other triangles",
        "lie on the same three points as another",
        "run a shared edge the same way as their neighbour",
        "face away from the render surface",
        "fold over a neighbour (normals more than 120 degrees apart)",
        ("face against the normal at a corner (the normals around a control point fold or "
         "cancel)"),
        "are badly shaped (quality below 0.2: repeated, collinear or sliver corners)",
        "have non-finite sub-patches at rest"};
    return texts[fault];
}

void findCageFaults(CageFaults& faults, const ControlCage& cage,
                    const std::vector<Vector3>& surfaceNormals) {
    for (std::vector<int32_t>& list : faults.triangles)
        list.clear();
    const int32_t K = static_cast<int32_t>(cage.points.size());
    const int32_t L = static_cast<int32_t>(cage.triangles.size());
    if (L == 0)
        return;
    const Vector3* P = cage.points.data();
    const Triangle* T = cage.triangles.data();
    std::vector<Vector3> face(static_cast<size_t>(L)), unit(static_cast<size_t>(L)),
        corner(static_cast<size_t>(K));
    computeFaceNormals(face.data(), P, T, L);
    computeVertexNormals(corner.data(), K, face.data(), T, L);
    std::vector<uint8_t> flat(static_cast<size_t>(L));
    for (int32_t t = 0; t < L; ++t) {
        const float len = length(face[size_t(t)]);
        flat[size_t(t)] = !(len > 0.0f);
        unit[size_t(t)] = flat[size_t(t)] ? Vector3{0, 0, 0} : face[size_t(t)] / len;
    }
    const auto fault = [&](CageFault kind, int32_t t) { faults.triangles[kind].push_back(t); };

    // Sides sorted by their undirected edge: (low, high, triangle, runs upwards).
    struct Side {
        int32_t low, high, triangle;
        bool up;
    };
    std::vector<Side> sides;
    sides.reserve(size_t(3 * L));
    for (int32_t t = 0; t < L; ++t)
        for (int k = 0; k < 3; ++k) {
            const int32_t a = T[t].index[k], b = T[t].index[(k + 1) % 3];
            sides.push_back({std::min(a, b), std::max(a, b), t, a < b});
        }
    std::sort(sides.begin(), sides.end(), [](const Side& x, const Side& y) {
        return x.low != y.low     ? x.low < y.low
               : x.high != y.high ? x.high < y.high
                                  : x.triangle < y.triangle;
    });
    // Connected parts over edges of two triangles, for the side they face.
    DisjointSets parts(L);
    const auto find = [&](int32_t t) { return parts.find(t); };
    for (size_t i = 0; i < sides.size();) {
        size_t j = i;
        while (j < sides.size() && sides[j].low == sides[i].low && sides[j].high == sides[i].high)
            ++j;
        if (j - i > 2) {
            for (size_t s = i; s < j; ++s)
                fault(sharedEdgeFault, sides[s].triangle);
        } else if (j - i == 2 && sides[i].low != sides[i].high) {
            const int32_t t = sides[i].triangle, u = sides[i + 1].triangle;
            if (sides[i].up == sides[i + 1].up) {
                fault(orientationFault, t);
                fault(orientationFault, u);
            }
            if (!flat[size_t(t)] && !flat[size_t(u)] &&
                dot(unit[size_t(t)], unit[size_t(u)]) < foldCosine) {
                fault(foldFault, t);
                fault(foldFault, u);
            }
            parts.join(t, u);
        }
        i = j;
    }

    // Repeated triangles: the same sorted corners.
    std::vector<std::pair<std::array<int32_t, 3>, int32_t>> sorted(static_cast<size_t>(L));
    for (int32_t t = 0; t < L; ++t) {
        std::array<int32_t, 3> c = {T[t].index[0], T[t].index[1], T[t].index[2]};
        std::sort(c.begin(), c.end());
        sorted[size_t(t)] = {c, t};
    }
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < sorted.size();) {
        size_t j = i;
        while (j < sorted.size() && sorted[j].first == sorted[i].first)
            ++j;
        for (size_t s = i; j - i > 1 && s < j; ++s)
            fault(repeatedFault, sorted[s].second);
        i = j;
    }

    std::vector<double> facing(size_t(L), 0.0);
    for (int32_t t = 0; t < L; ++t) {
        const int32_t* i = T[t].index;
        if (triangleQuality(P[i[0]], P[i[1]], P[i[2]]) < minTriangleQuality)
            fault(shapeFault, t);
        if (!flat[size_t(t)])
            for (int k = 0; k < 3; ++k)
                if (!(dot(unit[size_t(t)], corner[size_t(i[k])]) >= minCornerCosine)) {
                    fault(cornerFault, t);
                    break;
                }
        if (!surfaceNormals.empty())
            facing[size_t(find(t))] +=
                dot(face[size_t(t)], surfaceNormals[size_t(i[0])] + surfaceNormals[size_t(i[1])] +
                                         surfaceNormals[size_t(i[2])]);
    }
    if (!surfaceNormals.empty())
        for (int32_t t = 0; t < L; ++t)
            if (facing[size_t(find(t))] < 0.0)
                fault(facingAwayFault, t);

    // The sub-patches at rest, built as the face model builds them.
    std::vector<TriangleEdges> triangleEdges(static_cast<size_t>(L));
    ArrayHolder<Edge> edges;
    int32_t E = 0;
    buildEdgeTable(edges, E, triangleEdges.data(), T, L);
    std::vector<Vector3> edgeNormals(static_cast<size_t>(E));
    computeEdgeNormals(edgeNormals.data(), E, face.data(), triangleEdges.data(), L);
    for (int32_t t = 0; t < L; ++t) {
        const int32_t* i = T[t].index;
        const EdgeRef* r = triangleEdges[size_t(t)].edge;
        TrianglePatchPoints q;
        buildTrianglePatches(q, P[i[0]], corner[size_t(i[0])], P[i[1]], corner[size_t(i[1])],
                             P[i[2]], corner[size_t(i[2])], edgeNormals[size_t(edgeIndex(r[0]))],
                             edgeNormals[size_t(edgeIndex(r[1]))],
                             edgeNormals[size_t(edgeIndex(r[2]))]);
        bool finite = isFinite(q.C);
        for (int k = 0; k < 3; ++k)
            finite = finite && isFinite(q.E1[k]) && isFinite(q.E2[k]) && isFinite(q.I[k]) &&
                     isFinite(q.F[k]) && isFinite(q.G[k]);
        if (!finite)
            fault(nonFiniteFault, t);
    }
    for (std::vector<int32_t>& list : faults.triangles) {
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
    }
}

void nearestSurfaceNormals(std::vector<Vector3>& normals, const ControlCage& cage,
                           const std::vector<Vector3>& renderPositions,
                           const std::vector<Vector3>& renderNormals) {
    normals.assign(cage.points.size(), Vector3{0.0f, 0.0f, 0.0f});
    SampleIndex index;
    const int32_t N = static_cast<int32_t>(renderPositions.size());
    buildSampleIndex(index, renderPositions.data(), N);
    const float unlimited = std::numeric_limits<float>::infinity();
    for (size_t p = 0; p < cage.points.size(); ++p) {
        float distance;
        // Every vertex is free (limit N): the nearest one, whatever its normal.
        const int32_t i =
            findNearestSampleIndexed(distance, index, renderNormals.data(), cage.points[p],
                                     Vector3{0, 0, 0}, N, unlimited, 0.0f);
        if (i >= 0)
            normals[p] = renderNormals[size_t(i)];
    }
}

void weldPositions(ControlCage& cage, const std::vector<Vector3>& positions,
                   const std::vector<Triangle>& triangles, std::vector<int32_t>* pointOf) {
    std::vector<unsigned> corners(3 * triangles.size());
    for (size_t t = 0; t < triangles.size(); ++t)
        for (int c = 0; c < 3; ++c)
            corners[3 * t + c] = static_cast<unsigned>(triangles[t].index[c]);
    // Positions join when they are equal as numbers, so -0 and +0 are one point (the render
    // mesh keeps them apart, as it compares bytes). The join compares bytes, so the keys have
    // their zeros made positive: adding +0 does that and changes no other value. A NaN joins
    // only a NaN of the same bits.
    std::vector<Vector3> keys(positions.size());
    for (size_t i = 0; i < positions.size(); ++i)
        keys[i] = {positions[i].x + 0.0f, positions[i].y + 0.0f, positions[i].z + 0.0f};
    std::vector<unsigned> remap(positions.size());
    const size_t count = meshopt_generateVertexRemap(remap.data(), corners.data(), corners.size(),
                                                     keys.data(), keys.size(), sizeof(Vector3));
    meshopt_remapIndexBuffer(corners.data(), corners.data(), corners.size(), remap.data());
    if (pointOf) {
        pointOf->resize(positions.size());
        for (size_t i = 0; i < positions.size(); ++i)
            (*pointOf)[i] = remap[i] == ~0u ? -1 : static_cast<int32_t>(remap[i]);
    }
    // Each point is the position of the vertex that first used it, its zeros' signs kept
    // (meshopt_remapVertexBuffer would copy any one of the joined vertices): walking the
    // corners backwards, the first use is written last.
    cage.points.resize(count);
    for (size_t c = corners.size(); c-- > 0;)
        cage.points[corners[c]] = positions[triangles[c / 3].index[c % 3]];
    // Triangles that joining collapses are dropped; their points stay.
    cage.triangles.clear();
    for (size_t i = 0; i < corners.size(); i += 3) {
        const Triangle t = {{static_cast<int32_t>(corners[i]), static_cast<int32_t>(corners[i + 1]),
                             static_cast<int32_t>(corners[i + 2])}};
        if (t.index[0] != t.index[1] && t.index[1] != t.index[2] && t.index[2] != t.index[0])
            cage.triangles.push_back(t);
    }
}

void simplifyCage(ControlCage& cage, std::vector<int32_t>& welded, const ControlCage& mesh,
                  int32_t targetPoints) {
    std::vector<unsigned> indices(mesh.triangles.size() * 3), step(indices.size());
    for (size_t t = 0; t < mesh.triangles.size(); ++t)
        for (int c = 0; c < 3; ++c)
            indices[3 * t + c] = static_cast<unsigned>(mesh.triangles[t].index[c]);
    std::vector<int32_t> identity(mesh.points.size());
    std::iota(identity.begin(), identity.end(), 0);
    std::vector<Vector3> points;
    std::vector<int32_t> map;
    compactIndices(points, map, indices, mesh.points, identity);

    // Each step works on the last one's result, compacted, so that no pass touches the
    // full mesh's vertices again.
    if (indices.size() > 3 * largeMeshTriangles) {
        indices.resize(meshopt_simplifySloppy(step.data(), indices.data(), indices.size(),
                                              &points[0].x, points.size(), sizeof(Vector3),
                                              3 * largeMeshTriangles, unlimitedError, nullptr));
        std::copy(step.begin(), step.begin() + static_cast<long>(indices.size()), indices.begin());
        const std::vector<Vector3> source = points;
        const std::vector<int32_t> sourceMap = map;
        compactIndices(points, map, indices, source, sourceMap);
    }
    const size_t intermediate = intermediatePointsPerTarget * size_t(targetPoints);
    if (points.size() > 2 * intermediate) {
        // Points shrink about in proportion to the triangles.
        const size_t target = indices.size() * intermediate / points.size() / 3 * 3;
        indices.resize(meshopt_simplify(step.data(), indices.data(), indices.size(), &points[0].x,
                                        points.size(), sizeof(Vector3), target, unlimitedError, 0,
                                        nullptr));
        std::copy(step.begin(), step.begin() + static_cast<long>(indices.size()), indices.begin());
        const std::vector<Vector3> source = points;
        const std::vector<int32_t> sourceMap = map;
        compactIndices(points, map, indices, source, sourceMap);
    }
    std::vector<unsigned> best;
    searchPointCount(best, indices, points, size_t(targetPoints));
    compactIndices(cage.points, welded, best, points, map);
    cage.triangles.resize(best.size() / 3);
    for (size_t t = 0; t < cage.triangles.size(); ++t)
        for (int c = 0; c < 3; ++c)
            cage.triangles[t].index[c] = static_cast<int32_t>(best[3 * t + c]);
}

void findPartsLeftBehind(std::vector<LeftBehind>& parts, const FaceModel& model,
                         const std::vector<Vector3>& positions) {
    parts.clear();
    const int32_t N = model.renderVertexCount;
    DisjointSets sets(N);
    const auto find = [&](int32_t v) { return sets.find(v); };
    const auto loose = [&](int32_t v) { return model.attachments[v].subPatch < 0; };
    const auto join = [&](int32_t a, int32_t b) {
        if (loose(a) && loose(b))
            sets.join(a, b);
    };
    for (int32_t t = 0; t < model.renderTriangleCount; ++t)
        for (int k = 0; k < 3; ++k)
            join(model.renderTriangles[t].index[k], model.renderTriangles[t].index[(k + 1) % 3]);
    // Vertices at one position (both sides of a seam): sorted by position, neighbours joined.
    std::vector<int32_t> order;
    for (int32_t v = 0; v < N; ++v)
        if (loose(v))
            order.push_back(v);
    const auto key = [&](int32_t v) {
        const Vector3& p = positions[size_t(v)];
        return std::make_tuple(p.x, p.y, p.z);
    };
    std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return key(a) < key(b); });
    for (size_t j = 1; j < order.size(); ++j)
        if (key(order[j]) == key(order[j - 1]))
            join(order[j], order[j - 1]);
    // Counts and centres per part, then the vertex nearest each centre.
    std::vector<int32_t> count(static_cast<size_t>(N), 0);
    std::vector<Vector3> sum(static_cast<size_t>(N), Vector3{0.0f, 0.0f, 0.0f});
    for (int32_t v : order) {
        ++count[size_t(find(v))];
        sum[size_t(find(v))] = sum[size_t(find(v))] + positions[size_t(v)];
    }
    std::vector<float> nearest(static_cast<size_t>(N), std::numeric_limits<float>::infinity());
    std::vector<int32_t> at(static_cast<size_t>(N), -1);
    for (int32_t v : order) {
        const int32_t r = find(v);
        const float d = length(positions[size_t(v)] - sum[size_t(r)] / float(count[size_t(r)]));
        if (d < nearest[size_t(r)]) {
            nearest[size_t(r)] = d;
            at[size_t(r)] = v;
        }
    }
    for (int32_t v : order)
        if (find(v) == v && count[size_t(v)] >= minLeftBehind)
            parts.push_back({count[size_t(v)], at[size_t(v)]});
    std::stable_sort(parts.begin(), parts.end(),
                     [](const LeftBehind& a, const LeftBehind& b) { return a.count > b.count; });
}

std::string regionName(const Vector3& point, const std::vector<Vector3>& positions) {
    Vector3 low = positions[0], high = positions[0];
    for (const Vector3& p : positions) {
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    // Thirds of the box along each axis.
    const auto third = [](float v, float a, float b) {
        const float t = b > a ? (v - a) / (b - a) : 0.5f;
        return t < 1.0f / 3.0f ? 0 : t > 2.0f / 3.0f ? 2 : 1;
    };
    static const char* const vertical[3] = {"lower", "middle", "upper"};
    static const char* const side[3] = {" right", "", " left"};
    static const char* const depth[3] = {" back", "", " front"};
    return std::string(vertical[third(point.y, low.y, high.y)]) +
           side[third(point.x, low.x, high.x)] + depth[third(point.z, low.z, high.z)];
}
