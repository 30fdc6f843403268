// The scene's start-up and drawing in an offscreen context: the committed data, refusals
// of unusable files, running out of memory, the props' slots and what each frame draws,
// and the report of degenerate geometry.
#include "app/scene.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/gl_context.h"
#include "tests/support/start_output.h"
#include "tests/support/synthetic_model.h"
#include "tests/support/temp_dir.h"
#include "tools/common/model_report.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

// Matrices multiplied onto GL's current one, those with a value that is not finite, and
// triangles drawn: every such call of this program passes through here to the GL library.
int multipliedMatrices = 0, nonFiniteMatrices = 0, drawnTriangles = 0;

extern "C" void glMultMatrixf(const GLfloat* m) {
    using Real = void (*)(const GLfloat*);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "glMultMatrixf"));
    ++multipliedMatrices;
    nonFiniteMatrices += !std::all_of(m, m + 16, [](float e) { return std::isfinite(e); });
    real(m);
}

extern "C" void glDrawElements(GLenum mode, GLsizei count, GLenum type, const void* indices) {
    using Real = void (*)(GLenum, GLsizei, GLenum, const void*);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "glDrawElements"));
    drawnTriangles += mode == GL_TRIANGLES ? count / 3 : 0;
    real(mode, count, type, indices);
}

namespace {

// Runs the test body in a fresh directory with a data/ folder of its own.
class SceneInDirectory : public OffscreenGLTest {
  protected:
    void SetUp() override {
        OffscreenGLTest::SetUp();
        ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
        ASSERT_EQ(chdir(directory.path.c_str()), 0);
        ASSERT_EQ(system("mkdir data"), 0);
    }
    void TearDown() override {
        EXPECT_EQ(chdir(previous), 0);
        OffscreenGLTest::TearDown();
    }
    // A flat synthetic model with (cells + 1)² control points.
    void writeModel(int32_t cells) {
        SyntheticModelShape shape;
        shape.controlCellsX = shape.controlCellsY = cells;
        shape.renderCellsX = shape.renderCellsY = 20;
        ModelData model;
        makeSyntheticModel(model, shape);
        std::string written;
        ASSERT_TRUE(writeModelFile("data/retarget.model", model, written)) << written;
    }
    void copyCommitted(const char* pattern) {
        const std::string command = std::string("cp ") + previous + "/data/" + pattern + " data/";
        ASSERT_EQ(system(command.c_str()), 0);
    }
    TempDir directory;
    char previous[4096];
};

} // namespace

using SceneGL = OffscreenGLTest;

// The committed data: every slot filled and textured, and every triangle drawn. Then a drag puts
// black_th0's third point (control point 24) on the mid-point of its first two (70 and 74), which
// makes its frame degenerate: the prop is left out, nothing non-finite reaches GL, the face and the
// other props are drawn, and one warning is given each time the frame becomes degenerate.
TEST_F(SceneGL, CommittedDataLoadsAndDrawsAndLeavesOutADegenerateProp) {
    Scene scene;
    std::string error;
    testing::internal::CaptureStdout(); // checked end to end
    ASSERT_TRUE(loadScene(scene, error)) << error;
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(glIsTexture(scene.skinTexture));
    Vector3* points = scene.controlPoints.get();
    int32_t everything = scene.faceModel->renderTriangleCount;
    for (int32_t s = 0; s < propSlotCount; ++s) {
        const PropSlot& slot = scene.propSlots[s];
        ASSERT_TRUE(slot.prop && slot.frame);
        EXPECT_TRUE(glIsTexture(slot.texture));
        everything += slot.prop->triangleCount;
    }

    initGLState();
    ViewerState state;
    state.showEyes = true;
    beginFrame(state);
    const Vector3 rest = points[24], middle = (points[70] + points[74]) * 0.5f;
    multipliedMatrices = nonFiniteMatrices = 0;
    testing::internal::CaptureStderr();
    for (const char frame : std::string("rddrd")) { // at rest or degenerate
        points[24] = frame == 'r' ? rest : middle;
        drawnTriangles = 0;
        drawScene(scene, state);
        EXPECT_EQ(drawnTriangles,
                  everything - (frame == 'r' ? 0 : scene.propSlots[0].prop->triangleCount));
    }
    const std::string warnings = testing::internal::GetCapturedStderr();
    EXPECT_GT(multipliedMatrices, 0);
    EXPECT_EQ(nonFiniteMatrices, 0);
    const std::string warning = "face-viewer: warning: the frame of black_th0 (control points "
                                "70, 74, 24) is degenerate; the prop is not drawn\n";
    EXPECT_EQ(warnings, warning + warning);
}

using SceneFiles = SceneInDirectory;

// Unusable model and prop files, one after another in the same folder: each is refused
// with one line that names it, after the progress lines printed so far. Missing textures
// then only warn, one line each, and the scene starts.
TEST_F(SceneFiles, UnusableFilesAreRefusedMissingTexturesWarn) {
    const struct {
        std::function<void()> prepare;
        std::string output;
        std::vector<std::string> named;
    } cases[] = {
        {[] {}, "computing attachments...\n", {"data/retarget.model"}},
        {[&] { writeModel(8); }, "computing attachments...\n", {"data/retarget.model", "81", "88"}},
        {[&] {
             writeModel(9); // 100 control points; of the props, only the first
             copyCommitted("black_th0.prop");
         },
         "computing attachments...\nloading props...\n",
         {"data/black_th1.prop"}},
        {[&] { copyCommitted("*.prop"); },
         expectedStartOutput,
         {"data/white_skin.tga", "data/black_th0.tga", "data/black_th1.tga", "data/white_eye0.tga",
          "data/white_eye1.tga"}},
    };
    for (const auto& c : cases) {
        c.prepare();
        Scene scene;
        std::string error;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool loaded = loadScene(scene, error);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
        const std::string warnings = testing::internal::GetCapturedStderr();
        const bool starts = c.output == expectedStartOutput;
        EXPECT_EQ(loaded, starts) << error;
        const std::string& said = starts ? warnings : error;
        for (const std::string& part : c.named)
            EXPECT_NE(said.find(part), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), starts ? 5 : 0) << said;
    }
}

// The loading runs in a child process whose address space may grow by 16 MB only, far less
// than the face model needs; the allocation failure ends the loading with one message
// naming the model, and the child ends normally.
TEST_F(SceneFiles, RunningOutOfMemoryNamesTheFileBeingLoaded) {
    if (addressSanitizer)
        GTEST_SKIP() << "the allocator is AddressSanitizer's own";
    // The memory budget refuses what cannot fit before allocating, so an allocation failure
    // is provoked here: in a child, every allocation above 64 KB fails from now on.
    writeModel(20);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!std::freopen("/dev/null", "w", stdout))
            _exit(3);
        failAllocationsAbove = 64 << 10;
        Scene scene;
        std::string error;
        const bool loaded = loadScene(scene, error);
        _exit(!loaded && error == "out of memory while loading data/retarget.model" ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// face-inspect's report of a model with a control triangle that repeats a corner and with
// black_th0's third point on the mid-point of its first two.
TEST(DegenerateGeometry, ReportNamesTheTrianglesAndTheFrames) {
    SyntheticModelShape shape;
    shape.controlCellsX = shape.controlCellsY = 9; // 100 control points
    shape.renderCellsX = shape.renderCellsY = 20;
    ModelData model;
    makeSyntheticModel(model, shape);
    Vector3* points = model.controlPoints.get();
    points[1] = points[0];
    points[24] = (points[70] + points[74]) * 0.5f;
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    ASSERT_NE(out, nullptr);
    printDegenerateGeometry(out, *makeFaceModel(model), points, model.controlPointCount);
    std::fclose(out);
    const std::string report(text, size);
    std::free(text);

    // The one triangle with corners 0 and 1 (an edge of the grid's border) is named with its
    // three non-finite sub-patches.
    int32_t t = 0;
    const int32_t* i = model.controlTriangles[0].index;
    while ((i[0] < 2) + (i[1] < 2) + (i[2] < 2) < 2)
        i = model.controlTriangles[++t].index;
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "non-finite sub-patches: 3\n  control triangle %d (control points %d, %d, %d: a "
                  "repeated corner): sub-patches %d, %d, %d\ndegenerate prop frames: 1\n  "
                  "black_th0 (control points 70, 74, 24)\n",
                  t, i[0], i[1], i[2], 3 * t, 3 * t + 1, 3 * t + 2);
    EXPECT_EQ(report, expected);
}
