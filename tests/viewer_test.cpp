// Navigation: keys, special keys, mouse rotation and the frame's camera pose.
#include "app/viewer.h"
#include "tests/support/gl_context.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {
constexpr int keyLeft = 100, keyUp = 101, keyPageUp = 104, keyHome = 106;
}

// Each key sequence from the initial state (with control point 3 selected): the camera
// distance, overlay bits, eyes and deformation mode it leaves. Space clears the selection.
TEST(ViewerKeys, EachKeyChangesItsOwnStateOnly) {
    const struct {
        std::string keys;
        float distance;
        uint32_t drawFlags;
        bool eyes, deform;
    } cases[] = {
        {"++++", 24.0f, 0, false, false},
        {"++++----", 25.0f, 0, false, false},
        {std::string(104, '+'), -1.0f, 0, false, false}, // no bounds: through the centre
        {"aa", 25.0f, 0, false, false},
        {"ac", 25.0f, 3, false, false},
        {"ach", 25.0f, 7, false, false},
        {"e", 25.0f, 0, true, false},
        {"ee", 25.0f, 0, false, false},
        {" ", 25.0f, 0, false, true},
        {"  ", 25.0f, 0, false, false},
        {"ACEHT09\t\r\x1bx", 25.0f, 0, false, false},
    };
    for (const auto& c : cases) {
        ViewerState s;
        s.selectedPoint = 3;
        for (char key : c.keys)
            keyboardViewer(s, static_cast<unsigned char>(key));
        EXPECT_EQ(s.cameraDistance, c.distance) << c.keys;
        EXPECT_EQ(s.drawFlags, c.drawFlags) << c.keys;
        EXPECT_EQ(s.showEyes, c.eyes) << c.keys;
        EXPECT_EQ(s.deformMode, c.deform) << c.keys;
        EXPECT_EQ(s.selectedPoint, c.keys.find(' ') == std::string::npos ? 3 : -1) << c.keys;
    }
}

TEST(ViewerSpecialKeys, SlideAlongTheLastFramesAxes) {
    ViewerState s;
    specialKeyViewer(s, keyLeft);
    EXPECT_EQ(s.viewOffset, (Vector3{-0.25f, 0, 0}));
    specialKeyViewer(s, keyHome);
    EXPECT_EQ(s.viewOffset, (Vector3{0, 0, 0}));

    s.viewYaw = 0.3f;
    s.cameraPose = computeCameraPose(s);
    specialKeyViewer(s, keyLeft);
    EXPECT_NEAR(s.viewOffset.x, -0.25f * std::cos(0.3f), 1e-7f);
    EXPECT_EQ(s.viewOffset.y, 0.0f);
    EXPECT_NEAR(s.viewOffset.z, -0.25f * std::sin(0.3f), 1e-7f);

    specialKeyViewer(s, keyHome);
    specialKeyViewer(s, keyUp);
    EXPECT_EQ(s.viewOffset, (Vector3{0, 0.25f, 0}));
    specialKeyViewer(s, keyHome);
    specialKeyViewer(s, keyPageUp); // backs away along the camera's z axis
    EXPECT_NEAR(s.viewOffset.x, -0.25f * std::sin(0.3f), 1e-7f);
    EXPECT_NEAR(s.viewOffset.z, 0.25f * std::cos(0.3f), 1e-7f);

    specialKeyViewer(s, keyHome);
    EXPECT_EQ(s.viewYaw, 0.3f); // home keeps the turn
    EXPECT_EQ(s.viewOffset, (Vector3{0, 0, 0}));
    specialKeyViewer(s, 999); // unknown code
    EXPECT_EQ(s.viewOffset, (Vector3{0, 0, 0}));
}

TEST(ViewerMouse, DragTurnsByHalfATurnPerWindowWidth) {
    ViewerState s;
    s.lastMouseX = 100, s.lastMouseY = 100;
    rotateViewer(s, 420, 100);
    EXPECT_NEAR(s.viewYaw, 1.5708f, 1e-6f);
    EXPECT_EQ(s.viewPitch, 0.0f);
    rotateViewer(s, 420, 164);
    EXPECT_NEAR(s.viewPitch, 0.31416f, 1e-6f);
    EXPECT_EQ(s.lastMouseX, 420);
    EXPECT_EQ(s.lastMouseY, 164);
}

TEST(ViewerMouse, WindowToDeviceCoordinates) {
    ViewerState s;
    // Window rows run downwards, device y upwards.
    const int window[3] = {320, 0, 640};
    const float device[3] = {0.0f, -1.0f, 1.0f};
    for (int i = 0; i < 3; ++i) {
        float nx, ny;
        windowToDevice(nx, ny, s, window[i], window[i]);
        EXPECT_TRUE(nx == device[i] && ny == -device[i]) << window[i];
    }
}

TEST(ViewerPose, PoseIsOffsetTimesRotationsTimesDistance) {
    ViewerState s;
    s.viewYaw = 0.4f, s.viewPitch = -0.3f, s.cameraDistance = 10.0f;
    s.viewOffset = {1, 2, 3};
    const Matrix4 pose = computeCameraPose(s);
    // Build T(offset)·Rx(−pitch)·Ry(−yaw)·T(0, 0, d) from elementary matrices.
    Matrix4 T = Matrix4::identity(), Rx = Matrix4::identity(), Ry = Matrix4::identity(),
            D = Matrix4::identity();
    T.m[12] = 1, T.m[13] = 2, T.m[14] = 3;
    const float cp = std::cos(-s.viewPitch), sp = std::sin(-s.viewPitch);
    Rx.m[5] = cp, Rx.m[6] = sp, Rx.m[9] = -sp, Rx.m[10] = cp;
    const float cy = std::cos(-s.viewYaw), sy = std::sin(-s.viewYaw);
    Ry.m[0] = cy, Ry.m[2] = -sy, Ry.m[8] = sy, Ry.m[10] = cy;
    D.m[14] = 10;
    const Matrix4 expected = T * Rx * Ry * D;
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(pose.m[i], expected.m[i], 1e-5f) << i;
}

TEST(ViewerPose, ZeroSizedWindowKeepsTheCameraFinite) {
    ViewerState s;
    s.windowWidth = 300;
    s.windowHeight = 0;
    const Camera camera = makeFrameCamera(computeCameraPose(s), s.windowWidth, s.windowHeight);
    for (float e : camera.projection.m)
        EXPECT_TRUE(std::isfinite(e));
    for (float e : camera.inverseProjection.m)
        EXPECT_TRUE(std::isfinite(e));
    rotateViewer(s, 10, 10);
    EXPECT_TRUE(std::isfinite(s.viewPitch));
}

using ViewerGL = OffscreenGLTest;

TEST_F(ViewerGL, TextureKeySwitchesTexturingBothWays) {
    initGLState();
    ViewerState s;
    EXPECT_TRUE(isEnabled(GL_TEXTURE_2D));
    keyboardViewer(s, 't');
    EXPECT_FALSE(isEnabled(GL_TEXTURE_2D));
    keyboardViewer(s, 't');
    EXPECT_TRUE(isEnabled(GL_TEXTURE_2D));
}

TEST_F(ViewerGL, InitialStateAndFrameCamera) {
    initGLState();
    EXPECT_TRUE(isEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(isEnabled(GL_CULL_FACE));
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_PROJECTION);

    ViewerState s;
    reshapeViewer(s, 800, 400);
    beginFrame(s);
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 800);
    EXPECT_EQ(viewport[3], 400);
    EXPECT_FLOAT_EQ(s.camera.nearWidth / s.camera.nearHeight, 2.0f);
    GLfloat projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(projection[i], s.camera.projection.m[i]);
}
