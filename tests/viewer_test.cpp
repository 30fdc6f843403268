// Navigation: keys, special keys, mouse rotation and the frame's camera pose.
#include "app/viewer.h"
#include "tests/support/gl_context.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

constexpr int keyLeft = 100, keyUp = 101, keyPageUp = 104, keyHome = 106;

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
        {"aaee  ", 25.0f, 0, false, false},
        {"ach", 25.0f, 7, false, false},
        {"e", 25.0f, 0, true, false},
        {" ", 25.0f, 0, false, true},
        {"ACEHT09\t\r\x1bx", 25.0f, 0, false, false},
    };
    for (const auto& c : cases) {
        ViewerState s;
        s.selectedPoint = 3;
        for (char key : c.keys)
            keyboardViewer(s, static_cast<unsigned char>(key));
        EXPECT_TRUE(s.cameraDistance == c.distance && s.drawFlags == c.drawFlags &&
                    s.showEyes == c.eyes && s.deformMode == c.deform &&
                    s.selectedPoint == (c.keys.find(' ') == std::string::npos ? 3 : -1))
            << c.keys;
    }
}

// Arrow and page keys slide the view along the last frame's camera axes; home puts it back
// but keeps the turn; other codes do nothing.
TEST(ViewerSpecialKeys, SlideAlongTheLastFramesAxes) {
    const float c = 0.25f * std::cos(0.3f), s = 0.25f * std::sin(0.3f);
    const std::pair<int, Vector3> cases[] = {{keyLeft, {0.5f - c, 0, -s}},
                                             {keyUp, {0.5f, 0.25f, 0}},
                                             {keyPageUp, {0.5f - s, 0, c}}, // backs away
                                             {keyHome, {0, 0, 0}},
                                             {999, {0.5f, 0, 0}}};
    for (const auto& [key, offset] : cases) {
        ViewerState state;
        state.viewYaw = 0.3f;
        state.cameraPose = computeCameraPose(state);
        state.viewOffset = {0.5f, 0, 0};
        specialKeyViewer(state, key);
        EXPECT_LT(length(state.viewOffset - offset), 1e-6f) << key;
        EXPECT_EQ(state.viewYaw, 0.3f);
    }
}

TEST(ViewerPose, CameraLooksAtTheOffsetPointFromItsDistance) {
    ViewerState s;
    s.viewYaw = 0.4f, s.viewPitch = 0.3f, s.cameraDistance = 10.0f;
    s.viewOffset = {1, 2, 3};
    const Matrix4 pose = computeCameraPose(s);
    const Vector4 eye = pose * Vector4{0, 0, 0, 1}, target = pose * Vector4{0, 0, -10, 1};
    EXPECT_LT(length(Vector3{target.x, target.y, target.z} - s.viewOffset), 1e-5f);
    EXPECT_NEAR(length(Vector3{eye.x, eye.y, eye.z} - s.viewOffset), 10.0f, 1e-5f);
    // A positive yaw takes the camera towards −x, a positive pitch raises it.
    EXPECT_TRUE(eye.x < 0 && eye.y > 3) << eye.x << ", " << eye.y;
}

TEST(ViewerPose, ZeroSizedWindowKeepsTheCameraFinite) {
    ViewerState s;
    const Camera camera = makeFrameCamera(computeCameraPose(s), 300, 0);
    for (int i = 0; i < 16; ++i)
        EXPECT_TRUE(std::isfinite(camera.projection.m[i]) &&
                    std::isfinite(camera.inverseProjection.m[i]));
    s.windowHeight = 0;
    rotateViewer(s, 10, 10);
    EXPECT_TRUE(std::isfinite(s.viewPitch));
}

using ViewerGL = OffscreenGLTest;

// The start-up GL state, the frame's viewport and projection, and the texture key.
TEST_F(ViewerGL, InitialStateFrameCameraAndTextureKey) {
    initGLState();
    EXPECT_TRUE(isEnabled(GL_DEPTH_TEST) && isEnabled(GL_CULL_FACE));
    ViewerState s;
    reshapeViewer(s, 800, 400);
    beginFrame(s);
    GLint mode = 0, viewport[4];
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_TRUE(mode == GL_MODELVIEW && viewport[2] == 800 && viewport[3] == 400);
    EXPECT_FLOAT_EQ(s.camera.nearWidth / s.camera.nearHeight, 2.0f);
    GLfloat projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    EXPECT_EQ(std::memcmp(projection, s.camera.projection.m, sizeof projection), 0);
    for (const bool textured : {false, true}) {
        keyboardViewer(s, 't');
        EXPECT_EQ(isEnabled(GL_TEXTURE_2D), textured);
    }
}
