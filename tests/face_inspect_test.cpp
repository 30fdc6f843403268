// face-inspect run as a program: its exit statuses, and its dump of the deformed render mesh
// against the face model built in this process from the same file.
#include "face/amplification.h"
#include "face/face_model.h"
#include "tests/support/synthetic_model.h"
#include "tests/support/temp_dir.h"
#include "tests/support/viewer_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A small bumpy model with some vertices past the surface's edge left unattached.
std::string writeSmallModel(ModelData& data, TempDir& dir) {
    makeSyntheticModel(data, {4, 5, 20, 24}); // control cells, render cells
    const std::string path = dir.path + "/small.model";
    std::string written;
    EXPECT_TRUE(writeModelFile(path.c_str(), data, written)) << written;
    return path;
}

} // namespace

TEST(FaceInspect, ExitStatusesAndTheDumpAgainstTheLibrary) {
    TempDir dir;
    ModelData data;
    const std::string model = writeSmallModel(data, dir);
    const std::string bad = dir.write("bad.model", std::string("3\n0 0 0\n1 0 0\n"));
    // Point 7 moved twice: summed from zero its moves round otherwise than added to the point.
    const std::string pose =
        dir.write("pose.txt", std::string("7 0.1 0.3 -0.7\n7 0.2 0.3 0.1\n12 0 0 -0.3\n"));
    struct Case {
        std::vector<std::string> args;
        int status; // 0 done, 1 unreadable model (one line naming it), 2 usage
    };
    const Case cases[] = {
        {{model}, 0},
        {{"--dump", "attachments", bad}, 1},
        {{dir.path + "/missing.model"}, 1},
        {{}, 2},
        {{"--dump", "nothing", model}, 2},
        {{"--dump", "positions", "--move", "1000", "0", "0", "0", model}, 2},
        {{"--verbose", model}, 2},
        {{"--dump", "amplification", "--step", "0", model}, 2},
        {{"--dump", "amplification", "--step", "1", "--step", "1", model}, 2},
        {{"--dump", "positions", "--step", "1", model}, 2},
        {{"--dump", "positions", "--mix", "a.txt=2.5", model}, 2},
        {{"--dump", "positions", "--mix", "a.txt", model}, 2},
        {{"--dump", "positions", "--half", "up", model}, 2},
        {{"--mirror", model}, 2},
        {{"--dump", "edges", "--mix", "a.txt=1", model}, 2},
        {{"--dump", "positions", "--pose", pose, model}, 0},
        {{"--dump", "edges", "--pose", pose, model}, 2},
        {{"--export-scene", "x.glb", "--half", "left", "--shapes", "a.txt", model}, 2},
        // Two outputs of one command under one name, however written.
        {{"--export-obj", dir.path + "/x.obj", "--export-scene", dir.path + "/./x.obj", model}, 2},
        {{"--export-obj", dir.path + "/x.png", "--picture",
          dir.path + "/../" + std::filesystem::path(dir.path).filename().string() + "/x.png",
          model},
         2}};
    for (const Case& c : cases) {
        std::vector<std::string> argv = {FACE_INSPECT_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ProgramRun run = runProgram(argv);
        const std::string what = argv.back() + " with " + std::to_string(argv.size()) + " words";
        EXPECT_EQ(run.status, c.status) << what << ": " << run.err;
        EXPECT_EQ(run.out.empty(), c.status != 0) << what;
        // An unreadable model: one line naming it; a usage error: the usage.
        const std::string says = c.status == 2 ? "usage: face-inspect" : c.args.back();
        EXPECT_TRUE(c.status == 0 || run.err.find(says) != std::string::npos) << what << run.err;
        EXPECT_TRUE(c.status != 1 || std::count(run.err.begin(), run.err.end(), '\n') == 1)
            << run.err;
    }
    // A mesh given in place of a model: the one line says which tool reads meshes; a model
    // that is merely broken does not get that hint.
    const std::string mesh = dir.write("head.obj", std::string("# a mesh\nv 0 0 0\n"));
    for (const auto& [file, hinted] : {std::pair{mesh, true}, std::pair{bad, false}}) {
        const ProgramRun run = runProgram({FACE_INSPECT_PATH, file});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.find("face-import reads meshes") != std::string::npos, hinted) << run.err;
    }

    // The dump of the deformed render mesh against the library's update.
    const ProgramRun run =
        runProgram({FACE_INSPECT_PATH, "--dump", "positions", "--move", "7", "0.25", "-0.5", "0.75",
                    "--move", "12", "0", "0", "-0.3", "--move", "7", "0.125", "0", "0", model});
    ASSERT_EQ(run.status, 0) << run.err;

    // The moves in their order, then one update.
    auto face = makeFaceModel(data);
    int attached = 0;
    for (int32_t i = 0; i < face->renderVertexCount; ++i)
        attached += face->attachments[i].subPatch >= 0;
    ASSERT_GT(attached, 100);
    ASSERT_LT(attached, face->renderVertexCount);
    std::vector<Vector3> points(data.controlPoints.get(),
                                data.controlPoints.get() + data.controlPointCount);
    points[7] = points[7] + Vector3{0.25f, -0.5f, 0.75f};
    points[12] = points[12] + Vector3{0, 0, -0.3f};
    points[7] = points[7] + Vector3{0.125f, 0, 0};
    std::vector<Vector3> positions(face->renderVertexCount), normals(face->renderVertexCount);
    face->update(positions.data(), normals.data(), points.data());

    // One line per render vertex: position and normal, each number read back exactly.
    std::istringstream lines(run.out);
    int32_t i = 0;
    for (std::string line; std::getline(lines, line); ++i) {
        ASSERT_LT(i, face->renderVertexCount);
        std::istringstream numbers(line);
        Vector3 p, n;
        ASSERT_TRUE(numbers >> p.x >> p.y >> p.z >> n.x >> n.y >> n.z) << line;
        EXPECT_TRUE(p == positions[i] && n == normals[i]) << "vertex " << i << ": " << line;
    }
    EXPECT_EQ(i, face->renderVertexCount);

    // A pose file as face-poser loads it: the positions of the mix of it alone, bit for bit,
    // and those of the OBJ export of the pose.
    const std::string obj = dir.path + "/posed.obj";
    const ProgramRun posed =
        runProgram({FACE_INSPECT_PATH, "--dump", "positions", "--pose", pose, model});
    const ProgramRun mixed =
        runProgram({FACE_INSPECT_PATH, "--dump", "positions", "--mix", pose + "=1", model});
    const ProgramRun exported =
        runProgram({FACE_INSPECT_PATH, "--export-obj", obj, "--pose", pose, model});
    ASSERT_EQ(posed.status + mixed.status + exported.status, 0)
        << posed.err << mixed.err << exported.err;
    EXPECT_EQ(posed.out, mixed.out);
    std::istringstream objLines(readFile(obj));
    std::vector<std::string> vs, vns;
    for (std::string line; std::getline(objLines, line);)
        if (line.rfind("v ", 0) == 0)
            vs.push_back(line.substr(2));
        else if (line.rfind("vn ", 0) == 0)
            vns.push_back(line.substr(3));
    ASSERT_EQ(vs.size(), vns.size());
    std::string fromObj;
    for (size_t k = 0; k < vs.size(); ++k)
        fromObj += vs[k] + " " + vns[k] + "\n";
    EXPECT_EQ(posed.out, fromObj);

    // The amplification for moves of one unit, as the library computes it.
    const ProgramRun unit =
        runProgram({FACE_INSPECT_PATH, "--dump", "amplification", "--step", "1", model});
    ASSERT_EQ(unit.status, 0) << unit.err;
    std::vector<float> amplification(size_t(face->renderVertexCount));
    computeAmplification(amplification.data(), nullptr, *face, data.controlPoints.get(), 1.0f);
    std::istringstream values(unit.out);
    float value;
    for (i = 0; values >> value; ++i) {
        ASSERT_LT(i, face->renderVertexCount);
        EXPECT_EQ(value, amplification[size_t(i)]) << "vertex " << i;
    }
    EXPECT_EQ(i, face->renderVertexCount);
}

// Every tool says what it does in the first line of --help and -h, then gives its usage, on
// standard output; an option it does not know gets the usage on standard error, status 2.
TEST(Tools, AnswerHelpWithTheUsage) {
    const std::pair<const char*, const char*> tools[] = {{FACE_INSPECT_PATH, "face-inspect"},
                                                         {FACE_IMPORT_PATH, "face-import"},
                                                         {FACE_ASSETS_PATH, "face-assets"},
                                                         {FACE_POSER_PATH, "face-poser"}};
    for (const auto& [path, name] : tools) {
        const std::string usage = std::string("usage: ") + name;
        for (const char* option : {"--help", "-h"}) {
            const ProgramRun run = runProgram({path, option});
            EXPECT_EQ(run.status, 0) << name << " " << option << ": " << run.err;
            const size_t firstLine = run.out.find('\n');
            EXPECT_EQ(run.out.rfind(std::string(name) + ": ", 0), 0u) << name << ": " << run.out;
            EXPECT_GT(firstLine, std::string(name).size() + 20) << name << ": " << run.out;
            EXPECT_EQ(run.out.find(usage), firstLine + 1)
                << name << " " << option << ": " << run.out;
            EXPECT_EQ(run.err, "") << name << " " << option;
        }
        const ProgramRun bad = runProgram({path, "--no-such-option"});
        EXPECT_EQ(bad.status, 2) << name;
        EXPECT_EQ(bad.out, "") << name;
        EXPECT_NE(bad.err.find(usage), std::string::npos) << name << ": " << bad.err;
    }
}
