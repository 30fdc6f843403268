// Frames spanned by three points, and the transforms that carry the props.
#include "app/prop_frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

Vector3 apply(const Matrix4& m, const Vector3& p, float w = 1.0f) {
    const Vector4 r = m * Vector4{p.x, p.y, p.z, w};
    return {r.x, r.y, r.z};
}

// Rotation by angle about the axis (1, 2, 2)/3.
Vector3 rotate(const Vector3& p, float angle) {
    const Vector3 k = {1.0f / 3, 2.0f / 3, 2.0f / 3};
    const float c = std::cos(angle), s = std::sin(angle);
    return p * c + cross(k, p) * s + k * (dot(k, p) * (1 - c));
}

const Vector3 restA = {-2.0f, 1.0f, 3.0f}, restB = {1.5f, 1.2f, 2.5f}, restC = {0.2f, 3.0f, 4.0f};

} // namespace

// A common rigid motion of the three points (none at all included) moves every prop
// point with them.
TEST(PropFrameTest, RigidMotionsOfThePointsMoveThePropAlike) {
    const PropFrame frame(restA, restB, restC);
    const Vector3 t = {0.5f, -1.25f, 2.0f}, centre = {1, 1, 1};
    const std::function<Vector3(const Vector3&)> motions[] = {
        [](const Vector3& p) { return p; },
        [&](const Vector3& p) { return p + t; },
        [&](const Vector3& p) { return rotate(p - centre, 0.8f) + centre + t; },
    };
    for (const auto& moved : motions) {
        Matrix4 m;
        ASSERT_TRUE(frame.currentTransform(m, moved(restA), moved(restB), moved(restC)));
        for (const Vector3& p : {Vector3{0, 0, 0}, Vector3{3, -1, 2}, Vector3{-4, 5, 0.5f}})
            EXPECT_LT(length(apply(m, p) - moved(p)), 1e-4f);
    }
}

TEST(PropFrameTest, ThirdPointDirectionOnlyAndAngleScalesSecondAxis) {
    const Vector3 A = {0, 0, 0}, B = {2, 0, 0};
    const PropFrame frame(A, B, {1, 1, 0});
    // Farther along the same direction: nothing changes.
    Matrix4 m;
    ASSERT_TRUE(frame.currentTransform(m, A, B, {1, 2, 0}));
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(m.m[i], Matrix4::identity().m[i], 1e-6f) << "element " << i;
    // Third point at 30 degrees from the first axis: the second axis shrinks to sin 30° = 0.5.
    ASSERT_TRUE(
        frame.currentTransform(m, A, B, {1 + std::cos(0.5235988f), std::sin(0.5235988f), 0}));
    const Vector3 restSecondAxis = {0, 0, 1}; // x × n at rest
    EXPECT_NEAR(length(apply(m, restSecondAxis, 0.0f)), 0.5f, 1e-6f);
    EXPECT_NEAR(length(apply(m, {1, 0, 0}, 0.0f)), 1.0f, 1e-6f);
}

// Points that span no frame: coincident first points, the third at the mid-point, the
// third on the line through the first two (exactly, and off it by rounding only).
TEST(PropFrameTest, DegeneratePointsGiveNoTransform) {
    const Vector3 A = {0.1f, 0.2f, 0.3f}, B = {1.3f, 0.7f, -0.4f};
    const Vector3 onLine = A + (B - A) * 3.0f;
    const Vector3 cases[][3] = {
        {A, A, restC}, {A, B, (A + B) * 0.5f}, {{0, 0, 0}, {2, 0, 0}, {5, 0, 0}}, {A, B, onLine}};
    const PropFrame good(restA, restB, restC);
    for (const auto& points : cases) {
        EXPECT_TRUE(frameIsDegenerate(frameFromPoints(points[0], points[1], points[2])))
            << points[2].x;
        Matrix4 m;
        EXPECT_FALSE(good.currentTransform(m, points[0], points[1], points[2])) << points[2].x;
        // Degenerate at rest: no transform even for points that span a frame.
        const PropFrame bad(points[0], points[1], points[2]);
        EXPECT_FALSE(bad.currentTransform(m, restA, restB, restC)) << points[2].x;
    }
    // A small but real angle still spans a frame.
    EXPECT_FALSE(frameIsDegenerate(frameFromPoints(A, B, onLine + Vector3{0, 0, 1e-3f})));
}
