#include "tools/import/cage_rules.h"

#include "face/face_model.h"
#include "face/sample_index.h"
#include "geometry/patches.h"
#include "io/normals.h"
#include "tools/import/cage_edges.h"
#include "tools/import/disjoint_sets.h"

#include <algorithm>
#include <cmath>
#include <limits>

float triangleQuality(const Vector3& a, const Vector3& b, const Vector3& c) {
    const float squares = dot(b - a, b - a) + dot(c - b, c - b) + dot(a - c, a - c);
    const float area = 0.5f * length(cross(b - a, c - a));
    return squares > 0.0f ? 4.0f * std::sqrt(3.0f) * area / squares : 0.0f;
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

    // The triangles on each edge. Connected parts over edges of two triangles, for the side
    // they face.
    EdgeAdjacency adjacency;
    buildEdgeAdjacency(adjacency, T, L);
    DisjointSets parts(L);
    const auto find = [&](int32_t t) { return parts.find(t); };
    for (int32_t e = 0; e < adjacency.edgeCount; ++e) {
        const int32_t* side = adjacency.sides.data() + adjacency.first[size_t(e)];
        const int32_t count = adjacency.first[size_t(e) + 1] - adjacency.first[size_t(e)];
        if (count > 2) {
            for (int32_t s = 0; s < count; ++s)
                fault(sharedEdgeFault, side[s] / 3);
        } else if (count == 2 && adjacency.edges[e].a != adjacency.edges[e].b) {
            const int32_t t = side[0] / 3, u = side[1] / 3;
            // A side whose edge reference is not negative runs from the lower point upwards.
            const bool tUp = adjacency.triangleEdges[size_t(t)].edge[side[0] % 3] >= 0;
            const bool uUp = adjacency.triangleEdges[size_t(u)].edge[side[1] % 3] >= 0;
            if (tUp == uUp) {
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
    }

    // Repeated triangles: the same sorted corners.
    std::vector<SortedCorners> sorted;
    sortByCorners(sorted, T, L);
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
    const int32_t E = adjacency.edgeCount;
    const TriangleEdges* triangleEdges = adjacency.triangleEdges.data();
    std::vector<Vector3> edgeNormals(static_cast<size_t>(E));
    computeEdgeNormals(edgeNormals.data(), E, face.data(), triangleEdges, L);
    for (int32_t t = 0; t < L; ++t) {
        const int32_t* i = T[t].index;
        const EdgeRef* r = triangleEdges[t].edge;
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
    buildSampleIndex(index, renderPositions.data(), N, int64_t(cage.points.size()));
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
