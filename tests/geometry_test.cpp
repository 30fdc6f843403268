// Vector and matrix primitives, the edge curve, grid triangulation and the camera. The
// triangle evaluator's linear precision is the flat-patch projection's.
#include "geometry/bezier.h"
#include "geometry/camera.h"
#include "geometry/grid.h"
#include "geometry/matrix.h"
#include "geometry/patches.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {
void expectIdentity(const Matrix4& m, float tolerance) {
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(m.m[i], (i % 5 == 0) ? 1.0f : 0.0f, tolerance) << "element " << i;
}
} // namespace

TEST(Interpolation, LerpCombineAndCubicCurveWorkedValues) {
    const Vector3 A = {1, 2, 3}, B = {10, 20, 30}, C = {100, 200, 300};
    Vector3 r;
    EXPECT_EQ(lerp(r, A, B, 0.0f), A);
    EXPECT_EQ(lerp(r, A, B, 1.0f), B);
    EXPECT_EQ(lerp(r, A, B, 0.25f), (Vector3{3.25f, 6.5f, 9.75f}));
    EXPECT_EQ(combine3(r, A, B, C, 0.5f, 0.25f, 0.125f), (Vector3{15.5f, 31.0f, 46.5f}));
    // (a·A + b·B) + c·C differs from a·A + (b·B + c·C) here in float: 1e8 absorbs 1.
    EXPECT_EQ(combine3(r, {1e8f, 0, 0}, {-1e8f, 0, 0}, {1, 0, 0}, 1.0f, 1.0f, 1.0f).x, 1.0f);

    // The cubic curve of a control-mesh edge: its ends, and (P0 + 3 P1 + 3 P2 + P3) / 8 at
    // the middle, exact in binary.
    const Vector3 P0 = {0, 0, 0}, P1 = {1, 2, 0}, P2 = {3, 2, 0}, P3 = {4, 0, 8};
    EXPECT_EQ(evaluateCubicCurve(r, P0, P1, P2, P3, 0.0f), P0);
    EXPECT_EQ(evaluateCubicCurve(r, P0, P1, P2, P3, 1.0f), P3);
    EXPECT_EQ(evaluateCubicCurve(r, P0, P1, P2, P3, 0.5f), (Vector3{2.0f, 1.5f, 1.0f}));
}

TEST(Matrix4Test, ProductFollowsColumnMajorLayout) {
    // A translation by (1, 2, 3) applied after a scale by 2: T·S maps (1, 1, 1) to (3, 4, 5).
    Matrix4 T = Matrix4::identity(), S = Matrix4::identity();
    T.m[12] = 1, T.m[13] = 2, T.m[14] = 3;
    S.m[0] = S.m[5] = S.m[10] = 2;
    const Vector4 p = (T * S) * Vector4{1, 1, 1, 1};
    EXPECT_TRUE(p.x == 3 && p.y == 4 && p.z == 5 && p.w == 1);
}

TEST(Matrix4Test, InverseRoundTripsAndSingularGivesNonFinite) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> element(-2.0f, 2.0f);
    for (int trial = 0; trial < 100; ++trial) {
        Matrix4 M;
        for (float& e : M.m)
            e = element(rng);
        for (int i = 0; i < 4; ++i)
            M.m[5 * i] += 4.0f; // diagonally dominant: well conditioned
        const Matrix4 inv = Matrix4::inverse(M);
        expectIdentity(M * inv, 1e-5f);
        expectIdentity(inv * M, 1e-5f);
    }
    Matrix4 singular = Matrix4::identity();
    singular.m[10] = 0.0f;
    EXPECT_FALSE(std::isfinite(Matrix4::inverse(singular).m[0]));
}

TEST(GridTriangles, WorkedLevelsAndEveryLevelShiftsCoversAndRunsCounterClockwise) {
    const std::vector<std::vector<int32_t>> worked = {
        {0, 1, 2}, {0, 1, 3, 1, 4, 3, 1, 2, 4, 3, 4, 5}, {0, 1, 4, 1, 5, 4, 1, 2, 5, 2, 6, 5, 2, 3,
                                                          6, 4, 5, 7, 5, 8, 7, 5, 6, 8, 7, 8, 9}};
    for (int32_t n = 1; n <= 10; ++n) {
        std::vector<Triangle> plain(n * n), shifted(n * n);
        gridTriangles(plain.data(), 0, n);
        gridTriangles(shifted.data(), 1000, n);
        for (size_t i = 0; n <= 3 && i < worked[n - 1].size(); ++i)
            EXPECT_EQ(plain[i / 3].index[i % 3], worked[n - 1][i]) << "level " << n << ", " << i;
        // Parameters (k, row) of each vertex in grid order, and how often each is used.
        std::vector<std::pair<int, int>> uv;
        for (int r = 0; r <= n; ++r)
            for (int k = 0; k <= n - r; ++k)
                uv.push_back({k, r});
        ASSERT_EQ(static_cast<int32_t>(uv.size()), gridVertexCount(n));
        std::vector<int> uses(uv.size(), 0);
        for (size_t t = 0; t < plain.size(); ++t) {
            for (int j = 0; j < 3; ++j) {
                EXPECT_EQ(shifted[t].index[j], plain[t].index[j] + 1000);
                ASSERT_LT(plain[t].index[j], gridVertexCount(n));
                ++uses[static_cast<size_t>(plain[t].index[j])];
            }
            const auto &p = uv[plain[t].index[0]], &q = uv[plain[t].index[1]],
                       &s = uv[plain[t].index[2]];
            EXPECT_EQ((q.first - p.first) * (s.second - p.second) -
                          (q.second - p.second) * (s.first - p.first),
                      1)
                << "twice the area of triangle " << t << " at level " << n;
        }
        EXPECT_EQ(std::count(uses.begin(), uses.end(), 0), 0)
            << "unused grid vertex at level " << n;
    }
}

TEST(CameraTest, WorkedValuesAndInversePairs) {
    Camera camera;
    camera.setPerspective(Matrix4::identity(), 1.2217f, 1.5f, 1.0f, 100.0f);
    const float worked[][2] = {
        {camera.nearWidth, 1.4004f},         {camera.nearHeight, 0.9336f},
        {camera.projection.m[0], 1.4282f},   {camera.projection.m[5], 2.1423f},
        {camera.projection.m[10], -1.0202f}, {camera.projection.m[14], -2.0202f}};
    for (const auto& w : worked)
        EXPECT_NEAR(w[0], w[1], 1e-4f);
    EXPECT_TRUE(camera.projection.m[11] == -1.0f && camera.projection.m[15] == 0.0f);
    EXPECT_TRUE(camera.zNear == 1.0f && camera.zFar == 100.0f);

    // A pose turned about y by 0.7 and moved.
    Matrix4 pose = Matrix4::identity();
    const float c = std::cos(0.7f), s = std::sin(0.7f);
    pose.m[0] = c, pose.m[2] = -s, pose.m[8] = s, pose.m[10] = c;
    pose.m[12] = 1.5f, pose.m[13] = -2.0f, pose.m[14] = 20.0f;
    camera.setPerspective(pose, 1.2217f, 1.3f, 1.0f, 100.0f);
    expectIdentity(camera.projection * camera.inverseProjection, 1e-5f);
    expectIdentity(camera.pose * camera.view, 1e-5f);
}
