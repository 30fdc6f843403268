#include "tools/import/cage_edges.h"

#include <algorithm>

void buildEdgeAdjacency(EdgeAdjacency& adjacency, const Triangle* triangles, int32_t L,
                        const uint8_t* used) {
    adjacency.triangleEdges.resize(size_t(L));
    buildEdgeTable(adjacency.edges, adjacency.edgeCount, adjacency.triangleEdges.data(), triangles,
                   L);
    const int32_t E = adjacency.edgeCount;
    // Counted per edge, then placed in side order: each edge's list keeps that order.
    std::vector<int32_t>& first = adjacency.first;
    first.assign(size_t(E) + 1, 0);
    for (int32_t t = 0; t < L; ++t)
        if (!used || used[t])
            for (const EdgeRef r : adjacency.triangleEdges[size_t(t)].edge)
                ++first[size_t(edgeIndex(r)) + 1];
    for (int32_t e = 0; e < E; ++e)
        first[size_t(e) + 1] += first[size_t(e)];
    adjacency.sides.resize(size_t(first[size_t(E)]));
    std::vector<int32_t> next(first.begin(), first.end() - 1);
    for (int32_t t = 0; t < L; ++t)
        if (!used || used[t])
            for (int k = 0; k < 3; ++k) {
                const int32_t e = edgeIndex(adjacency.triangleEdges[size_t(t)].edge[k]);
                adjacency.sides[size_t(next[size_t(e)]++)] = 3 * t + k;
            }
}

int32_t edgeBetween(const EdgeAdjacency& adjacency, int32_t t, int32_t a, int32_t b) {
    const int32_t low = std::min(a, b), high = std::max(a, b);
    for (const EdgeRef r : adjacency.triangleEdges[size_t(t)].edge) {
        const Edge& edge = adjacency.edges[edgeIndex(r)];
        if (edge.a == low && edge.b == high)
            return edgeIndex(r);
    }
    return -1;
}

void sortByCorners(std::vector<SortedCorners>& sorted, const Triangle* triangles, int32_t L) {
    sorted.resize(size_t(L));
    for (int32_t t = 0; t < L; ++t) {
        std::array<int32_t, 3> c = {triangles[t].index[0], triangles[t].index[1],
                                    triangles[t].index[2]};
        std::sort(c.begin(), c.end());
        sorted[size_t(t)] = {c, t};
    }
    std::sort(sorted.begin(), sorted.end());
}
