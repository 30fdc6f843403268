// Takes on the face: a frame played in face-poser, a frame of face-inspect --take --frame and
// --mix of that frame's weights are the same face, bit for bit; the exported animation's keys
// are the take's weights at the take's times; face-inspect's take options refuse what they
// cannot do in one line; and the real face-poser plays, pauses, steps and scrubs a take.
#include "io/take_file.h"
#include "tests/support/gl_context.h"
#include "tests/support/poser_drag.h"
#include "tests/support/temp_dir.h"
#include "tests/support/viewer_session.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The expressions the test take moves, as Live Link Face names its columns, and each frame's
// weight of them: eighths, so that every weight is a float exactly and reads the same from
// the take and from --mix.
const char* const takeColumns[] = {"EyeBlinkLeft", "JawOpen",   "MouthSmileRight", "BrowInnerUp",
                                   "HeadYaw",      "HeadPitch", "HeadRoll"};
constexpr int takeFrames = 12;

float takeWeight(int frame, int column) { return float((frame * (column + 3)) % 9) / 8.0f; }

// A Live Link Face take of takeFrames rows at 60 a second (its 6th a lost-tracking row), the
// columns in an order of its own, one column the library has no pose for (TongueOut).
std::string liveLinkTake() {
    std::string text = "Timecode,BlendshapeCount,TongueOut";
    for (const char* column : takeColumns)
        text += std::string(",") + column;
    text += "\n";
    for (int f = 0; f < takeFrames; ++f) {
        char row[256];
        std::snprintf(row, sizeof row, "10:20:30:%02d.500,%d", f, f == 5 ? 0 : 8);
        text += row;
        if (f == 5) { // tracking lost: the last weights held
            text += "\n";
            continue;
        }
        text += ",0.25";
        for (int c = 0; c < 4; ++c)
            text += "," + std::to_string(takeWeight(f, c)).substr(0, 5);
        text += ",0.2,-0.1,0.05\n";
    }
    return text;
}

// The row whose weights frame f shows (the lost row holds the one before).
int heldRow(int f) { return f == 5 ? 4 : f; }

std::string lowerFirst(const char* name) {
    std::string s = name;
    s[0] = char(std::tolower(static_cast<unsigned char>(s[0])));
    return s;
}

ProgramRun inspect(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {FACE_INSPECT_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProgram(argv);
}

// A .glb's JSON and binary chunk.
bool readGlb(nlohmann::json& gltf, std::string& bin, const std::string& file) {
    const std::string bytes = readFile(file);
    if (bytes.size() < 28)
        return false;
    uint32_t jsonLength, binLength;
    std::memcpy(&jsonLength, bytes.data() + 12, 4);
    std::memcpy(&binLength, bytes.data() + 20 + jsonLength, 4);
    gltf = nlohmann::json::parse(bytes.substr(20, jsonLength));
    bin = bytes.substr(28 + jsonLength, binLength);
    return true;
}

// Accessor a's floats.
std::vector<float> accessorFloats(const nlohmann::json& gltf, const std::string& bin, size_t a) {
    const nlohmann::json& accessor = gltf["accessors"][a];
    const nlohmann::json& view = gltf["bufferViews"][accessor["bufferView"].get<size_t>()];
    const size_t components = accessor["type"] == "VEC4" ? 4 : 1;
    std::vector<float> values(accessor["count"].get<size_t>() * components);
    std::memcpy(values.data(), bin.data() + view.value("byteOffset", size_t(0)),
                values.size() * sizeof(float));
    return values;
}

} // namespace

using TakeOnFace = OffscreenGLTest;

// Frames of the take in face-poser (stepped to, and sought by time), face-inspect --take
// --frame and --mix of the frame's weights print the same positions, bit for bit; the lost row
// shows the frame before it; the take changes the face; closing it gives the pose back.
TEST_F(TakeOnFace, PlayedFrameIsInspectFrameAndMixOfItsWeights) {
    TempDir temp;
    linkCommittedData(temp.path);
    std::filesystem::create_directory_symlink(FACE_SOURCE_DIR "/poses", temp.path + "/poses");
    temp.write("take.csv", liveLinkTake());
    const std::string take = temp.path + "/take.csv", model = temp.path + "/data/retarget.model";
    Scene scene;
    Poser poser;
    ViewerState state;
    ASSERT_TRUE(startPoserQuietly(poser, scene, temp.path));
    const std::string atRest = dumpedPositions(*scene.faceModel, scene.controlPoints.get());
    std::string error;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool loaded = loadPoserTake(poser, scene, take.c_str(), error);
    const std::string said = testing::internal::GetCapturedStdout();
    const std::string warnings = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(loaded) << error;
    EXPECT_NE(said.find("tongueOut"), std::string::npos) << said; // the library has no pose
    EXPECT_NE(warnings.find("tracking was lost"), std::string::npos) << warnings;
    constexpr int right = 102, left = 100; // GLUT's arrow keys
    for (int f : {3, 5, 6, takeFrames - 1}) {
        while (poser.player.frame != f)
            poserSpecialKey(poser, state, scene, right);
        poserSpecialKey(poser, state, scene, right); // past it and back, round the end too
        poserSpecialKey(poser, state, scene, left);
        ASSERT_EQ(poser.player.frame, f);
        const std::string played = dumpedPositions(*scene.faceModel, scene.controlPoints.get());
        const ProgramRun frame =
            inspect({"--take", take, "--frame", std::to_string(f), "--dump", "positions", model});
        ASSERT_EQ(frame.status, 0) << frame.err;
        std::string mix;
        for (int c = 0; c < 4; ++c)
            if (takeWeight(heldRow(f), c) != 0.0f)
                mix += (mix.empty() ? "" : ",") + temp.path + "/poses/" +
                       lowerFirst(takeColumns[c]) +
                       ".txt=" + std::to_string(takeWeight(heldRow(f), c)).substr(0, 5);
        const ProgramRun mixed = inspect({"--mix", mix, "--dump", "positions", model});
        ASSERT_EQ(mixed.status, 0) << mixed.err;
        EXPECT_TRUE(played == frame.out) << f;
        EXPECT_TRUE(played == mixed.out) << f;
        EXPECT_FALSE(played == atRest) << f;
    }
    // Sought by time: 60 frames a second from the first row's time.
    seekTake(poser.player, 2.0 / 60.0);
    EXPECT_EQ(poser.player.frame, 2);
    typeKeys(poser, state, scene, "T"); // closed: the pose (at rest) is back
    EXPECT_TRUE(dumpedPositions(*scene.faceModel, scene.controlPoints.get()) == atRest);
}

// face-inspect --take --export-scene: one animation whose weights channel holds, key by key,
// the take's weight of each shape key named as ARKit names it (0 for the others) at the
// take's times, and whose rotation channel turns the scene by unit quaternions; the Khronos
// validator finds no error. The same through an imported head's own scene.
TEST(TakeExport, AnimationKeysAreTheTakesWeightsAndTimes) {
    TempDir temp;
    temp.write("take.csv", liveLinkTake());
    const std::string take = temp.path + "/take.csv";
    Take read;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(readTakeFile(read, take.c_str(), warnings, error)) << error;
    // The default face with its library, and Sydney imported with two poses of ARKit's names.
    const std::string sydney = temp.path + "/sydney";
    const ProgramRun imported =
        runProgram({FACE_IMPORT_PATH, "/usr/share/assimp/models/MD2/sydney.md2", "--points", "100",
                    "--out", sydney});
    ASSERT_EQ(imported.status, 0) << imported.err;
    std::filesystem::create_directories(sydney + "/poses");
    temp.write("sydney/poses/jawOpen.txt", std::string("3 0 -0.5 0\n"));
    temp.write("sydney/poses/eyeBlinkLeft.txt", std::string("7 0 -0.2 0.1\n"));
    temp.write("sydney/poses/ownPose.txt", std::string("9 0.1 0 0\n"));
    const struct {
        std::string model, out;
    } cases[] = {{FACE_SOURCE_DIR "/data/retarget.model", temp.path + "/face.glb"},
                 {sydney + "/data/retarget.model", temp.path + "/sydney.glb"}};
    std::vector<std::string> files;
    for (const auto& c : cases) {
        const ProgramRun run = inspect({"--take", take, "--export-scene", c.out, c.model});
        ASSERT_EQ(run.status, 0) << c.out << ": " << run.err;
        files.push_back(c.out);
        nlohmann::json gltf;
        std::string bin;
        ASSERT_TRUE(readGlb(gltf, bin, c.out)) << c.out;
        ASSERT_EQ(gltf["animations"].size(), 1u) << c.out;
        const nlohmann::json& animation = gltf["animations"][0];
        bool weightsFound = false, turnFound = false;
        for (const nlohmann::json& channel : animation["channels"]) {
            const nlohmann::json& sampler = animation["samplers"][channel["sampler"].get<size_t>()];
            const std::vector<float> times = accessorFloats(gltf, bin, sampler["input"]);
            const std::vector<float> values = accessorFloats(gltf, bin, sampler["output"]);
            ASSERT_EQ(times.size(), size_t(read.frameCount)) << c.out; // no two at one time
            for (int f = 0; f < read.frameCount; ++f)
                EXPECT_EQ(times[size_t(f)], float(read.times[size_t(f)])) << c.out << f;
            const nlohmann::json& node = gltf["nodes"][channel["target"]["node"].get<size_t>()];
            if (channel["target"]["path"] == "weights") {
                weightsFound = true;
                const nlohmann::json& names =
                    gltf["meshes"][node["mesh"].get<size_t>()]["extras"]["targetNames"];
                const size_t S = names.size();
                ASSERT_EQ(values.size(), S * size_t(read.frameCount)) << c.out;
                for (size_t s = 0; s < S; ++s) {
                    int e = -1;
                    for (int k = 0; k < arkitExpressionCount; ++k)
                        if (names[s] == arkitExpressionNames[k])
                            e = k;
                    for (int f = 0; f < read.frameCount; ++f)
                        EXPECT_EQ(values[size_t(f) * S + s],
                                  e < 0 ? 0.0f : read.weights[size_t(f) * arkitExpressionCount + e])
                            << c.out << " " << names[s] << " " << f;
                }
            } else {
                turnFound = channel["target"]["path"] == "rotation";
                for (size_t k = 0; k + 3 < values.size(); k += 4)
                    EXPECT_NEAR(std::hypot(std::hypot(values[k], values[k + 1]),
                                           std::hypot(values[k + 2], values[k + 3])),
                                1.0, 1e-6);
            }
        }
        EXPECT_TRUE(weightsFound && turnFound) << c.out;
    }
    const std::string validator = FACE_SOURCE_DIR "/.tools/node_modules";
    std::vector<std::string> arguments = {"/usr/bin/node",
                                          FACE_SOURCE_DIR "/tests/gltf/validate.js", validator};
    arguments.insert(arguments.end(), files.begin(), files.end());
    const ProgramRun validated = runProgram(arguments);
    EXPECT_EQ(validated.status, 0) << validated.out << validated.err;
}

// What --take and --frame cannot do is refused in one line before anything is written.
TEST(TakeExport, TakeOptionsRefuseWhatTheyCannotDoInOneLine) {
    TempDir temp;
    temp.write("take.csv", std::string("time,jawOpen\n0,0.5\n0.1,1\n")); // nothing to warn of
    const std::string take = temp.path + "/take.csv",
                      model = FACE_SOURCE_DIR "/data/retarget.model";
    const struct {
        std::vector<std::string> arguments;
        const char* says;
    } cases[] = {
        {{"--frame", "2", "--dump", "positions", model}, "--frame needs --take"},
        {{"--take", take, "--mix", FACE_SOURCE_DIR "/poses/jawOpen.txt=1", "--export-scene",
          temp.path + "/a.glb", model},
         "takes no --move, --pose, --mix"},
        {{"--take", take, "--dump", "positions", model}, "take one --frame"},
        {{"--take", take, "--frame", "99", "--dump", "positions", model}, "past the take's 2"},
        {{"--take", take, "--picture", temp.path + "/frame.png", model}, "one %d"},
        {{"--take", take, "--export-scene", temp.path + "/a.gltf", model}, "written as .glb"},
        {{"--take", temp.path + "/none.csv", "--export-scene", temp.path + "/a.glb", model},
         "none.csv"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = inspect(c.arguments);
        EXPECT_NE(run.status, 0) << c.says;
        // The one line (a usage problem is followed by the usage).
        const std::string first = run.err.substr(0, run.err.find('\n'));
        EXPECT_NE(first.find(c.says), std::string::npos) << run.err;
        if (run.status == 1) {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(temp.path + "/a.glb"));
}

// The real face-poser with --take: the face on screen changes while it plays; 'g' pauses it
// (two captures alike); Right steps a frame (the face changes); a click on the time bar puts
// it elsewhere (it changes again).
TEST(EndToEndPoserTake, PlaysPausesStepsAndScrubs) {
    TempDir temp;
    linkCommittedData(temp.path);
    std::filesystem::create_directory_symlink(FACE_SOURCE_DIR "/poses", temp.path + "/poses");
    // Two seconds of a blink and a jaw going and coming, at 30 a second.
    std::string text = "time,eyeBlinkLeft,jawOpen\n";
    for (int f = 0; f < 60; ++f) {
        char row[128];
        std::snprintf(row, sizeof row, "%.6f,%.3f,%.3f\n", f / 30.0, 0.5 + 0.5 * std::sin(f * 0.3),
                      0.5 + 0.5 * std::cos(f * 0.2));
        text += row;
    }
    temp.write("take.csv", text);
    ViewerSession poser(FACE_SOURCE_DIR,
                        {FACE_POSER_PATH, temp.path, "--take", temp.path + "/take.csv"},
                        "face-poser");
    ASSERT_TRUE(poser.start()) << poser.standardError();
    const auto face = [](const Screenshot& a, const Screenshot& b) { // pixels above the bar
        int differ = 0;
        for (int y = 0; y < 600; ++y)
            for (int x = 0; x < 640; ++x)
                differ += std::memcmp(&a.rgb[(size_t(y) * a.width + x) * 3],
                                      &b.rgb[(size_t(y) * b.width + x) * 3], 3) != 0;
        return differ;
    };
    Screenshot first, shot;
    ASSERT_TRUE(poser.capture(first));
    EXPECT_TRUE(poser.captureUntil(shot, [&](const Screenshot& s) { return face(s, first) > 50; }))
        << "the face does not change while the take plays";
    poser.key("g");
    Screenshot paused, still;
    ASSERT_TRUE(poser.capture(paused));
    sleepSeconds(0.5);
    ASSERT_TRUE(poser.capture(still));
    EXPECT_EQ(face(paused, still), 0) << "the take goes on while paused";
    poser.key("Right");
    ASSERT_TRUE(poser.captureUntil(shot, [&](const Screenshot& s) { return face(s, still) > 50; }))
        << "a step does not change the face";
    Screenshot stepped = shot;
    poser.xdotool({"mousemove", "100", "634", "click", "1", "sleep", "0.6"});
    EXPECT_TRUE(poser.captureUntil(shot, [&](const Screenshot& s) {
        return face(s, stepped) > 50;
    })) << "a click on the bar does not move the take";
    EXPECT_NE(poser.standardOutput().find("loaded the take"), std::string::npos)
        << poser.standardOutput();
}

// Blender imports the default face's take export and plays the take: at every key's frame
// (the take's time at Blender's rate) each shape key's value is the take's weight within
// 1e-4, and the head turns.
TEST(EndToEndBlender, PlaysTheTakesWeightsFrameByFrame) {
    TempDir temp;
    temp.write("take.csv", liveLinkTake());
    const std::string take = temp.path + "/take.csv", glb = temp.path + "/face.glb";
    Take read;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(readTakeFile(read, take.c_str(), warnings, error)) << error;
    const ProgramRun run =
        inspect({"--take", take, "--export-scene", glb, FACE_SOURCE_DIR "/data/retarget.model"});
    ASSERT_EQ(run.status, 0) << run.err;
    const ProgramRun blender =
        runProgram({"blender", "-b", "--factory-startup", "--python",
                    FACE_SOURCE_DIR "/tests/blender/read_animation.py", "--", glb});
    ASSERT_EQ(blender.status, 0) << blender.err;
    const nlohmann::json played = nlohmann::json::parse(readFile(glb + ".animation.json"));
    const double fps = played["fps"].get<double>();
    int keysChecked = 0;
    for (const auto& [object, values] : played["keys"].items()) {
        const std::string name = object.substr(object.find('/') + 1);
        int e = -1;
        for (int k = 0; k < arkitExpressionCount; ++k)
            if (name == arkitExpressionNames[k])
                e = k;
        ASSERT_GE(e, 0) << object;
        ASSERT_EQ(values.size(), size_t(read.frameCount)) << object;
        for (int f = 0; f < read.frameCount; ++f) {
            EXPECT_NEAR(values[size_t(f)][0].get<double>(), read.times[size_t(f)] * fps, 1e-3)
                << object << " " << f;
            EXPECT_NEAR(values[size_t(f)][1].get<double>(),
                        read.weights[size_t(f) * arkitExpressionCount + e], 1e-4)
                << object << " " << f;
        }
        ++keysChecked;
    }
    EXPECT_EQ(keysChecked, 51); // every pose of the library, each a shape key of the face
    ASSERT_EQ(played["turn"].size(), size_t(read.frameCount));
    EXPECT_LT(played["turn"][1][1].get<double>(), 0.9999); // turned: w below 1
}
