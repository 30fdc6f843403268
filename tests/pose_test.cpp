// face-poser's pose without a window: drags, undo, redo and reset as edits of the offsets,
// and pose files that face-inspect's reading reproduces exactly.
#include "io/pose_file.h"
#include "tests/support/temp_dir.h"
#include "tools/poser/pose.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// Every point not being dragged sits at rest + offset.
void expectPointsAtRestPlusOffset(const Pose& pose) {
    for (int32_t i = 0; i < pose.count; ++i)
        EXPECT_EQ(pose.points[i], pose.rest[i] + pose.offsets[i]) << "point " << i;
}

} // namespace

// One session of edits on three points: each step, whether it acted, the point it names
// and the offsets it leaves.
TEST(PoserPose, DragsUndoRedoAndResetAreEdits) {
    std::vector<Vector3> points = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    Pose pose;
    startPose(pose, points.data(), 3);
    const Vector3 o = {0, 0, 0}, a = {0.5f, 0, 0}, b = {0, -1, 0}, c = {0, 0, 2};
    const struct {
        char action; // d drag (to rest + by), u undo, y redo, r reset
        int32_t point;
        Vector3 by;
        bool acts;
        int32_t named; // the point undo or redo names
        Vector3 offsets[3];
    } steps[] = {
        {'d', 0, a, true, -1, {a, o, o}},
        {'d', 1, o, false, -1, {a, o, o}}, // released where it was picked: no edit
        {'d', 1, b, true, -1, {a, b, o}},
        {'u', 0, o, true, 1, {a, o, o}},
        {'u', 0, o, true, 0, {o, o, o}},
        {'u', 0, o, false, -1, {o, o, o}},
        {'y', 0, o, true, 0, {a, o, o}},
        {'d', 2, c, true, -1, {a, o, c}}, // a new edit drops the drag of point 1 from redo
        {'y', 0, o, false, -1, {a, o, c}},
        {'r', 0, o, true, -1, {o, o, o}},
        {'r', 0, o, false, -1, {o, o, o}},
        {'u', 0, o, true, 0, {a, o, c}}, // the reset is one edit of both points
        {'y', 0, o, true, 0, {o, o, o}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(1, step.action) + " " + std::to_string(&step - steps));
        int32_t named = -1;
        bool acted = false;
        if (step.action == 'd') {
            points[step.point] = pose.rest[step.point] + step.by; // as the dragger leaves it
            acted = commitDrag(pose, step.point);
        } else if (step.action == 'u') {
            acted = undoEdit(pose, named);
        } else if (step.action == 'y') {
            acted = redoEdit(pose, named);
        } else {
            acted = resetPose(pose);
        }
        EXPECT_EQ(acted, step.acts);
        EXPECT_EQ(named, step.named);
        for (int32_t i = 0; i < 3; ++i)
            EXPECT_EQ(pose.offsets[i], step.offsets[i]) << "offset " << i;
        expectPointsAtRestPlusOffset(pose);
    }
    // Back at rest, the points are the loaded ones bit for bit.
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(points[i], pose.rest[i]);
}

// Seeded random drags to anywhere (rest + (p − rest) need not give p back): the saved file, read as
// face-inspect reads it and added to the rest positions, gives exactly the points shown; loading it
// into a fresh pose gives the same offsets.
TEST(PoserPose, SavedPoseReproducesThePointsExactly) {
    std::mt19937 random(20260117);
    std::uniform_real_distribution<float> anywhere(-300.0f, 300.0f);
    std::vector<Vector3> points(100);
    for (Vector3& p : points)
        p = {anywhere(random), anywhere(random), anywhere(random)};
    std::vector<Vector3> loadedPoints = points;
    Pose pose, loaded;
    startPose(pose, points.data(), 100);
    startPose(loaded, loadedPoints.data(), 100);
    for (int drag = 0; drag < 60; ++drag) {
        const int32_t i = int32_t(random() % 100);
        points[i] = {anywhere(random), anywhere(random) / 1000, points[i].z};
        commitDrag(pose, i);
    }
    TempDir temp;
    const std::string file = temp.path + "/pose.txt";
    std::string error;
    ASSERT_TRUE(savePose(pose, file.c_str(), error)) << error;

    std::vector<ControlPointMove> moves;
    ASSERT_TRUE(readPoseFile(moves, file.c_str(), 100, error)) << error;
    EXPECT_EQ(int32_t(moves.size()), movedPointCount(pose));
    std::vector<Vector3> inspected(pose.rest.get(), pose.rest.get() + 100);
    applyMoves(inspected.data(), moves.data(), moves.size());
    bool changed = false;
    ASSERT_TRUE(loadPose(loaded, changed, file.c_str(), error)) << error;
    EXPECT_TRUE(changed);
    for (int32_t i = 0; i < 100; ++i) {
        EXPECT_EQ(inspected[i], points[i]) << "point " << i;
        EXPECT_EQ(loaded.offsets[i], pose.offsets[i]) << "point " << i;
    }
    expectPointsAtRestPlusOffset(loaded);
}

// A pose file that names a point the model lacks, and a file that cannot be written: one
// line, and the pose and its history stay as they were.
TEST(PoserPose, RefusedFilesLeaveThePose) {
    std::vector<Vector3> points = {{1, 2, 3}, {4, 5, 6}};
    Pose pose;
    startPose(pose, points.data(), 2);
    points[1] = {4, 5, 7};
    commitDrag(pose, 1);
    TempDir temp;
    const std::string file = temp.write("pose.txt", std::string("0 1 0 0\n2 0 1 0\n"));
    std::string error;
    bool changed = false;
    EXPECT_FALSE(loadPose(pose, changed, file.c_str(), error));
    EXPECT_EQ(error, file + ", line 2: index \"2\" is not a control point (the model has 2)");
    EXPECT_EQ(pose.offsets[0], (Vector3{0, 0, 0}));
    EXPECT_EQ(pose.applied, 1u);
    EXPECT_FALSE(savePose(pose, (file + "/pose.txt").c_str(), error));
    EXPECT_EQ(error.rfind(file + "/pose.txt: cannot be written (", 0), 0u) << error;
}
