// Blender as the client of the way back: sources of three formats that nobody here wrote
// are imported, posed with two named poses and exported; Blender opens every source and
// export headless (one launch for all of them) and what it reads is compared: the same
// objects with the same vertex counts, the rest positions, and each shape key's name and
// positions against the export posed with that pose alone.
// The default face's expression library goes the same way, every pose a named key.
#include "io/model_file.h"
#include "tests/support/gl_context.h"
#include "tests/support/poser_drag.h"
#include "tests/support/temp_dir.h"
#include "tests/support/viewer_session.h"
#include "tools/assets/shape.h"

#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

const std::string models = "/usr/share/assimp/models/";

// What Blender read from one file: per mesh object, in the order of their names, its
// positions and its shape keys (name, positions), as tests/blender/read_scenes.py writes
// them. Objects are compared in that order: Blender names an OBJ file's object after the
// file.
struct BlenderObject {
    std::string name;
    std::vector<float> positions;
    std::vector<std::pair<std::string, std::vector<float>>> keys;
};
using BlenderScene = std::vector<BlenderObject>;

bool readBlenderScene(BlenderScene& scene, const std::string& file) {
    std::ifstream in(file + ".blender.json");
    const nlohmann::json read = nlohmann::json::parse(in, nullptr, false);
    if (read.is_discarded() || !read["error"].get<std::string>().empty())
        return false;
    for (const nlohmann::json& object : read["objects"]) {
        scene.emplace_back();
        BlenderObject& o = scene.back();
        o.name = object["name"].get<std::string>();
        o.positions = object["positions"].get<std::vector<float>>();
        for (const nlohmann::json& key : object["keys"])
            o.keys.push_back({key["name"], key["positions"].get<std::vector<float>>()});
    }
    return !scene.empty();
}

// The largest distance between the same vertices of two position lists (equal counts).
float largestDistance(const std::vector<float>& a, const std::vector<float>& b) {
    float largest = 0.0f;
    for (size_t i = 0; i + 2 < a.size() && i + 2 < b.size(); i += 3)
        largest =
            std::max(largest, std::hypot(a[i] - b[i], a[i + 1] - b[i + 1], a[i + 2] - b[i + 2]));
    return largest;
}

// The diagonal of the bounding box of every object's positions.
float sceneSize(const BlenderScene& scene) {
    float low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (const BlenderObject& object : scene)
        for (size_t i = 0; i < object.positions.size(); ++i) {
            low[i % 3] = std::min(low[i % 3], object.positions[i]);
            high[i % 3] = std::max(high[i % 3], object.positions[i]);
        }
    return std::hypot(high[0] - low[0], high[1] - low[1], high[2] - low[2]);
}

ProgramRun inspect(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {FACE_INSPECT_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runProgram(command);
}

} // namespace

TEST(EndToEndBlender, ExportsOpenWithTheSourcesVerticesAndNamedShapeKeys) {
    TempDir temp;
    // A glTF file written by assimp from a Blender scene of the test models.
    {
        Assimp::Importer importer;
        const aiScene* suzanne =
            importer.ReadFile(models + "BLEND/Suzanne_248.blend", aiProcess_Triangulate);
        ASSERT_NE(suzanne, nullptr) << importer.GetErrorString();
        Assimp::Exporter exporter;
        ASSERT_EQ(exporter.Export(suzanne, "glb2", temp.path + "/suzanne.glb"), AI_SUCCESS);
    }
    const struct {
        std::string source, extension; // the export's format
        bool shapes;                   // the format holds shape keys
        bool sameCounts;               // Blender reads the source's counts from the export
        std::string mesh;              // face-import's --mesh
        bool blenderReads = true;      // Blender has a reader for the source's format
    } cases[] = {
        {temp.path + "/suzanne.glb", ".glb", true, true, ""},
        {models + "Collada/duck.dae", ".dae", true, true, ""},
        {models + "OBJ/WusonOBJ.obj", ".obj", false, true, ""},
        // FBX is written as .glb: glTF keeps one normal and texture coordinate per vertex,
        // so Blender reads more vertices than the FBX's shared control points.
        {models + "FBX/spider.fbx", ".glb", true, false, "all"},
        // Several meshes in one node, their skin dwarf.jpg missing; and MD2's placeholder skin.
        {models + "COB/dwarf.cob", ".glb", true, false, "", false},
        {models + "MD2/sydney.md2", ".glb", true, false, "", false},
    };
    std::vector<std::string> files;
    struct Exported {
        std::string source, rest, shapes, posed[2];
    };
    std::vector<Exported> exported;
    const std::string poseNames[2] = {"smile", "brow-up"};
    for (const auto& c : cases) {
        const std::string folder = temp.path + "/" + std::to_string(&c - cases);
        ProgramRun run = runProgram(
            c.mesh.empty() ? std::vector<std::string>{FACE_IMPORT_PATH, c.source, "--out", folder}
                           : std::vector<std::string>{FACE_IMPORT_PATH, c.source, "--mesh", c.mesh,
                                                      "--out", folder});
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string model = folder + "/data/retarget.model";
        ModelData data;
        std::string error;
        ASSERT_TRUE(readModelFile(data, model.c_str(), error)) << error;
        // Two poses of control points spread over the mesh, a unit or so each (the model is
        // 16 units tall).
        const int32_t K = data.controlPointCount;
        std::filesystem::create_directories(folder + "/poses");
        const std::string poses[2] = {temp.write(std::to_string(&c - cases) + "/poses/smile.txt",
                                                 std::to_string(K / 2) + " 0 -1.5 0.25\n"),
                                      temp.write(std::to_string(&c - cases) + "/poses/brow-up.txt",
                                                 std::to_string(K / 3) + " 0.5 1 0\n" +
                                                     std::to_string(K / 5) + " 0 0.75 -0.5\n")};
        Exported e;
        e.source = c.source;
        e.rest = folder + "/rest" + c.extension;
        run = inspect({"--export-scene", e.rest, model});
        ASSERT_EQ(run.status, 0) << run.err;
        for (int k = 0; k < 2; ++k) {
            e.posed[k] = folder + "/" + poseNames[k] + c.extension;
            run = inspect({"--export-scene", e.posed[k], "--pose", poses[k], model});
            ASSERT_EQ(run.status, 0) << run.err;
        }
        if (c.shapes) {
            e.shapes = folder + "/shapes" + c.extension;
            run = inspect({"--export-scene", e.shapes, "--shapes", poses[0], poses[1], model});
            ASSERT_EQ(run.status, 0) << run.err;
        }
        if (!c.blenderReads)
            e.source.clear();
        for (const std::string& file : {e.source, e.rest, e.shapes, e.posed[0], e.posed[1]})
            if (!file.empty())
                files.push_back(file);
        exported.push_back(e);
    }
    // The sources' JSON goes beside a copy, the repository's and the system's folders are
    // only read.
    for (std::string& file : files)
        if (file.rfind(temp.path, 0) != 0) {
            const std::string copy = temp.path + "/source-" + file.substr(file.rfind('/') + 1);
            ASSERT_EQ(std::system(("cp '" + file + "' '" + copy + "'").c_str()), 0);
            for (Exported& e : exported)
                if (e.source == file)
                    e.source = copy;
            file = copy;
        }
    std::vector<std::string> blender = {"blender",
                                        "-b",
                                        "--factory-startup",
                                        "--python",
                                        FACE_SOURCE_DIR "/tests/blender/read_scenes.py",
                                        "--"};
    blender.insert(blender.end(), files.begin(), files.end());
    const ProgramRun opened = runProgram(blender);
    ASSERT_EQ(opened.status, 0) << opened.err;

    for (size_t i = 0; i < exported.size(); ++i) {
        const Exported& e = exported[i];
        SCOPED_TRACE(e.rest);
        BlenderScene source, rest, shapes, posed[2];
        ASSERT_TRUE(e.source.empty() || readBlenderScene(source, e.source));
        ASSERT_TRUE(readBlenderScene(rest, e.rest));
        ASSERT_TRUE(readBlenderScene(posed[0], e.posed[0]));
        ASSERT_TRUE(readBlenderScene(posed[1], e.posed[1]));
        const float tolerance = 1e-5f * sceneSize(rest);
        // The same objects with the same vertex counts; at rest, where they were.
        ASSERT_TRUE(e.source.empty() || source.size() == rest.size());
        ASSERT_EQ(posed[0].size(), rest.size());
        ASSERT_EQ(posed[1].size(), rest.size());
        for (size_t o = 0; o < rest.size(); ++o) {
            SCOPED_TRACE(rest[o].name);
            if (cases[i].sameCounts) {
                EXPECT_EQ(source[o].positions.size(), rest[o].positions.size());
                EXPECT_LE(largestDistance(source[o].positions, rest[o].positions), tolerance);
            }
            EXPECT_EQ(posed[0][o].positions.size(), rest[o].positions.size());
        }
        if (e.shapes.empty())
            continue;
        // Every key named after its pose, at the positions of the export of that pose.
        ASSERT_TRUE(readBlenderScene(shapes, e.shapes));
        ASSERT_EQ(shapes.size(), rest.size());
        float largestMove[2] = {0.0f, 0.0f};
        for (size_t o = 0; o < rest.size(); ++o) {
            const BlenderObject& object = shapes[o];
            SCOPED_TRACE(object.name);
            ASSERT_EQ(object.positions.size(), rest[o].positions.size());
            EXPECT_LE(largestDistance(object.positions, rest[o].positions), tolerance);
            if (object.keys.empty())
                continue; // a mesh that was not imported
            ASSERT_EQ(object.keys.size(), 2u);
            for (size_t k = 0; k < 2; ++k) {
                EXPECT_EQ(object.keys[k].first, poseNames[k]);
                EXPECT_LE(largestDistance(object.keys[k].second, posed[k][o].positions), tolerance);
                largestMove[k] = std::max(largestMove[k],
                                          largestDistance(object.keys[k].second, object.positions));
            }
        }
        // Each pose moved something (a key equal to the basis would pass the rest).
        EXPECT_GT(largestMove[0], 100 * tolerance);
        EXPECT_GT(largestMove[1], 100 * tolerance);
    }
}

namespace {

// The render positions face-inspect --dump positions prints after the options, in Blender's
// axes (glTF's +y up becomes Blender's +z up: x, −z, y).
std::vector<float> inspectedInBlender(const std::vector<std::string>& options,
                                      const std::string& model) {
    std::vector<std::string> arguments = {"--dump", "positions"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(model);
    const ProgramRun run = inspect(arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::vector<float> positions;
    float p[6];
    while (lines >> p[0] >> p[1] >> p[2] >> p[3] >> p[4] >> p[5])
        positions.insert(positions.end(), {p[0], -p[2], p[1]});
    return positions;
}

} // namespace

using EndToEndPoserBlender = OffscreenGLTest;

// On the default face (no scene of the user's: the render mesh is written, the eyes and teeth
// after it): a symmetric smile from one mirrored drag, saved, split into its halves ("H",
// named after it) and exported with "k": Blender reads the three keys by name, each at the
// positions face-inspect gives for its pose, and the left half moves the face's left alone.
TEST_F(EndToEndPoserBlender, DefaultFaceSmileAndItsHalvesAreShapeKeysByName) {
    TempDir temp;
    Scene scene;
    Poser poser;
    ViewerState state;
    ASSERT_TRUE(startPoserQuietly(poser, scene, linkCommittedData(temp.path)));
    typeKeys(poser, state, scene, "m");
    ASSERT_EQ(dragInPoser(poser, state, scene, 74, 30, -20), 74); // the left mouth corner
    typeKeys(poser, state, scene, "nsmile\rH\rk");
    const std::string shapes = temp.path + "/shapes.glb";
    ASSERT_TRUE(std::filesystem::exists(shapes));
    const ProgramRun opened =
        runProgram({"blender", "-b", "--factory-startup", "--python",
                    FACE_SOURCE_DIR "/tests/blender/read_scenes.py", "--", shapes});
    ASSERT_EQ(opened.status, 0) << opened.err;
    BlenderScene read;
    ASSERT_TRUE(readBlenderScene(read, shapes));
    ASSERT_EQ(read.size(), 1u);
    const BlenderObject& face = read[0];
    const std::string model = temp.path + "/data/retarget.model";
    const std::vector<float> rest = inspectedInBlender({}, model);
    // The render mesh's vertices come first; the eyes' and teeth's follow them.
    ASSERT_GT(face.positions.size(), rest.size());
    const auto renderPart = [&](const std::vector<float>& all) {
        return std::vector<float>(all.begin(), all.begin() + long(rest.size()));
    };
    const float tolerance = 1e-5f * sceneSize(read);
    EXPECT_LE(largestDistance(renderPart(face.positions), rest), tolerance);
    const std::string names[3] = {"smile-left", "smile-right", "smile"}; // the library's order
    ASSERT_EQ(face.keys.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(names[k]);
        EXPECT_EQ(face.keys[k].first, names[k]);
        const std::vector<float> key = renderPart(face.keys[k].second);
        EXPECT_LE(largestDistance(
                      key, inspectedInBlender(
                               {"--mix", temp.path + "/poses/" + names[k] + ".txt=1"}, model)),
                  tolerance);
        EXPECT_GT(largestDistance(key, rest), 100 * tolerance);
        // A half leaves the other side of the face (beyond a unit from the middle) at rest.
        for (size_t i = 0; k < 2 && i + 2 < key.size(); i += 3)
            if ((k == 0 ? -rest[i] : rest[i]) > 1.0f) {
                EXPECT_LE(std::hypot(key[i] - rest[i], key[i + 1] - rest[i + 1],
                                     key[i + 2] - rest[i + 2]),
                          tolerance)
                    << "vertex " << i / 3;
            }
    }
}

// The default face's expression library (poses/, one file per ARKit blendshape but the
// tongue's) exported as one glTF, as docs/face-inspect.md shows: no error from the Khronos
// glTF Validator, and Blender reads one shape key per pose file, named after it in the
// files' order, each moving some vertex and none by an eighth of the face's size (3 units
// of its 24; jawOpen, the largest, moves a vertex by 2.1).
TEST(EndToEndBlender, DefaultFaceLibraryIsOneNamedShapeKeyPerPoseFile) {
    const std::string validator = FACE_SOURCE_DIR "/.tools/node_modules";
    ASSERT_TRUE(std::filesystem::exists(validator + "/gltf-validator/package.json"))
        << "scripts/deps.sh test installs the glTF validator into .tools/";
    std::vector<std::string> poses;
    for (const auto& entry : std::filesystem::directory_iterator(FACE_SOURCE_DIR "/poses"))
        if (entry.is_regular_file() && entry.path().extension() == ".txt")
            poses.push_back(entry.path().string());
    std::sort(poses.begin(), poses.end());
    ASSERT_FALSE(poses.empty());
    TempDir temp;
    const std::string library = temp.path + "/library.glb";
    std::vector<std::string> arguments = {"--export-scene", library, "--shapes"};
    arguments.insert(arguments.end(), poses.begin(), poses.end());
    arguments.push_back(FACE_SOURCE_DIR "/data/retarget.model");
    const ProgramRun exported = inspect(arguments);
    ASSERT_EQ(exported.status, 0) << exported.err;
    const ProgramRun validated = runProgram(
        {"/usr/bin/node", FACE_SOURCE_DIR "/tests/gltf/validate.js", validator, library});
    EXPECT_EQ(validated.status, 0) << validated.out << validated.err;
    const ProgramRun opened =
        runProgram({"blender", "-b", "--factory-startup", "--python",
                    FACE_SOURCE_DIR "/tests/blender/read_scenes.py", "--", library});
    ASSERT_EQ(opened.status, 0) << opened.err;
    BlenderScene read;
    ASSERT_TRUE(readBlenderScene(read, library));
    ASSERT_EQ(read.size(), 1u);
    const BlenderObject& face = read[0];
    const float size = sceneSize(read);
    ASSERT_EQ(face.keys.size(), poses.size());
    for (size_t k = 0; k < poses.size(); ++k) {
        const std::string name = std::filesystem::path(poses[k]).stem().string();
        SCOPED_TRACE(name);
        EXPECT_EQ(face.keys[k].first, name);
        const float largest = largestDistance(face.keys[k].second, face.positions);
        EXPECT_GT(largest, 1e-3f * size);
        EXPECT_LT(largest, size / 8);
        // The eyes come along: the vertices on each eyeball's sphere move in its eye's gaze
        // keys alone (turned by 25°, their front about 0.7 units), not in a blink.
        for (int sign : {1, -1}) {
            const Point3 c = eyeballCentre(sign); // glTF's y up is Blender's z up
            const Vector3 centre{float(c.x), float(-c.z), float(c.y)};
            float eyeMove = 0.0f;
            int32_t eyeVertices = 0;
            for (size_t v = 0; v + 2 < face.positions.size(); v += 3) {
                const Vector3 p{face.positions[v], face.positions[v + 1], face.positions[v + 2]};
                if (length(p - centre) > float(eyeballRadius) + 0.005f)
                    continue;
                ++eyeVertices;
                const std::vector<float>& q = face.keys[k].second;
                eyeMove = std::max(eyeMove, length(Vector3{q[v], q[v + 1], q[v + 2]} - p));
            }
            const bool gaze = name.rfind("eyeLook", 0) == 0 &&
                              name.find(sign > 0 ? "Left" : "Right") != std::string::npos;
            EXPECT_GT(eyeVertices, 100);
            if (gaze)
                EXPECT_GT(eyeMove, 0.5f);
            else
                EXPECT_LT(eyeMove, 1e-4f);
        }
    }
}
