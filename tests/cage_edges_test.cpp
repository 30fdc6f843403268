// The edge adjacency face-import's rules check and control mesh editor share: the sides on
// each edge of a small hand-made mesh with a border edge, a neighbour turned the wrong way
// and an edge of three triangles.
#include "tools/import/cage_edges.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// t0 and t1 meet properly on (1, 2); t2 runs (2, 0) the same way as t0; t1, t3 and t4 all
// lie on (1, 3); (0, 1) is t0's alone.
const Triangle meshTriangles[5] = {{{0, 1, 2}}, {{2, 1, 3}}, {{2, 0, 4}}, {{3, 1, 5}}, {{1, 5, 3}}};

// The sides listed on the edge of triangle t between a and b.
std::vector<int32_t> sidesOn(const EdgeAdjacency& adjacency, int32_t t, int32_t a, int32_t b) {
    const int32_t e = edgeBetween(adjacency, t, a, b);
    if (e < 0)
        return {};
    return std::vector<int32_t>(adjacency.sides.begin() + adjacency.first[size_t(e)],
                                adjacency.sides.begin() + adjacency.first[size_t(e) + 1]);
}

// Whether side s (3t + k) runs from its edge's lower point to the higher.
bool runsUp(const EdgeAdjacency& adjacency, int32_t s) {
    return adjacency.triangleEdges[size_t(s / 3)].edge[s % 3] >= 0;
}

} // namespace

TEST(CageEdges, ListsTheSidesOnEachEdgeInTriangleOrderWithTheirDirections) {
    EdgeAdjacency adjacency;
    buildEdgeAdjacency(adjacency, meshTriangles, 5);
    ASSERT_EQ(adjacency.edgeCount, 9);
    ASSERT_EQ(adjacency.sides.size(), 15u);
    struct Case {
        const char* what;
        int32_t t, a, b;
        std::vector<int32_t> sides;
    };
    const Case cases[] = {
        {"border", 0, 0, 1, {0}},
        {"two, opposite ways", 0, 1, 2, {1, 3}},
        {"two, the same way", 0, 2, 0, {2, 6}},
        {"two, the same way, from the other", 2, 0, 2, {2, 6}},
        {"three", 1, 3, 1, {4, 9, 14}},
        {"not a side of the triangle", 0, 1, 3, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sidesOn(adjacency, c.t, c.a, c.b), c.sides) << c.what;
    EXPECT_NE(runsUp(adjacency, 1), runsUp(adjacency, 3));
    EXPECT_EQ(runsUp(adjacency, 2), runsUp(adjacency, 6));
    // Every edge holds its points lower first.
    for (int32_t e = 0; e < adjacency.edgeCount; ++e)
        EXPECT_LT(adjacency.edges[e].a, adjacency.edges[e].b) << e;
}

TEST(CageEdges, TrianglesLeftOutAreNoOnesNeighbourAndTurnedTrianglesKeepTheirEdges) {
    const uint8_t used[5] = {1, 1, 1, 1, 0};
    std::vector<Triangle> triangles(meshTriangles, meshTriangles + 5);
    EdgeAdjacency adjacency;
    buildEdgeAdjacency(adjacency, triangles.data(), 5, used);
    EXPECT_EQ(sidesOn(adjacency, 1, 1, 3), (std::vector<int32_t>{4, 9}));
    EXPECT_EQ(adjacency.sides.size(), 12u);
    // Turned over after the adjacency was built, t0 still finds each edge by its points.
    const int32_t before = edgeBetween(adjacency, 0, 2, 0);
    std::swap(triangles[0].index[1], triangles[0].index[2]);
    EXPECT_EQ(edgeBetween(adjacency, 0, triangles[0].index[0], triangles[0].index[1]), before);
    EXPECT_EQ(sidesOn(adjacency, 0, 1, 2), (std::vector<int32_t>{1, 3}));
}
