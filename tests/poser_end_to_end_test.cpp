// The real face-poser on a copy of the committed data, under its own Xvfb display, and its
// refusals before a window opens.
#include "app/viewer.h"
#include "io/model_file.h"
#include "io/pose_file.h"
#include "tests/support/viewer_session.h"
#include "tools/common/pose_mix.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool isCyan(const uint8_t* p) { return p[0] < 60 && p[1] > 200 && p[2] > 200; }
bool isSkin(const uint8_t* p) { return p[0] > 110 && p[0] > p[1] && p[1] > p[2] && p[2] > 40; }

// Window position of point p seen by the start-up camera turned by yaw (640 by 640).
void screenPosition(int& x, int& y, const Vector3& p, float yaw) {
    ViewerState view;
    view.viewYaw = yaw;
    const Vector4 o =
        makeFrameCamera(computeCameraPose(view), 640, 640).project({p.x, p.y, p.z, 1});
    x = int(std::lround((o.x + 1) * 320));
    y = int(std::lround((1 - o.y) * 320));
}

} // namespace

// Drag the lower lip's control point, save and export: face-inspect gives the same OBJ from the
// saved pose. Undo brings back the first picture. Turned half around, a right press where the
// lip's point now projects picks nothing: it faces away. "q" ends the program.
TEST(EndToEndPoser, DragSaveExportUndoAndPickOnlyWhatFacesTheCamera) {
    TempDir folder;
    ASSERT_EQ(std::system(("cp -r " FACE_SOURCE_DIR "/data " + folder.path).c_str()), 0);
    ModelData model;
    std::string error;
    ASSERT_TRUE(readModelFile(model, (folder.path + "/data/retarget.model").c_str(), error));
    const Vector3 lip = model.controlPoints[87];

    ViewerSession poser(FACE_SOURCE_DIR, {FACE_POSER_PATH, folder.path}, "face-poser");
    ASSERT_TRUE(poser.start()) << poser.standardError();
    EXPECT_EQ(poser.standardOutput().rfind("computing attachments...\nloading props...\n\n", 0),
              0u);
    Screenshot start, shot;
    ASSERT_TRUE(poser.captureUntil(start, [](const Screenshot& s) {
        return s.count(270, 250, 370, 400, isSkin) > 100 * 150 / 2;
    }));

    int x, y;
    screenPosition(x, y, lip, 0);
    poser.key("space");
    poser.drag(3, x, y, x, y + 45);
    poser.key("space");
    poser.key("s");
    poser.key("o");
    const std::string pose = folder.path + "/pose.txt", obj = folder.path + "/posed.obj";
    for (int wait = 0; wait < 80 && poser.standardOutput().find(obj) == std::string::npos; ++wait)
        sleepSeconds(0.25);
    const std::string out = poser.standardOutput();
    EXPECT_NE(out.find("saved the pose (1 moved control point) to " + pose + "\n"),
              std::string::npos);
    EXPECT_NE(out.find(" to " + obj + "\n"), std::string::npos) << out;
    // The lip's point alone moved (comment lines aside).
    std::istringstream poseLines(readFile(pose));
    std::vector<std::string> moves;
    for (std::string line; std::getline(poseLines, line);)
        if (!line.empty() && line[0] != '#')
            moves.push_back(line);
    EXPECT_TRUE(moves.size() == 1 && moves[0].rfind("87 ", 0) == 0) << readFile(pose);
    const ProgramRun inspect =
        runProgram({FACE_INSPECT_PATH, "--pose", pose, "--export-obj", folder.path + "/inspect.obj",
                    folder.path + "/data/retarget.model"});
    ASSERT_EQ(inspect.status, 0) << inspect.err;
    const std::string posed = readFile(obj);
    EXPECT_GT(posed.size(), 1000000u);
    EXPECT_TRUE(readFile(folder.path + "/inspect.obj") == posed);

    poser.key("u");
    EXPECT_TRUE(poser.captureUntil(shot, [&](const Screenshot& s) { return s.rgb == start.rgb; }));
    // "p" saves the window's pixels: the screen's top left 640 by 640.
    poser.key("p");
    const std::string picture = folder.path + "/shot-001.png";
    for (int wait = 0; wait < 80 && poser.standardOutput().find(picture) == std::string::npos;
         ++wait)
        sleepSeconds(0.25);
    int width = 0, height = 0, channels = 0;
    uint8_t* saved = stbi_load(picture.c_str(), &width, &height, &channels, 3);
    ASSERT_TRUE(saved && width == 640 && height == 640) << poser.standardError();
    bool same = true;
    for (int row = 0; row < 640; ++row)
        same = same &&
               std::memcmp(saved + row * 640 * 3, &start.rgb[row * start.width * 3], 640 * 3) == 0;
    EXPECT_TRUE(same);
    stbi_image_free(saved);

    // Undo named the lip's point: in deformation mode it shows cyan, also seen from behind.
    poser.key("space");
    poser.drag(1, 160, 600, 480, 600);
    poser.drag(1, 160, 600, 480, 600);
    screenPosition(x, y, lip, 2 * 320 * dragTurnFactor / 640);
    auto cyan = [&](const Screenshot& s) { return s.count(x - 8, y - 8, x + 8, y + 8, isCyan); };
    EXPECT_TRUE(poser.captureUntil(shot, [&](const Screenshot& s) { return cyan(s) > 20; }));
    poser.xdotool({"mousemove", std::to_string(x), std::to_string(y), "mousedown", "3"});
    EXPECT_TRUE(poser.captureUntil(shot, [&](const Screenshot& s) { return cyan(s) == 0; }));
    poser.xdotool({"mouseup", "3"});

    poser.key("q");
    EXPECT_EQ(poser.waitExit(30), 0);
    EXPECT_EQ(poser.standardError(), "");
}

// The pose library in the window: the dragged pose saved under a typed name (shown while
// it is typed), loaded back after a reset with "]", undone to the rest picture, deleted.
TEST(EndToEndPoser, NamedPosesSavedLoadedUndoneAndDeleted) {
    TempDir folder;
    ASSERT_EQ(std::system(("cp -r " FACE_SOURCE_DIR "/data " + folder.path).c_str()), 0);
    ModelData model;
    std::string error;
    ASSERT_TRUE(readModelFile(model, (folder.path + "/data/retarget.model").c_str(), error));
    ViewerSession poser(FACE_SOURCE_DIR, {FACE_POSER_PATH, folder.path}, "face-poser");
    ASSERT_TRUE(poser.start()) << poser.standardError();
    Screenshot start, dragged, shot;
    ASSERT_TRUE(poser.captureUntil(start, [](const Screenshot& s) {
        return s.count(270, 250, 370, 400, isSkin) > 100 * 150 / 2;
    }));
    int x, y;
    screenPosition(x, y, model.controlPoints[87], 0);
    poser.key("space");
    poser.drag(3, x, y, x, y + 45);
    poser.key("space");
    ASSERT_TRUE(
        poser.captureUntil(dragged, [&](const Screenshot& s) { return s.rgb != start.rgb; }));
    // While the name is typed, its line shows in the top left (light text on the panel).
    poser.xdotool({"key", "n", "type", "--delay", "50", "smile"});
    EXPECT_TRUE(poser.captureUntil(shot, [&](const Screenshot& s) {
        return s.count(0, 0, 200, 20, [](const uint8_t* p) { return p[0] > 200 && p[1] > 200; }) >
               20;
    }));
    poser.key("Return");
    const std::string file = folder.path + "/poses/smile.txt";
    poser.key("r");
    poser.key("bracketright");
    const auto printed = [&](const std::string& line) {
        for (int wait = 0; wait < 40 && poser.standardOutput().find(line) == std::string::npos;
             ++wait)
            sleepSeconds(0.25);
        return poser.standardOutput().find(line) != std::string::npos;
    };
    EXPECT_TRUE(printed("saved the pose \"smile\" (1 moved control point) in " + file + "\n"));
    EXPECT_TRUE(printed("loaded the pose \"smile\" (1 of 1, 1 moved control point)\n"));
    // The loaded pose is the dragged one: the picture (under the library's line) is back.
    const auto belowText = [](const Screenshot& a, const Screenshot& b) {
        return std::equal(a.rgb.begin() + 60 * a.width * 3, a.rgb.end(),
                          b.rgb.begin() + 60 * b.width * 3);
    };
    EXPECT_TRUE(
        poser.captureUntil(shot, [&](const Screenshot& s) { return belowText(s, dragged); }));
    poser.key("u"); // the load undone: at rest again
    EXPECT_TRUE(poser.captureUntil(shot, [&](const Screenshot& s) { return belowText(s, start); }));
    poser.key("x");
    EXPECT_TRUE(
        printed("deleted the pose \"smile\" (" + file + "); 0 poses left in the library\n"));
    EXPECT_FALSE(std::ifstream(file).good());
    poser.key("q");
    EXPECT_EQ(poser.waitExit(30), 0);
    EXPECT_EQ(poser.standardError(), "");
}

// Pixels that differ between two screenshots in the square of side 2·half around (x, y).
int changedAround(const Screenshot& a, const Screenshot& b, int x, int y, int half) {
    int changed = 0;
    for (int row = y - half; row < y + half; ++row)
        for (int column = x - half; column < x + half; ++column) {
            const size_t at = (size_t(row) * size_t(a.width) + size_t(column)) * 3;
            changed += std::memcmp(&a.rgb[at], &b.rgb[at], 3) != 0 ? 1 : 0;
        }
    return changed;
}

// With mirrored dragging on ("m"), one drag of the left mouth corner moves both: the window
// changes around each, and the saved pose holds the two corners, the right one's move the
// left one's mirrored.
TEST(EndToEndPoser, MirroredDragMovesBothMouthCorners) {
    TempDir folder;
    ASSERT_EQ(std::system(("cp -r " FACE_SOURCE_DIR "/data " + folder.path).c_str()), 0);
    ModelData model;
    std::string error;
    ASSERT_TRUE(readModelFile(model, (folder.path + "/data/retarget.model").c_str(), error));
    ViewerSession poser(FACE_SOURCE_DIR, {FACE_POSER_PATH, folder.path}, "face-poser");
    ASSERT_TRUE(poser.start()) << poser.standardError();
    EXPECT_NE(poser.standardOutput().find(
                  "mirror pairs: 240 of 240 control points paired, 16 on the plane x = 0\n"),
              std::string::npos);
    Screenshot start, smiling;
    ASSERT_TRUE(poser.captureUntil(start, [](const Screenshot& s) {
        return s.count(270, 250, 370, 400, isSkin) > 100 * 150 / 2;
    }));
    const int32_t left = 74, right = 70;
    int x[2], y[2];
    screenPosition(x[0], y[0], model.controlPoints[left], 0);
    screenPosition(x[1], y[1], model.controlPoints[right], 0);
    poser.key("m");
    poser.key("space");
    poser.drag(3, x[0], y[0], x[0] + 25, y[0] - 20);
    poser.key("space");
    ASSERT_TRUE(poser.captureUntil(smiling,
                                   [&](const Screenshot& s) {
                                       return changedAround(start, s, x[0], y[0], 12) > 40 &&
                                              changedAround(start, s, x[1], y[1], 12) > 40;
                                   }))
        << "left " << changedAround(start, smiling, x[0], y[0], 12) << ", right "
        << changedAround(start, smiling, x[1], y[1], 12);
    poser.key("s");
    const std::string pose = folder.path + "/pose.txt";
    for (int wait = 0; wait < 40 && poser.standardOutput().find(pose) == std::string::npos; ++wait)
        sleepSeconds(0.25);
    EXPECT_NE(poser.standardOutput().find("mirrored dragging on (240 of 240 control points "
                                          "paired, 16 on the plane x = 0)\n"),
              std::string::npos);
    std::vector<ControlPointMove> moves;
    ASSERT_TRUE(readPoseFile(moves, pose.c_str(), 240, error)) << error;
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0].index, right);
    EXPECT_EQ(moves[1].index, left);
    EXPECT_GT(moves[1].delta.x, 0.3f); // outwards and up: a smile
    EXPECT_GT(moves[1].delta.y, 0.3f);
    EXPECT_NEAR(moves[0].delta.x, -moves[1].delta.x, 1e-5f);
    EXPECT_NEAR(moves[0].delta.y, moves[1].delta.y, 1e-5f);
    EXPECT_NEAR(moves[0].delta.z, moves[1].delta.z, 1e-5f);
    poser.key("q");
    EXPECT_EQ(poser.waitExit(30), 0);
    EXPECT_EQ(poser.standardError(), "");
}

// Two library poses mixed in the window (the smile at 0.5, the brows at 1), the mix saved
// under a typed name, the face reset and the mix loaded back: the same picture, and its file
// holds the mix of the two files.
TEST(EndToEndPoser, MixSavedAndReloaded) {
    TempDir folder;
    ASSERT_EQ(std::system(("cp -r " FACE_SOURCE_DIR "/data " + folder.path).c_str()), 0);
    std::filesystem::create_directories(folder.path + "/poses");
    const std::string smile =
        folder.write("poses/smile.txt", std::string("70 -0.8 0.8 0\n74 0.8 0.8 0\n"));
    const std::string brows = folder.write(
        "poses/brows.txt", std::string("41 0 0.7 0\n42 0 0.5 0\n44 0 0.5 0\n45 0 0.7 0\n"));
    ViewerSession poser(FACE_SOURCE_DIR, {FACE_POSER_PATH, folder.path}, "face-poser");
    ASSERT_TRUE(poser.start()) << poser.standardError();
    Screenshot start, mixed, shot;
    ASSERT_TRUE(poser.captureUntil(start, [](const Screenshot& s) {
        return s.count(270, 250, 370, 400, isSkin) > 100 * 150 / 2;
    }));
    const auto printed = [&](const std::string& line) {
        for (int wait = 0; wait < 40 && poser.standardOutput().find(line) == std::string::npos;
             ++wait)
            sleepSeconds(0.25);
        return poser.standardOutput().find(line) != std::string::npos;
    };
    // The library is brows, smile: the smile first, then the brows.
    poser.xdotool({"key", "--delay", "100", "b", "braceright", "0", "0", "0", "0", "0", "braceleft",
                   "0",   "0",       "0",   "0", "0",          "0", "0", "0", "0", "0", "b"});
    EXPECT_TRUE(printed("mix: brows 1.0, smile 0.5 (6 moved control points)\n"));
    const auto belowText = [](const Screenshot& a, const Screenshot& b) {
        return std::equal(a.rgb.begin() + 60 * a.width * 3, a.rgb.end(),
                          b.rgb.begin() + 60 * b.width * 3);
    };
    ASSERT_TRUE(
        poser.captureUntil(mixed, [&](const Screenshot& s) { return !belowText(s, start); }));
    sleepSeconds(0.5);
    ASSERT_TRUE(poser.capture(mixed));
    poser.xdotool({"key", "n", "type", "--delay", "50", "mix"});
    poser.key("Return");
    const std::string file = folder.path + "/poses/mix.txt";
    EXPECT_TRUE(printed("saved the pose \"mix\" (6 moved control points) in " + file + "\n"));
    poser.key("r");
    EXPECT_TRUE(poser.captureUntil(shot, [&](const Screenshot& s) { return belowText(s, start); }));
    poser.key("bracketright"); // from the mix, the library's next: the smile
    poser.key("bracketleft");
    EXPECT_TRUE(printed("loaded the pose \"mix\" (2 of 3, 6 moved control points)\n"));
    EXPECT_TRUE(poser.captureUntil(shot, [&](const Screenshot& s) { return belowText(s, mixed); }));

    std::string error;
    std::vector<ControlPointMove> smileMoves, browMoves, mixMoves;
    ASSERT_TRUE(readPoseFile(smileMoves, smile.c_str(), 240, error));
    ASSERT_TRUE(readPoseFile(browMoves, brows.c_str(), 240, error));
    ASSERT_TRUE(readPoseFile(mixMoves, file.c_str(), 240, error));
    const MixTerm terms[2] = {{"smile", 0.5f, smileMoves.data(), smileMoves.size()},
                              {"brows", 1.0f, browMoves.data(), browMoves.size()}};
    std::vector<Vector3> expected(240), saved(240);
    mixOffsets(expected.data(), 240, terms, 2);
    applyMoves(saved.data(), mixMoves.data(), mixMoves.size());
    EXPECT_TRUE(saved == expected);
    poser.key("q");
    EXPECT_EQ(poser.waitExit(30), 0);
    EXPECT_EQ(poser.standardError(), "");
}

// Refused before a window opens, with one line and status 1: a missing folder, a folder
// without data/, and a bad pose file (with face-inspect's message for it).
TEST(EndToEndPoser, RefusalsAreOneLineAndStatusOne) {
    TempDir temp;
    const std::string bad = temp.write("bad.txt", std::string("87 0 -1\n"));
    const ProgramRun inspect =
        runProgram({FACE_INSPECT_PATH, "--pose", bad, "--export-obj", temp.path + "/x.obj",
                    FACE_SOURCE_DIR "/data/retarget.model"});
    const struct {
        std::vector<std::string> arguments;
        std::string err;
    } cases[] = {
        {{temp.path + "/nowhere"}, temp.path + "/nowhere: no such folder\n"},
        {{temp.path}, temp.path + "/data/retarget.model: missing"},
        {{FACE_SOURCE_DIR, "--pose", bad}, inspect.err},
    };
    EXPECT_EQ(inspect.err.rfind(bad + ", line 1: ", 0), 0u) << inspect.err;
    for (const auto& c : cases) {
        std::vector<std::string> command = {FACE_POSER_PATH};
        command.insert(command.end(), c.arguments.begin(), c.arguments.end());
        const ProgramRun run = runProgram(command);
        EXPECT_EQ(run.status, 1) << c.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("face-poser: " + c.err, 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}
