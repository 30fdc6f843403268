// The perspective camera: worked values and inverse pairs. Projecting and unprojecting
// are exercised through picking and dragging.
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

TEST(CameraTest, InversePairsMultiplyToIdentity) {
    Camera camera;
    camera.setPerspective(somePose(), 1.2217f, 1.3f, 1.0f, 100.0f);
    expectIdentity(camera.projection * camera.inverseProjection, 1e-5f);
    expectIdentity(camera.pose * camera.view, 1e-5f);
}
