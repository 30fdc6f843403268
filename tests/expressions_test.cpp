// The default face's expression library (poses/): face-assets regenerates it byte for byte,
// and each committed expression does what its name says on the face the viewer binds,
// measured here at the features, mirrored, and never thrown nor broken at any weight.
#include "face/amplification.h"
#include "io/pose_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/viewer_session.h"
#include "tools/assets/expressions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

// The set of files under folder (and its subfolders), by their relative paths.
std::set<std::string> filesUnder(const std::string& folder) {
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files.insert(std::filesystem::relative(entry.path(), folder).string());
    return files;
}

// The default face, built once for the tests here (binding it takes a second).
DefaultFace& defaultFace() {
    static DefaultFace face;
    if (face.model == nullptr)
        buildDefaultFace(face);
    return face;
}

// A committed library pose as offsets (K).
std::vector<Vector3> committedOffsets(const std::string& name, int32_t K) {
    std::vector<ControlPointMove> moves;
    std::string error;
    const std::string file = FACE_SOURCE_DIR "/poses/" + name + ".txt";
    EXPECT_TRUE(readPoseFile(moves, file.c_str(), K, error)) << error;
    std::vector<Vector3> offsets(K, Vector3{0.0f, 0.0f, 0.0f});
    for (const ControlPointMove& m : moves)
        offsets[m.index] = offsets[m.index] + m.delta;
    return offsets;
}

} // namespace

TEST(ExpressionLibrary, RegeneratesTheCommittedFilesAndMeetsItsAims) {
    TempDir dir;
    const ProgramRun run = runProgram({FACE_ASSETS_PATH, "--expressions", dir.path});
    // Status 1 names every expression that misses an aim of its table.
    ASSERT_EQ(run.status, 0) << run.err << run.out;
    EXPECT_EQ(filesUnder(dir.path), filesUnder(FACE_SOURCE_DIR "/poses"));
    for (const std::string& name : filesUnder(dir.path))
        EXPECT_TRUE(readFile(dir.path + "/" + name) == readFile(FACE_SOURCE_DIR "/poses/" + name))
            << name << " differs from the committed file";
    // The table has a row for every expression; the one left out is said.
    for (int k = 0; k < expressionCount; ++k)
        EXPECT_NE(run.out.find(std::string("| ") + arkitExpressionNames[k] + " |"),
                  std::string::npos)
            << arkitExpressionNames[k];
    EXPECT_NE(run.out.find("tongueOut"), std::string::npos);
}

TEST(ExpressionLibrary, FeaturesMirrorLeftToRight) {
    // Every feature's partner is the same feature with left and right swapped.
    for (int32_t f = 0; f < faceFeatureCount; ++f) {
        std::string name = faceFeatureNames[f];
        const size_t left = name.find("left"), right = name.find("right");
        if (left != std::string::npos)
            name.replace(left, 4, "right");
        else if (right != std::string::npos)
            name.replace(right, 5, "left");
        EXPECT_STREQ(faceFeatureNames[mirrorFeature(static_cast<FaceFeature>(f))], name.c_str());
    }
}

// What each expression promises, at one feature: its move along an axis (x counted towards
// the expression's own side for a sided one) at least `least`, and for a sided expression the
// same feature on the other side moving at most a tenth as far.
TEST(ExpressionLibrary, EachDoesWhatItsNameSays) {
    DefaultFace& face = defaultFace();
    FaceModel& model = *face.model;
    const int32_t K = model.controlPointCount;
    struct Promise {
        const char* expression;
        FaceFeature feature; // on the face's left for a left expression
        int axis;            // 0 x, 1 y, 2 z
        float least;
    };
    const Promise promises[] = {
        {"eyeBlinkLeft", lidLeftUpper, 1, -0.6f},
        {"eyeWideLeft", lidLeftUpper, 1, 0.15f},
        {"eyeSquintLeft", lidLeftLower, 1, 0.1f},
        {"eyeLookUpLeft", lidLeftUpper, 1, 0.05f},
        {"eyeLookDownLeft", lidLeftUpper, 1, -0.1f},
        {"jawOpen", lipLower, 1, -1.36f},
        {"jawOpen", chin, 1, -0.5f},
        {"jawForward", chin, 2, 0.3f},
        {"jawLeft", chin, 0, 0.3f},
        {"mouthSmileLeft", mouthLeft, 1, 0.3f},
        {"mouthSmileLeft", mouthLeft, 0, 0.2f},
        {"mouthFrownLeft", mouthLeft, 1, -0.3f},
        {"mouthStretchLeft", mouthLeft, 0, 0.3f},
        {"mouthDimpleLeft", mouthLeft, 2, -0.2f},
        {"mouthLeft", mouthLeft, 0, 0.2f},
        {"mouthPucker", lipUpper, 2, 0.3f},
        {"mouthFunnel", lipLower, 1, -0.08f},
        {"mouthRollLower", lipLower, 2, -0.2f},
        {"mouthRollUpper", lipUpper, 2, -0.2f},
        {"mouthShrugLower", lipLower, 1, 0.2f},
        {"mouthShrugUpper", lipUpper, 1, 0.15f},
        {"mouthLowerDownLeft", lipLeftLower, 1, -0.2f},
        {"mouthUpperUpLeft", lipLeftUpper, 1, 0.2f},
        {"mouthPressLeft", lipLeftUpper, 1, -0.02f},
        {"browDownLeft", browLeftInner, 1, -0.2f},
        {"browInnerUp", browLeftInner, 1, 0.2f},
        {"browInnerUp", browRightInner, 1, 0.2f},
        {"browOuterUpLeft", browLeftOuter, 1, 0.2f},
        {"cheekPuff", cheekLeft, 0, 0.1f},
        {"cheekSquintLeft", underEyeLeft, 1, 0.15f},
        {"noseSneerLeft", noseWingLeft, 1, 0.15f},
    };
    std::vector<Vector3> zero(K, Vector3{0.0f, 0.0f, 0.0f});
    PosedFace rest, posed, mirrored;
    poseFace(rest, model, face.rest.get(), zero.data());
    for (const Promise& p : promises) {
        SCOPED_TRACE(p.expression);
        const std::string name = p.expression;
        const bool sided = name.size() > 4 && name.compare(name.size() - 4, 4, "Left") == 0;
        // jawLeft and mouthLeft move the whole jaw or mouth, both sides of it.
        const bool oneSided = sided && name != "jawLeft" && name != "mouthLeft";
        poseFace(posed, model, face.rest.get(), committedOffsets(name, K).data());
        const Vector3 move = featureMove(posed, rest, face.features, p.feature);
        const float along = p.axis == 0 ? move.x : p.axis == 1 ? move.y : move.z;
        EXPECT_TRUE(p.least > 0.0f ? along >= p.least : along <= p.least) << along;
        if (!sided)
            continue;
        // The other side stays; the right expression does the mirror image.
        const FaceFeature other = mirrorFeature(p.feature);
        if (oneSided) {
            EXPECT_LE(length(featureMove(posed, rest, face.features, other)), 0.1f * length(move));
        }
        const std::string right = name.substr(0, name.size() - 4) + "Right";
        poseFace(mirrored, model, face.rest.get(), committedOffsets(right, K).data());
        const Vector3 image = featureMove(mirrored, rest, face.features, other);
        EXPECT_LE(length(Vector3{-image.x, image.y, image.z} - move), 0.01f * length(move));
    }

    // A blink closes its eye at the middle and leaves the other; jawOpen parts the lips and
    // mouthClose seals them again.
    const float restGap = lidGap(rest, face.features, 0);
    poseFace(posed, model, face.rest.get(), committedOffsets("eyeBlinkLeft", K).data());
    EXPECT_LE(std::fabs(lidGap(posed, face.features, 0)), 0.05f * restGap);
    EXPECT_NEAR(lidGap(posed, face.features, 1), lidGap(rest, face.features, 1), 0.05f * restGap);
    std::vector<Vector3> open = committedOffsets("jawOpen", K);
    poseFace(posed, model, face.rest.get(), open.data());
    const float parted = lipGap(posed, face.features);
    EXPECT_GE(parted, 1.0f);
    const std::vector<Vector3> close = committedOffsets("mouthClose", K);
    for (int32_t i = 0; i < K; ++i)
        open[i] = open[i] + close[i];
    poseFace(posed, model, face.rest.get(), open.data());
    EXPECT_LE(std::fabs(lipGap(posed, face.features)), 0.1f * parted);
}

TEST(ExpressionLibrary, NothingThrownOrBrokenAtAnyWeight) {
    DefaultFace& face = defaultFace();
    FaceModel& model = *face.model;
    const int32_t K = model.controlPointCount, N = model.renderVertexCount;
    std::vector<Vector3> zero(K, Vector3{0.0f, 0.0f, 0.0f}), scaled(K), points(K);
    std::vector<float> amplification(N);
    PosedFace rest, posed;
    poseFace(rest, model, face.rest.get(), zero.data());
    for (int k = 0; k < expressionCount; ++k) {
        const char* name = arkitExpressionNames[k];
        const std::vector<Vector3> offsets = committedOffsets(name, K);
        for (const float w : {-1.0f, 0.5f, 1.0f, 2.0f}) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(w));
            for (int32_t i = 0; i < K; ++i)
                scaled[i] = offsets[i] * w;
            poseFace(posed, model, face.rest.get(), scaled.data());
            ASSERT_TRUE(posed.finite);
            // No render vertex moves much farther than the control points that carry it;
            // where the expression is meant to be used, from rest to full, a small drag from
            // the pose throws none either (a blink at 2 passes the lids through each other).
            EXPECT_LE(poseThrow(posed, rest, model, scaled.data()), 1.5f);
            if (w < 0.0f || w > 1.0f)
                continue;
            for (int32_t i = 0; i < K; ++i)
                points[i] = face.rest[i] + scaled[i];
            computeAmplification(amplification.data(), nullptr, model, points.data(),
                                 smallAmplificationStep);
            EXPECT_LE(*std::max_element(amplification.begin(), amplification.end()), 1.5f);
        }
    }
}
