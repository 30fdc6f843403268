// face-poser's frame in an offscreen context: with everything it adds switched on it hands
// on the GL state that face-viewer's frame hands on, and "w" colours the face.
#include "tests/support/gl_context.h"
#include "tests/support/poser_drag.h"
#include "tests/support/temp_dir.h"
#include "tests/support/viewer_session.h"
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

// A pick is what the user sees: turned to the side, the face hides some control points that
// face the camera (the far cheek behind the nose); a press never takes a hidden point, and
// one on a hidden point's dot says so; a press on a visible one takes it.
TEST_F(PoserFrame, PicksOnlyPointsTheFaceDoesNotHide) {
    initGLState();
    Scene scene;
    Poser poser;
    ASSERT_TRUE(startPoserQuietly(poser, scene, FACE_SOURCE_DIR));
    poser.drawText = drawNothing;
    const int32_t K = scene.controlPointCount;
    ViewerState state;
    state.deformMode = true;
    state.viewYaw = 1.1f; // the face seen from its side
    drawPoserFrame(poser, scene, state);
    const Vector3 eye = {state.camera.pose.m[12], state.camera.pose.m[13], state.camera.pose.m[14]};
    std::vector<int32_t> hidden, visible;
    for (int32_t i = 0; i < K; ++i) {
        const Vector3& p = scene.controlPoints[i];
        const bool facing = dot(scene.faceModel->controlNormals[i], eye - p) > 0.0f;
        EXPECT_EQ(facing, poser.facing[i] != 0) << i;
        if (facing && !poser.visible[i])
            hidden.push_back(i);
        else if (poser.visible[i])
            visible.push_back(i);
        EXPECT_TRUE(facing || !poser.visible[i]) << i; // facing away is never visible
    }
    ASSERT_GT(hidden.size(), 3u);
    ASSERT_GT(visible.size(), hidden.size());

    // Window pixels (top left origin) of a control point.
    const auto pixel = [&](int32_t i, int32_t& x, int32_t& y) {
        const Vector3& p = scene.controlPoints[i];
        const Vector4 ndc = state.camera.project({p.x, p.y, p.z, 1.0f});
        x = int32_t(std::lround((ndc.x + 1.0f) * 0.5f * float(width)));
        y = int32_t(std::lround((1.0f - ndc.y) * 0.5f * float(height)));
    };
    int32_t x = 0, y = 0, saidHidden = 0;
    for (int32_t h : hidden) {
        pixel(h, x, y);
        testing::internal::CaptureStdout();
        poserMouseButton(poser, state, scene, rightButton, true, x, y);
        const std::string said = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(state.selectedPoint < 0 || poser.visible[state.selectedPoint]) << h;
        if (state.selectedPoint < 0) {
            EXPECT_NE(said.find(" under the cursor is hidden by the surface"), std::string::npos)
                << said;
            ++saidHidden;
        }
        poserMouseButton(poser, state, scene, rightButton, false, x, y);
    }
    EXPECT_GT(saidHidden, 0);
    pixel(visible[visible.size() / 2], x, y);
    poserMouseButton(poser, state, scene, rightButton, true, x, y);
    EXPECT_GE(state.selectedPoint, 0);
    EXPECT_TRUE(poser.visible[state.selectedPoint]);
}

// "o" in a folder made from an OBJ file writes two files, the render mesh and the user's own
// scene, under two names: neither replaces the other.
TEST_F(PoserFrame, WritesTheMeshAndAnObjSceneUnderTwoNames) {
    initGLState();
    TempDir dir;
    ASSERT_EQ(
        runWords(FACE_IMPORT_PATH, "/usr/share/assimp/models/OBJ/WusonOBJ.obj --out " + dir.path)
            .status,
        0);
    Scene scene;
    Poser poser;
    ASSERT_TRUE(startPoserQuietly(poser, scene, dir.path));
    ViewerState state;
    testing::internal::CaptureStdout();
    poserKey(poser, state, scene, 'o');
    testing::internal::GetCapturedStdout();
    const std::string mesh = readFile(dir.path + "/posed.obj");
    const std::string own = readFile(dir.path + "/posed-scene.obj");
    const std::string source = readFile("/usr/share/assimp/models/OBJ/WusonOBJ.obj");
    EXPECT_FALSE(mesh.empty());
    EXPECT_EQ(own, source); // at rest the user's own file comes back as it was
    EXPECT_NE(mesh, own);
}
