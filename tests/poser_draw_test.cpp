// face-poser's frame in an offscreen context: with everything it adds switched on it hands
// on the GL state that face-viewer's frame hands on, and "w" colours the face.
#include "tests/support/gl_context.h"
#include "tools/common/region.h"
#include "tools/poser/poser.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// What the next frame would inherit: switches, client arrays, matrix and attribute stacks,
// blending, point size, pixel packing and the material that lighting uses.
std::vector<float> inheritedState() {
    std::vector<float> state;
    for (GLenum capability : {GL_LIGHTING, GL_DEPTH_TEST, GL_TEXTURE_2D, GL_BLEND, GL_CULL_FACE,
                              GL_COLOR_MATERIAL, GL_POLYGON_OFFSET_FILL, GL_VERTEX_ARRAY,
                              GL_NORMAL_ARRAY, GL_COLOR_ARRAY, GL_TEXTURE_COORD_ARRAY})
        state.push_back(glIsEnabled(capability));
    for (GLenum value : {GL_MATRIX_MODE, GL_MODELVIEW_STACK_DEPTH, GL_PROJECTION_STACK_DEPTH,
                         GL_ATTRIB_STACK_DEPTH, GL_CLIENT_ATTRIB_STACK_DEPTH, GL_BLEND_SRC,
                         GL_BLEND_DST, GL_PACK_ALIGNMENT}) {
        GLint v = 0;
        glGetIntegerv(value, &v);
        state.push_back(float(v));
    }
    GLfloat pointSize = 0, diffuse[4] = {}, projection[16] = {};
    glGetFloatv(GL_POINT_SIZE, &pointSize);
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    state.push_back(pointSize);
    state.insert(state.end(), diffuse, diffuse + 4);
    state.insert(state.end(), projection, projection + 16);
    return state;
}

void drawNothing(const char*) {}

// The amplification scale's colour near 1: green and blue alike, little red.
bool isTeal(Rgb p) { return p.g > 60 && p.r < p.g / 2 && std::abs(p.g - p.b) < p.g / 4; }

} // namespace

using PoserFrame = OffscreenGLTest;

TEST_F(PoserFrame, HandsOnFaceViewersStateAndColoursByWeight) {
    initGLState();
    Scene scene;
    Poser poser;
    std::string error;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(startPoser(poser, scene, FACE_SOURCE_DIR, nullptr, error)) << error;
    testing::internal::GetCapturedStdout();
    ViewerState state;
    state.deformMode = state.showEyes = true;
    beginFrame(state);
    drawReferenceFrame();
    drawScene(scene, state);
    const std::vector<float> viewerState = inheritedState();
    EXPECT_EQ(countPixels(isTeal), 0);

    // Everything face-poser adds: the legend, the key list, the mix panel, mirroring and a
    // region's coloured points around the shown point.
    poser.showBinding = poser.showKeys = poser.showMix = poser.mirrorDrag = true;
    poser.shownPoint = poser.regionCentre = 87;
    poser.regionSteps = 4;
    regionWeights(poser.regionWeights.get(), scene.controlPoints.get(), scene.controlPointCount,
                  poser.edges, poser.edgeCount, 87, 4 * poser.regionStep);
    poser.drawText = drawNothing;
    drawPoserFrame(poser, scene, state);
    EXPECT_EQ(inheritedState(), viewerState);
    // The default face follows its control points (amplification about 1): teal all over
    // but under the key list, which covers its upper half.
    EXPECT_GT(countPixels(isTeal), 15000);
}
