// The default data in data/, read through the real readers and bound by the real face model:
// the teeth's alpha, a well-behaved binding and deformation, and face-assets, run as a
// program, reproducing every committed file byte for byte.
#include "face/face_model.h"
#include "io/model_file.h"
#include "io/texture.h"
#include "tests/support/synthetic_model.h"
#include "tests/support/temp_dir.h"
#include "tests/support/viewer_session.h"
#include "tools/assets/mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

std::string dataPath(const std::string& name) { return FACE_SOURCE_DIR "/data/" + name; }

} // namespace

TEST(DefaultAssets, TeethTexturesAloneCutOutTheirGaps) {
    std::string error;
    // The teeth carry alpha that cuts out the gaps between them; no other texture does.
    for (const char* name :
         {"white_skin.tga", "white_eye0.tga", "white_eye1.tga", "black_th0.tga", "black_th1.tga"}) {
        DecodedImage image;
        ASSERT_TRUE(decodeImage(image, dataPath(name).c_str(), error)) << error;
        std::set<int> alphas;
        for (int32_t i = 0; image.channels == 4 && i < image.width * image.height; ++i)
            alphas.insert(image.pixels[i * 4 + 3]);
        const bool teeth = std::string(name).find("black_th") == 0;
        EXPECT_EQ(alphas.count(0) && alphas.count(255), teeth) << name;
    }
}

TEST(DefaultAssets, BindAndDeformLikeAFace) {
    ModelData m;
    std::string error;
    ASSERT_TRUE(readModelFile(m, dataPath("retarget.model").c_str(), error)) << error;
    const Vector3* P = m.controlPoints.get(); // control points
    const auto face = makeFaceModel(m);
    // Nearly every render vertex hangs close to the surface.
    int attached = 0, strong = 0;
    for (int32_t i = 0; i < face->renderVertexCount; ++i) {
        attached += face->attachments[i].subPatch >= 0;
        strong += face->attachments[i].weight >= 0.9f;
    }
    EXPECT_GE(attached, 0.98 * face->renderVertexCount);
    EXPECT_GE(strong, 0.90 * face->renderVertexCount);

    // The props' frames (x from the first point to the second, n from their middle towards
    // the third) are well conditioned: long bases, and |x·n| below 5/13, which keeps the
    // frame's condition number, sqrt((1 + |x·n|) / (1 − |x·n|)), below 1.5.
    using namespace controlRole;
    auto centroid = [&](const int(&t)[3]) { return ((P[t[0]] + P[t[1]]) + P[t[2]]) * (1.0f / 3); };
    const Vector3 frames[4][3] = {{P[leftMouthCorner], P[rightMouthCorner], P[upperLipMiddle]},
                                  {P[leftMouthCorner], P[rightMouthCorner], P[lowerLipMiddle]},
                                  {P[leftEyeInner], P[leftEyeOuter], centroid(leftUpperLid)},
                                  {P[rightEyeInner], P[rightEyeOuter], centroid(rightUpperLid)}};
    for (const auto& f : frames) {
        const Vector3 middle = (f[0] + f[1]) * 0.5f;
        EXPECT_GT(length(f[1] - f[0]), 1.0f);
        EXPECT_GT(length(f[2] - middle), 0.3f);
        EXPECT_LT(std::fabs(dot(normalize(f[1] - f[0]), normalize(f[2] - middle))), 5.0f / 13);
    }

    // Pulling the lower lip's point down opens the mouth: the lower lip's front follows, the
    // upper lip's stays, and no render edge grows beyond three times its rest length.
    std::vector<Vector3> points(&m.controlPoints[0], &m.controlPoints[0] + m.controlPointCount);
    points[lowerLipMiddle].y -= 1.5f;
    std::vector<Vector3> moved(m.renderVertexCount), normals(m.renderVertexCount);
    face->update(moved.data(), normals.data(), points.data());
    const float lipY = P[upperLipMiddle].y;
    const float mouthX = 0.8f * std::fabs(P[leftMouthCorner].x);
    const float frontZ = P[leftMouthCorner].z;
    float upperMost = 0, lowerMost = 0, worstStretch = 0;
    for (int32_t t = 0; t < m.renderTriangleCount; ++t) {
        const int32_t* v = m.renderTriangles[t].index;
        // A triangle in front of the mouth, on one side of the lip line, near it.
        const Vector3 c =
            (m.renderPositions[v[0]] + m.renderPositions[v[1]] + m.renderPositions[v[2]]) *
            (1.0f / 3);
        const bool front = std::fabs(c.x) < mouthX && c.z > frontZ && std::fabs(c.y - lipY) < 1.0f;
        float& lipMost = c.y > lipY ? upperMost : lowerMost;
        for (int k = 0; k < 3; ++k) {
            if (front)
                lipMost = std::max(lipMost, length(moved[v[k]] - m.renderPositions[v[k]]));
            const int32_t a = v[k], b = v[(k + 1) % 3];
            const float rest = length(m.renderPositions[a] - m.renderPositions[b]);
            if (rest > 0)
                worstStretch = std::max(worstStretch, length(moved[a] - moved[b]) / rest);
        }
    }
    EXPECT_GT(lowerMost, 1.2f);
    EXPECT_LT(upperMost, 0.05f);
    EXPECT_LE(worstStretch, 3.0f);
}

TEST(FaceAssets, RegeneratesTheCommittedDataByteForByte) {
    TempDir dir;
    const ProgramRun run = runProgram({FACE_ASSETS_PATH, dir.path});
    ASSERT_EQ(run.status, 0) << run.err;
    std::set<std::string> written, committed;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path))
        written.insert(entry.path().filename());
    for (const auto& entry : std::filesystem::directory_iterator(FACE_SOURCE_DIR "/data"))
        committed.insert(entry.path().filename());
    EXPECT_EQ(written, committed);
    for (const std::string& name : written)
        EXPECT_TRUE(readFile(dir.path + "/" + name) == readFile(dataPath(name)))
            << name << " differs from the committed file";

    // Bad arguments; a missing folder is made; one that cannot be made (below a regular
    // file) gives one line with the system's reason.
    EXPECT_EQ(runProgram({FACE_ASSETS_PATH, "--bogus"}).status, 2);
    EXPECT_EQ(runProgram({FACE_ASSETS_PATH, "--dense"}).status, 2);
    EXPECT_EQ(runProgram({FACE_ASSETS_PATH, dir.path + "/new/folder"}).status, 0);
    EXPECT_EQ(readFile(dir.path + "/new/folder/white_eye1.tga"),
              readFile(dataPath("white_eye1.tga")));
    const std::string blockedFolder = dir.path + "/white_skin.tga/sub";
    const ProgramRun blocked = runProgram({FACE_ASSETS_PATH, blockedFolder});
    const std::string reason =
        std::string(": cannot be written (") + std::strerror(ENOTDIR) + ")\n";
    EXPECT_EQ(blocked.status, 1);
    EXPECT_TRUE(blocked.err.rfind("face-assets: " + blockedFolder + "/", 0) == 0 &&
                blocked.err.find(reason) + reason.size() == blocked.err.size() &&
                std::count(blocked.err.begin(), blocked.err.end(), '\n') == 1)
        << blocked.err;
}

// face-assets and face-import draw nothing: their programs name no GL, GLU, GLUT or OSMesa
// library, so neither needs a display nor a GL driver to run.
TEST(Programs, ThatDrawNothingLinkNoGl) {
    for (const char* program : {FACE_ASSETS_PATH, FACE_IMPORT_PATH}) {
        const ProgramRun ldd = runProgram({"/usr/bin/ldd", program});
        ASSERT_EQ(ldd.status, 0) << program;
        std::string libraries = ldd.out;
        std::transform(libraries.begin(), libraries.end(), libraries.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        for (const char* gl :
             {"libgl.", "libglu.", "libglut.", "libosmesa.", "libglx", "libopengl"})
            EXPECT_EQ(libraries.find(gl), std::string::npos) << program << " links " << gl;
    }
    // The check itself sees a GL library where there is one.
    const ProgramRun viewer = runProgram({"/usr/bin/ldd", FACE_VIEWER_PATH});
    EXPECT_NE(viewer.out.find("libGL"), std::string::npos);
}
