// The reference cube and its display-list cache, in an offscreen context.
#include "app/viewer.h"
#include "app/wire_cube.h"
#include "tests/support/gl_context.h"

#include <gtest/gtest.h>

namespace {
bool isRed(Rgb p) { return p.r > 200 && p.g < 40 && p.b < 40; }
bool isBlack(Rgb p) { return p.r < 10 && p.g < 10 && p.b < 10; }
} // namespace

// Whether a red pixel lies within 3 pixels of (x, y) along the given direction.
#define EXPECT_RED_NEAR(x, y, dx, dy)                                                              \
    EXPECT_TRUE([&] {                                                                              \
        for (int d = -3; d <= 3; ++d)                                                              \
            if (isRed(pixel((x) + d * (dx), (y) + d * (dy))))                                      \
                return true;                                                                       \
        return false;                                                                              \
    }())

using WireCubeGL = OffscreenGLTest;

TEST_F(WireCubeGL, CubeIsCompiledOnceAndReplayed) {
    drawWireCube(19.0);
    const double edge[1] = {19.0};
    const GLuint list = lookupShapeList(shapeListCache(), shapeKindWireCube, edge, 1);
    ASSERT_NE(list, 0u);
    EXPECT_TRUE(glIsList(list));
    drawWireCube(19.0);
    EXPECT_EQ(lookupShapeList(shapeListCache(), shapeKindWireCube, edge, 1), list);
    // A new list would take the next free name: none was made by the second call.
    const GLuint probe = glGenLists(1);
    EXPECT_EQ(probe, list + 1);
    glDeleteLists(probe, 1);

    drawWireCube(7.0);
    const double small[1] = {7.0};
    const GLuint second = lookupShapeList(shapeListCache(), shapeKindWireCube, small, 1);
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, list);
    EXPECT_EQ(lookupShapeList(shapeListCache(), shapeKindWireCube, edge, 1), list);
}

TEST_F(WireCubeGL, DefaultFrameShowsRedCubeEdgesOnBlack) {
    initGLState();
    ViewerState s;
    reshapeViewer(s, width, height);
    beginFrame(s);
    drawReferenceFrame();
    glFinish();
    // The front face (z = 9.5, 15.5 units away) spans ±9.5/(15.5·tan(35°)) ≈ ±0.875 in NDC,
    // pixels 40 to 600; the back face (z = −9.5, 34.5 away) ±0.393, pixels 194 to 446.
    EXPECT_RED_NEAR(40, 320, 1, 0);
    EXPECT_RED_NEAR(600, 320, 1, 0);
    EXPECT_RED_NEAR(320, 194, 0, 1);
    EXPECT_RED_NEAR(320, 446, 0, 1);
    EXPECT_TRUE(isBlack(pixel(320, 320)));
    EXPECT_TRUE(isBlack(pixel(10, 10)));
    const int red = countPixels(isRed);
    EXPECT_GT(red, 2000);
    EXPECT_LT(red, 20000);
    // Lighting and depth test on afterwards; texturing as before.
    EXPECT_TRUE(isEnabled(GL_LIGHTING));
    EXPECT_TRUE(isEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(isEnabled(GL_TEXTURE_2D));
    glDisable(GL_TEXTURE_2D);
    drawReferenceFrame();
    EXPECT_FALSE(isEnabled(GL_TEXTURE_2D));
}

TEST_F(WireCubeGL, BoxCornersAreOrderedBeforeDrawing) {
    // A box given with each pair reversed draws the same pixels as the ordered one.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-2, 2, -2, 2, -2, 2);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glRotatef(30, 1, 1, 0);
    glColor3f(1, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    drawBoxFaces(-1, 1, -0.5, 0.5, -1, 1, GL_LINE_LOOP);
    glFinish();
    const std::vector<uint8_t> ordered = buffer;
    glClear(GL_COLOR_BUFFER_BIT);
    drawBoxFaces(1, -1, 0.5, -0.5, 1, -1, GL_LINE_LOOP);
    glFinish();
    EXPECT_EQ(buffer, ordered);
    EXPECT_GT(countPixels(isRed), 100);
}
