// The real face-viewer with the committed data, under its own Xvfb display.
#include "io/model_file.h"
#include "tests/support/start_output.h"
#include "tests/support/viewer_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

bool isRed(const uint8_t* p) { return p[0] > 200 && p[1] < 40 && p[2] < 40; }
bool isPureRed(const uint8_t* p) { return p[0] == 255 && p[1] == 0 && p[2] == 0; }
bool isGreen(const uint8_t* p) { return p[0] < 40 && p[1] > 200 && p[2] < 40; }
bool isBlue(const uint8_t* p) { return p[0] < 40 && p[1] < 40 && p[2] > 150; }
bool isYellowish(const uint8_t* p) { return p[0] > 120 && p[1] > 120 && p[2] < p[1] / 2; }
bool isSkin(const uint8_t* p) { return p[0] > 110 && p[0] > p[1] && p[1] > p[2] && p[2] > 40; }
bool isBlack(const uint8_t* p) { return p[0] < 15 && p[1] < 15 && p[2] < 15; }

// Window position of a committed control point seen by the default camera: at (0, 0, 25)
// looking down −z, horizontal field of view 1.2217 radians, 640 by 640 pixels.
void screenPosition(int& x, int& y, int32_t controlPoint) {
    ModelData model;
    std::string error;
    ASSERT_TRUE(readModelFile(model, FACE_SOURCE_DIR "/data/retarget.model", error)) << error;
    const Vector3 p = model.controlPoints[controlPoint];
    const float f = 1.0f / std::tan(1.2217f / 2), d = 25.0f - p.z;
    x = static_cast<int>(std::lround((f * p.x / d + 1) * 320));
    y = static_cast<int>(std::lround((1 - f * p.y / d) * 320));
}

// The first frame is drawn: skin in the middle of the window.
bool showsFace(const Screenshot& shot) {
    return shot.width >= 640 && shot.count(270, 250, 370, 400, isSkin) > 100 * 150 / 2;
}

} // namespace

// One session, step by step: the start-up output, the face, the overlays, the eyes, the
// control-point dots and the lip drag.
TEST(EndToEnd, StartOverlaysEyesDotsAndDrags) {
    ViewerSession viewer(FACE_SOURCE_DIR);
    ASSERT_TRUE(viewer.start()) << viewer.standardError();
    EXPECT_EQ(viewer.standardOutput(), expectedStartOutput);
    EXPECT_EQ(viewer.standardError(), "");
    // The face fills the middle of the window; the reference cube frames it.
    Screenshot shot;
    ASSERT_TRUE(viewer.captureUntil(shot, showsFace));
    EXPECT_GT(shot.count(36, 300, 45, 340, isRed), 20);

    // Each overlay key brings its colour alone around the face, and takes it away again.
    struct Overlay {
        const char* key;
        bool (*colour)(const uint8_t*);
        int shown, absent; // pixel counts above and below which the colour is shown, absent
    };
    const Overlay overlays[] = {
        {"c", isYellowish, 5000, 200}, {"a", isGreen, 200, 1}, {"h", isBlue, 5000, 1}};
    auto count = [](const Screenshot& s, const Overlay& o) {
        return s.count(180, 120, 460, 520, o.colour);
    };
    auto showsOnly = [&](const Overlay* shown) {
        return [&, shown](const Screenshot& s) {
            for (const Overlay& o : overlays)
                if (&o == shown ? count(s, o) <= o.shown : count(s, o) >= o.absent)
                    return false;
            return s.count(180, 120, 460, 520, isSkin) > 20000 || shown;
        };
    };
    EXPECT_TRUE(showsOnly(nullptr)(shot));
    for (const Overlay& overlay : overlays) {
        viewer.key(overlay.key);
        EXPECT_TRUE(viewer.captureUntil(shot, showsOnly(&overlay)))
            << overlay.key << ": " << count(shot, overlay);
        viewer.key(overlay.key);
        EXPECT_TRUE(viewer.captureUntil(shot, showsOnly(nullptr))) << overlay.key << " again";
    }

    // The eye at −x lies between control points 66 and 67: its opening shows the background
    // until "e" puts the eyeball in.
    int ax, ay, bx, by;
    screenPosition(ax, ay, 66);
    screenPosition(bx, by, 67);
    const int ex = (ax + bx) / 2, ey = (ay + by) / 2;
    auto eyeHole = [&](const Screenshot& s) {
        return s.count(ex - 8, ey - 4, ex + 8, ey + 4, isBlack);
    };
    const int holeBefore = eyeHole(shot);
    EXPECT_GT(holeBefore, 60);
    viewer.key("e");
    EXPECT_TRUE(viewer.captureUntil(
        shot, [&](const Screenshot& s) { return eyeHole(s) < holeBefore / 2; }));

    // Space shows the control points as pure red dots (inside the back square of the
    // reference cube, so that no cube line is counted).
    auto dots = [](const Screenshot& s) { return s.count(200, 200, 440, 440, isPureRed); };
    EXPECT_EQ(dots(shot), 0);
    viewer.key("space");
    ASSERT_TRUE(viewer.captureUntil(shot, [&](const Screenshot& s) { return dots(s) > 9 * 60; }));

    // Dragging the point of the lower lip down with the right button opens the mouth: its
    // dark inside and the teeth show.
    int x, y;
    screenPosition(x, y, 87);
    auto mouth = [&](const Screenshot& s) {
        return s.count(x - 30, y - 25, x + 30, y + 25, [](const uint8_t* p) { return !isSkin(p); });
    };
    const int closed = mouth(shot);
    viewer.drag(3, x, y, x, y + 45);
    viewer.key("space"); // hide the dots
    Screenshot opened;
    EXPECT_TRUE(viewer.captureUntil(
        opened, [&](const Screenshot& s) { return mouth(s) > closed + 400 && dots(s) == 0; }))
        << mouth(opened) << " vs " << closed;
    // The face stays deformed after the release: one more redraw changes nothing.
    viewer.key("Home");
    ASSERT_TRUE(viewer.capture(shot));
    EXPECT_EQ(shot.rgb, opened.rgb);

    // A left-button drag across the window turns the view about the vertical axis: the skin
    // shifts from one half of the window to the other.
    auto leftShare = [](const Screenshot& s) {
        const int left = s.count(0, 0, 320, 640, isSkin), right = s.count(320, 0, 640, 640, isSkin);
        return static_cast<double>(left) / std::max(left + right, 1);
    };
    const double before = leftShare(shot);
    viewer.drag(1, 320, 600, 420, 600);
    EXPECT_TRUE(viewer.captureUntil(
        shot, [&](const Screenshot& s) { return std::fabs(leftShare(s) - before) > 0.05; }))
        << leftShare(shot) << " vs " << before;

    EXPECT_TRUE(viewer.alive());
    EXPECT_EQ(viewer.standardError(), "");
}

// GLUT takes its own arguments in glutInit, but the window's size and place are set after
// it: -geometry leaves the face where it always is.
TEST(EndToEnd, GlutGeometryLeavesTheWindowAt640By640AtTheOrigin) {
    ViewerSession viewer(FACE_SOURCE_DIR, {FACE_VIEWER_PATH, "-geometry", "300x300+50+50"},
                         "face-viewer");
    ASSERT_TRUE(viewer.start()) << viewer.standardError();
    Screenshot shot;
    ASSERT_TRUE(viewer.captureUntil(shot, showsFace));
    EXPECT_GT(shot.count(36, 300, 45, 340, isRed), 20); // the cube's left edge
    EXPECT_EQ(viewer.standardOutput(), expectedStartOutput);
}

TEST(EndToEnd, MissingModelStopsWithOneLineAndStatusOne) {
    TempDir empty;
    ViewerSession viewer(empty.path);
    EXPECT_FALSE(viewer.start());
    EXPECT_EQ(viewer.waitExit(30), 1);
    EXPECT_EQ(viewer.standardOutput(), "computing attachments...\n");
    const std::string error = viewer.standardError();
    EXPECT_NE(error.find("data/retarget.model"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), error.size() - 1) << error;
}

// A seeded stream of keys, drags of every button and window sizes down to one pixel, a few
// seconds' worth, sent as fast as xdotool sends them; then the inputs' net effect undone (the
// switches pressed again where pressed an odd number of times, the distance stepped back, the
// turn dragged back, the slide cleared): the viewer stays up, says nothing, and draws the face
// as at start-up. The drags stay inside the window, so that each reaches the viewer, and the
// right button drags only outside deformation mode, so that every drag turns the view.
TEST(EndToEndStress, RandomKeysDragsAndResizesLeaveTheFaceDrawn) {
    ViewerSession viewer(FACE_SOURCE_DIR);
    ASSERT_TRUE(viewer.start()) << viewer.standardError();
    Screenshot shot;
    ASSERT_TRUE(viewer.captureUntil(shot, showsFace));

    std::mt19937 rng(20261206);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const char* const keys[] = {"a",     "c",     "e",     "h",    "t",     "space", "plus",
                                "plus",  "minus", "minus", "Left", "Right", "Up",    "Down",
                                "Prior", "Next",  "Home",  "A",    "1"};
    std::map<std::string, int> pressed; // presses of each key
    int width = 640, height = 640;
    double yaw = 0, pitch = 0;  // the turn the drags add, radians
    const double turn = 3.1416; // per window width or height of drag
    auto text = [](int n) { return std::to_string(n); };
    for (int action = 0; action < 150 && viewer.alive(); ++action) {
        const int kind = pick(4);
        if (kind == 0) {
            // The key goes to the window under the pointer.
            const char* key = keys[pick(sizeof keys / sizeof *keys)];
            ++pressed[key];
            viewer.xdotool({"mousemove", "0", "0", "key", key});
        } else if (kind == 1) {
            width = pick(4) ? 20 + pick(781) : 1 + pick(8);
            height = pick(4) ? 20 + pick(781) : 1 + pick(8);
            viewer.xdotool(
                {"search", "--name", "face-viewer", "windowsize", text(width), text(height)});
        } else {
            const bool deformMode = pressed["space"] % 2 == 1;
            const int button = 1 + pick(deformMode ? 2 : 3);
            const int x0 = pick(width), y0 = pick(height), x1 = pick(width), y1 = pick(height);
            yaw += (x1 - x0) * turn / width;
            pitch += (y1 - y0) * turn / height;
            viewer.xdotool({"mousemove", text(x0), text(y0), "mousedown", text(button), "mousemove",
                            text(x1), text(y1), "mouseup", text(button)});
        }
    }
    ASSERT_TRUE(viewer.alive()) << viewer.standardError();

    // Back to the start-up view: the window's size, the switches, the distance, the slide.
    viewer.xdotool({"search", "--name", "face-viewer", "windowsize", "640", "640"});
    std::vector<std::string> undo = {"mousemove", "0", "0", "key"};
    for (const char* key : {"a", "c", "e", "h", "t", "space"})
        if (pressed[key] % 2 == 1)
            undo.push_back(key);
    for (int n = pressed["plus"] - pressed["minus"]; n != 0; n -= n > 0 ? 1 : -1)
        undo.push_back(n > 0 ? "minus" : "plus");
    undo.push_back("Home");
    viewer.xdotool(undo);
    // The turn, modulo a whole turn, dragged back in steps that stay inside the window.
    const auto back = [&](double angle) {
        const double wrapped = std::remainder(angle, 2 * std::acos(-1.0));
        return static_cast<int>(std::lround(-wrapped * 640 / turn));
    };
    for (int dx = back(yaw), dy = back(pitch); dx != 0 || dy != 0;) {
        const int sx = std::clamp(dx, -600, 600), sy = std::clamp(dy, -600, 600);
        const int x0 = sx > 0 ? 20 : 620, y0 = sy > 0 ? 20 : 620;
        viewer.xdotool({"mousemove", text(x0), text(y0), "mousedown", "1", "mousemove",
                        text(x0 + sx), text(y0 + sy), "mouseup", "1"});
        dx -= sx, dy -= sy;
    }
    // The face in the middle and the reference cube's left edge where they are at start-up.
    EXPECT_TRUE(viewer.captureUntil(shot, [](const Screenshot& s) {
        return showsFace(s) && s.count(36, 300, 45, 340, isRed) > 20;
    }));
    EXPECT_TRUE(viewer.alive());
    EXPECT_EQ(viewer.standardError(), "");
}
