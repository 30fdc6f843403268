// Frames spanned by three points, and the transforms that carry the props.
#include "app/prop_frame.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void expectMatrixNear(const Matrix4& actual, const Matrix4& expected, float tolerance) {
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(actual.m[i], expected.m[i], tolerance) << "element " << i;
}

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

TEST(PropFrameTest, WorkedExample) {
    const Matrix4 f = frameFromPoints({0, 0, 0}, {2, 0, 0}, {1, 1, 0});
    const Matrix4 expected = {{1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1}};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(f.m[i], expected.m[i]) << "element " << i;
}

TEST(PropFrameTest, RestPointsGiveTheIdentity) {
    const PropFrame frame(restA, restB, restC);
    expectMatrixNear(frame.currentTransform(restA, restB, restC), Matrix4::identity(), 1e-5f);
}

TEST(PropFrameTest, CommonTranslationMovesThePropByIt) {
    const PropFrame frame(restA, restB, restC);
    const Vector3 t = {0.5f, -1.25f, 2.0f};
    const Matrix4 m = frame.currentTransform(restA + t, restB + t, restC + t);
    Matrix4 expected = Matrix4::identity();
    expected.m[12] = t.x, expected.m[13] = t.y, expected.m[14] = t.z;
    expectMatrixNear(m, expected, 1e-5f);
}

TEST(PropFrameTest, CommonRotationRotatesTheProp) {
    const PropFrame frame(restA, restB, restC);
    const float angle = 0.8f;
    const Vector3 centre = {1, 1, 1};
    auto moved = [&](const Vector3& p) { return rotate(p - centre, angle) + centre; };
    const Matrix4 m = frame.currentTransform(moved(restA), moved(restB), moved(restC));
    for (const Vector3& p : {Vector3{0, 0, 0}, Vector3{3, -1, 2}, Vector3{-4, 5, 0.5f}}) {
        const Vector3 expected = moved(p);
        const Vector3 actual = apply(m, p);
        EXPECT_NEAR(actual.x, expected.x, 1e-4f);
        EXPECT_NEAR(actual.y, expected.y, 1e-4f);
        EXPECT_NEAR(actual.z, expected.z, 1e-4f);
    }
}

TEST(PropFrameTest, ThirdPointDirectionOnlyAndAngleScalesSecondAxis) {
    const Vector3 A = {0, 0, 0}, B = {2, 0, 0};
    const Vector3 C90 = {1, 1, 0};
    const PropFrame frame(A, B, C90);
    // Farther along the same direction: nothing changes.
    expectMatrixNear(frame.currentTransform(A, B, {1, 2, 0}), Matrix4::identity(), 1e-6f);
    // Third point at 30 degrees from the first axis: the second axis shrinks to sin 30° = 0.5.
    const Vector3 C30 = {1 + std::cos(0.5235988f), std::sin(0.5235988f), 0};
    const Matrix4 m = frame.currentTransform(A, B, C30);
    const Vector3 restSecondAxis = {0, 0, 1}; // x × n at rest
    EXPECT_NEAR(length(apply(m, restSecondAxis, 0.0f)), 0.5f, 1e-6f);
    EXPECT_NEAR(length(apply(m, {1, 0, 0}, 0.0f)), 1.0f, 1e-6f);
}

TEST(PropFrameTest, CentroidSumsInOrderAndMultipliesByOneThird) {
    const Vector3 c = centroid({1, 2, 3}, {4, 5, 6}, {7, 8, 10});
    EXPECT_EQ(c.x, 12.0f * 0.33333334f);
    EXPECT_EQ(c.y, 15.0f * 0.33333334f);
    EXPECT_EQ(c.z, 19.0f * 0.33333334f);
    // Summation order matters in float: (1e8 + −1e8) + 1 keeps the 1.
    EXPECT_EQ(centroid({1e8f, 0, 0}, {-1e8f, 0, 0}, {3, 0, 0}).x, 3.0f * 0.33333334f);
}
