// The scene's start-up and drawing in an offscreen context: the committed data, refusals
// of unusable files, the props' slots and what each frame draws.
#include "app/scene.h"
#include "tests/support/gl_context.h"
#include "tests/support/start_output.h"
#include "tools/synthetic_model.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// Runs the test body in a fresh directory with a data/ folder of its own.
class SceneInDirectory : public OffscreenGLTest {
  protected:
    void SetUp() override {
        OffscreenGLTest::SetUp();
        char pattern[] = "/tmp/face-scene-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
        ASSERT_EQ(chdir(directory.c_str()), 0);
        ASSERT_EQ(system("mkdir data"), 0);
    }
    void TearDown() override {
        EXPECT_EQ(chdir(previous), 0);
        EXPECT_EQ(system(("rm -rf " + directory).c_str()), 0);
        OffscreenGLTest::TearDown();
    }
    // A flat synthetic model with (cells + 1)² control points.
    void writeModel(int32_t cells) {
        SyntheticModelShape shape;
        shape.controlCellsX = shape.controlCellsY = cells;
        shape.renderCellsX = shape.renderCellsY = 20;
        ModelData model;
        makeSyntheticModel(model, shape);
        ASSERT_TRUE(writeModelFile(model, "data/retarget.model"));
    }
    void copyCommitted(const char* pattern) {
        const std::string command = std::string("cp ") + previous + "/data/" + pattern + " data/";
        ASSERT_EQ(system(command.c_str()), 0);
    }
    std::string directory;
    char previous[4096];
};

} // namespace

using SceneGL = OffscreenGLTest;

TEST_F(SceneGL, CommittedDataLoadsWithTheExactOutput) {
    Scene scene;
    std::string error;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool loaded = loadScene(scene, error);
    const std::string output = testing::internal::GetCapturedStdout();
    const std::string warnings = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(output, expectedStartOutput);
    EXPECT_EQ(warnings, "");
    EXPECT_GE(scene.controlPointCount, minControlPointCount);
    EXPECT_TRUE(glIsTexture(scene.skinTexture));
    for (const PropSlot& slot : scene.propSlots) {
        ASSERT_TRUE(slot.prop);
        ASSERT_TRUE(slot.frame);
        EXPECT_TRUE(glIsTexture(slot.texture));
    }
    // At rest every prop is drawn exactly as stored.
    for (int32_t s = 0; s < propSlotCount; ++s) {
        Vector3 A, B, C;
        propFramePoints(A, B, C, propSlotSources[s], scene.controlPoints.get());
        const Matrix4 m = scene.propSlots[s].frame->currentTransform(A, B, C);
        for (int i = 0; i < 16; ++i)
            EXPECT_NEAR(m.m[i], Matrix4::identity().m[i], 1e-4f) << "slot " << s;
    }
    EXPECT_EQ(scene.dragger->count, static_cast<uint32_t>(scene.controlPointCount));
    EXPECT_EQ(scene.dragger->points, scene.controlPoints.get());
}

using SceneFiles = SceneInDirectory;

TEST_F(SceneFiles, TooFewControlPointsAreRefusedBeforeTheProps) {
    writeModel(8); // 81 control points
    Scene scene;
    std::string error;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(loadScene(scene, error));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "computing attachments...\n");
    EXPECT_NE(error.find("data/retarget.model"), std::string::npos) << error;
    EXPECT_NE(error.find("81"), std::string::npos) << error;
    EXPECT_NE(error.find("88"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
}

TEST_F(SceneFiles, MissingModelOrPropIsRefusedWithTheReadersMessage) {
    Scene scene;
    std::string error;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(loadScene(scene, error));
    testing::internal::GetCapturedStdout();
    EXPECT_NE(error.find("data/retarget.model"), std::string::npos) << error;

    writeModel(9); // 100 control points
    copyCommitted("black_th0.*");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr(); // the skin texture is missing too: one warning
    EXPECT_FALSE(loadScene(scene, error));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "computing attachments...\nloading props...\n");
    testing::internal::GetCapturedStderr();
    EXPECT_NE(error.find("data/black_th1.prop"), std::string::npos) << error;
}

TEST_F(SceneFiles, MissingTexturesWarnAndTheSceneGoesOn) {
    writeModel(9);
    copyCommitted("*.prop");
    Scene scene;
    std::string error;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(loadScene(scene, error)) << error;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expectedStartOutput);
    const std::string warnings = testing::internal::GetCapturedStderr();
    for (const char* name : {"data/white_skin.tga", "data/black_th0.tga", "data/black_th1.tga",
                             "data/white_eye0.tga", "data/white_eye1.tga"})
        EXPECT_NE(warnings.find(name), std::string::npos) << warnings;
    int lines = 0;
    for (char c : warnings)
        lines += c == '\n';
    EXPECT_EQ(lines, 5);
}
