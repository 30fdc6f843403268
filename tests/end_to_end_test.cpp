// The real face-viewer under its own Xvfb display.
#include "tests/support/viewer_session.h"

#include <gtest/gtest.h>

namespace {
bool isRed(const uint8_t* p) { return p[0] > 200 && p[1] < 40 && p[2] < 40; }
} // namespace

TEST(EndToEnd, ReferenceCubeAndMouseRotation) {
    ViewerSession viewer(sourceDirectory());
    ASSERT_TRUE(viewer.start()) << viewer.standardError();
    Screenshot before;
    ASSERT_TRUE(viewer.capture(before));
    ASSERT_GE(before.width, 640);
    // The front face's left edge runs down near x = 40 at the window's mid height.
    EXPECT_GT(before.count(36, 300, 45, 340, isRed), 20);
    // A left-button drag of 160 pixels turns the view by a quarter of a half turn.
    viewer.drag(1, 300, 320, 460, 320);
    Screenshot after;
    ASSERT_TRUE(viewer.capture(after));
    EXPECT_LT(after.count(36, 300, 45, 340, isRed), 5);
    EXPECT_NE(before.rgb, after.rgb);
    EXPECT_TRUE(viewer.alive());
}
