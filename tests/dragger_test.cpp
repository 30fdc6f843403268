// Picking and dragging control points, and the mouse flow around them.
#include "app/dragger.h"
#include "app/viewer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr int leftButton = 0;

// The default frame's camera: at (0, 0, 25) looking at the origin, square window.
Camera defaultCamera() {
    ViewerState s;
    s.cameraPose = computeCameraPose(s);
    return makeFrameCamera(s.cameraPose, 640, 640);
}

// The world point that projects to NDC (x, y) at NDC depth z.
Vector3 atScreen(const Camera& camera, float x, float y, float z = 0.9f) {
    const Vector4 p = camera.unproject({x, y, z, 1});
    return {p.x, p.y, p.z};
}

Vector4 screenOf(const Camera& camera, const Vector3& p) {
    return camera.project({p.x, p.y, p.z, 1});
}

} // namespace

TEST(DraggerPick, NearestWithinRadiusWins) {
    const Camera camera = defaultCamera();
    std::vector<Vector3> points = {atScreen(camera, 0.38f, 0.0f), atScreen(camera, 0.0f, 0.3f),
                                   atScreen(camera, 0.3f, 0.05f, 0.95f)};
    ControlPointDragger dragger(3, points.data());
    // 0.08 from point 0, 0.05 from point 2 (which lies deeper: depth plays no part).
    EXPECT_EQ(dragger.pick(camera, 0.3f, 0.0f, pickRadius), 2);
    // A point exactly at the radius is not taken: radius = its own distance.
    const float d = std::abs(screenOf(camera, points[1]).y - 0.2f);
    EXPECT_EQ(dragger.pick(camera, 0.0f, 0.2f, d), -1);
    EXPECT_EQ(dragger.pick(camera, 0.0f, 0.2f, std::nextafter(d, 1.0f)), 1);
    EXPECT_EQ(ControlPointDragger(0, nullptr).pick(camera, 0, 0, pickRadius), -1);
}

TEST(DraggerPick, EqualScreenDistanceTakesTheLowerIndex) {
    const Camera camera = defaultCamera();
    // Two points on the view axis at different depths project to the same position.
    std::vector<Vector3> points = {{5, 5, 0}, {0, 0, 3}, {0, 0, -4}};
    ControlPointDragger dragger(3, points.data());
    EXPECT_EQ(dragger.pick(camera, 0.01f, 0.0f, pickRadius), 1);
    // Mirror images about the cursor are equally far.
    std::vector<Vector3> mirrored = {{5, 5, 0}, {1, 0, 0}, {-1, 0, 0}};
    ControlPointDragger other(3, mirrored.data());
    EXPECT_EQ(other.pick(camera, 0.0f, 0.0f, 0.5f), 1);
}

TEST(DraggerDrag, PointFollowsTheCursorAtItsDepth) {
    const Camera camera = defaultCamera();
    std::vector<Vector3> points = {{1.0f, -2.0f, 3.0f}};
    ControlPointDragger dragger(1, points.data());
    const Vector4 before = screenOf(camera, points[0]);
    dragger.drag(camera, 0, before.x + 0.2f, before.y);
    const Vector4 after = screenOf(camera, points[0]);
    EXPECT_NEAR(after.x, before.x + 0.2f, 1e-5f);
    EXPECT_NEAR(after.y, before.y, 1e-5f);
    EXPECT_NEAR(after.z, before.z, 1e-6f);
    // Parallel to the image plane: the camera looks down −z, so z stays.
    EXPECT_NEAR(points[0].z, 3.0f, 1e-4f);
    EXPECT_GT(points[0].x, 1.0f);
}

// Deformation mode off, the right button turns the view; on, it picks the point under the
// cursor and drags it (any button then drags it), or turns the view when no point is near.
TEST(ViewerDragging, RightPressPicksOnlyInDeformMode) {
    ViewerState s;
    s.camera = defaultCamera();
    // Above the centre: window rows run downwards, device y upwards.
    std::vector<Vector3> points = {{0, 3, 0}};
    ControlPointDragger dragger(1, points.data());
    mouseButtonViewer(s, &dragger, rightButton, true, 322, 265);
    EXPECT_EQ(s.selectedPoint, -1);
    mouseButtonViewer(s, &dragger, rightButton, false, 322, 265);

    keyboardViewer(s, ' ');
    mouseButtonViewer(s, &dragger, rightButton, true, 100, 100); // far from the point
    EXPECT_EQ(s.selectedPoint, -1);
    motionViewer(s, &dragger, 260, 100); // half a turn per window width, and height
    motionViewer(s, &dragger, 260, 164);
    EXPECT_NEAR(s.viewYaw, 3.1416f * 160 / 640, 1e-6f);
    EXPECT_NEAR(s.viewPitch, 3.1416f * 64 / 640, 1e-6f);
    mouseButtonViewer(s, &dragger, rightButton, false, 260, 164);
    s.viewYaw = 0;
    EXPECT_EQ(points[0], (Vector3{0, 3, 0}));

    mouseButtonViewer(s, &dragger, rightButton, true, 322, 265);
    EXPECT_EQ(s.selectedPoint, 0);
    EXPECT_EQ(s.lastMouseX, 322);
    // Dragging moves the point, and the view does not turn.
    motionViewer(s, &dragger, 400, 318);
    EXPECT_GT(points[0].x, 0.5f);
    // A left-button drag while the point is held keeps dragging it.
    mouseButtonViewer(s, &dragger, leftButton, true, 400, 318);
    motionViewer(s, &dragger, 420, 318);
    mouseButtonViewer(s, &dragger, leftButton, false, 420, 318);
    EXPECT_EQ(s.viewYaw, 0.0f);
    // The release ends the drag; the point stays where it was left.
    mouseButtonViewer(s, &dragger, rightButton, false, 420, 318);
    EXPECT_EQ(s.selectedPoint, -1);
    const Vector3 left = points[0];
    motionViewer(s, &dragger, 480, 318);
    EXPECT_EQ(points[0], left);
    EXPECT_GT(s.viewYaw, 0.0f);
    // A release lost to another window: the next press still picks, also after the mode
    // was switched off and on.
    mouseButtonViewer(s, &dragger, rightButton, true, 420, 318);
    EXPECT_EQ(s.selectedPoint, 0);
    keyboardViewer(s, ' ');
    keyboardViewer(s, ' ');
    mouseButtonViewer(s, &dragger, rightButton, true, 420, 318);
    EXPECT_EQ(s.selectedPoint, 0);
}
