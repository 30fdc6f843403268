// Vector and matrix primitives, Bézier evaluators and grid triangulation.
#include "geometry/bezier.h"
#include "geometry/grid.h"
#include "geometry/matrix.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

void expectNear(const Vector3& actual, const Vector3& expected, float tolerance) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

void expectIdentity(const Matrix4& m, float tolerance) {
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(m.m[i], (i % 5 == 0) ? 1.0f : 0.0f, tolerance) << "element " << i;
}

// The flat cubic net of triangle ABC: the point of a^i b^j c^k at (i·A + j·B + k·C)/3.
void flatCubicNet(Vector3* net, const Vector3& A, const Vector3& B, const Vector3& C) {
    int n = 0;
    for (int row = 0; row <= 3; ++row)
        for (int j = 0; j <= row; ++j) {
            const float i = static_cast<float>(3 - row), b = static_cast<float>(row - j),
                        c = static_cast<float>(j);
            net[n++] = (i * A + b * B + c * C) * (1.0f / 3.0f);
        }
}

} // namespace

TEST(Interpolation, LerpAndCombineWorkedValues) {
    const Vector3 A = {1, 2, 3}, B = {10, 20, 30}, C = {100, 200, 300};
    Vector3 r;
    EXPECT_EQ(lerp(r, A, B, 0.0f), A);
    EXPECT_EQ(lerp(r, A, B, 1.0f), B);
    EXPECT_EQ(lerp(r, A, B, 0.25f), (Vector3{3.25f, 6.5f, 9.75f}));
    EXPECT_EQ(combine3(r, A, B, C, 0.5f, 0.25f, 0.125f), (Vector3{15.5f, 31.0f, 46.5f}));
}

TEST(Interpolation, CombineSumsFirstTwoTermsFirst) {
    // (a·A + b·B) + c·C differs from a·A + (b·B + c·C) here in float: 1e8 absorbs 1.
    const Vector3 A = {1e8f, 0, 0}, B = {-1e8f, 0, 0}, C = {1, 0, 0};
    Vector3 r;
    combine3(r, A, B, C, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(r.x, 1.0f);
}

TEST(BezierTriangle, CubicCornersAreNetCorners) {
    Vector3 net[10];
    for (int i = 0; i < 10; ++i)
        net[i] = {static_cast<float>(i), static_cast<float>(i * i), static_cast<float>(-i)};
    Vector3 r;
    EXPECT_EQ(evaluateCubicTriangle(r, net, 1, 0, 0), net[0]);
    EXPECT_EQ(evaluateCubicTriangle(r, net, 0, 1, 0), net[6]);
    EXPECT_EQ(evaluateCubicTriangle(r, net, 0, 0, 1), net[9]);
}

TEST(BezierTriangle, FlatCubicNetReproducesItsTriangle) {
    const Vector3 A = {0.5f, -1, 2}, B = {3, 0.25f, 1}, C = {-1, 2, -0.5f};
    Vector3 net[10];
    flatCubicNet(net, A, B, C);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> weight(-0.25f, 1.25f);
    for (int trial = 0; trial < 200; ++trial) {
        const float a = weight(rng), b = weight(rng), c = 1.0f - a - b;
        Vector3 expected, actual;
        combine3(expected, A, B, C, a, b, c);
        evaluateCubicTriangle(actual, net, a, b, c);
        expectNear(actual, expected, 1e-5f);
    }
}

TEST(Matrix4Test, ProductFollowsColumnMajorLayout) {
    // A translation by (1, 2, 3) applied after a scale by 2: T·S maps (1, 1, 1) to (3, 4, 5).
    Matrix4 T = Matrix4::identity(), S = Matrix4::identity();
    T.m[12] = 1, T.m[13] = 2, T.m[14] = 3;
    S.m[0] = S.m[5] = S.m[10] = 2;
    const Vector4 p = (T * S) * Vector4{1, 1, 1, 1};
    EXPECT_EQ(p.x, 3);
    EXPECT_EQ(p.y, 4);
    EXPECT_EQ(p.z, 5);
    EXPECT_EQ(p.w, 1);
}

TEST(Matrix4Test, InverseRoundTripsOnRandomMatrices) {
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
}

TEST(Matrix4Test, InverseOfSingularMatrixIsNotFinite) {
    Matrix4 M = Matrix4::identity();
    M.m[10] = 0.0f;
    const Matrix4 inv = Matrix4::inverse(M);
    EXPECT_FALSE(std::isfinite(inv.m[0]));
}

namespace {
std::vector<Triangle> grid(int32_t base, int32_t n) {
    std::vector<Triangle> out(static_cast<size_t>(n * n));
    gridTriangles(out.data(), base, n);
    return out;
}
void expectTriangles(const std::vector<Triangle>& actual, const std::vector<Triangle>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t t = 0; t < expected.size(); ++t)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(actual[t].index[j], expected[t].index[j]) << "triangle " << t;
}
} // namespace

TEST(GridTriangles, LevelsOneToThree) {
    expectTriangles(grid(0, 1), {{{0, 1, 2}}});
    expectTriangles(grid(0, 2), {{{0, 1, 3}}, {{1, 4, 3}}, {{1, 2, 4}}, {{3, 4, 5}}});
    expectTriangles(grid(0, 3), {{{0, 1, 4}},
                                 {{1, 5, 4}},
                                 {{1, 2, 5}},
                                 {{2, 6, 5}},
                                 {{2, 3, 6}},
                                 {{4, 5, 7}},
                                 {{5, 8, 7}},
                                 {{5, 6, 8}},
                                 {{7, 8, 9}}});
}

TEST(GridTriangles, EveryLevelShiftsCoversAndRunsCounterClockwise) {
    for (int32_t n = 1; n <= 10; ++n) {
        const std::vector<Triangle> plain = grid(0, n), shifted = grid(1000, n);
        // Parameters (k, row) of each vertex in grid order, and how often each is used.
        std::vector<std::pair<int, int>> uv;
        for (int r = 0; r <= n; ++r)
            for (int k = 0; k <= n - r; ++k)
                uv.push_back({k, r});
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
        for (int u : uses)
            EXPECT_GT(u, 0) << "every grid vertex is used at level " << n;
    }
}
