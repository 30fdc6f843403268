// face-poser's pose library without a window: named poses saved, stepped through, loaded,
// deleted and undone across, exported as shape keys, and a library of hostile files read
// one by one.
#include "io/pose_file.h"
#include "tests/support/gl_context.h"
#include "tests/support/temp_dir.h"
#include "tests/support/viewer_session.h"
#include "tools/poser/poser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// Each hostile file of a library is refused with its own line; the good ones are read.
TEST(PoseLibrary, HostileFilesAreRefusedOneByOneAndTheOthersRead) {
    TempDir temp;
    const std::string folder = temp.path + "/poses";
    const struct {
        const char* file;
        const char* content; // null: a directory of that name
        const char* refusal; // null: read
    } files[] = {
        {"good.txt", "# two moves\n3 0.5 0 0\n3 0 1 0\n", nullptr},
        {"also_good.txt", "", nullptr}, // the rest pose
        {"nan.txt", "3 nan 0 0\n", "line 1: move"},
        {"infinite.txt", "3 1e39 0 0\n", "line 1: move"},
        {"huge.txt", "3 0 -2e6 0\n", "line 1: an offset is larger than 1e6"},
        {"past.txt", "240 0 0 1\n",
         "line 1: index \"240\" is not a control point (the model has 240)"},
        {"negative.txt", "-1 0 0 1\n", "line 1: index \"-1\""},
        {"short.txt", "3 0 0\n", "line 1: expected \"I DX DY DZ\", found 3 fields"},
        {"folder.txt", nullptr, "not a regular file (a directory)"},
        {"bad name.txt", "3 0 0 1\n", "not a pose name"},
        {"notes.md", "not a pose\n", nullptr}, // not .txt: not the library's
    };
    std::filesystem::create_directories(folder);
    for (const auto& f : files)
        if (f.content)
            temp.write(std::string("poses/") + f.file, std::string(f.content));
        else
            std::filesystem::create_directory(folder + "/" + f.file);
    std::vector<NamedPose> poses;
    std::vector<std::string> refusals;
    std::string error;
    ASSERT_TRUE(readPoseLibrary(poses, refusals, folder, 240, error)) << error;
    ASSERT_EQ(poses.size(), 2u);
    EXPECT_EQ(poses[0].name, "also_good");
    EXPECT_TRUE(poses[0].moves.empty());
    EXPECT_EQ(poses[1].name, "good");
    ASSERT_EQ(poses[1].moves.size(), 2u);
    EXPECT_EQ(poses[1].moves[1].delta, (Vector3{0, 1, 0}));
    size_t refused = 0;
    for (const auto& f : files) {
        if (!f.refusal)
            continue;
        ++refused;
        const std::string file = folder + "/" + f.file;
        bool found = false;
        for (const std::string& line : refusals)
            found =
                found || (line.rfind(file, 0) == 0 && line.find(f.refusal) != std::string::npos &&
                          line.find('\n') == std::string::npos);
        EXPECT_TRUE(found) << f.file;
    }
    EXPECT_EQ(refusals.size(), refused);

    // No folder is an empty library; a file in its place is refused.
    EXPECT_TRUE(readPoseLibrary(poses, refusals, temp.path + "/none", 240, error));
    EXPECT_TRUE(poses.empty());
    temp.write("file", std::string("x"));
    EXPECT_FALSE(readPoseLibrary(poses, refusals, temp.path + "/file", 240, error));
    EXPECT_EQ(error.rfind(temp.path + "/file: not a folder", 0), 0u) << error;
}

} // namespace

using PoserLibrary = OffscreenGLTest;

// One session on an imported Collada file: two poses saved under typed names, stepped
// through and loaded, undone across, one deleted, and the library exported as shape keys
// into the user's own Collada file.
TEST_F(PoserLibrary, SaveStepLoadDeleteUndoAndExport) {
    TempDir temp;
    const ProgramRun import =
        runProgram({FACE_IMPORT_PATH, "/usr/share/assimp/models/Collada/duck.dae", "--out",
                    temp.path + "/duck"});
    ASSERT_EQ(import.status, 0) << import.err;
    initGLState();
    Scene scene;
    Poser poser;
    ViewerState state;
    std::string error;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(startPoser(poser, scene, temp.path + "/duck", nullptr, error)) << error;
    testing::internal::GetCapturedStdout();
    const std::string library = temp.path + "/duck/data/../poses";
    const Vector3 a = {0.5f, 0, 0}, b = {0, -1, 0.25f}, o = {0, 0, 0};

    // Each step: a drag of point 10 or 20 by a given offset ('d'), or keys typed; then the
    // offsets of points 10 and 20, the library and its current pose, and a line printed.
    const struct {
        char action;
        int32_t point;
        Vector3 by;
        const char* keys;
        char offsets[3]; // of points 10 and 20: 'a' or 'b' as the drags left them, 'o' zero
        std::vector<std::string> library;
        int32_t current;
        const char* printed; // a part of what it prints on standard output
    } steps[] = {
        {'d', 10, a, "", "ao", {}, -1, ""},
        {'k',
         0,
         o,
         "nsmile\r",
         "ao",
         {"smile"},
         0,
         "saved the pose \"smile\" (1 moved control point)"},
        {'k', 0, o, "r", "oo", {"smile"}, 0, ""},
        {'d', 20, b, "", "ob", {"smile"}, 0, ""},
        // Backspace takes a letter back, a space is no name's; 'q' types, it does not quit.
        {'k', 0, o, "nbrow x\bq\r", "ob", {"browq", "smile"}, 0, "saved the pose \"browq\""},
        {'k', 0, o, "]", "ao", {"browq", "smile"}, 1, "loaded the pose \"smile\" (2 of 2"},
        {'k', 0, o, "]", "ob", {"browq", "smile"}, 0, "loaded the pose \"browq\" (1 of 2"},
        {'k', 0, o, "[", "ao", {"browq", "smile"}, 1, "loaded the pose \"smile\""},
        {'k', 0, o, "u", "ob", {"browq", "smile"}, 1, ""}, // undo takes back the load
        {'k', 0, o, "y", "ao", {"browq", "smile"}, 1, ""},
        {'k', 0, o, "nfrown\x1b", "ao", {"browq", "smile"}, 1, "the pose was not saved"},
        {'k', 0, o, "x", "ao", {"browq"}, -1, "deleted the pose \"smile\""},
        {'k', 0, o, "x", "ao", {"browq"}, -1, "no library pose to delete"},
        {'k', 0, o, "nsmile\r", "ao", {"browq", "smile"}, 1, "saved the pose \"smile\""},
        {'k', 0, o, "k", "ao", {"browq", "smile"}, 1, "at rest with 2 shape keys to "},
    };
    Vector3 dragged[2] = {o, o}; // the offsets the drags of points 10 and 20 left
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(&step - steps) + " " + step.keys);
        testing::internal::CaptureStdout();
        if (step.action == 'd') {
            scene.controlPoints[step.point] = poser.pose.rest[step.point] + step.by;
            EXPECT_TRUE(commitDrag(poser.pose, step.point));
            dragged[step.point == 10 ? 0 : 1] = poser.pose.offsets[step.point];
        }
        const auto offset = [&](char c) {
            return c == 'a' ? dragged[0] : c == 'b' ? dragged[1] : o;
        };
        for (const char* key = step.keys; *key; ++key)
            EXPECT_EQ(poserKey(poser, state, scene, static_cast<unsigned char>(*key)),
                      PoserKey::redraw);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(poser.naming);
        EXPECT_EQ(poser.pose.offsets[10], offset(step.offsets[0]));
        EXPECT_EQ(poser.pose.offsets[20], offset(step.offsets[1]));
        EXPECT_EQ(poser.library, step.library);
        EXPECT_EQ(poser.libraryIndex, step.current);
        EXPECT_NE(out.find(step.printed), std::string::npos) << out;
        for (const std::string& name : step.library)
            EXPECT_TRUE(std::filesystem::is_regular_file(library + "/" + name + ".txt")) << name;
    }
    // The shape keys went into the duck's own file as Collada morph targets named after the
    // poses (Blender reads them: EndToEndBlender).
    const std::string shapes = readFile(temp.path + "/duck/shapes.dae");
    EXPECT_NE(shapes.find("name=\"browq\""), std::string::npos);
    EXPECT_NE(shapes.find("name=\"smile\""), std::string::npos);
    EXPECT_NE(shapes.find("<morph "), std::string::npos);
}
