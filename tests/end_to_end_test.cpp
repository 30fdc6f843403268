// The real face-viewer with the committed data, under its own Xvfb display.
#include "io/model_file.h"
#include "tests/support/start_output.h"
#include "tests/support/viewer_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

namespace {

bool isRed(const uint8_t* p) { return p[0] > 200 && p[1] < 40 && p[2] < 40; }
bool isPureRed(const uint8_t* p) { return p[0] == 255 && p[1] == 0 && p[2] == 0; }
bool isGreen(const uint8_t* p) { return p[0] < 40 && p[1] > 200 && p[2] < 40; }
bool isBlue(const uint8_t* p) { return p[0] < 40 && p[1] < 40 && p[2] > 150; }
bool isYellowish(const uint8_t* p) { return p[0] > 120 && p[1] > 120 && p[2] < p[1] / 2; }
bool isSkin(const uint8_t* p) { return p[0] > 110 && p[0] > p[1] && p[1] > p[2] && p[2] > 40; }
bool isBlack(const uint8_t* p) { return p[0] < 15 && p[1] < 15 && p[2] < 15; }
bool isNotSkin(const uint8_t* p) { return !isSkin(p); }

// Window position of a model point seen by the default camera: at (0, 0, 25) looking down
// −z, horizontal field of view 1.2217 radians, 640 by 640 pixels.
void defaultScreenPosition(const Vector3& p, int* x, int* y) {
    const float f = 1.0f / std::tan(1.2217f / 2);
    const float d = 25.0f - p.z;
    *x = static_cast<int>(std::lround((f * p.x / d + 1) * 320));
    *y = static_cast<int>(std::lround((1 - f * p.y / d) * 320));
}

Vector3 committedControlPoint(int32_t index) {
    ModelData model;
    std::string error;
    const std::string path = std::string(sourceDirectory()) + "/data/retarget.model";
    EXPECT_TRUE(readModelFile(model, path.c_str(), error)) << error;
    EXPECT_GT(model.controlPointCount, index);
    return model.controlPoints[index];
}

// Waits for the first frame: skin in the middle of the window.
bool showsFace(const Screenshot& shot) {
    return shot.width >= 640 && shot.count(270, 250, 370, 400, isSkin) > 100 * 150 / 2;
}

} // namespace

TEST(EndToEnd, StartShowsTheFaceAndPrintsTheKeyBindings) {
    ViewerSession viewer(sourceDirectory());
    ASSERT_TRUE(viewer.start()) << viewer.diagnostics();
    EXPECT_EQ(viewer.standardOutput(), expectedStartOutput);
    EXPECT_EQ(viewer.standardError(), "");
    // The face fills the middle of the window; the reference cube frames it.
    Screenshot shot;
    ASSERT_TRUE(viewer.captureUntil(shot, showsFace));
    EXPECT_GT(shot.count(36, 300, 45, 340, isRed), 20);
    // A left-button drag turns the face: most pixels around it change.
    viewer.drag(1, 300, 320, 500, 320);
    auto changed = [&](const Screenshot& turned) {
        int n = 0;
        for (int y = 150; y < 500; ++y)
            for (int x = 200; x < 440; ++x)
                n += std::memcmp(turned.at(x, y), shot.at(x, y), 3) != 0;
        return n;
    };
    Screenshot turned;
    EXPECT_TRUE(viewer.captureUntil(turned, [&](const Screenshot& s) {
        return changed(s) > 350 * 240 / 3;
    })) << changed(turned);
    EXPECT_TRUE(viewer.alive());
}

TEST(EndToEnd, OverlayKeysBringTheirColours) {
    ViewerSession viewer(sourceDirectory());
    ASSERT_TRUE(viewer.start()) << viewer.diagnostics();
    const int x0 = 180, y0 = 120, x1 = 460, y1 = 520; // around the face
    auto count = [&](bool (*colour)(const uint8_t*)) {
        return [=](const Screenshot& shot) { return shot.count(x0, y0, x1, y1, colour); };
    };
    Screenshot shot;
    ASSERT_TRUE(viewer.captureUntil(shot, showsFace));
    EXPECT_EQ(count(isGreen)(shot), 0);
    EXPECT_EQ(count(isBlue)(shot), 0);
    EXPECT_LT(count(isYellowish)(shot), 200);

    viewer.key("c");
    EXPECT_TRUE(viewer.captureUntil(shot, [&](const Screenshot& s) {
        return count(isYellowish)(s) > 5000;
    })) << count(isYellowish)(shot);
    viewer.key("c");
    viewer.key("a");
    EXPECT_TRUE(viewer.captureUntil(shot,
                                    [&](const Screenshot& s) {
                                        return count(isGreen)(s) > 200 && count(isRed)(s) > 2000 &&
                                               count(isYellowish)(s) < 200;
                                    }))
        << count(isGreen)(shot) << " green, " << count(isRed)(shot) << " red";
    viewer.key("a");
    viewer.key("h");
    EXPECT_TRUE(viewer.captureUntil(
        shot,
        [&](const Screenshot& s) { return count(isBlue)(s) > 5000 && count(isGreen)(s) == 0; }))
        << count(isBlue)(shot) << " blue";
    viewer.key("h");
    EXPECT_TRUE(viewer.captureUntil(shot, [&](const Screenshot& s) {
        return count(isBlue)(s) == 0 && count(isSkin)(s) > 20000;
    }));
}

TEST(EndToEnd, EyesAndControlPointDots) {
    ViewerSession viewer(sourceDirectory());
    ASSERT_TRUE(viewer.start()) << viewer.diagnostics();
    // The eye at −x lies between control points 66 and 67.
    int ax, ay, bx, by;
    defaultScreenPosition(committedControlPoint(66), &ax, &ay);
    defaultScreenPosition(committedControlPoint(67), &bx, &by);
    const int cx = (ax + bx) / 2, cy = (ay + by) / 2;
    Screenshot closed, open;
    ASSERT_TRUE(viewer.captureUntil(closed, showsFace));
    const int holeBefore = closed.count(cx - 8, cy - 4, cx + 8, cy + 4, isBlack);
    EXPECT_GT(holeBefore, 60) << "the eye opening shows the background";
    viewer.key("e");
    EXPECT_TRUE(viewer.captureUntil(open, [&](const Screenshot& s) {
        return s.count(cx - 8, cy - 4, cx + 8, cy + 4, isBlack) < holeBefore / 2;
    }));

    // Inside the back square of the reference cube, so that no cube line is counted.
    EXPECT_EQ(open.count(200, 200, 440, 440, isPureRed), 0);
    viewer.key("space");
    Screenshot dots;
    EXPECT_TRUE(viewer.captureUntil(
        dots, [](const Screenshot& s) { return s.count(200, 200, 440, 440, isPureRed) > 9 * 60; }));
}

TEST(EndToEnd, DraggingThePointOfTheLowerLipOpensTheMouth) {
    ViewerSession viewer(sourceDirectory());
    ASSERT_TRUE(viewer.start()) << viewer.diagnostics();
    int x, y;
    defaultScreenPosition(committedControlPoint(87), &x, &y);
    viewer.key("space");
    Screenshot before;
    ASSERT_TRUE(viewer.captureUntil(before, [](const Screenshot& s) {
        return showsFace(s) && s.count(200, 200, 440, 440, isPureRed) > 9 * 60;
    }));
    const int mouth = before.count(x - 30, y - 25, x + 30, y + 25, isNotSkin);
    viewer.drag(3, x, y, x, y + 45);
    viewer.key("space"); // hide the dots
    // The opened mouth shows its dark inside and the teeth.
    Screenshot after;
    EXPECT_TRUE(viewer.captureUntil(after,
                                    [&](const Screenshot& s) {
                                        return s.count(x - 30, y - 25, x + 30, y + 25, isNotSkin) >
                                                   mouth + 400 &&
                                               s.count(200, 200, 440, 440, isPureRed) == 0;
                                    }))
        << after.count(x - 30, y - 25, x + 30, y + 25, isNotSkin) << " vs " << mouth;
    // The face stays deformed after the release: one more redraw changes nothing.
    viewer.key("Home");
    Screenshot later;
    ASSERT_TRUE(viewer.capture(later));
    EXPECT_EQ(later.rgb, after.rgb);
}

TEST(EndToEnd, MissingModelStopsWithOneLineAndStatusOne) {
    char pattern[] = "/tmp/face-empty-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    ViewerSession viewer(pattern);
    EXPECT_FALSE(viewer.start());
    EXPECT_EQ(viewer.waitExit(30), 1);
    EXPECT_EQ(viewer.standardOutput(), "computing attachments...\n");
    const std::string error = viewer.standardError();
    EXPECT_NE(error.find("data/retarget.model"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), error.size() - 1) << error;
    rmdir(pattern);
}

TEST(EndToEndStress, RandomInputForThirtySeconds) {
    ViewerSession viewer(sourceDirectory());
    ASSERT_TRUE(viewer.start()) << viewer.diagnostics();
    std::mt19937 rng(20261206);
    const char* const keys[] = {"a",     "c",     "e",    "h",     "t",  "space",
                                "plus",  "minus", "Left", "Right", "Up", "Down",
                                "Prior", "Next",  "Home", "A",     "1"};
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end && viewer.alive()) {
        switch (pick(4)) {
        case 0:
            viewer.xdotool({"key", keys[pick(sizeof keys / sizeof *keys)]});
            break;
        case 1:
        case 2: {
            const std::string button = std::to_string(1 + pick(3));
            viewer.xdotool({"mousemove", std::to_string(pick(640)), std::to_string(pick(640)),
                            "mousedown", button, "mousemove", std::to_string(pick(640)),
                            std::to_string(pick(640)), "mouseup", button});
            break;
        }
        default:
            viewer.xdotool({"search", "--name", "face-viewer", "windowsize",
                            std::to_string(1 + pick(700)), std::to_string(1 + pick(700))});
        }
        viewer.settle(0.05);
    }
    ASSERT_TRUE(viewer.alive()) << viewer.standardError();
    EXPECT_EQ(viewer.standardError(), "");
    // Still answering: back to a known view, then a key changes the picture.
    viewer.resize(640, 640);
    viewer.settle(2.0);
    Screenshot before, after;
    ASSERT_TRUE(viewer.capture(before));
    viewer.key("h");
    EXPECT_TRUE(
        viewer.captureUntil(after, [&](const Screenshot& s) { return s.rgb != before.rgb; }));
    EXPECT_TRUE(viewer.alive());
}
