// The reference cube and its display-list cache, in an offscreen context.
#include "app/viewer.h"
#include "tests/support/gl_context.h"

#include <gtest/gtest.h>

using WireCubeGL = OffscreenGLTest;

// Compiled once per size and replayed: a new list would take the next free name.
TEST_F(WireCubeGL, CubeIsCompiledOnceAndReplayed) {
    const double edge[1] = {19.0}, small[1] = {7.0};
    drawWireCube(19.0);
    drawWireCube(19.0);
    const GLuint list = lookupShapeList(shapeListCache(), shapeKindWireCube, edge, 1);
    EXPECT_TRUE(list != 0 && glIsList(list) && glGenLists(1) == list + 1);
    drawWireCube(7.0);
    const GLuint second = lookupShapeList(shapeListCache(), shapeKindWireCube, small, 1);
    EXPECT_TRUE(second != 0 && second != list);
}

TEST_F(WireCubeGL, DefaultFrameShowsRedCubeEdges) {
    initGLState();
    ViewerState s;
    reshapeViewer(s, width, height);
    beginFrame(s);
    drawReferenceFrame();
    glFinish();
    const auto isRed = [](Rgb p) { return p.r > 200 && p.g < 40 && p.b < 40; };
    // The front face (z = 9.5, 15.5 units away) spans ±9.5/(15.5·tan(35°)) ≈ ±0.875 in NDC,
    // pixels 40 to 600; the back face (z = −9.5, 34.5 away) ±0.393, pixels 194 to 446. A red
    // pixel lies within 3 pixels across each of those edges.
    const int edges[][4] = {{40, 320, 1, 0}, {600, 320, 1, 0}, {320, 194, 0, 1}, {320, 446, 0, 1}};
    for (const auto& e : edges) {
        int red = 0;
        for (int d = -3; d <= 3; ++d)
            red += isRed(pixel(e[0] + d * e[2], e[1] + d * e[3]));
        EXPECT_GT(red, 0) << e[0] << ", " << e[1];
    }
    const int red = countPixels(isRed);
    EXPECT_TRUE(red > 2000 && red < 20000) << red;
    // Lighting and depth test on afterwards; texturing as before.
    EXPECT_TRUE(isEnabled(GL_LIGHTING) && isEnabled(GL_DEPTH_TEST) && isEnabled(GL_TEXTURE_2D));
    glDisable(GL_TEXTURE_2D);
    drawReferenceFrame();
    EXPECT_FALSE(isEnabled(GL_TEXTURE_2D));
}
