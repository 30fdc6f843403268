// The perspective camera: worked values, inverse pairs, projection round trips.
#include "geometry/camera.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {
void expectIdentity(const Matrix4& m, float tolerance) {
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(m.m[i], (i % 5 == 0) ? 1.0f : 0.0f, tolerance) << "element " << i;
}
Matrix4 somePose() {
    // A rotation about y by 0.7 and a translation.
    Matrix4 p = Matrix4::identity();
    const float c = std::cos(0.7f), s = std::sin(0.7f);
    p.m[0] = c, p.m[2] = -s, p.m[8] = s, p.m[10] = c;
    p.m[12] = 1.5f, p.m[13] = -2.0f, p.m[14] = 20.0f;
    return p;
}
} // namespace

TEST(CameraTest, WorkedValuesForAspectOneAndAHalf) {
    Camera camera;
    camera.setPerspective(Matrix4::identity(), 1.2217f, 1.5f, 1.0f, 100.0f);
    EXPECT_NEAR(camera.nearWidth, 1.4004f, 1e-4f);
    EXPECT_NEAR(camera.nearHeight, 0.9336f, 1e-4f);
    EXPECT_NEAR(camera.projection.m[0], 1.4282f, 1e-4f);
    EXPECT_NEAR(camera.projection.m[5], 2.1423f, 1e-4f);
    EXPECT_NEAR(camera.projection.m[10], -1.0202f, 1e-4f);
    EXPECT_NEAR(camera.projection.m[14], -2.0202f, 1e-4f);
    EXPECT_EQ(camera.projection.m[11], -1.0f);
    EXPECT_EQ(camera.projection.m[15], 0.0f);
    EXPECT_EQ(camera.zNear, 1.0f);
    EXPECT_EQ(camera.zFar, 100.0f);
}

TEST(CameraTest, SquareAspectGivesEqualScales) {
    Camera camera;
    camera.setPerspective(Matrix4::identity(), 1.2217f, 1.0f, 1.0f, 100.0f);
    EXPECT_EQ(camera.projection.m[0], camera.projection.m[5]);
    EXPECT_NEAR(camera.projection.m[0], 1.0f / std::tan(1.2217f / 2), 1e-5f);
    expectIdentity(camera.view, 0.0f);
}

TEST(CameraTest, InversePairsMultiplyToIdentity) {
    Camera camera;
    camera.setPerspective(somePose(), 1.2217f, 1.3f, 1.0f, 100.0f);
    expectIdentity(camera.projection * camera.inverseProjection, 1e-5f);
    expectIdentity(camera.pose * camera.view, 1e-5f);
}

TEST(CameraTest, ProjectAndUnprojectRoundTrip) {
    Camera camera;
    camera.setPerspective(somePose(), 1.2217f, 1.3f, 1.0f, 100.0f);
    const Vector4 world = {2.0f, 1.0f, 3.0f, 1.0f};
    const Vector4 ndc = camera.project(world);
    EXPECT_NEAR(ndc.w, 1.0f, 1e-6f);
    const Vector4 back = camera.unproject(ndc);
    EXPECT_NEAR(back.x, world.x, 1e-3f);
    EXPECT_NEAR(back.y, world.y, 1e-3f);
    EXPECT_NEAR(back.z, world.z, 1e-3f);
}

TEST(CameraTest, ProjectMapsTheViewAxisToTheCentre) {
    Camera camera;
    Matrix4 pose = Matrix4::identity();
    pose.m[14] = 25.0f; // at (0, 0, 25) looking down −z
    camera.setPerspective(pose, 1.2217f, 1.0f, 1.0f, 100.0f);
    const Vector4 ndc = camera.project({0, 0, 0, 1});
    EXPECT_EQ(ndc.x, 0.0f);
    EXPECT_EQ(ndc.y, 0.0f);
    EXPECT_GT(ndc.z, -1.0f);
    EXPECT_LT(ndc.z, 1.0f);
    // A point at the right edge of the horizontal field of view lands at x = 1.
    const float halfWidth = 25.0f * std::tan(1.2217f / 2);
    EXPECT_NEAR(camera.project({halfWidth, 0, 0, 1}).x, 1.0f, 1e-5f);
}
