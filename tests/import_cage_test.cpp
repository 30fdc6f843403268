// face-import's automatic control mesh, run as a child process on meshes nobody here made
// (Debian's assimp test models, and copies the tests write): it keeps its rules, binds the
// mesh within the figures measured and warns where a drag throws vertices beyond the aims;
// fitting brings a user's control mesh nearer; one head written by several exporters, or one
// surface in other units, orders and seams, imports alike.
#include "face/amplification.h"
#include "io/model_file.h"
#include "tests/support/import_runs.h"
#include "tests/support/temp_dir.h"
#include "tools/common/model_report.h"

#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

namespace {

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

namespace {

// The quality of a triangle: 4·√3·area over the sum of its squared sides (1 equilateral).
float quality(const Vector3& a, const Vector3& b, const Vector3& c) {
    return 4.0f * std::sqrt(3.0f) * 0.5f * length(cross(b - a, c - a)) /
           (dot(b - a, b - a) + dot(c - b, c - b) + dot(a - c, a - c));
}

// The control triangles of a written model that break a rule of a control mesh: a directed
// side in another triangle too (an edge in three, or neighbours running their edge the same
// way), the same points as another, quality below 0.2, normals more than 120° apart across
// an edge or 87° or more from a corner's normal, a non-finite sub-patch. facing receives the
// sum over the corners of the face normals' dot products with the render surface's normal
// there (its nearest render vertex's): positive where the mesh faces the render surface.
std::set<int32_t> brokenTriangles(double& facing, const FaceModel& model, const ModelData& data) {
    std::set<int32_t> broken;
    std::map<std::pair<int32_t, int32_t>, int32_t> sides;
    std::map<std::array<int32_t, 3>, int32_t> sets;
    const Vector3* P = data.controlPoints.get();
    for (int32_t t = 0; t < data.controlTriangleCount; ++t) {
        const int32_t* i = data.controlTriangles[t].index;
        for (int k = 0; k < 3; ++k) {
            const auto side = sides.insert({{i[k], i[(k + 1) % 3]}, t});
            if (!side.second)
                broken.insert({t, side.first->second});
        }
        std::array<int32_t, 3> set = {i[0], i[1], i[2]};
        std::sort(set.begin(), set.end());
        const auto same = sets.insert({set, t});
        if (!same.second)
            broken.insert({t, same.first->second});
    }
    std::vector<Vector3> surfaceNormal(size_t(data.controlPointCount));
    for (int32_t p = 0; p < data.controlPointCount; ++p)
        surfaceNormal[size_t(p)] = data.renderNormals[nearestVertex(data, P[p])];
    facing = 0.0;
    for (int32_t t = 0; t < data.controlTriangleCount; ++t) {
        const int32_t* i = data.controlTriangles[t].index;
        bool keeps = quality(P[i[0]], P[i[1]], P[i[2]]) >= 0.2f;
        const Vector3 n = normalize(model.controlFaceNormals[t]);
        for (int k = 0; k < 3; ++k) {
            keeps = keeps && dot(n, model.controlNormals[i[k]]) >= 0.05f;
            const auto beyond = sides.find({i[(k + 1) % 3], i[k]});
            if (beyond != sides.end())
                keeps =
                    keeps && dot(n, normalize(model.controlFaceNormals[beyond->second])) >= -0.5f;
            facing += dot(n, surfaceNormal[size_t(i[k])]);
        }
        for (int32_t s = 3 * t; s < 3 * t + 3; ++s) {
            Vector3 net[10];
            model.subPatchNet(net, s);
            keeps =
                keeps && std::all_of(net, net + 10, [](const Vector3& p) { return isFinite(p); });
        }
        if (!keeps)
            broken.insert(t);
    }
    return broken;
}

// An automatic control mesh keeps every rule and faces the render surface.
void expectRulesKept(const FaceModel& model, const ModelData& data, const std::string& file) {
    double facing;
    const std::set<int32_t> broken = brokenTriangles(facing, model, data);
    EXPECT_TRUE(broken.empty()) << file << ": " << broken.size() << " control triangles, the first "
                                << *broken.begin();
    EXPECT_GT(facing, 0.0) << file;
}

} // namespace

TEST(FaceImport, AutomaticControlMeshKeepsItsRulesAndBindsThirdPartyMeshes) {
    if (!std::filesystem::exists(models + "IQM/mrfixit.iqm"))
        GTEST_SKIP() << models << " is missing (package assimp-testmodels)";
    // Heads first, then meshes that are not (their automatic control meshes folded before):
    // the smallest attached share, the largest amplification for moves of 0.1 and of 1, and
    // how close the attached vertices hang to the surface (99th percentiles of the distance
    // and of the tangent coordinates), as measured with a margin.
    const struct {
        std::string file;
        float attached, small, unit, distance, tangent;
    } cases[] = {
        {"IQM/mrfixit.iqm --mesh 1 --front x", 0.98f, 1.1f, 1.6f, 0.40f, 0.9f},
        {"BLEND/Suzanne_248.blend", 0.98f, 1.4f, 1.3f, 0.45f, 1.05f},
        {"BLEND/SuzanneSubdiv_252.blend", 0.98f, 2.65f, 3.3f, 0.44f, 1.9f},
        {"OBJ/WusonOBJ.obj", 0.91f, 1.45f, 1.95f, 0.48f, 2.85f},
        {"PLY/Wuson.ply", 0.90f, 1.5f, 2.05f, 0.47f, 2.4f},
        {"Collada/duck.dae", 0.98f, 1.3f, 1.35f, 0.33f, 1.1f},
        {"Collada/human.zae", 0.90f, 3.3f, 3.7f, 0.49f, 6.3f},
        {"OBJ/spider.obj --mesh all", 0.48f, 1.25f, 1.85f, 0.49f, 1.6f},
        {"MS3D/jeep1.ms3d", 0.56f, 1.25f, 1.35f, 0.47f, 1.0f},
        {"HMP/terrain.hmp", 0.99f, 1.35f, 2.05f, 0.38f, 1.4f},
        {"glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb", 0.44f, 2.05f, 2.05f, 0.495f,
         1.45f},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string out = dir.path + "/" + std::to_string(&c - cases);
        const ProgramRun r = runImport(models + c.file + " --out " + out);
        ASSERT_EQ(r.status, 0) << c.file << ": " << r.err;
        ModelData data;
        const auto model = buildModel(data, out + "/data/retarget.model");
        EXPECT_TRUE(data.controlPointCount >= 88 && data.controlPointCount <= 240) << c.file;
        expectRulesKept(*model, data, c.file);
        const float attached = float(attachedCount(*model)) / float(data.renderVertexCount);
        const float small = largestAmplification(*model, data, 0.1f);
        const float unit = largestAmplification(*model, data, 1.0f);
        SurfaceCloseness closeness;
        measureCloseness(closeness, *model);
        std::printf("%s: attached %.4f, amplification %.3f (0.1), %.3f (1), distance %.4f, "
                    "tangent %.3f\n",
                    c.file.c_str(), attached, small, unit, closeness.distance99,
                    closeness.tangent99);
        // Beyond an aim, never silent; within them, no such warning.
        EXPECT_EQ(r.err.find("thrown beyond the aims") != std::string::npos,
                  small > 1.5f || unit > 2.0f)
            << c.file << ": " << r.err;
        EXPECT_GE(attached, c.attached) << c.file;
        EXPECT_LE(small, c.small) << c.file;
        EXPECT_LE(unit, c.unit) << c.file;
        EXPECT_LE(closeness.distance99, c.distance) << c.file;
        EXPECT_LE(closeness.tangent99, c.tangent) << c.file;
    }
}

// The loss the fit lowers, as the written model shows it: min(d, 0.5)² over the render
// vertices, d an attached vertex's distance to its surface point, 0.5 for the others.
double cappedSquaredDistance(const FaceModel& model) {
    double sum = 0.0;
    for (int32_t i = 0; i < model.renderVertexCount; ++i) {
        const Attachment& a = model.attachments[i];
        Vector3 Q;
        SubPatchFrame frame;
        const float d = a.subPatch >= 0 && model.evaluateFrame(Q, frame, a.subPatch, a.u, a.v)
                            ? std::min(length(a.restPosition - Q), maxAttachDistance)
                            : maxAttachDistance;
        sum += double(d) * d;
    }
    return sum;
}

// The control mesh of a model as OBJ: its points in their order, its triangles.
std::string cageObj(const ModelData& data, const Vector3* points) {
    std::ostringstream cage;
    cage.precision(9);
    for (int32_t i = 0; i < data.controlPointCount; ++i)
        cage << "v " << points[i].x << ' ' << points[i].y << ' ' << points[i].z << '\n';
    for (int32_t t = 0; t < data.controlTriangleCount; ++t) {
        const int32_t* c = data.controlTriangles[t].index;
        cage << "f " << c[0] + 1 << ' ' << c[1] + 1 << ' ' << c[2] + 1 << '\n';
    }
    return cage.str();
}

TEST(FaceImport, FittingBringsTheSurfaceNearerAndKeepsTheRulesAndAUsersNumbering) {
    if (!std::filesystem::exists(models + "Collada/duck.dae"))
        GTEST_SKIP() << models << " is missing (package assimp-testmodels)";
    // The duck as imported (fitted), then its control mesh with every point moved onto its
    // nearest render vertex: the subset control mesh of an unfitted import. Both go in
    // again as the user's control mesh, with and without --fit-cage.
    TempDir dir;
    ASSERT_EQ(runImport(models + "Collada/duck.dae --out " + dir.path + "/a").status, 0);
    ModelData automatic;
    const auto fitted = buildModel(automatic, dir.path + "/a/data/retarget.model");
    ASSERT_EQ(
        inspect("--export-obj " + dir.path + "/duck.obj " + dir.path + "/a/data/retarget.model")
            .status,
        0);
    std::vector<Vector3> snapped(size_t(automatic.controlPointCount));
    for (int32_t p = 0; p < automatic.controlPointCount; ++p)
        snapped[size_t(p)] =
            automatic.renderPositions[nearestVertex(automatic, automatic.controlPoints[p])];
    dir.write("subset.obj", cageObj(automatic, snapped.data()));

    ModelData subsetData, refitData;
    std::unique_ptr<FaceModel> subset, refit;
    for (const bool fit : {false, true}) {
        const std::string out = dir.path + (fit ? "/fit" : "/subset");
        const ProgramRun r =
            runImport(dir.path + "/duck.obj --cage " + dir.path +
                      "/subset.obj --keep-placement --out " + out + (fit ? " --fit-cage" : ""));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.find("fitted to the render surface") != std::string::npos, fit) << r.out;
        (fit ? refit : subset) =
            buildModel(fit ? refitData : subsetData, out + "/data/retarget.model");
    }
    // The user's numbering and triangles stay; the points move, but not far.
    ASSERT_EQ(refitData.controlPointCount, subsetData.controlPointCount);
    ASSERT_EQ(refitData.controlTriangleCount, subsetData.controlTriangleCount);
    for (int32_t t = 0; t < refitData.controlTriangleCount; ++t)
        for (int k = 0; k < 3; ++k)
            ASSERT_EQ(refitData.controlTriangles[t].index[k],
                      subsetData.controlTriangles[t].index[k]);
    int32_t moved = 0;
    for (int32_t p = 0; p < refitData.controlPointCount; ++p) {
        const float d = length(refitData.controlPoints[p] - subsetData.controlPoints[p]);
        EXPECT_LT(d, 1.0f) << "control point " << p;
        moved += d > 0.0f;
    }
    EXPECT_GT(moved, refitData.controlPointCount / 2);
    // The snapped mesh may break a rule here and there; fitting breaks no other.
    double facing;
    const std::set<int32_t> before = brokenTriangles(facing, *subset, subsetData);
    const std::set<int32_t> after = brokenTriangles(facing, *refit, refitData);
    EXPECT_TRUE(std::includes(before.begin(), before.end(), after.begin(), after.end()))
        << after.size() << " broken after, " << before.size() << " before";
    EXPECT_GT(facing, 0.0);

    // Fitting lowers the loss and the distance figure, for a user's control mesh and for
    // the automatic one.
    const double unfitted = cappedSquaredDistance(*subset);
    std::printf("capped squared distance: subset %.3f, --fit-cage %.3f, automatic %.3f\n", unfitted,
                cappedSquaredDistance(*refit), cappedSquaredDistance(*fitted));
    EXPECT_LT(cappedSquaredDistance(*refit), 0.9 * unfitted);
    EXPECT_LT(cappedSquaredDistance(*fitted), 0.9 * unfitted);
    SurfaceCloseness unfittedCloseness, fittedCloseness;
    measureCloseness(unfittedCloseness, *subset);
    measureCloseness(fittedCloseness, *refit);
    EXPECT_LT(fittedCloseness.distanceMedian, unfittedCloseness.distanceMedian);
    EXPECT_LE(fittedCloseness.distance99, unfittedCloseness.distance99);
}

TEST(FaceImport, OneHeadWrittenInSeveralFormatsImportsAlike) {
    const std::string source = models + "BLEND/Suzanne_248.blend";
    if (!std::filesystem::exists(source))
        GTEST_SKIP() << models << " is missing (package assimp-testmodels)";
    // assimp's own exporter writes the head again: the same vertices shared, or (STL) one per
    // triangle corner with the triangle's own normal, joined again by the import. The
    // exporter writes the scene's coordinates as they are, Blender's z up, and states +y up
    // or nothing: the source is placed as its exports are, +y up and facing +z. The formats
    // that keep the vertices give the source's control mesh (the figures bind the render
    // vertices where each file's rounding put them); STL's normals are another surface's,
    // whose control mesh keeps the post-condition: within the aims, or warned of.
    TempDir dir;
    struct Figures {
        int32_t points;
        float attached, small, unit;
        bool warned;
    };
    const auto figures = [&](const std::string& file, const std::string& options) {
        const std::string out =
            dir.path + "/out-" + std::filesystem::path(file).extension().string().substr(1);
        const ProgramRun r = runImport(file + options + " --out " + out);
        EXPECT_EQ(r.status, 0) << file << ": " << r.err;
        ModelData data;
        const auto model = buildModel(data, out + "/data/retarget.model");
        return Figures{
            data.controlPointCount, float(attachedCount(*model)) / float(data.renderVertexCount),
            largestAmplification(*model, data, 0.1f), largestAmplification(*model, data, 1.0f),
            r.err.find("thrown beyond the aims") != std::string::npos};
    };
    const Figures original = figures(source, " --up y --front z");
    for (const char* format : {"obj", "ply", "glb", "dae", "stl"}) {
        const std::string file = dir.path + "/suzanne." + format;
        const ProgramRun exported = runWords("/usr/bin/assimp", "export " + source + " " + file);
        ASSERT_EQ(exported.status, 0) << "assimp export (package assimp-utils): " << exported.err;
        const Figures f = figures(file, "");
        std::printf("%s: %d points, attached %.4f, amplification %.3f (0.1), %.3f (1)\n", format,
                    f.points, f.attached, f.small, f.unit);
        EXPECT_NEAR(f.attached, original.attached, 0.01f) << format;
        if (std::string(format) == "stl") {
            EXPECT_EQ(f.warned, f.small > 1.5f || f.unit > 2.0f) << format;
            continue;
        }
        EXPECT_EQ(f.points, original.points) << format;
        EXPECT_NEAR(f.small, original.small, 0.05f) << format;
        EXPECT_NEAR(f.unit, original.unit, 0.05f) << format;
    }
}
