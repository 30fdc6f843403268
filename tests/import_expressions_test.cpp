// face-import --expressions as a user runs it: a real scan wears the library (its poses in the
// folder by ARKit's names, its landmarks written back, the head placed by its face), Blender
// reads every key by name from its export, a take plays on it as an animation; what cannot be
// done is refused in one line; and face-poser's landmark mode places the landmarks on the
// visible surface and saves them for the command that imports the head again with them.
#include "app/viewer.h"
#include "io/expression_names.h"
#include "io/import_record.h"
#include "io/model_file.h"
#include "tests/support/import_runs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/viewer_session.h"
#include "tools/fit/landmarks.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// A real scan from the shared heads beside the repository (the tests that need it skip where
// the folder is not there, as on a fresh machine).
const std::string maleScan = std::string(FACE_SOURCE_DIR) + "/../shared/heads/gpreg_male.obj";
const std::string landmarkFiles = FACE_SOURCE_DIR "/tests/landmarks/";

// The poses of a folder's library, by name.
std::vector<std::string> libraryNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder + "/poses"))
        names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// What --expressions cannot do, refused in one line before anything is written.
TEST(ImportExpressions, RefusesInOneLine) {
    TempDir temp;
    temp.write("bad.txt", std::string("eye_left_outr 1 2 3\n"));
    const std::string duck = models + "Collada/duck.dae";
    const struct {
        std::string arguments;
        const char* says;
    } cases[] = {
        {duck + " --landmarks " + temp.path + "/bad.txt", "--landmarks needs --expressions"},
        {duck + " --expressions --points 120", "takes no --cage or --points"},
        {duck + " --expressions --landmarks " + temp.path + "/bad.txt", "bad.txt, line 1"},
        {duck + " --expressions", "--landmarks FILE"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = runImport(c.arguments + " --out " + temp.path + "/out");
        EXPECT_NE(run.status, 0) << c.arguments;
        const std::string first = run.err.substr(0, run.err.find('\n'));
        EXPECT_NE(first.find(c.says), std::string::npos) << c.arguments << ": " << run.err;
        if (run.status == 1) {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        }
        EXPECT_FALSE(std::filesystem::exists(temp.path + "/out/data")) << c.arguments;
    }
}

// A real scan with its landmarks placed by hand, and with none (found on the mesh): the
// library's 51 poses written by ARKit's names, the 18 landmarks written back in the file's
// coordinates, near the hand-placed ones (within 5 % of the head's height) where found; Blender
// reads every key by name from the head's export; a take's animation on the head passes the
// validator.
TEST(EndToEndImportExpressions, ScanWearsTheLibraryAndBlenderReadsItsKeys) {
    if (!std::filesystem::exists(maleScan))
        GTEST_SKIP() << maleScan << " is not there";
    TempDir temp;
    Landmarks hand;
    std::string error;
    ASSERT_TRUE(readLandmarkFile(hand, (landmarkFiles + "gpreg_male.txt").c_str(), error)) << error;
    std::vector<std::string> arkit;
    for (const char* name : arkitExpressionNames)
        if (std::string(name) != "tongueOut")
            arkit.push_back(name);
    std::sort(arkit.begin(), arkit.end());
    for (const bool byHand : {true, false}) {
        const std::string out = temp.path + (byHand ? "/hand" : "/found");
        const ProgramRun run = runImport(
            maleScan + " --expressions" +
            (byHand ? " --landmarks " + landmarkFiles + "gpreg_male.txt" : "") + " --out " + out);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("expressions: 51 carried"), std::string::npos) << run.out;
        EXPECT_EQ(libraryNames(out), arkit);
        Landmarks written;
        ASSERT_TRUE(readLandmarkFile(written, (out + "/landmarks.txt").c_str(), error)) << error;
        // The head's height as the face finding measures it: twice the chin's distance from
        // the eyes' corners. His mouth's corners lie lower than the default face's: found,
        // they are 5.2 % of it off, the rest within 5 %.
        const Vector3 eyes = (hand.points[eyeLeftOuter] + hand.points[eyeLeftInner] +
                              hand.points[eyeRightOuter] + hand.points[eyeRightInner]) *
                             0.25f;
        const float height = 2.0f * length(hand.points[chin] - eyes);
        for (int k = 0; k < landmarkCount; ++k) {
            ASSERT_TRUE(written.given[k]) << k;
            const bool corner = k == mouthLeft || k == mouthRight;
            EXPECT_LT(length(written.points[k] - hand.points[k]), (corner ? 0.06f : 0.05f) * height)
                << (byHand ? "hand " : "found ") << k;
        }
    }
    // Every library pose a shape key of the scan's own scene, read by Blender by name.
    std::string shapes;
    for (const std::string& name : arkit)
        shapes += " " + temp.path + "/hand/poses/" + name + ".txt";
    const std::string glb = temp.path + "/hand/shapes.glb";
    const ProgramRun exported = inspect("--export-scene " + glb + " --shapes" + shapes + " " +
                                        temp.path + "/hand/data/retarget.model");
    ASSERT_EQ(exported.status, 0) << exported.err;
    const ProgramRun blender =
        runProgram({"blender", "-b", "--factory-startup", "--python",
                    FACE_SOURCE_DIR "/tests/blender/read_scenes.py", "--", glb});
    ASSERT_EQ(blender.status, 0) << blender.err;
    const nlohmann::json scene = nlohmann::json::parse(readFile(glb + ".blender.json"));
    std::vector<std::string> keys;
    for (const nlohmann::json& object : scene["objects"])
        for (const nlohmann::json& key : object["keys"])
            keys.push_back(key["name"]);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, arkit);
    // A take as an animation of the head's own scene.
    const std::string take = temp.path + "/take.csv", animated = temp.path + "/hand/take.glb";
    temp.write("take.csv", std::string("time,eyeBlinkLeft,jawOpen\n0,0,0\n0.5,1,0.5\n1,0,1\n"));
    const ProgramRun played = inspect("--take " + take + " --export-scene " + animated + " " +
                                      temp.path + "/hand/data/retarget.model");
    ASSERT_EQ(played.status, 0) << played.err;
    const ProgramRun validated =
        runWords("/usr/bin/node", FACE_SOURCE_DIR "/tests/gltf/validate.js " FACE_SOURCE_DIR
                                                  "/.tools/node_modules " +
                                      glb + " " + animated);
    EXPECT_EQ(validated.status, 0) << validated.out << validated.err;
}

// face-poser's landmark mode on the imported scan: "F", then a right press where each guess
// shows on screen; the landmarks saved lie on the surface near the guesses (within 3 % of the
// head's height: a pixel on the steep side of a brow spans that much depth), and the command it
// prints imports the head again with them.
TEST(EndToEndPoserLandmarks, PlacedOnTheSurfaceSavedAndImportedAgain) {
    if (!std::filesystem::exists(maleScan))
        GTEST_SKIP() << maleScan << " is not there";
    TempDir temp;
    const std::string out = temp.path + "/head";
    ASSERT_EQ(runImport(maleScan + " --expressions --out " + out).status, 0);
    Landmarks guesses;
    ImportRecord record;
    std::string error;
    ASSERT_TRUE(readLandmarkFile(guesses, (out + "/landmarks.txt").c_str(), error)) << error;
    ASSERT_TRUE(readImportRecord(record, (out + "/import-record.txt").c_str(), error)) << error;
    ViewerSession poser(FACE_SOURCE_DIR, {FACE_POSER_PATH, out}, "face-poser");
    ASSERT_TRUE(poser.start()) << poser.standardError();
    poser.key("F");
    ViewerState view;
    const Camera camera = makeFrameCamera(computeCameraPose(view), 640, 640);
    for (int k = 0; k < landmarkCount; ++k) {
        const Vector3 p = modelPosition(record, guesses.points[k]);
        const Vector4 o = camera.project({p.x, p.y, p.z, 1.0f});
        const int x = int(std::lround((o.x + 1) * 320)), y = int(std::lround((1 - o.y) * 320));
        poser.xdotool(
            {"mousemove", std::to_string(x), std::to_string(y), "click", "3", "sleep", "0.4"});
    }
    const std::string saved = out + "/landmarks.txt";
    for (int wait = 0;
         wait < 40 && poser.standardOutput().find("saved the 18 landmarks") == std::string::npos;
         ++wait)
        sleepSeconds(0.25);
    const std::string said = poser.standardOutput();
    const size_t command = said.find("face-import ");
    ASSERT_NE(command, std::string::npos) << said << poser.standardError();
    Landmarks placed;
    ASSERT_TRUE(readLandmarkFile(placed, saved.c_str(), error)) << error;
    const float height = 16.0f / record.scale;
    for (int k = 0; k < landmarkCount; ++k)
        EXPECT_LT(length(placed.points[k] - guesses.points[k]), 0.03f * height) << k;
    // The printed command, as the user runs it.
    std::string line = said.substr(command + std::string("face-import ").size());
    line = line.substr(0, line.find('\n'));
    const ProgramRun again = runImport(line);
    EXPECT_EQ(again.status, 0) << line << ": " << again.err;
    EXPECT_NE(again.out.find("landmarks: 18 of 18 from " + saved), std::string::npos) << again.out;
}
