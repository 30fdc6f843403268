// The default data in data/, checked through the real readers and face model: it loads with
// the counts the viewer needs, the props' frames are well conditioned, the render mesh hangs
// close to the surface, pulling the lower lip down opens the mouth without tearing, the
// textures have the formats the viewer expects, and face-assets reproduces every committed
// file byte for byte.
#include "face/face_model.h"
#include "io/model_file.h"
#include "io/prop.h"
#include "io/texture.h"
#include "tools/face_assets_files.h"
#include "tools/face_assets_mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string dataPath(const char* name) { return std::string(FACE_SOURCE_DIR) + "/data/" + name; }

enum PropSlot { upperTeeth, lowerTeeth, leftEye, rightEye, propCount };
const char* const propFiles[propCount] = {"black_th0.prop", "black_th1.prop", "white_eye0.prop",
                                          "white_eye1.prop"};
enum TextureSlot {
    skin,
    upperTeethTexture,
    lowerTeethTexture,
    leftEyeTexture,
    rightEyeTexture,
    textureCount
};
const char* const textureFiles[textureCount] = {"white_skin.tga", "black_th0.tga", "black_th1.tga",
                                                "white_eye0.tga", "white_eye1.tga"};

// The committed data, read and bound once for all tests.
struct Assets {
    ModelData model;
    std::unique_ptr<FaceModel> face;
    PropData props[propCount];
    DecodedImage textures[textureCount];
    std::string error; // the first refusal, if any
};

const Assets& assets() {
    static Assets loaded = [] {
        Assets a;
        std::string error;
        if (!readModelFile(a.model, dataPath("retarget.model").c_str(), error))
            a.error = error;
        for (int p = 0; p < propCount && a.error.empty(); ++p)
            if (!readPropFile(a.props[p], dataPath(propFiles[p]).c_str(), error))
                a.error = error;
        for (int t = 0; t < textureCount && a.error.empty(); ++t)
            if (!decodeImage(a.textures[t], dataPath(textureFiles[t]).c_str(), error))
                a.error = error;
        if (a.error.empty()) {
            const ModelData& m = a.model;
            a.face = std::make_unique<FaceModel>(m.controlPoints.get(), m.controlPointCount,
                                                 m.controlTriangles.get(), m.controlTriangleCount,
                                                 m.renderPositions.get(), m.renderNormals.get(),
                                                 m.renderTexCoords.get(), m.renderVertexCount,
                                                 m.renderTriangles.get(), m.renderTriangleCount);
        }
        return a;
    }();
    return loaded;
}

#define ASSERT_ASSETS_LOADED() ASSERT_TRUE(assets().error.empty()) << assets().error

const Vector3& controlPoint(int i) { return assets().model.controlPoints[i]; }

// The lip line: the height of the upper lip's middle point, and the mouth's half-width.
float lipLineY() { return controlPoint(controlRole::upperLipMiddle).y; }
float mouthHalfWidth() { return std::fabs(controlPoint(controlRole::leftMouthCorner).x); }

// For every render vertex: whether any of its triangles lies above (bit 1) or below (bit 2)
// the lip line, judged by the triangle's centroid.
std::vector<int> renderSides() {
    const ModelData& m = assets().model;
    std::vector<int> side(m.renderVertexCount, 0);
    for (int32_t t = 0; t < m.renderTriangleCount; ++t) {
        const Triangle& tri = m.renderTriangles[t];
        float cy = 0;
        for (int32_t v : tri.index)
            cy += m.renderPositions[v].y / 3;
        for (int32_t v : tri.index)
            side[v] |= cy > lipLineY() ? 1 : 2;
    }
    return side;
}

// Render vertices of each lip's front: within the middle 80 % of the mouth, within 1 unit
// of the lip line, in front of the mouth corners, and used only by triangles on that lip's
// side of the line.
void lipVertices(std::vector<int32_t>& upper, std::vector<int32_t>& lower) {
    const ModelData& m = assets().model;
    const std::vector<int> side = renderSides();
    const float cornerZ = controlPoint(controlRole::leftMouthCorner).z;
    for (int32_t i = 0; i < m.renderVertexCount; ++i) {
        const Vector3& p = m.renderPositions[i];
        if (std::fabs(p.x) >= 0.8f * mouthHalfWidth() || p.z <= cornerZ ||
            std::fabs(p.y - lipLineY()) >= 1.0f)
            continue;
        if (side[i] == 1 && p.y >= lipLineY())
            upper.push_back(i);
        if (side[i] == 2 && p.y <= lipLineY())
            lower.push_back(i);
    }
}

// The props' frames as the viewer builds them: x from the first to the second point,
// origin between them, n towards the third; the 3×3 part has columns x, x × n, n. Its
// condition number (largest over smallest singular value) is sqrt((1 + |c|)/(1 − |c|))
// with c = x·n, since x and n are unit vectors and x × n is orthogonal to both.
struct Frame {
    float baseLength; // |B − A|
    float reach;      // |C − (A + B)/2|
    float condition;
};
Frame frameOf(const Vector3& A, const Vector3& B, const Vector3& C) {
    const Vector3 x = normalize(B - A);
    const Vector3 middle = (A + B) * 0.5f;
    const Vector3 n = normalize(C - middle);
    const float c = std::fabs(dot(x, n));
    return {length(B - A), length(C - middle), std::sqrt((1 + c) / (1 - c))};
}
Vector3 centroid(int a, int b, int c) {
    return ((controlPoint(a) + controlPoint(b)) + controlPoint(c)) * 0.33333334f;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

} // namespace

TEST(DefaultAssets, LoadThroughTheReadersWithTheCountsTheViewerNeeds) {
    ASSERT_ASSETS_LOADED();
    const ModelData& m = assets().model;
    EXPECT_GE(m.renderVertexCount, 8000);
    EXPECT_LE(m.renderVertexCount, 30000);
    EXPECT_GE(m.controlPointCount, 90);
    EXPECT_LE(m.controlPointCount, 250);
    EXPECT_GE(m.controlPointCount, 88); // the props' frames read up to point 87
    EXPECT_GE(m.controlTriangleCount, 200);
    std::printf("[ assets   ] N = %d, M = %d, K = %d, L = %d\n", m.renderVertexCount,
                m.renderTriangleCount, m.controlPointCount, m.controlTriangleCount);
}

TEST(DefaultAssets, PropFramesAreWellConditioned) {
    ASSERT_ASSETS_LOADED();
    using namespace controlRole;
    const Frame frames[4] = {
        frameOf(controlPoint(leftMouthCorner), controlPoint(rightMouthCorner),
                controlPoint(upperLipMiddle)),
        frameOf(controlPoint(leftMouthCorner), controlPoint(rightMouthCorner),
                controlPoint(lowerLipMiddle)),
        frameOf(controlPoint(leftEyeInner), controlPoint(leftEyeOuter),
                centroid(leftUpperLid[0], leftUpperLid[1], leftUpperLid[2])),
        frameOf(controlPoint(rightEyeInner), controlPoint(rightEyeOuter),
                centroid(rightUpperLid[0], rightUpperLid[1], rightUpperLid[2]))};
    for (int f = 0; f < 4; ++f) {
        EXPECT_GT(frames[f].baseLength, 1.0f) << propFiles[f];
        EXPECT_GT(frames[f].reach, 0.3f) << propFiles[f];
        EXPECT_LT(frames[f].condition, 1.5f) << propFiles[f];
        std::printf("[ assets   ] frame of %s: base %.3f, reach %.3f, condition %.4f\n",
                    propFiles[f], frames[f].baseLength, frames[f].reach, frames[f].condition);
    }
}

TEST(DefaultAssets, EveryRenderVertexHangsCloseToTheSurface) {
    ASSERT_ASSETS_LOADED();
    const FaceModel& face = *assets().face;
    int attached = 0, strong = 0;
    float lowest = 1;
    for (int32_t i = 0; i < face.renderVertexCount; ++i) {
        const Attachment& a = face.attachments[i];
        attached += a.subPatch >= 0;
        strong += a.weight >= 0.9f;
        if (a.subPatch >= 0)
            lowest = std::min(lowest, a.weight);
    }
    const double n = face.renderVertexCount;
    EXPECT_GE(attached / n, 0.98);
    EXPECT_GE(strong / n, 0.90);
    std::printf("[ assets   ] attached %.2f %%, weight >= 0.9 %.2f %%, lowest weight %.3f\n",
                100 * attached / n, 100 * strong / n, lowest);
}

TEST(DefaultAssets, PullingTheLowerLipDownOpensTheMouthWithoutTearing) {
    ASSERT_ASSETS_LOADED();
    const ModelData& m = assets().model;
    FaceModel& face = *assets().face;
    std::vector<Vector3> points(&m.controlPoints[0], &m.controlPoints[0] + m.controlPointCount);
    points[controlRole::lowerLipMiddle].y -= 1.5f;
    std::vector<Vector3> positions(m.renderVertexCount), normals(m.renderVertexCount);
    face.update(positions.data(), normals.data(), points.data());

    std::vector<int32_t> upper, lower;
    lipVertices(upper, lower);
    double upperMean = 0, lowerMean = 0;
    float upperMax = 0, lowerMax = 0;
    for (int32_t i : upper) {
        const float d = length(positions[i] - m.renderPositions[i]);
        upperMean += d / upper.size();
        upperMax = std::max(upperMax, d);
    }
    for (int32_t i : lower) {
        const float d = length(positions[i] - m.renderPositions[i]);
        lowerMean += d / lower.size();
        lowerMax = std::max(lowerMax, d);
    }
    EXPECT_GT(lowerMax, 1.2f);
    EXPECT_GT(lowerMean, 0.3);
    EXPECT_LT(upperMax, 0.05f);
    // No render edge grows beyond three times its rest length.
    float worst = 0;
    for (int32_t t = 0; t < m.renderTriangleCount; ++t)
        for (int k = 0; k < 3; ++k) {
            const int32_t a = m.renderTriangles[t].index[k],
                          b = m.renderTriangles[t].index[(k + 1) % 3];
            const float rest = length(m.renderPositions[a] - m.renderPositions[b]);
            if (rest > 0)
                worst = std::max(worst, length(positions[a] - positions[b]) / rest);
        }
    EXPECT_LE(worst, 3.0f);
    std::printf("[ assets   ] point 87 down 1.5: lower lip moves %.3f mean, %.3f max; upper lip "
                "%.5f mean, %.5f max; longest edge %.3f times its rest length\n",
                lowerMean, lowerMax, upperMean, upperMax, worst);
}

TEST(DefaultAssets, TexturesHaveTheFormatsTheViewerReads) {
    ASSERT_ASSETS_LOADED();
    const DecodedImage& skinImage = assets().textures[skin];
    EXPECT_EQ(skinImage.width, 1024);
    EXPECT_EQ(skinImage.height, 1024);
    EXPECT_EQ(skinImage.channels, 3);
    EXPECT_EQ(readWholeFile(dataPath("white_skin.tga"))[2], 10) << "not run-length encoded";
    for (int t : {leftEyeTexture, rightEyeTexture})
        EXPECT_EQ(assets().textures[t].channels, 3) << textureFiles[t];
    for (int t : {upperTeethTexture, lowerTeethTexture}) {
        const DecodedImage& image = assets().textures[t];
        EXPECT_EQ(image.channels, 4) << textureFiles[t];
        std::set<int> alphas;
        for (int32_t i = 0; i < image.width * image.height; ++i)
            alphas.insert(image.pixels[i * 4 + 3]);
        EXPECT_TRUE(alphas.count(0) && alphas.count(255)) << textureFiles[t] << ": nothing cut out";
    }
}

TEST(FaceAssetsGenerator, ReproducesTheCommittedDataByteForByte) {
    char folder[] = "/tmp/face-assets-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const bool written = writeDefaultAssets(folder, nullptr);
    for (const char* name : defaultAssetNames) {
        const std::string path = std::string(folder) + "/" + name;
        if (written) {
            const std::string fresh = readWholeFile(path),
                              committed = readWholeFile(dataPath(name));
            EXPECT_FALSE(fresh.empty()) << name;
            EXPECT_TRUE(fresh == committed) << name << " differs from the committed file";
        }
        std::remove(path.c_str());
    }
    rmdir(folder);
    EXPECT_TRUE(written);
}
