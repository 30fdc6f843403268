// Mixes of poses: their sums against the poses loaded whole and against sums in double
// precision, the weights' steps and the --mix argument, and face-poser's mix against
// face-inspect --mix, with undo stepping back through every change of a weight.
#include "app/prop_frame.h"
#include "io/pose_file.h"
#include "tests/support/gl_context.h"
#include "tests/support/poser_drag.h"
#include "tests/support/temp_dir.h"
#include "tests/support/viewer_session.h"
#include "tools/common/pose_mix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

// A random pose of count moves of up to size along each axis over K points, some points moved
// twice, point spared not at all (seeded).
std::vector<ControlPointMove> randomPose(std::mt19937& random, int32_t K, int32_t count,
                                         float size = 2.0f, int32_t spared = -1) {
    std::uniform_real_distribution<float> offset(-size, size);
    std::vector<ControlPointMove> moves;
    while (int32_t(moves.size()) < count) {
        const int32_t i = int32_t(random() % uint32_t(K));
        if (i != spared)
            moves.push_back({i, {offset(random), offset(random), offset(random)}});
    }
    return moves;
}

std::vector<Vector3> loaded(const std::vector<ControlPointMove>& moves, int32_t K) {
    std::vector<Vector3> offsets(static_cast<size_t>(K));
    applyMoves(offsets.data(), moves.data(), moves.size());
    return offsets;
}

} // namespace

// One pose at weight 1 is the pose as loaded, bit for bit; 2 and −1 double and reverse it
// exactly; the terms' order does not change a bit; any weights give the weighted sum to
// float rounding.
TEST(PoseMix, OnePoseAtWeightOneIsThePoseAndWeightsAddLinearly) {
    std::mt19937 random(20260301);
    const int32_t K = 240;
    const std::vector<ControlPointMove> poses[3] = {
        randomPose(random, K, 300), randomPose(random, K, 40), randomPose(random, K, 120)};
    const char* names[3] = {"smile", "brow-up", "smile-left"};
    std::vector<Vector3> mix(static_cast<size_t>(K));
    const auto mixOf = [&](std::vector<int> order, const float* weights) {
        std::vector<MixTerm> terms;
        for (int t : order)
            terms.push_back({names[t], weights[t], poses[t].data(), poses[t].size()});
        mixOffsets(mix.data(), K, terms.data(), terms.size());
        return mix;
    };
    for (int t = 0; t < 3; ++t) {
        const std::vector<Vector3> whole = loaded(poses[t], K);
        float weights[3] = {0, 0, 0};
        for (float w : {1.0f, 2.0f, -1.0f}) {
            weights[t] = w;
            const std::vector<Vector3> mixed = mixOf({0, 1, 2}, weights);
            for (int32_t i = 0; i < K; ++i)
                EXPECT_EQ(mixed[size_t(i)], w * whole[size_t(i)]) << names[t] << " " << w;
        }
    }
    std::uniform_real_distribution<float> weight(-1.0f, 2.0f);
    for (int trial = 0; trial < 20; ++trial) {
        const float weights[3] = {weight(random), weight(random), weight(random)};
        const std::vector<Vector3> mixed = mixOf({0, 1, 2}, weights);
        EXPECT_EQ(mixOf({2, 0, 1}, weights), mixed);
        EXPECT_EQ(mixOf({1, 2, 0}, weights), mixed);
        std::vector<double> exact(3 * size_t(K), 0.0);
        for (int t = 0; t < 3; ++t)
            for (const ControlPointMove& m : poses[t]) {
                exact[3 * size_t(m.index)] += double(weights[t]) * m.delta.x;
                exact[3 * size_t(m.index) + 1] += double(weights[t]) * m.delta.y;
                exact[3 * size_t(m.index) + 2] += double(weights[t]) * m.delta.z;
            }
        for (int32_t i = 0; i < K; ++i) {
            const float* v = &mixed[size_t(i)].x;
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(v[c], exact[3 * size_t(i) + size_t(c)], 1e-5) << i;
        }
    }
}

// Steps of 0.1 from −1 to 2, each the float that its decimal reads as; --mix's argument read
// and refused.
TEST(PoseMix, WeightsStepByTenthsAndTheArgumentReads) {
    float w = 0.0f;
    for (int k = 1; k <= 25; ++k) {
        w = steppedMixWeight(w, 1);
        char decimal[16];
        std::snprintf(decimal, sizeof decimal, "%d.%d", std::min(k, 20) / 10, std::min(k, 20) % 10);
        EXPECT_EQ(w, std::strtof(decimal, nullptr)) << decimal;
    }
    for (int k = 0; k < 40; ++k)
        w = steppedMixWeight(w, -1);
    EXPECT_EQ(w, -1.0f);
    EXPECT_EQ(steppedMixWeight(0.34f, 1), 0.4f); // to the nearest step first

    const struct {
        const char* text;
        std::vector<MixFile> files; // empty: refused
    } cases[] = {
        {"smile.txt=0.5,poses/brow=up.txt=1", {{"smile.txt", 0.5f}, {"poses/brow=up.txt", 1.0f}}},
        {"a=-1", {{"a", -1.0f}}},
        {"a=2", {{"a", 2.0f}}},
        {"a=2.01", {}},
        {"a=-1.5", {}},
        {"a=nan", {}},
        {"a=", {}},
        {"=1", {}},
        {"a", {}},
        {"a=1,", {}},
        {"a=1x", {}},
    };
    for (const auto& c : cases) {
        std::vector<MixFile> files;
        std::string problem;
        EXPECT_EQ(parseMixArgument(files, c.text, problem), !c.files.empty()) << c.text;
        ASSERT_EQ(files.size(), c.files.size()) << c.text;
        for (size_t k = 0; k < files.size(); ++k) {
            EXPECT_EQ(files[k].file, c.files[k].file);
            EXPECT_EQ(files[k].weight, c.files[k].weight);
        }
        EXPECT_EQ(problem.empty(), !c.files.empty()) << c.text;
    }
}

using PoserMix = OffscreenGLTest;

// A library of two poses mixed in face-poser, the smile at 0.5 and the brows at 1: the face
// is face-inspect --mix's with the same weights, bit for bit. A drag made on the mix stays
// when a weight changes. Undo takes back one step of a weight at a time, to rest exactly;
// redo puts them back.
TEST_F(PoserMix, WindowAndInspectMixAlikeAndUndoStepsThroughWeights) {
    TempDir temp;
    linkCommittedData(temp.path);
    std::mt19937 random(77);
    const int32_t lowerLip = 87; // moved by neither pose, dragged on the mix
    const std::string smile = temp.path + "/poses/smile.txt",
                      brows = temp.path + "/poses/brows.txt";
    for (const std::string& file : {smile, brows}) {
        const std::vector<ControlPointMove> moves = randomPose(random, 240, 30, 0.4f, lowerLip);
        std::string text;
        for (const ControlPointMove& m : moves) {
            char line[128];
            std::snprintf(line, sizeof line, "%d %.9g %.9g %.9g\n", m.index, m.delta.x, m.delta.y,
                          m.delta.z);
            text += line;
        }
        std::filesystem::create_directories(temp.path + "/poses");
        temp.write(file.substr(temp.path.size() + 1), text);
    }
    Scene scene;
    Poser poser;
    ViewerState state;
    ASSERT_TRUE(startPoserQuietly(poser, scene, temp.path));
    ASSERT_EQ(poser.library, (std::vector<std::string>{"brows", "smile"}));
    const std::string atRest = dumpedPositions(*scene.faceModel, scene.controlPoints.get());

    typeKeys(poser, state, scene, "}00000{0000000000");
    EXPECT_EQ(mixWeight(poser.pose, "smile"), 0.5f);
    EXPECT_EQ(mixWeight(poser.pose, "brows"), 1.0f);
    const std::string mixed = dumpedPositions(*scene.faceModel, scene.controlPoints.get());
    const ProgramRun inspect =
        runProgram({FACE_INSPECT_PATH, "--dump", "positions", "--mix",
                    brows + "=1," + smile + "=0.5", temp.path + "/data/retarget.model"});
    ASSERT_EQ(inspect.status, 0) << inspect.err;
    EXPECT_TRUE(inspect.out == mixed);
    EXPECT_FALSE(mixed == atRest);

    // Fifteen steps undone one by one: the brows' ten, then the smile's five.
    for (int step = 1; step <= 15; ++step) {
        int32_t unused;
        ASSERT_TRUE(undoEdit(poser.pose, unused)) << step;
        const int browSteps = std::max(0, 10 - step), smileSteps = step <= 10 ? 5 : 15 - step;
        EXPECT_EQ(mixWeight(poser.pose, "brows"), float(browSteps) / 10.0f) << step;
        EXPECT_EQ(mixWeight(poser.pose, "smile"), float(smileSteps) / 10.0f) << step;
    }
    EXPECT_EQ(movedPointCount(poser.pose), 0);
    EXPECT_TRUE(dumpedPositions(*scene.faceModel, scene.controlPoints.get()) == atRest);
    typeKeys(poser, state, scene, std::string(15, 'y'));
    EXPECT_TRUE(dumpedPositions(*scene.faceModel, scene.controlPoints.get()) == mixed);

    // A drag of a point neither pose moves, then the smile's weight down: the drag stays.
    ASSERT_EQ(dragInPoser(poser, state, scene, lowerLip, 0, 30), lowerLip);
    const Vector3 dragged = poser.pose.offsets[lowerLip];
    EXPECT_GT(length(dragged), 0.1f);
    typeKeys(poser, state, scene, "}9");
    EXPECT_EQ(mixWeight(poser.pose, "smile"), 0.4f);
    EXPECT_EQ(poser.pose.offsets[lowerLip], dragged);
}

// The default face's library in face-poser: a blink mixed in moves the lids over an eye that
// stays where it looks (face-viewer's frame, on the corners and the upper lid, turns it far
// down), and eyeLookDown turns the eye about its own centre, which stays in its socket.
TEST_F(PoserMix, TheLibrarysBlinkLeavesTheEyeAndItsGazeTurnsIt) {
    TempDir temp;
    linkCommittedData(temp.path);
    std::filesystem::create_directory_symlink(FACE_SOURCE_DIR "/poses", temp.path + "/poses");
    Scene scene;
    Poser poser;
    ViewerState state;
    ASSERT_TRUE(startPoserQuietly(poser, scene, temp.path));
    const int32_t leftEye = 3; // white_eye1, at +x: the face's own left
    const PropSlot& slot = scene.propSlots[leftEye];
    const Vector3 centre = poser.propCentres[leftEye];
    // Where the eye's centre goes and where its front (+z) looks under a transform.
    auto carried = [](const Matrix4& m, const Vector3& p) {
        const Vector4 q = m * Vector4{p.x, p.y, p.z, 1.0f};
        return Vector3{q.x, q.y, q.z};
    };
    auto pitchDegrees = [](const Matrix4& m) {
        return std::asin(unitOrZero({m.m[8], m.m[9], m.m[10]}).y) * 180.0f / 3.14159265f;
    };
    // The keys that choose a library pose in the mix (from the first) and raise it to 1.
    auto mixIn = [&](const std::string& name) {
        poser.mixIndex = 0;
        const auto at = std::find(poser.library.begin(), poser.library.end(), name);
        typeKeys(poser, state, scene,
                 std::string(size_t(at - poser.library.begin()), '}') + "0000000000");
    };
    mixIn("eyeBlinkLeft");
    ASSERT_EQ(mixWeight(poser.pose, "eyeBlinkLeft"), 1.0f);
    placeProps(poser, scene);
    ASSERT_TRUE(slot.transformGiven);
    EXPECT_LT(length(carried(slot.givenTransform, centre) - centre), 1e-4f);
    EXPECT_LT(std::fabs(pitchDegrees(slot.givenTransform)), 0.1f);
    Vector3 A, B, C;
    propFramePoints(A, B, C, propSlotSources[leftEye], scene.controlPoints.get());
    Matrix4 viewers;
    ASSERT_TRUE(slot.frame->currentTransform(viewers, A, B, C));
    EXPECT_LT(pitchDegrees(viewers), -30.0f);

    // The blink taken out again, the gaze down mixed in.
    typeKeys(poser, state, scene, "r");
    mixIn("eyeLookDownLeft");
    ASSERT_EQ(mixWeight(poser.pose, "eyeBlinkLeft"), 0.0f);
    placeProps(poser, scene);
    EXPECT_LT(pitchDegrees(slot.givenTransform), -10.0f);
    EXPECT_LT(length(carried(slot.givenTransform, centre) - centre), 1e-4f);
    propFramePoints(A, B, C, propSlotSources[leftEye], scene.controlPoints.get());
    ASSERT_TRUE(slot.frame->currentTransform(viewers, A, B, C));
    EXPECT_GT(length(carried(viewers, centre) - centre), 0.2f); // swung about the corners
}

// A start from the library's own file is that pose's mix at weight 1; from a file that says
// it is a mix of library poses (a VRM preset), that mix, whose offsets face-inspect --mix
// forms alike. The jaw's pose carries the lower teeth down with the lower lip; the preset's
// squint turns no eye.
TEST_F(PoserMix, StartsFromALibraryFileOrADeclaredMixAsItsMix) {
    TempDir temp;
    linkCommittedData(temp.path);
    std::filesystem::create_directory_symlink(FACE_SOURCE_DIR "/poses", temp.path + "/poses");
    struct Start {
        const char* file;
        std::vector<MixWeight> mix;
    };
    const Start starts[] = {
        {"poses/jawOpen.txt", {{"jawOpen", 1.0f}}},
        {"poses/vrm/happy.txt",
         {{"mouthSmileLeft", 1.0f},
          {"mouthSmileRight", 1.0f},
          {"cheekSquintLeft", 0.6f},
          {"cheekSquintRight", 0.6f},
          {"eyeSquintLeft", 0.4f},
          {"eyeSquintRight", 0.4f}}},
    };
    for (const Start& start : starts) {
        SCOPED_TRACE(start.file);
        Scene scene;
        Poser poser;
        initGLState();
        std::string error;
        testing::internal::CaptureStdout();
        const bool started =
            startPoser(poser, scene, temp.path, (temp.path + "/" + start.file).c_str(), error);
        testing::internal::GetCapturedStdout();
        ASSERT_TRUE(started) << error;
        std::string mixArgument;
        for (const MixWeight& w : start.mix) {
            EXPECT_EQ(mixWeight(poser.pose, w.name), w.weight) << w.name;
            mixArgument += (mixArgument.empty() ? "" : ",") + temp.path + "/poses/" + w.name +
                           ".txt=" + std::to_string(w.weight);
        }
        const ProgramRun inspect = runProgram({FACE_INSPECT_PATH, "--dump", "positions", "--mix",
                                               mixArgument, temp.path + "/data/retarget.model"});
        ASSERT_EQ(inspect.status, 0) << inspect.err;
        EXPECT_TRUE(inspect.out == dumpedPositions(*scene.faceModel, scene.controlPoints.get()));
        placeProps(poser, scene);
        const Matrix4& lowerTeeth = scene.propSlots[1].givenTransform;
        const float drop = -lowerTeeth.m[13]; // the lower teeth's move down
        EXPECT_EQ(drop > 1.0f, start.mix[0].name == "jawOpen") << drop;
        for (int32_t eye = 2; eye < 4; ++eye) // no gaze: the eyes where they were
            EXPECT_LT(std::fabs(scene.propSlots[eye].givenTransform.m[9]), 1e-4f);
    }
}
