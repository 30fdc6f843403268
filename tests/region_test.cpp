// Regions of the control mesh: the falloff's shape, regions that stop at the mouth's and the
// eyes' openings though the points across them are near in space, and face-poser's region
// drag, which at radius 0 is face-viewer's drag bit for bit.
#include "app/viewer.h"
#include "io/model_file.h"
#include "tests/support/gl_context.h"
#include "tests/support/poser_drag.h"
#include "tests/support/temp_dir.h"
#include "tools/common/region.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace {

// An opening of the control mesh seen from one rim: the point in the middle of one side,
// and the points of the other side (its corners, the rim's ends along x, left out).
struct Opening {
    int32_t centre;
    std::vector<int32_t> across;
};

// The holes of the control mesh (its boundary loops but the outer one, the longest), each
// seen from both of its sides.
std::vector<Opening> openingsOf(const ModelData& model) {
    std::map<std::pair<int32_t, int32_t>, int> uses;
    for (int32_t t = 0; t < model.controlTriangleCount; ++t)
        for (int k = 0; k < 3; ++k) {
            const int32_t a = model.controlTriangles[t].index[k];
            const int32_t b = model.controlTriangles[t].index[(k + 1) % 3];
            ++uses[{std::min(a, b), std::max(a, b)}];
        }
    std::map<int32_t, std::vector<int32_t>> next; // along the boundary edges
    for (const auto& [edge, count] : uses)
        if (count == 1) {
            next[edge.first].push_back(edge.second);
            next[edge.second].push_back(edge.first);
        }
    std::vector<std::vector<int32_t>> loops;
    std::map<int32_t, bool> seen;
    for (const auto& [start, unused] : next) {
        if (seen[start])
            continue;
        std::vector<int32_t> loop = {start};
        seen[start] = true;
        for (int32_t at = next[start][0], from = start; at != start;) {
            loop.push_back(at);
            seen[at] = true;
            const int32_t to = next[at][0] == from ? next[at][1] : next[at][0];
            from = at;
            at = to;
        }
        loops.push_back(loop);
    }
    std::sort(loops.begin(), loops.end(),
              [](const auto& a, const auto& b) { return a.size() > b.size(); });
    std::vector<Opening> openings;
    for (size_t l = 1; l < loops.size(); ++l) {
        const std::vector<int32_t>& loop = loops[l];
        const auto x = [&](int32_t i) { return model.controlPoints[i].x; };
        const size_t n = loop.size();
        size_t low = 0, high = 0;
        for (size_t k = 0; k < n; ++k) {
            low = x(loop[k]) < x(loop[low]) ? k : low;
            high = x(loop[k]) > x(loop[high]) ? k : high;
        }
        // The two sides between the corners, each the other's across.
        std::vector<int32_t> sides[2];
        for (size_t k = (low + 1) % n; k != high; k = (k + 1) % n)
            sides[0].push_back(loop[k]);
        for (size_t k = (high + 1) % n; k != low; k = (k + 1) % n)
            sides[1].push_back(loop[k]);
        for (int s = 0; s < 2; ++s)
            if (!sides[s].empty() && !sides[1 - s].empty())
                openings.push_back({sides[s][sides[s].size() / 2], sides[1 - s]});
    }
    return openings;
}

} // namespace

// 1 at the centre, 0 from the radius on, never rising, flat at both ends, and no steeper
// than 1.5 / radius (a step or a kink at either end would show as a seam on the face).
TEST(PoseRegion, FalloffIsSmoothAndEndsAtTheRadius) {
    for (float radius : {0.5f, 1.53f, 12.0f}) {
        SCOPED_TRACE(radius);
        EXPECT_EQ(regionFalloff(0.0f, radius), 1.0f);
        EXPECT_EQ(regionFalloff(radius, radius), 0.0f);
        EXPECT_EQ(regionFalloff(2.0f * radius, radius), 0.0f);
        const float h = radius * 1e-3f;
        EXPECT_LT(1.0f - regionFalloff(h, radius), 1e-5f);
        EXPECT_LT(regionFalloff(radius - h, radius), 1e-5f);
        float last = 1.0f;
        for (int k = 1; k <= 1000; ++k) {
            const float w = regionFalloff(radius * float(k) / 1000.0f, radius);
            EXPECT_LE(w, last);
            EXPECT_LE(last - w, 1.5f / 1000.0f + 1e-6f) << k;
            last = w;
        }
    }
}

// Around the middle of either side of the mouth and of each eye, with a radius that reaches
// every point across the opening in space and a neighbour: nothing across it is in the region,
// while the centre's own neighbours are.
TEST(PoseRegion, StopsAtTheMouthAndTheEyes) {
    ModelData model;
    std::string error;
    ASSERT_TRUE(readModelFile(model, FACE_SOURCE_DIR "/data/retarget.model", error)) << error;
    ArrayHolder<Edge> edges;
    int32_t E = 0;
    std::vector<TriangleEdges> unused(size_t(model.controlTriangleCount));
    buildEdgeTable(edges, E, unused.data(), model.controlTriangles.get(),
                   model.controlTriangleCount);
    const std::vector<Opening> openings = openingsOf(model);
    ASSERT_EQ(openings.size(), 6u); // the mouth and two eyes, from both sides
    const Vector3* p = model.controlPoints.get();
    std::vector<float> weights(size_t(model.controlPointCount));
    for (const Opening& o : openings) {
        SCOPED_TRACE("around point " + std::to_string(o.centre));
        // Beyond the farthest point across, and the nearest neighbour.
        float reach = 0.0f, nearest = INFINITY;
        for (int32_t j : o.across)
            reach = std::max(reach, length(p[j] - p[o.centre]));
        for (int32_t e = 0; e < E; ++e)
            if (edges[e].a == o.centre || edges[e].b == o.centre)
                nearest = std::min(nearest, length(p[edges[e].a] - p[edges[e].b]));
        const float radius = 1.1f * std::max(reach, nearest);
        const int32_t inside = regionWeights(weights.data(), p, model.controlPointCount,
                                             edges.get(), E, o.centre, radius);
        EXPECT_GT(inside, 2);
        for (int32_t j : o.across)
            EXPECT_EQ(weights[size_t(j)], 0.0f) << "point " << j << " across the opening";
        for (int32_t e = 0; e < E; ++e)
            if (edges[e].a == o.centre || edges[e].b == o.centre) {
                const int32_t j = edges[e].a == o.centre ? edges[e].b : edges[e].a;
                if (length(p[j] - p[o.centre]) < radius) {
                    EXPECT_GT(weights[size_t(j)], 0.0f) << "neighbour " << j;
                }
            }
    }
}

using PoserRegion = OffscreenGLTest;

// Radius 0 with mirroring off is face-viewer's drag: the same mouse events through
// face-viewer's handlers on a copy of the points leave every point the same, bit for bit,
// while the drag is held and after. A region drag of the upper lip's middle moves its
// neighbours along the picked point's move, less with the distance, and not the lower lip.
TEST_F(PoserRegion, RadiusZeroIsTodaysDragAndARegionStopsAtTheLips) {
    TempDir temp;
    Scene scene;
    Poser poser;
    ViewerState state;
    ASSERT_TRUE(startPoserQuietly(poser, scene, linkCommittedData(temp.path)));
    const int32_t K = scene.controlPointCount;
    std::vector<Vector3> viewerPoints(scene.controlPoints.get(), scene.controlPoints.get() + K);
    ControlPointDragger viewerDragger(uint32_t(K), viewerPoints.data());
    ViewerState viewer;
    viewer.deformMode = true;
    beginFrame(viewer);

    const int32_t lowerLip = 87;
    int32_t x, y;
    dragInPoser(poser, state, scene, lowerLip, 7, 45, 4, true);
    windowPosition(x, y, viewer, viewerPoints[lowerLip]);
    mouseButtonViewer(viewer, &viewerDragger, rightMouseButton, true, x, y);
    ASSERT_EQ(viewer.selectedPoint, lowerLip);
    for (int32_t s = 1; s <= 4; ++s)
        motionViewer(viewer, &viewerDragger, x + 7 * s / 4, y + 45 * s / 4);
    for (int32_t i = 0; i < K; ++i)
        EXPECT_EQ(scene.controlPoints[i], viewerPoints[size_t(i)]) << "held, point " << i;
    poserMouseButton(poser, state, scene, rightMouseButton, false, x + 7, y + 45);
    for (int32_t i = 0; i < K; ++i)
        EXPECT_EQ(scene.controlPoints[i], viewerPoints[size_t(i)]) << "released, point " << i;
    EXPECT_EQ(movedPointCount(poser.pose), 1);

    // The upper lip's middle, with a region of two edges (about 3 units: the lower lip's
    // middle is 0.2 away in space).
    typeKeys(poser, state, scene, "r....");
    const int32_t upperLip = 24, lowerSide[] = {87, 190, 193};
    ASSERT_EQ(dragInPoser(poser, state, scene, upperLip, 0, -30), upperLip);
    const Vector3 move = poser.pose.offsets[upperLip];
    EXPECT_GT(length(move), 0.5f);
    int32_t moved = 0;
    for (int32_t i = 0; i < K; ++i) {
        const Vector3& d = poser.pose.offsets[i];
        if (d == Vector3{0, 0, 0} || i == upperLip)
            continue;
        ++moved;
        // A share of the picked point's move: along it, and shorter.
        const float share = dot(d, move) / dot(move, move);
        EXPECT_GT(share, 0.0f) << i;
        EXPECT_LT(share, 1.0f) << i;
        EXPECT_LT(length(d - share * move), 1e-5f) << i;
    }
    EXPECT_GT(moved, 4);
    for (int32_t i : lowerSide)
        EXPECT_EQ(poser.pose.offsets[i], (Vector3{0, 0, 0})) << "lower lip point " << i;
}
