// Mirror pairs of the control mesh, and poses mirrored and split along them: the default
// face (symmetric by construction, its file holding x and −x), the same made a little
// asymmetric or moved off centre, a head nobody here made, and face-poser's mirrored drags,
// mirrored poses and halves.
#include "io/model_file.h"
#include "io/pose_file.h"
#include "tests/support/gl_context.h"
#include "tests/support/poser_drag.h"
#include "tests/support/temp_dir.h"
#include "tests/support/viewer_session.h"
#include "tools/common/symmetry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

// A model's control points and edges.
struct ControlMesh {
    ModelData data;
    ArrayHolder<Edge> edges;
    int32_t edgeCount = 0;
    const Vector3* points() const { return data.controlPoints.get(); }
    int32_t count() const { return data.controlPointCount; }
};

void loadControlMesh(ControlMesh& mesh, const std::string& file) {
    std::string error;
    ASSERT_TRUE(readModelFile(mesh.data, file.c_str(), error)) << error;
    std::vector<TriangleEdges> unused(size_t(mesh.data.controlTriangleCount));
    buildEdgeTable(mesh.edges, mesh.edgeCount, unused.data(), mesh.data.controlTriangles.get(),
                   mesh.data.controlTriangleCount);
}

// |a − b| small against the face's size (16 units): float rounding of sums of a few terms.
void expectNear(const Vector3& a, const Vector3& b, const std::string& what) {
    EXPECT_LT(length(a - b), 1e-5f) << what << ": (" << a.x << ", " << a.y << ", " << a.z
                                    << ") against (" << b.x << ", " << b.y << ", " << b.z << ")";
}

} // namespace

// Every point off the plane has the point at its exact mirror image as partner, every point
// on it itself; the plane is x = 0.
TEST(PoseSymmetry, DefaultFacePairsEveryPointWithItsMirrorImage) {
    ControlMesh mesh;
    loadControlMesh(mesh, FACE_SOURCE_DIR "/data/retarget.model");
    MirrorPairs pairs;
    findMirrorPairs(pairs, mesh.points(), mesh.count(), mesh.edges.get(), mesh.edgeCount);
    EXPECT_EQ(pairs.planeX, 0.0f);
    EXPECT_EQ(pairs.paired, mesh.count());
    int32_t onPlane = 0;
    for (int32_t i = 0; i < mesh.count(); ++i) {
        const Vector3& p = mesh.points()[i];
        const int32_t j = pairs.partners[i];
        ASSERT_GE(j, 0) << i;
        EXPECT_EQ(pairs.partners[j], i);
        EXPECT_EQ(mesh.points()[j], (Vector3{-p.x, p.y, p.z})) << i << " and " << j;
        EXPECT_EQ(j == i, p.x == 0.0f) << i;
        onPlane += p.x == 0.0f ? 1 : 0;
    }
    EXPECT_EQ(pairs.onPlane, onPlane);
    EXPECT_GT(onPlane, 10); // the middle line of the face, its lips and nose
}

// Each point moved at random by a little (seeded), and the head moved off centre: the same
// pairs, and the plane found where the head's middle went.
TEST(PoseSymmetry, SmallAsymmetryAndAHeadOffCentreKeepThePairs) {
    ControlMesh mesh;
    loadControlMesh(mesh, FACE_SOURCE_DIR "/data/retarget.model");
    MirrorPairs exact;
    findMirrorPairs(exact, mesh.points(), mesh.count(), mesh.edges.get(), mesh.edgeCount);
    const struct {
        float shift;  // along x, model units
        float jitter; // the largest move of a point, model units (the shortest edge is 0.49)
        uint32_t seed;
    } cases[] = {{0.0f, 0.01f, 1}, {0.0f, 0.08f, 2}, {0.5f, 0.0f, 3}, {-2.0f, 0.08f, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE("shift " + std::to_string(c.shift) + ", jitter " + std::to_string(c.jitter));
        std::mt19937 random(c.seed);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        std::vector<Vector3> moved(mesh.points(), mesh.points() + mesh.count());
        for (Vector3& p : moved) {
            Vector3 d;
            do
                d = {unit(random), unit(random), unit(random)};
            while (length(d) > 1.0f);
            p = p + c.jitter * d + Vector3{c.shift, 0.0f, 0.0f};
        }
        MirrorPairs pairs;
        findMirrorPairs(pairs, moved.data(), mesh.count(), mesh.edges.get(), mesh.edgeCount);
        EXPECT_NEAR(pairs.planeX, c.shift, c.jitter + 1e-5f);
        EXPECT_EQ(pairs.paired, mesh.count());
        for (int32_t i = 0; i < mesh.count(); ++i)
            EXPECT_EQ(pairs.partners[i], exact.partners[i]) << i;
    }
}

// Mr. Fixit's head from Debian's assimp-testmodels, as face-import makes its control mesh
// (not symmetric): the share docs/face-poser.md states is paired, every pair is mutual and
// its two points lie on the two sides of a plane near the middle where face-import puts it.
TEST(PoseSymmetry, ImportedHeadPairsMostOfItsPoints) {
    TempDir temp;
    const ProgramRun import =
        runProgram({FACE_IMPORT_PATH, "/usr/share/assimp/models/IQM/mrfixit.iqm", "--mesh", "1",
                    "--front", "x", "--out", temp.path + "/head"});
    ASSERT_EQ(import.status, 0) << import.err;
    ControlMesh mesh;
    loadControlMesh(mesh, temp.path + "/head/data/retarget.model");
    MirrorPairs pairs;
    findMirrorPairs(pairs, mesh.points(), mesh.count(), mesh.edges.get(), mesh.edgeCount);
    EXPECT_GE(double(pairs.paired) / mesh.count(), 0.94); // docs/face-poser.md has the figure
    EXPECT_LT(std::fabs(pairs.planeX), 0.05f);
    for (int32_t i = 0; i < mesh.count(); ++i) {
        const int32_t j = pairs.partners[i];
        if (j < 0 || j == i)
            continue;
        EXPECT_EQ(pairs.partners[j], i);
        EXPECT_LT((mesh.points()[i].x - pairs.planeX) * (mesh.points()[j].x - pairs.planeX), 0.0f)
            << i << " and " << j;
    }
}

using PoserSymmetry = OffscreenGLTest;

// On the default face: a mirrored drag of a mouth corner, a mirrored region drag of a brow and
// a mirrored drag of the lower lip's middle (which stays on the plane) leave every control
// point at the mirror image of its partner; "M" turns a one-sided drag into the other side's;
// "H" saves halves that add up to the pose and mirror each other, and face-inspect's --half
// and --mirror give the same faces.
TEST_F(PoserSymmetry, MirroredDragsPosesAndHalvesMirrorEachOther) {
    TempDir temp;
    Scene scene;
    Poser poser;
    ViewerState state;
    ASSERT_TRUE(startPoserQuietly(poser, scene, linkCommittedData(temp.path)));
    const int32_t K = scene.controlPointCount;
    const Vector3* points = scene.controlPoints.get();
    const int32_t* partners = poser.pairs.partners.get();
    const auto expectMirrored = [&](const std::string& after) {
        for (int32_t i = 0; i < K; ++i)
            expectNear(points[partners[i]], mirrorPoint(0.0f, points[i]),
                       after + ": point " + std::to_string(i));
    };
    const int32_t leftCorner = 74, rightCorner = 70, leftBrow = 45, lowerLip = 87;
    ASSERT_EQ(partners[leftCorner], rightCorner);

    // One side alone, mirrored with "M", and back.
    ASSERT_EQ(dragInPoser(poser, state, scene, leftCorner, 30, -20), leftCorner);
    const Vector3 oneSide = poser.pose.offsets[leftCorner];
    EXPECT_GT(length(oneSide), 0.5f);
    EXPECT_EQ(poser.pose.offsets[rightCorner], (Vector3{0, 0, 0}));
    typeKeys(poser, state, scene, "M");
    EXPECT_EQ(poser.pose.offsets[rightCorner], mirrorMove(oneSide));
    EXPECT_EQ(poser.pose.offsets[leftCorner], (Vector3{0, 0, 0}));
    EXPECT_EQ(movedPointCount(poser.pose), 1);
    typeKeys(poser, state, scene, "M");
    EXPECT_EQ(poser.pose.offsets[leftCorner], oneSide);

    // Mirrored: the corners together, then a brow's region, then the lip's middle sideways
    // (a partner of itself, it moves along the plane).
    typeKeys(poser, state, scene, "rm");
    ASSERT_TRUE(poser.mirrorDrag);
    dragInPoser(poser, state, scene, leftCorner, 30, -20);
    EXPECT_EQ(movedPointCount(poser.pose), 2);
    expectMirrored("the corners");
    typeKeys(poser, state, scene, "...");
    dragInPoser(poser, state, scene, leftBrow, 0, -25);
    EXPECT_GT(movedPointCount(poser.pose), 10);
    expectMirrored("the brows");
    typeKeys(poser, state, scene, ",,,");
    dragInPoser(poser, state, scene, lowerLip, 25, 20);
    EXPECT_EQ(poser.pose.offsets[lowerLip].x, 0.0f);
    EXPECT_GT(std::fabs(poser.pose.offsets[lowerLip].y), 0.1f);
    expectMirrored("the lip's middle");

    // The halves, saved as both-left and both-right.
    typeKeys(poser, state, scene, "Hboth\r");
    std::vector<ControlPointMove> moves[2];
    std::string error;
    for (int k = 0; k < 2; ++k)
        ASSERT_TRUE(readPoseFile(
            moves[k], (temp.path + "/poses/both-" + (k == 0 ? "left" : "right") + ".txt").c_str(),
            K, error))
            << error;
    std::vector<Vector3> halves[2] = {std::vector<Vector3>(size_t(K)),
                                      std::vector<Vector3>(size_t(K))};
    for (int k = 0; k < 2; ++k)
        applyMoves(halves[k].data(), moves[k].data(), moves[k].size());
    for (int32_t i = 0; i < K; ++i) {
        const std::string at = "point " + std::to_string(i);
        EXPECT_EQ(halves[0][size_t(i)] + halves[1][size_t(i)], poser.pose.offsets[i]) << at;
        expectNear(halves[0][size_t(partners[i])], mirrorMove(halves[1][size_t(i)]), at);
        // The left half moves the face's left (+x) and the middle.
        if (!(halves[0][size_t(i)] == Vector3{0, 0, 0})) {
            EXPECT_GE(poser.pose.rest[i].x, 0.0f) << at;
        }
    }
    EXPECT_GT(moves[0].size(), 5u);

    // face-inspect from the saved whole: its left half is the left half face-poser saved,
    // and the right half of its mirror image is that left half mirrored.
    typeKeys(poser, state, scene, "nboth\r");
    const std::string model = temp.path + "/data/retarget.model",
                      whole = temp.path + "/poses/both.txt";
    const auto inspect = [&](std::vector<std::string> options) {
        std::vector<std::string> command = {FACE_INSPECT_PATH, "--dump", "positions"};
        command.insert(command.end(), options.begin(), options.end());
        command.push_back(model);
        const ProgramRun run = runProgram(command);
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    };
    const std::string left = inspect({"--mix", temp.path + "/poses/both-left.txt=1"});
    EXPECT_EQ(inspect({"--mix", whole + "=1", "--half", "left"}), left);
    EXPECT_EQ(inspect({"--mix", whole + "=1", "--mirror", "--half", "right"}),
              inspect({"--mix", temp.path + "/poses/both-left.txt=1", "--mirror"}));
    EXPECT_NE(inspect({"--mix", whole + "=1", "--half", "right"}), left);
}
