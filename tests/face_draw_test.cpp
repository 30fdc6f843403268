// Drawing of the face model in an offscreen context: what each overlay draws, in which
// order, and the GL state around it. The primitives are read back through OpenGL's feedback
// mode, which reports every point, line and polygon with its colour in drawing order.
#include "app/viewer.h"
#include "face/face_model.h"
#include "tests/support/gl_context.h"
#include "tools/synthetic_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One primitive from the feedback buffer: 'P' point, 'L' line, 'T' polygon, with the
// colour of its first vertex.
struct Primitive {
    char kind;
    float r, g, b, a;
};

std::unique_ptr<FaceModel> smallModel(ModelData& data) {
    SyntheticModelShape shape;
    shape.controlCellsX = 2;
    shape.controlCellsY = 2;
    shape.renderCellsX = 6;
    shape.renderCellsY = 6;
    shape.width = 8;
    shape.height = 8;
    shape.amplitude = 0.5f;
    shape.renderNoise = 0.05f;
    makeSyntheticModel(data, shape);
    return makeFaceModel(data);
}

class FaceDrawGL : public OffscreenGLTest {
  protected:
    void SetUp() override {
        OffscreenGLTest::SetUp();
        initGLState();
        beginFrame(viewer);
        model = smallModel(data);
    }

    // The primitives that draw(flags) sends, in order.
    std::vector<Primitive> drawnPrimitives(uint32_t flags) {
        std::vector<GLfloat> feedback(4 << 20);
        glFeedbackBuffer(static_cast<GLsizei>(feedback.size()), GL_3D_COLOR, feedback.data());
        glRenderMode(GL_FEEDBACK);
        model->draw(data.controlPoints.get(), flags);
        const GLint used = glRenderMode(GL_RENDER);
        EXPECT_GE(used, 0) << "feedback buffer overflow";
        std::vector<Primitive> out;
        const int vertexSize = 3 + 4; // GL_3D_COLOR in RGBA mode
        for (GLint i = 0; i < used;) {
            const GLint token = static_cast<GLint>(feedback[i++]);
            int vertices = 0;
            char kind = '?';
            if (token == GL_POINT_TOKEN)
                kind = 'P', vertices = 1;
            else if (token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN)
                kind = 'L', vertices = 2;
            else if (token == GL_POLYGON_TOKEN)
                kind = 'T', vertices = static_cast<int>(feedback[i++]);
            else
                ADD_FAILURE() << "unexpected feedback token " << token;
            const GLfloat* c = &feedback[i + 3];
            out.push_back({kind, c[0], c[1], c[2], c[3]});
            i += vertices * vertexSize;
        }
        return out;
    }

    ViewerState viewer;
    ModelData data;
    std::unique_ptr<FaceModel> model;
};

bool colourIs(const Primitive& p, float r, float g, float b) {
    return std::abs(p.r - r) < 0.01f && std::abs(p.g - g) < 0.01f && std::abs(p.b - b) < 0.01f;
}

// The drawing order as a string of runs: each run of primitives of one kind and colour
// becomes one letter ('m' textured mesh, 'e' control-mesh edges, 's' surface tessellation,
// 'g' attachment point, 'l' attachment line, 'r' vertex point, 'b' sample point, 'n' sample
// normal).
std::string runs(const std::vector<Primitive>& primitives) {
    std::string out;
    for (const Primitive& p : primitives) {
        char c = 'm';
        if (p.kind == 'L' && colourIs(p, 0.2f, 0.2f, 0))
            c = 'e';
        else if (p.kind == 'T' && colourIs(p, 0.8f, 0.8f, 0))
            c = 's';
        else if (p.kind == 'P' && colourIs(p, 0, 1, 0))
            c = 'g';
        else if (p.kind == 'L' && colourIs(p, 0.8f, 0, 0))
            c = 'l';
        else if (p.kind == 'P' && colourIs(p, 1, 0, 0))
            c = 'r';
        else if (p.kind == 'P' && colourIs(p, 0, 0, 1))
            c = 'b';
        else if (p.kind == 'L' && colourIs(p, 0, 0, 0.8f))
            c = 'n';
        if (out.empty() || out.back() != c)
            out += c;
    }
    return out;
}

} // namespace

TEST_F(FaceDrawGL, FlagsZeroDrawsOnlyTheMesh) {
    const std::vector<Primitive> drawn = drawnPrimitives(0);
    EXPECT_EQ(runs(drawn), "m");
    for (const Primitive& p : drawn)
        EXPECT_EQ(p.kind, 'T');
    EXPECT_GT(drawn.size(), 10u);
}

TEST_F(FaceDrawGL, AllFlagsDrawTheOverlaysInOrder) {
    const std::vector<Primitive> drawn = drawnPrimitives(7);
    const std::string order = runs(drawn);
    // Mesh, edges, tessellation, then per vertex (green point, dark red line)? red point,
    // then per sample blue point and its normal.
    ASSERT_GE(order.size(), 5u);
    EXPECT_EQ(order.substr(0, 3), "mes");
    const size_t samplesStart = order.find('b');
    ASSERT_NE(samplesStart, std::string::npos);
    for (char c : order.substr(3, samplesStart - 3))
        EXPECT_TRUE(c == 'g' || c == 'l' || c == 'r') << order;
    for (char c : order.substr(samplesStart))
        EXPECT_TRUE(c == 'b' || c == 'n') << order;

    int edgeLines = 0, surfaceTriangles = 0, vertexPoints = 0, attachedPoints = 0, samplePoints = 0;
    for (const Primitive& p : drawn) {
        const bool edge = p.kind == 'L' && colourIs(p, 0.2f, 0.2f, 0);
        edgeLines += edge;
        EXPECT_TRUE(!edge || std::abs(p.a - 0.33f) < 0.01f) << "edges are translucent";
        surfaceTriangles += p.kind == 'T' && colourIs(p, 0.8f, 0.8f, 0);
        vertexPoints += p.kind == 'P' && colourIs(p, 1, 0, 0);
        attachedPoints += p.kind == 'P' && colourIs(p, 0, 1, 0);
        samplePoints += p.kind == 'P' && colourIs(p, 0, 0, 1);
    }
    // Five segments per edge (clipping may drop a few off screen, none here).
    EXPECT_EQ(edgeLines, 5 * model->edgeCount);
    // Back faces of the tessellation are not culled inside the overlay.
    EXPECT_EQ(surfaceTriangles, model->surfaceTriangleCount);
    EXPECT_EQ(vertexPoints, model->renderVertexCount);
    int attached = 0;
    for (int32_t i = 0; i < model->renderVertexCount; ++i)
        attached += model->attachments[i].subPatch >= 0;
    EXPECT_EQ(attachedPoints, attached);
    EXPECT_EQ(samplePoints, model->sampleCount);
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
    EXPECT_FALSE(isEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(isEnabled(GL_BLEND));
    EXPECT_TRUE(isEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(isEnabled(GL_LIGHTING));
    EXPECT_TRUE(isEnabled(GL_CULL_FACE));
    GLboolean arrays[3];
    glGetBooleanv(GL_VERTEX_ARRAY, &arrays[0]);
    glGetBooleanv(GL_NORMAL_ARRAY, &arrays[1]);
    glGetBooleanv(GL_TEXTURE_COORD_ARRAY, &arrays[2]);
    for (GLboolean on : arrays)
        EXPECT_FALSE(on);

    // Texturing on before: on after.
    glEnable(GL_TEXTURE_2D);
    model->draw(data.controlPoints.get(), 1);
    EXPECT_TRUE(isEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(FaceDrawGL, TessellationTrianglesOfLevelFive) {
    model->tessellateSurface(5);
    const Triangle* t = model->surfaceTriangles.get();
    const int32_t expectedFirst[3][3] = {{0, 1, 6}, {1, 7, 6}, {1, 2, 7}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(t[i].index[j], expectedFirst[i][j]);
    const int32_t subPatches = 3 * model->controlTriangleCount;
    for (int32_t s = 0; s < subPatches; ++s) {
        const Triangle& last = t[25 * s + 24];
        EXPECT_EQ(last.index[0], 21 * s + 18);
        EXPECT_EQ(last.index[1], 21 * s + 19);
        EXPECT_EQ(last.index[2], 21 * s + 20);
    }
    EXPECT_EQ(t[25].index[0], 21);
    EXPECT_EQ(t[25].index[1], 22);
    EXPECT_EQ(t[25].index[2], 27);
    // The tessellation lies on the current surface: grid vertex 0 (u = v = 0) is the split
    // point, vertex 5 (u = 1) the sub-patch's first corner, vertex 20 (v = 1) its second.
    const Triangle& first = data.controlTriangles[0];
    EXPECT_EQ(model->surfacePositions[0], model->b003[0]);
    EXPECT_EQ(model->surfacePositions[5], data.controlPoints[first.index[0]]);
    EXPECT_EQ(model->surfacePositions[20], data.controlPoints[first.index[1]]);
    EXPECT_NEAR(length(model->surfaceNormals[7]), 1.0f, 1e-6f);
}
