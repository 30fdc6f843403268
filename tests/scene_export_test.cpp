// The way back to the user's modelling tool: face-import's record of an import, and
// face-inspect --export-scene and --source-coordinates on real files nobody here wrote
// (Debian's assimp test models), compared with the source read the same way.
#include "io/import_record.h"
#include "io/model_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/viewer_session.h"
#include "tools/inspect/own_scene_file.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace {

const std::string models = "/usr/share/assimp/models/";

ProgramRun runImport(const std::string& arguments) { return runWords(FACE_IMPORT_PATH, arguments); }
ProgramRun inspect(const std::string& arguments) { return runWords(FACE_INSPECT_PATH, arguments); }

// A scene read as face-import reads it: triangulated, nothing joined.
const aiScene* readScene(Assimp::Importer& importer, const std::string& file) {
    const aiScene* scene =
        importer.ReadFile(file, aiProcess_Triangulate | aiProcess_ValidateDataStructure);
    EXPECT_NE(scene, nullptr) << file << ": " << importer.GetErrorString();
    return scene;
}

// The largest distance between the positions at the same triangle corners of two meshes
// with the same triangles (exporters may number the vertices anew, but keep the triangles'
// order): −1 when the triangle counts differ.
float cornerDistance(const aiMesh& a, const aiMesh& b) {
    if (a.mNumFaces != b.mNumFaces)
        return -1.0f;
    float largest = 0.0f;
    for (unsigned f = 0; f < a.mNumFaces; ++f)
        for (unsigned c = 0; c < a.mFaces[f].mNumIndices && c < b.mFaces[f].mNumIndices; ++c)
            largest = std::max(largest, (a.mVertices[a.mFaces[f].mIndices[c]] -
                                         b.mVertices[b.mFaces[f].mIndices[c]])
                                            .Length());
    return largest;
}

// The v lines of an OBJ file, in order.
std::vector<Vector3> objPositions(const std::string& file) {
    std::vector<Vector3> positions;
    std::ifstream obj(file);
    for (std::string tag; obj >> tag;) {
        Vector3 p;
        if (tag == "v" && obj >> p.x >> p.y >> p.z)
            positions.push_back(p);
        obj.ignore(1 << 20, '\n');
    }
    return positions;
}

Vector3 placed(const Matrix4& transform, const aiVector3D& p) {
    const Vector4 q = transform * Vector4{p.x, p.y, p.z, 1.0f};
    return {q.x, q.y, q.z};
}

} // namespace

// Rest pose and a move, written in the source's own format: the rest pose puts every corner
// back within 1e-5 of its mesh's size; the meshes not imported come back as they were; after
// a move, every corner of the imported meshes lies where the posed render mesh, placed back
// in the source's coordinates (--source-coordinates), puts its render vertex.
TEST(SceneExport, RestPoseReproducesTheSourceAndAMoveOnlyTheImportedMeshes) {
    const struct {
        const char* file;
        const char* options;
    } cases[] = {{"glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb", ""},
                 {"Collada/duck.dae", ""},
                 {"PLY/Wuson.ply", ""},
                 {"OBJ/spider.obj", "--mesh 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14"}};
    for (const auto& c : cases) {
        TempDir dir;
        const std::string source = models + c.file;
        const std::string extension = std::filesystem::path(source).extension().string();
        const std::string model = dir.path + "/data/retarget.model";
        const ProgramRun imported = runImport(source + " " + c.options + " --out " + dir.path);
        ASSERT_EQ(imported.status, 0) << c.file << ": " << imported.err;
        ImportRecord record;
        std::string error;
        ASSERT_TRUE(readImportRecord(record, (dir.path + "/import-record.txt").c_str(), error))
            << error;
        const std::set<int32_t> used(record.meshes.begin(), record.meshes.end());

        const std::string rest = dir.path + "/rest" + extension;
        const std::string moved = dir.path + "/moved" + extension;
        ASSERT_EQ(inspect("--export-scene " + rest + " " + model).status, 0) << c.file;
        const ProgramRun move = inspect("--export-scene " + moved + " --move 50 0 1 0 " + model);
        ASSERT_EQ(move.status, 0) << c.file << ": " << move.err;
        ASSERT_EQ(inspect("--export-obj " + dir.path +
                          "/posed-render.obj --source-coordinates --move 50 "
                          "0 1 0 " +
                          model)
                      .status,
                  0);
        const std::vector<Vector3> posed = objPositions(dir.path + "/posed-render.obj");
        ASSERT_GT(int64_t(posed.size()),
                  *std::max_element(record.renderVertex.begin(), record.renderVertex.end()));

        Assimp::Importer a, b, d;
        const aiScene* original = readScene(a, source);
        const aiScene* restScene = readScene(b, rest);
        const aiScene* movedScene = readScene(d, moved);
        ASSERT_TRUE(original && restScene && movedScene);
        ASSERT_EQ(restScene->mNumMeshes, original->mNumMeshes) << c.file;
        ASSERT_EQ(movedScene->mNumMeshes, original->mNumMeshes) << c.file;
        bool anyMoved = false;
        size_t first = 0; // the used mesh's first entry in the record
        for (unsigned m = 0; m < original->mNumMeshes; ++m) {
            const aiMesh& mesh = *original->mMeshes[m];
            const aiMesh& after = *movedScene->mMeshes[m];
            const float size = meshSize(mesh);
            const float atRest = cornerDistance(mesh, *restScene->mMeshes[m]);
            const float afterMove = cornerDistance(mesh, after);
            EXPECT_GE(atRest, 0.0f) << c.file << " mesh " << m << ": triangles differ";
            EXPECT_LE(atRest, 1e-5f * size) << c.file << " mesh " << m;
            if (!used.count(int32_t(m))) {
                EXPECT_EQ(afterMove, atRest) << c.file << " mesh " << m << " was not imported";
                continue;
            }
            anyMoved = anyMoved || afterMove > 1e-3f * size;
            const size_t u =
                size_t(std::find(record.meshes.begin(), record.meshes.end(), int32_t(m)) -
                       record.meshes.begin());
            // A Collada or OBJ file is the user's own, whose vertex sharing stays: corners
            // that share a position there (a hard edge, whose render vertices are split and
            // may move apart) take one of their render vertices' positions.
            std::map<std::array<float, 3>, std::vector<Vector3>> posedAt;
            for (unsigned f = 0; f < mesh.mNumFaces; ++f)
                for (unsigned k = 0; k < mesh.mFaces[f].mNumIndices; ++k) {
                    const unsigned v = mesh.mFaces[f].mIndices[k];
                    const int32_t r = record.renderVertex[first + v];
                    if (r >= 0)
                        posedAt[{mesh.mVertices[v].x, mesh.mVertices[v].y, mesh.mVertices[v].z}]
                            .push_back(posed[size_t(r)]);
                }
            float worst = 0.0f;
            ASSERT_EQ(after.mNumFaces, mesh.mNumFaces);
            for (unsigned f = 0; f < mesh.mNumFaces; ++f)
                for (unsigned k = 0; k < mesh.mFaces[f].mNumIndices; ++k) {
                    const unsigned v = mesh.mFaces[f].mIndices[k];
                    const int32_t r = record.renderVertex[first + v];
                    if (r < 0)
                        continue;
                    const Vector3 p = placed(record.meshTransforms[u],
                                             after.mVertices[after.mFaces[f].mIndices[k]]);
                    float nearest = length(p - posed[size_t(r)]);
                    if (extension == ".obj" || extension == ".dae")
                        for (const Vector3& q : posedAt[{mesh.mVertices[v].x, mesh.mVertices[v].y,
                                                         mesh.mVertices[v].z}])
                            nearest = std::min(nearest, length(p - q));
                    worst = std::max(worst, nearest);
                }
            EXPECT_LE(worst, 1e-5f * size) << c.file << " mesh " << m;
            first += mesh.mNumVertices;
        }
        EXPECT_TRUE(anyMoved) << c.file;
    }
}

// The record reads back as written; a truncated or damaged one is refused with its line; a
// source changed since the import is refused; --source-coordinates puts the rest mesh back
// on the source's positions.
TEST(SceneExport, TheRecordRoundTripsAndIsRefusedWhenDamagedOrStale) {
    TempDir dir;
    const std::string source = dir.path + "/duck.dae";
    std::filesystem::copy_file(models + "Collada/duck.dae", source);
    ASSERT_EQ(runImport(source + " --out " + dir.path + "/duck").status, 0);
    const std::string recordFile = dir.path + "/duck/import-record.txt";
    const std::string model = dir.path + "/duck/data/retarget.model";
    ImportRecord record, again;
    std::string error;
    ASSERT_TRUE(readImportRecord(record, recordFile.c_str(), error)) << error;
    ASSERT_TRUE(writeImportRecord((dir.path + "/again.txt").c_str(), record, error)) << error;
    ASSERT_TRUE(readImportRecord(again, (dir.path + "/again.txt").c_str(), error)) << error;
    EXPECT_EQ(readFile(dir.path + "/again.txt"), readFile(recordFile));
    EXPECT_EQ(again.renderVertex, record.renderVertex);

    // --source-coordinates: each render vertex back where its source vertices lie in the
    // scene (their node transform applied).
    ASSERT_EQ(
        inspect("--export-obj " + dir.path + "/back.obj --source-coordinates " + model).status, 0);
    const std::vector<Vector3> back = objPositions(dir.path + "/back.obj");
    Assimp::Importer importer;
    const aiScene* original = readScene(importer, source);
    ASSERT_TRUE(original);
    const aiMesh& mesh = *original->mMeshes[record.meshes[0]];
    float worst = 0.0f;
    for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
        const int32_t r = record.renderVertex[v];
        ASSERT_LT(r, int32_t(back.size()));
        if (r < 0)
            continue;
        worst = std::max(
            worst, length(placed(record.meshTransforms[0], mesh.mVertices[v]) - back[size_t(r)]));
    }
    EXPECT_LE(worst, 1e-5f * meshSize(mesh));

    // Damaged records, one line each with the file and line.
    const std::string text = readFile(recordFile);
    const struct {
        std::string record;
        std::string says;
    } damaged[] = {
        {text.substr(0, text.size() / 2), "import-record.txt, line "},
        {std::string(text).replace(text.find("scale"), 5, "scalf"), "expected \"scale <s>\""},
        {std::string(text).replace(text.find("\n", text.find("vertices")) + 1, 1, "x"),
         "is not an integer"},
    };
    for (const auto& d : damaged) {
        std::ofstream(recordFile, std::ios::trunc) << d.record;
        const ProgramRun r = inspect("--export-scene " + dir.path + "/out.dae " + model);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(d.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    std::ofstream(recordFile, std::ios::trunc) << text;
    std::ofstream(source, std::ios::app) << "\n";
    const ProgramRun stale = inspect("--export-scene " + dir.path + "/out.dae " + model);
    EXPECT_EQ(stale.status, 1);
    EXPECT_NE(stale.err.find("changed since the import"), std::string::npos) << stale.err;
}

// Every glTF route through the Khronos glTF Validator (installed by scripts/deps.sh): sources
// of several formats, one mesh and several in one node, a placeholder skin (MD2) and a missing
// one (the COB dwarf's dwarf.jpg), .glb and .gltf, with and without shape keys. No error, and
// every mesh with targets names them after the poses. A Collada file with keys from a source
// that is not Collada is refused in one line.
TEST(SceneExport, EveryGltfPassesTheValidatorWithNamedKeys) {
    const std::string validator = FACE_SOURCE_DIR "/.tools/node_modules";
    ASSERT_TRUE(std::filesystem::exists(validator + "/gltf-validator/package.json"))
        << "scripts/deps.sh test installs the glTF validator into .tools/";
    const struct {
        const char* source;
        const char* arguments;
    } sources[] = {
        {"MD2/sydney.md2", ""},    // one mesh, the placeholder $texture_dummy.bmp
        {"COB/dwarf.cob", ""},     // several meshes of one node, dwarf.jpg missing
        {"BLEND/HUMAN.blend", ""}, // two meshes of one node
        {"OBJ/WusonOBJ.obj", ""},  // OBJ source, glTF out
        {"Collada/duck.dae", ""},  // its picture a TGA beside it, made PNG
    };
    TempDir dir;
    dir.write("smile.txt", std::string("3 0.5 0.2 -0.1\n10 0 0.3 0\n"));
    dir.write("brows.txt", std::string("20 0 0.4 0\n"));
    std::vector<std::string> files;
    int n = 0;
    for (const auto& s : sources) {
        const std::string out = dir.path + "/import" + std::to_string(n++);
        const ProgramRun imported =
            runImport(models + s.source + " --out " + out + " " + s.arguments);
        ASSERT_EQ(imported.status, 0) << s.source << ": " << imported.err;
        const std::string model = out + "/data/retarget.model";
        for (const char* extension : {".glb", ".gltf"}) {
            const std::string plain = out + "/plain" + extension;
            const std::string keyed = out + "/keyed" + extension;
            EXPECT_EQ(inspect("--export-scene " + plain + " " + model).status, 0) << plain;
            const ProgramRun shapes = inspect("--export-scene " + keyed + " --shapes " + dir.path +
                                              "/smile.txt " + dir.path + "/brows.txt " + model);
            EXPECT_EQ(shapes.status, 0) << keyed << ": " << shapes.err;
            files.push_back(plain);
            files.push_back(keyed);
        }
        if (n == 2) { // the dwarf: Collada with keys from a COB file
            const ProgramRun refused = inspect("--export-scene " + out + "/keyed.dae --shapes " +
                                               dir.path + "/smile.txt " + model);
            EXPECT_EQ(refused.status, 1);
            EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
            EXPECT_NE(refused.err.find("write .glb or .gltf"), std::string::npos) << refused.err;
        }
    }
    // A model without an import record (the default face): its render mesh with the keys.
    for (const char* extension : {".glb", ".gltf"}) {
        const std::string keyed = dir.path + "/face/keyed" + extension;
        const ProgramRun shapes =
            inspect("--export-scene " + keyed + " --shapes " + dir.path + "/smile.txt " + dir.path +
                    "/brows.txt " FACE_SOURCE_DIR "/data/retarget.model");
        EXPECT_EQ(shapes.status, 0) << keyed << ": " << shapes.err;
        files.push_back(keyed);
    }
    std::string arguments = std::string(FACE_SOURCE_DIR "/tests/gltf/validate.js ") + validator;
    for (const std::string& file : files)
        arguments += " " + file;
    const ProgramRun validated = runWords("/usr/bin/node", arguments);
    EXPECT_EQ(validated.status, 0) << validated.out << validated.err;

    // The keys' names, as Blender reads them: extras.targetNames on every mesh with targets.
    for (const std::string& file : files) {
        if (file.find("keyed.gltf") == std::string::npos)
            continue;
        const nlohmann::json gltf = nlohmann::json::parse(readFile(file));
        int keyed = 0;
        for (const nlohmann::json& mesh : gltf["meshes"]) {
            if (!mesh["primitives"][0].contains("targets"))
                continue;
            ++keyed;
            EXPECT_EQ(mesh["extras"]["targetNames"], nlohmann::json::array({"smile", "brows"}))
                << file;
        }
        EXPECT_GT(keyed, 0) << file;
    }
}
