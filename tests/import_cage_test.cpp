// face-import's automatic control mesh chosen on the canonical form of the render mesh: one
// surface written in other units, with its faces or vertices in another order, or its
// vertices split at the texture seams, imports to the same control mesh and figures.
#include "face/amplification.h"
#include "io/model_file.h"
#include "tests/support/synthetic_model.h"
#include "tests/support/temp_dir.h"
#include "tests/support/viewer_session.h"

#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <numeric>
#include <random>
#include <sstream>
#include <tuple>

namespace {

const std::string models = "/usr/share/assimp/models/";

// What the summary judges an import by: control points, attached share, the largest
// amplification for moves of 0.1 and of 1.
struct Figures {
    int32_t points = 0;
    float attached = 0.0f, small = 0.0f, unit = 0.0f;
};

Figures importFigures(const std::string& file, const std::string& out) {
    const ProgramRun r = runWords(FACE_IMPORT_PATH, file + " --out " + out);
    EXPECT_EQ(r.status, 0) << file << ": " << r.err;
    ModelData data;
    std::string error;
    const std::string model = out + "/data/retarget.model";
    EXPECT_TRUE(readModelFile(data, model.c_str(), error)) << error;
    if (!error.empty())
        return Figures();
    const auto face = makeFaceModel(data);
    Figures f;
    f.points = data.controlPointCount;
    int32_t attached = 0;
    for (int32_t i = 0; i < face->renderVertexCount; ++i)
        attached += face->attachments[i].subPatch >= 0;
    f.attached = float(attached) / float(face->renderVertexCount);
    std::vector<float> values(size_t(face->renderVertexCount));
    computeAmplification(values.data(), nullptr, *face, data.controlPoints.get(), 0.1f);
    f.small = *std::max_element(values.begin(), values.end());
    computeAmplification(values.data(), nullptr, *face, data.controlPoints.get(), 1.0f);
    f.unit = *std::max_element(values.begin(), values.end());
    return f;
}

// A mesh as an OBJ file: one "v" per distinct position (scaled), one "vt" per vertex, the
// faces in the order given; positionOrder permutes the "v" lines.
std::string objText(const aiMesh& mesh, float scale, const std::vector<unsigned>& faceOrder,
                    bool shufflePositions) {
    // Distinct positions, in order of first appearance.
    std::map<std::tuple<float, float, float>, int32_t> found;
    std::vector<int32_t> positionOf(mesh.mNumVertices);
    std::vector<aiVector3D> positions;
    for (unsigned i = 0; i < mesh.mNumVertices; ++i) {
        const aiVector3D& p = mesh.mVertices[i];
        const auto at = found.insert({{p.x, p.y, p.z}, int32_t(positions.size())});
        if (at.second)
            positions.push_back(p);
        positionOf[i] = at.first->second;
    }
    std::vector<int32_t> line(positions.size());
    std::iota(line.begin(), line.end(), 0);
    if (shufflePositions)
        std::shuffle(line.begin(), line.end(), std::mt19937(7));
    std::vector<aiVector3D> written(positions.size());
    for (size_t p = 0; p < positions.size(); ++p)
        written[size_t(line[p])] = positions[p];
    std::ostringstream obj;
    char text[96];
    for (const aiVector3D& p : written) {
        std::snprintf(text, sizeof text, "v %.9g %.9g %.9g\n", double(scale * p.x),
                      double(scale * p.y), double(scale * p.z));
        obj << text;
    }
    for (unsigned i = 0; i < mesh.mNumVertices; ++i) {
        std::snprintf(text, sizeof text, "vt %.9g %.9g\n", double(mesh.mTextureCoords[0][i].x),
                      double(mesh.mTextureCoords[0][i].y));
        obj << text;
    }
    for (unsigned f : faceOrder) {
        obj << 'f';
        for (unsigned k = 0; k < 3; ++k) {
            const unsigned v = mesh.mFaces[f].mIndices[k];
            obj << ' ' << line[size_t(positionOf[v])] + 1 << '/' << v + 1;
        }
        obj << '\n';
    }
    return obj.str();
}

} // namespace

TEST(FaceImport, OneSurfaceWrittenDifferentlyGivesTheSameControlMesh) {
    // A head nobody here made, its positions shared across its texture seams; then copies in
    // other units, with its faces or positions in another order, and as glTF, which splits
    // its vertices at every seam.
    const std::string source = models + "OBJ/WusonOBJ.obj";
    if (!std::filesystem::exists(source))
        GTEST_SKIP() << models << " is missing (package assimp-testmodels)";
    Assimp::Importer importer;
    const aiScene* scene =
        importer.ReadFile(source, aiProcess_Triangulate | aiProcess_JoinIdenticalVertices);
    ASSERT_TRUE(scene && scene->mNumMeshes == 1 && scene->mMeshes[0]->HasTextureCoords(0));
    const aiMesh& mesh = *scene->mMeshes[0];
    std::vector<unsigned> inOrder(mesh.mNumFaces), shuffled(mesh.mNumFaces);
    std::iota(inOrder.begin(), inOrder.end(), 0u);
    std::iota(shuffled.begin(), shuffled.end(), 0u);
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(11));
    TempDir dir;
    const Figures base =
        importFigures(dir.write("head.obj", objText(mesh, 1.0f, inOrder, false)), dir.path + "/a");
    ASSERT_GT(base.points, 0);
    Assimp::Exporter exporter;
    ASSERT_EQ(exporter.Export(scene, "glb2", dir.path + "/seams.glb"), aiReturn_SUCCESS)
        << exporter.GetErrorString();
    const struct {
        const char* name;
        std::string file;
    } copies[] = {
        {"scaled by 0.01", dir.write("small.obj", objText(mesh, 0.01f, inOrder, false))},
        {"scaled by 100", dir.write("large.obj", objText(mesh, 100.0f, inOrder, false))},
        {"faces shuffled", dir.write("faces.obj", objText(mesh, 1.0f, shuffled, false))},
        {"positions shuffled", dir.write("positions.obj", objText(mesh, 1.0f, inOrder, true))},
        {"seams split (glTF)", dir.path + "/seams.glb"},
    };
    std::printf("as written: %d points, attached %.4f, amplification %.3f (0.1), %.3f (1)\n",
                base.points, base.attached, base.small, base.unit);
    for (const auto& c : copies) {
        const Figures f = importFigures(c.file, dir.path + "/" + std::to_string(&c - copies));
        std::printf("%s: %d points, attached %.4f, amplification %.3f (0.1), %.3f (1)\n", c.name,
                    f.points, f.attached, f.small, f.unit);
        EXPECT_EQ(f.points, base.points) << c.name;
        EXPECT_NEAR(f.attached, base.attached, 0.05f) << c.name;
        EXPECT_NEAR(f.small, base.small, 0.05f) << c.name;
        EXPECT_NEAR(f.unit, base.unit, 0.05f) << c.name;
    }
}
