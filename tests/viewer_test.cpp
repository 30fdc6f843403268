// Navigation: keys, special keys, mouse rotation and the frame's camera pose; random input
// through every handler.
#include "app/dragger.h"
#include "app/viewer.h"
#include "io/model_file.h"
#include "tests/support/gl_context.h"
#include "tests/support/synthetic_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

namespace {

// The fields of a viewer state that differ between a and b, by name, in a fixed order.
std::string changedFields(const ViewerState& a, const ViewerState& b) {
    std::string names;
    const auto note = [&](bool differs, const char* name) {
        if (differs)
            names += names.empty() ? name : std::string(" ") + name;
    };
    note(a.windowWidth != b.windowWidth || a.windowHeight != b.windowHeight, "window");
    note(a.cameraDistance != b.cameraDistance, "distance");
    note(a.viewYaw != b.viewYaw || a.viewPitch != b.viewPitch, "turn");
    note(!(a.viewOffset == b.viewOffset), "offset");
    note(a.drawFlags != b.drawFlags, "flags");
    note(a.showEyes != b.showEyes, "eyes");
    note(a.deformMode != b.deformMode, "deform");
    note(a.selectedPoint != b.selectedPoint, "selection");
    note(a.lastMouseX != b.lastMouseX || a.lastMouseY != b.lastMouseY, "mouse");
    note(std::memcmp(&a.cameraPose, &b.cameraPose, sizeof a.cameraPose) != 0 ||
             std::memcmp(&a.camera, &b.camera, sizeof a.camera) != 0,
         "camera");
    return names;
}

bool finite(const Matrix4& a) {
    for (float v : a.m)
        if (!std::isfinite(v))
            return false;
    return true;
}

Vector3 column(const Matrix4& a, int c) { return {a.m[4 * c], a.m[4 * c + 1], a.m[4 * c + 2]}; }

} // namespace

using ViewerRandomInput = OffscreenGLTest;

// Thousands of seeded random events through the handlers, as GLUT delivers them, with a
// frame after most of them, on the default face's control points: keys (bound and not),
// special keys, window sizes down to zero, and gestures of any button, aimed at a dot or
// anywhere, inside the window or beyond its edges. What a user would notice stays true: the
// camera is finite, looks at the view centre from the distance the "+" and "-" keys set, and
// keeps pixels square; each key changes only its own setting; a drag turns the view by the distance
// from the press (half a turn per window width or height) and back to the press turns it back; a
// dragged point stays under the cursor at its depth and no other point moves.
TEST_F(ViewerRandomInput, KeepsTheViewSoundAndTheDraggedPointUnderTheCursor) {
    ModelData model;
    std::string error;
    ASSERT_TRUE(readModelFile(model, FACE_SOURCE_DIR "/data/retarget.model", error)) << error;
    const int32_t count = model.controlPointCount;
    std::vector<Vector3> points(model.controlPoints.get(), model.controlPoints.get() + count);
    ControlPointDragger dragger(static_cast<uint32_t>(count), points.data());
    initGLState();
    ViewerState s;

    // What the inputs alone predict: net "+" presses, and the switches' states.
    int32_t closer = 0;
    uint32_t flags = 0;
    bool eyes = false, deform = false, textured = isEnabled(GL_TEXTURE_2D);
    // How many times each property was put to the test.
    int framesChecked = 0, pointDrags = 0, pointsUnderCursor = 0, aimedPicks = 0;
    int turnsBack = 0, fullWidthTurns = 0;
    double worst = 0; // pixels between a dragged point and the cursor
    float nearest = initialCameraDistance, farthest = nearest; // the camera's distances
    float largestTurn = 0; // the largest angle or turn of one motion in the current gesture

    const auto frame = [&] {
        beginFrame(s);
        ++framesChecked;
        nearest = std::min(nearest, s.cameraDistance);
        farthest = std::max(farthest, s.cameraDistance);
        const Camera& c = s.camera;
        ASSERT_TRUE(finite(s.cameraPose) && finite(c.view) && finite(c.projection) &&
                    finite(c.inverseProjection))
            << "frame " << framesChecked;
        // A rotation: unit axes at right angles. The view centre lies straight ahead at the
        // camera's distance (behind it for a negative one).
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                ASSERT_NEAR(dot(column(s.cameraPose, i), column(s.cameraPose, j)), i == j, 1e-5f);
        const Vector3& o = s.viewOffset;
        const Vector4 centre = c.view * Vector4{o.x, o.y, o.z, 1};
        const float d = s.cameraDistance, scale = 1 + std::fabs(d) + length(o);
        ASSERT_LT(length(Vector3{centre.x, centre.y, centre.z + d}), 1e-5f * scale);
        // Pixels are square: a unit to the camera's right of the centre lies as many pixels
        // across as a unit up lies upwards.
        if (d > 1 && s.windowWidth > 0 && s.windowHeight > 0) {
            const Vector3 right = o + column(s.cameraPose, 0), up = o + column(s.cameraPose, 1);
            const float across = c.project({right.x, right.y, right.z, 1}).x * s.windowWidth;
            const float upwards = c.project({up.x, up.y, up.z, 1}).y * s.windowHeight;
            ASSERT_NEAR(across / upwards, 1.0f, 1e-4f) << s.windowWidth << " by " << s.windowHeight;
        }
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        ASSERT_TRUE(viewport[2] == s.windowWidth && viewport[3] == s.windowHeight);
    };

    // The cursor in normalised device coordinates: −1 to 1 across the window, y upwards.
    const auto cursor = [&](double& nx, double& ny, int32_t x, int32_t y) {
        nx = 2.0 * x / s.windowWidth - 1.0;
        ny = 1.0 - 2.0 * y / s.windowHeight;
    };
    const auto screen = [&](const Vector3& p) { return s.camera.project({p.x, p.y, p.z, 1}); };

    Random random(20261206);
    const auto pick = [&](int32_t n) { return static_cast<int32_t>(random.next() % uint32_t(n)); };
    const auto anyX = [&] { return pick(s.windowWidth + 81) - 40; }; // up to 40 beyond the edges
    const auto anyY = [&] { return pick(s.windowHeight + 81) - 40; };

    // Mostly the bound keys, "+" and "-" twice as often; any other code now and then.
    const auto anyKey = [&] {
        const char bound[] = "+-+-acehtt  ";
        return pick(3) ? static_cast<unsigned char>(bound[pick(12)])
                       : static_cast<unsigned char>(pick(256));
    };
    const auto key = [&](unsigned char k) {
        const ViewerState before = s;
        keyboardViewer(s, k);
        // "t" switches GL's texturing and no field.
        closer += (k == '+') - (k == '-');
        flags ^= k == 'c'   ? drawControlMesh
                 : k == 'a' ? drawAttachments
                 : k == 'h' ? drawHintingSamples
                            : 0u;
        eyes ^= k == 'e';
        deform ^= k == ' ';
        textured ^= k == 't';
        const std::string expected = k == '+' || k == '-'               ? "distance"
                                     : k == 'a' || k == 'c' || k == 'h' ? "flags"
                                     : k == 'e'                         ? "eyes"
                                     : k != ' '                         ? ""
                                     : before.selectedPoint >= 0        ? "deform selection"
                                                                        : "deform";
        ASSERT_EQ(changedFields(before, s), expected) << "key " << int(k);
        ASSERT_EQ(s.cameraDistance, initialCameraDistance - 0.25f * static_cast<float>(closer));
        ASSERT_TRUE(s.drawFlags == flags && s.showEyes == eyes && s.deformMode == deform &&
                    isEnabled(GL_TEXTURE_2D) == textured)
            << "key " << int(k);
    };

    const auto specialKey = [&] {
        const int k = pick(2) ? 100 + pick(7) : pick(300); // arrows, page keys, home; any code
        const ViewerState before = s;
        specialKeyViewer(s, k);
        // A quarter unit along the last frame's right, up or backward axis: left, up, right,
        // down, page up (backs away), page down. Home goes back to the centre.
        const Vector3 right = column(s.cameraPose, 0), up = column(s.cameraPose, 1);
        const Vector3 back = column(s.cameraPose, 2);
        const Vector3 directions[] = {-1 * right, up, right, -1 * up, back, -1 * back};
        if (k == 106) {
            ASSERT_TRUE(s.viewOffset == (Vector3{0, 0, 0}));
        } else if (k >= 100 && k <= 105) {
            const Vector3 step = s.viewOffset - before.viewOffset;
            ASSERT_LT(length(step - 0.25f * directions[k - 100]),
                      1e-5f * (1 + length(before.viewOffset)))
                << k;
        }
        const bool moves = k >= 100 && k <= 106 && !(before.viewOffset == s.viewOffset);
        ASSERT_EQ(changedFields(before, s), moves ? "offset" : "") << k;
    };

    const auto reshape = [&] {
        const int32_t sizes[] = {0, 1, 2, 640};
        const int32_t w = pick(4) ? 3 + pick(2000) : sizes[pick(4)];
        const int32_t h = pick(4) ? 3 + pick(2000) : sizes[pick(4)];
        const ViewerState before = s;
        reshapeViewer(s, w, h);
        ASSERT_TRUE(s.windowWidth == w && s.windowHeight == h);
        ASSERT_EQ(changedFields(before, s),
                  before.windowWidth == w && before.windowHeight == h ? "" : "window");
    };

    // One motion event; whether it turned the view (false: it dragged a point).
    const auto motion = [&](int32_t x, int32_t y) {
        const ViewerState before = s;
        const std::vector<Vector3> pointsBefore = points;
        motionViewer(s, &dragger, x, y);
        EXPECT_TRUE(s.lastMouseX == x && s.lastMouseY == y);
        const int32_t held = before.deformMode ? before.selectedPoint : -1;
        for (int32_t i = 0; i < count; ++i) {
            EXPECT_TRUE(i == held || points[i] == pointsBefore[i]) << "point " << i << " moved";
        }
        if (held < 0) {
            const float yaw = s.viewYaw - before.viewYaw, pitch = s.viewPitch - before.viewPitch;
            EXPECT_TRUE(std::isfinite(s.viewYaw) && std::isfinite(s.viewPitch));
            // Horizontal motion turns about the vertical axis only, and vertical motion
            // about the horizontal one; a whole window width or height is half a turn.
            const int32_t dx = x - before.lastMouseX, dy = y - before.lastMouseY;
            for (float a :
                 {std::fabs(yaw), std::fabs(pitch), std::fabs(s.viewYaw), std::fabs(s.viewPitch)})
                largestTurn = std::max(largestTurn, a);
            EXPECT_TRUE((dx != 0 || yaw == 0) && (dy != 0 || pitch == 0)) << dx << ", " << dy;
            const float tolerance = 1e-5f * (1 + std::fabs(s.viewYaw) + std::fabs(s.viewPitch));
            if (dy == 0 && dx == s.windowWidth && dx > 0) {
                EXPECT_NEAR(yaw, 3.1416f, tolerance);
                ++fullWidthTurns;
            }
            if (dx == 0 && dy == s.windowHeight && dy > 0) {
                EXPECT_NEAR(pitch, 3.1416f, tolerance);
                ++fullWidthTurns;
            }
            return true;
        }
        ++pointDrags;
        const Vector3& p = points[held];
        EXPECT_TRUE(isFinite(p)) << "point " << held;
        EXPECT_TRUE(before.viewYaw == s.viewYaw && before.viewPitch == s.viewPitch);
        // Under the cursor at its depth, where the point was in view (in front of the
        // camera within its depth range) and the window has a size.
        const Vector4 from = screen(pointsBefore[held]);
        if (!(std::fabs(from.z) < 1 && s.windowWidth > 0 && s.windowHeight > 0))
            return false;
        double nx, ny;
        cursor(nx, ny, x, y);
        if (std::fabs(nx) > 1 || std::fabs(ny) > 1)
            return false; // beyond the window's edges
        // Off by a tenth of a pixel at most.
        const Vector4 to = screen(p);
        const double offX = std::fabs(to.x - nx) * s.windowWidth / 2;
        const double offY = std::fabs(to.y - ny) * s.windowHeight / 2;
        worst = std::max({worst, offX, offY});
        EXPECT_TRUE(offX < 0.1 && offY < 0.1 && std::fabs(to.z - from.z) < 1e-4f)
            << "point " << held << " at (" << to.x << ", " << to.y << ", " << to.z
            << ") for the cursor at (" << nx << ", " << ny << ", " << from.z << ")";
        ++pointsUnderCursor;
        return false;
    };

    // A press, motions, perhaps back to the press, and (nearly always) the release.
    const auto gesture = [&] {
        const int button = pick(3);
        int32_t x = anyX(), y = anyY();
        // In deformation mode, mostly on a control point's dot.
        bool aimed = false;
        if (s.deformMode && pick(4) != 0) {
            const Vector4 o = screen(points[pick(count)]);
            if (std::fabs(o.x) <= 1 && std::fabs(o.y) <= 1 && std::fabs(o.z) < 1) {
                x = static_cast<int32_t>(std::lround((o.x + 1) / 2 * s.windowWidth));
                y = static_cast<int32_t>(std::lround((1 - o.y) / 2 * s.windowHeight));
                aimed = true;
            }
        }
        const ViewerState before = s;
        mouseButtonViewer(s, &dragger, button, true, x, y);
        ASSERT_TRUE(s.lastMouseX == x && s.lastMouseY == y);
        const bool picks = button == rightButton && s.deformMode && before.selectedPoint < 0;
        if (!picks) {
            ASSERT_EQ(s.selectedPoint, before.selectedPoint);
        } else if (s.selectedPoint >= 0 && s.windowWidth > 0 && s.windowHeight > 0) {
            // The point taken lies within the picking radius of the cursor.
            ASSERT_LT(s.selectedPoint, count);
            double nx, ny;
            cursor(nx, ny, x, y);
            const Vector4 o = screen(points[s.selectedPoint]);
            ASSERT_LT(std::hypot(o.x - nx, o.y - ny), pickRadius + 1e-5);
        } else if (s.selectedPoint < 0) {
            // A press on a dot takes a point (the rounding to pixels stays well within the
            // radius in a window of 40 pixels or more).
            ASSERT_FALSE(aimed && s.windowWidth >= 40 && s.windowHeight >= 40) << x << ", " << y;
        }
        aimedPicks += picks && aimed && s.selectedPoint >= 0;

        const float yaw = s.viewYaw, pitch = s.viewPitch;
        largestTurn = std::max(std::fabs(yaw), std::fabs(pitch));
        bool turnsOnly = true;
        const int32_t moves = 1 + pick(8);
        for (int32_t m = 0; m < moves; ++m) {
            if (pick(10) == 0)
                key(anyKey()); // "+" or space while the button is held, for example
            if (pick(2))
                frame();
            int32_t tx = anyX(), ty = anyY();
            if (pick(8) == 0)
                tx = s.lastMouseX + s.windowWidth, ty = s.lastMouseY;
            else if (pick(8) == 0)
                tx = s.lastMouseX, ty = s.lastMouseY + s.windowHeight;
            turnsOnly &= motion(tx, ty);
        }
        if (pick(2)) {
            turnsOnly &= motion(x, y);
            // Back at the press, a turn of the view is undone (up to the rounding of each
            // step's sum, at most half a unit in the last place of the largest angle).
            if (turnsOnly) {
                const float tolerance =
                    1.2e-7f * static_cast<float>(2 * (moves + 1)) * largestTurn + 1e-7f;
                EXPECT_NEAR(s.viewYaw, yaw, tolerance);
                EXPECT_NEAR(s.viewPitch, pitch, tolerance);
                ++turnsBack;
            }
        }
        if (pick(20) == 0)
            return; // the release went to another window
        const int32_t selected = s.selectedPoint;
        mouseButtonViewer(s, &dragger, button, false, s.lastMouseX, s.lastMouseY);
        ASSERT_EQ(s.selectedPoint, button == rightButton ? -1 : selected);
    };

    frame();
    for (int event = 0; event < 20000 && !HasFatalFailure() && !HasFailure(); ++event) {
        switch (pick(4)) {
        case 0: {
            // One press, or a key held down and repeated.
            const unsigned char k = anyKey();
            for (int32_t n = pick(8) ? 1 : 1 + pick(150); n > 0; --n)
                key(k);
            break;
        }
        case 1:
            specialKey();
            break;
        case 2:
            reshape();
            break;
        default:
            gesture();
            break;
        }
        ASSERT_TRUE(s.selectedPoint == -1 || (s.deformMode && s.selectedPoint < count));
        ASSERT_EQ(s.drawFlags & ~uint32_t(drawControlMesh | drawAttachments | drawHintingSamples),
                  0u);
        if (pick(4) != 0)
            frame();
    }
    // Each property met many cases, and the camera went through the centre and beyond the far
    // plane (the distance has no bounds).
    EXPECT_GT(framesChecked, 10000);
    EXPECT_TRUE(nearest < 0 && farthest > cameraFar) << nearest << " to " << farthest;
    EXPECT_GT(pointsUnderCursor, 300);
    EXPECT_GT(aimedPicks, 100);
    EXPECT_GT(turnsBack, 1000);
    EXPECT_GT(fullWidthTurns, 2000);
    std::printf("%d frames, %d point drags (%d checked under the cursor, at most %.2g pixels "
                "off), %d presses on a dot, %d turns back, %d turns by a window's width or "
                "height\n",
                framesChecked, pointDrags, pointsUnderCursor, worst, aimedPicks, turnsBack,
                fullWidthTurns);
}
