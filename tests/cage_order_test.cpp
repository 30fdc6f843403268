// The facing order of face-import's control mesh (tools/import/cage_order.h) on a thin plate
// whose two sides face away from each other, their control surfaces' triangles mixed in the
// first 122: the upper side's vertices lie 0.4 below their own control surface and 0.3 above
// the lower one's, as the lips of a mouth the control mesh follows loosely do. Bound as
// given, they hang on the lower surface's free sub-patches; in the facing order, none hangs on
// a surface it faces away from, and every vertex stays attached.
#include "tools/import/cage_order.h"

#include "face/face_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int32_t cells = 12;     // squares along each side of a plate, one unit each
constexpr float thickness = 0.3f; // between the plate's two sides of render vertices
constexpr float loose = 0.4f;     // from the upper side to its control surface above

// A control surface of cells × cells unit squares at height z, two triangles each, facing up
// (+z) or down.
void addPlate(std::vector<Vector3>& points, std::vector<Triangle>& triangles, float z, bool up) {
    const int32_t first = int32_t(points.size());
    for (int32_t i = 0; i <= cells; ++i)
        for (int32_t k = 0; k <= cells; ++k)
            points.push_back({float(k), float(i), z});
    const auto at = [&](int32_t i, int32_t k) { return first + i * (cells + 1) + k; };
    for (int32_t i = 0; i < cells; ++i)
        for (int32_t k = 0; k < cells; ++k) {
            Triangle a = {{at(i, k), at(i, k + 1), at(i + 1, k + 1)}};
            Triangle b = {{at(i, k), at(i + 1, k + 1), at(i + 1, k)}};
            if (!up) {
                std::swap(a.index[1], a.index[2]);
                std::swap(b.index[1], b.index[2]);
            }
            triangles.push_back(a);
            triangles.push_back(b);
        }
}

// The attached vertices of the model whose normal faces away from their sub-patch's (the
// rule's own test: their dot product at most minNormalDot).
int32_t facingAway(const FaceModel& model) {
    int32_t count = 0;
    for (int32_t i = 0; i < model.renderVertexCount; ++i)
        count += model.attachments[i].subPatch >= 0 &&
                 !(model.attachments[i].normalCoords[2] > minNormalDot);
    return count;
}

} // namespace

TEST(CageOrder, NoVertexHangsOnTheFarSideOfAThinPlate) {
    // The control mesh: the upper side's surface and the lower one's, their triangles
    // alternating, so that both are among the free ones.
    std::vector<Vector3> points;
    std::vector<Triangle> upper, lower, triangles;
    addPlate(points, upper, 0.5f * thickness + loose, true);
    addPlate(points, lower, -0.5f * thickness, false);
    for (size_t t = 0; t < upper.size(); ++t) {
        triangles.push_back(upper[t]);
        triangles.push_back(lower[t]);
    }
    ASSERT_GT(triangles.size(), size_t(2 * freeTriangleCount));
    // The render vertices: both sides on a grid of a quarter unit, each with its normal.
    std::vector<Vector3> positions, normals;
    for (const float side : {1.0f, -1.0f})
        for (int32_t i = 1; i < 4 * cells; ++i)
            for (int32_t k = 1; k < 4 * cells; ++k) {
                positions.push_back({0.25f * k, 0.25f * i, 0.5f * side * thickness});
                normals.push_back({0.0f, 0.0f, side});
            }
    const int32_t N = int32_t(positions.size());
    const std::vector<TexCoord> texCoords(positions.size(), TexCoord{0.0f, 0.0f});
    const Triangle none = {{0, 0, 0}};
    const auto bind = [&](const std::vector<Triangle>& t) {
        return std::make_unique<FaceModel>(points.data(), int32_t(points.size()), t.data(),
                                           int32_t(t.size()), positions.data(), normals.data(),
                                           texCoords.data(), N, &none, 0);
    };

    const auto given = bind(triangles);
    EXPECT_GT(facingAway(*given), 0) << "the upper side's vertices take the lower surface's free "
                                        "sub-patches";

    std::vector<int32_t> order;
    int32_t marked;
    facingOrder(order, marked, *given, positions.data(), normals.data(), N);
    // A permutation of the triangles, with the lower surface's triangles late.
    std::vector<int32_t> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (size_t t = 0; t < sorted.size(); ++t)
        ASSERT_EQ(sorted[t], int32_t(t));
    EXPECT_GT(marked, 0);
    EXPECT_LT(marked, int32_t(triangles.size()) - freeTriangleCount);
    std::vector<Triangle> ordered;
    for (int32_t t : order)
        ordered.push_back(triangles[size_t(t)]);
    const auto model = bind(ordered);
    EXPECT_EQ(facingAway(*model), 0);
    // Every vertex hangs: the upper side's on their own surface now.
    for (int32_t i = 0; i < N; ++i)
        EXPECT_GE(model->attachments[i].subPatch, 0) << "render vertex " << i;
}
