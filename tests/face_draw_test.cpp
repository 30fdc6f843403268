// Drawing of the face model in an offscreen context: what each overlay draws, in which
// order, and the GL state around it. The primitives are read back through OpenGL's feedback
// mode, which reports every point, line and polygon with its colour in drawing order.
#include "app/viewer.h"
#include "face/face_model.h"
#include "tests/support/gl_context.h"
#include "tests/support/synthetic_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

class FaceDrawGL : public OffscreenGLTest {
  protected:
    void SetUp() override {
        OffscreenGLTest::SetUp();
        initGLState();
        beginFrame(viewer);
        // Control and render cells, width, height and amplitude: in view of the camera.
        makeSyntheticModel(data, {2, 2, 6, 6, 8, 8, 0.5f});
        model = makeFaceModel(data);
    }

    // One letter per primitive that draw(flags) sends, in order, by kind and colour: 'm'
    // textured mesh, 'e' control-mesh edge, 's' surface tessellation, 'g' attachment point,
    // 'l' attachment line, 'r' vertex point, 'b' sample point, 'n' sample normal ('?' other).
    // Edges must be translucent.
    std::string drawnPrimitives(uint32_t flags) {
        std::vector<GLfloat> feedback(4 << 20);
        glFeedbackBuffer(static_cast<GLsizei>(feedback.size()), GL_3D_COLOR, feedback.data());
        glRenderMode(GL_FEEDBACK);
        model->draw(data.controlPoints.get(), flags);
        const GLint used = glRenderMode(GL_RENDER);
        EXPECT_GE(used, 0) << "feedback buffer overflow";
        const std::map<std::string, char> kinds = {{"L 0.2 0.2 0.0", 'e'}, {"T 0.8 0.8 0.0", 's'},
                                                   {"P 0.0 1.0 0.0", 'g'}, {"L 0.8 0.0 0.0", 'l'},
                                                   {"P 1.0 0.0 0.0", 'r'}, {"P 0.0 0.0 1.0", 'b'},
                                                   {"L 0.0 0.0 0.8", 'n'}};
        std::string out;
        for (GLint i = 0; i < used;) {
            const GLint token = static_cast<GLint>(feedback[i++]);
            const char kind = token == GL_POINT_TOKEN ? 'P' : token == GL_POLYGON_TOKEN ? 'T' : 'L';
            const int vertices = kind == 'P'   ? 1
                                 : kind == 'L' ? 2
                                               : static_cast<int>(feedback[i++]);
            const GLfloat* c = &feedback[i + 3]; // colour of the first vertex
            i += vertices * (3 + 4);             // GL_3D_COLOR in RGBA mode
            char key[32];
            std::snprintf(key, sizeof key, "%c %.1f %.1f %.1f", kind, c[0], c[1], c[2]);
            const auto found = kinds.find(key);
            out += found != kinds.end() ? found->second : kind == 'T' ? 'm' : '?';
            EXPECT_TRUE(out.back() != 'e' || std::abs(c[3] - 0.33f) < 0.01f) << "opaque edge";
        }
        return out;
    }

    ViewerState viewer;
    ModelData data;
    std::unique_ptr<FaceModel> model;
};

} // namespace

TEST_F(FaceDrawGL, EachOverlayDrawsItsPrimitivesInOrderAfterTheMesh) {
    // The drawing order as runs of one letter: per vertex an attached one's green point and
    // dark red line, then its red point; per sample its blue point and its normal.
    const struct {
        uint32_t flags;
        const char* runs;
    } cases[] = {{0, "m"},
                 {drawControlMesh, "mes"},
                 {drawAttachments, "m((gl)?r)+"},
                 {drawHintingSamples, "m(bn)+"},
                 {drawControlMesh | drawAttachments | drawHintingSamples, "mes((gl)?r)+(bn)+"}};
    for (const auto& c : cases) {
        const std::string drawn = drawnPrimitives(c.flags);
        std::string runs;
        for (char letter : drawn)
            if (runs.empty() || runs.back() != letter)
                runs += letter;
        EXPECT_TRUE(std::regex_match(runs, std::regex(c.runs))) << c.flags << ": " << runs;
        EXPECT_GT(std::count(drawn.begin(), drawn.end(), 'm'), 10);
    }

    const std::string all = drawnPrimitives(7);
    int attached = 0;
    for (int32_t i = 0; i < model->renderVertexCount; ++i)
        attached += model->attachments[i].subPatch >= 0;
    // Five segments per edge; back faces of the tessellation are not culled.
    EXPECT_EQ(std::count(all.begin(), all.end(), 'e'), 5 * model->edgeCount);
    EXPECT_EQ(std::count(all.begin(), all.end(), 's'), model->surfaceTriangleCount);
    EXPECT_EQ(std::count(all.begin(), all.end(), 'r'), model->renderVertexCount);
    EXPECT_EQ(std::count(all.begin(), all.end(), 'g'), attached);
    EXPECT_EQ(std::count(all.begin(), all.end(), 'b'), model->sampleCount);
}

TEST_F(FaceDrawGL, OverlaysRestoreTheStateTheyChange) {
    glPointSize(7.0f);
    glBlendFunc(GL_ONE, GL_DST_COLOR);
    glDisable(GL_TEXTURE_2D); // as the "t" key leaves it
    model->draw(data.controlPoints.get(), 7);
    GLfloat size = 0;
    glGetFloatv(GL_POINT_SIZE, &size);
    EXPECT_EQ(size, 7.0f);
    GLint source = 0, destination = 0;
    glGetIntegerv(GL_BLEND_SRC, &source);
    glGetIntegerv(GL_BLEND_DST, &destination);
    EXPECT_EQ(source, GL_ONE);
    EXPECT_EQ(destination, GL_DST_COLOR);
    for (GLenum on : {GL_DEPTH_TEST, GL_LIGHTING, GL_CULL_FACE})
        EXPECT_TRUE(isEnabled(on)) << on;
    for (GLenum off :
         {GL_TEXTURE_2D, GL_BLEND, GL_VERTEX_ARRAY, GL_NORMAL_ARRAY, GL_TEXTURE_COORD_ARRAY})
        EXPECT_FALSE(isEnabled(off)) << off;
    // Texturing on before: on after.
    glEnable(GL_TEXTURE_2D);
    model->draw(data.controlPoints.get(), 1);
    EXPECT_TRUE(isEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
