#include "tools/poser/pose.h"

#include "io/file_contents.h"
#include "io/pose_file.h"

#include <cassert>
#include <cstdio>

namespace {

size_t editStart(const Pose& pose, size_t e) { return e == 0 ? 0 : pose.editEnds[e - 1]; }

// Drops the edits that could be redone, so that the changes appended next form a new edit.
void dropRedoable(Pose& pose) {
    pose.changes.resize(editStart(pose, pose.applied));
    pose.editEnds.resize(pose.applied);
}

void closeEdit(Pose& pose) {
    pose.editEnds.push_back(pose.changes.size());
    pose.applied = pose.editEnds.size();
}

void setOffset(Pose& pose, int32_t index, const Vector3& offset) {
    pose.offsets[index] = offset;
    pose.points[index] = pose.rest[index] + offset;
}

// Sets every point of edit e to its offset after the edit (forward) or before it.
void replayEdit(Pose& pose, size_t e, bool forward) {
    for (size_t c = editStart(pose, e); c < pose.editEnds[e]; ++c) {
        const PointChange& change = pose.changes[c];
        setOffset(pose, change.index, forward ? change.after : change.before);
    }
}

} // namespace

void startPose(Pose& pose, Vector3* points, int32_t count) {
    pose.count = count;
    pose.rest = copyArray(points, count);
    pose.offsets.reset(new Vector3[count]());
    pose.points = points;
    pose.changes.clear();
    pose.editEnds.clear();
    pose.applied = 0;
}

bool commitDrag(Pose& pose, int32_t index) {
    assert(index >= 0 && index < pose.count);
    const Vector3 before = pose.offsets[index];
    const Vector3 after = pose.points[index] - pose.rest[index];
    setOffset(pose, index, after);
    if (after == before)
        return false;
    dropRedoable(pose);
    pose.changes.push_back({index, before, after});
    closeEdit(pose);
    return true;
}

bool setOffsets(Pose& pose, const Vector3* target) {
    std::vector<PointChange> changes;
    for (int32_t i = 0; i < pose.count; ++i)
        if (!(target[i] == pose.offsets[i]))
            changes.push_back({i, pose.offsets[i], target[i]});
    if (changes.empty())
        return false;
    dropRedoable(pose);
    pose.changes.insert(pose.changes.end(), changes.begin(), changes.end());
    closeEdit(pose);
    replayEdit(pose, pose.applied - 1, true);
    return true;
}

bool resetPose(Pose& pose) {
    const ArrayHolder<Vector3> zero(new Vector3[pose.count]());
    return setOffsets(pose, zero.get());
}

bool undoEdit(Pose& pose, int32_t& index) {
    if (pose.applied == 0)
        return false;
    const size_t e = --pose.applied;
    replayEdit(pose, e, false);
    index = pose.changes[editStart(pose, e)].index;
    return true;
}

bool redoEdit(Pose& pose, int32_t& index) {
    if (pose.applied == pose.editEnds.size())
        return false;
    const size_t e = pose.applied++;
    replayEdit(pose, e, true);
    index = pose.changes[editStart(pose, e)].index;
    return true;
}

int32_t movedPointCount(const Pose& pose) {
    int32_t moved = 0;
    for (int32_t i = 0; i < pose.count; ++i)
        moved += pose.offsets[i] == Vector3{0.0f, 0.0f, 0.0f} ? 0 : 1;
    return moved;
}

bool savePose(const Pose& pose, const char* fileName, std::string& error) {
    std::string text = "# face-poser: displacement of each moved control point from rest\n";
    for (int32_t i = 0; i < pose.count; ++i) {
        const Vector3& d = pose.offsets[i];
        if (d == Vector3{0.0f, 0.0f, 0.0f})
            continue;
        char line[128];
        const int length =
            std::snprintf(line, sizeof line, "%d %.9g %.9g %.9g\n", i, d.x, d.y, d.z);
        text.append(line, size_t(length));
    }
    return writeFileContents(fileName, text.data(), text.size(), error);
}

bool loadPose(Pose& pose, bool& changed, const char* fileName, std::string& error) {
    std::vector<ControlPointMove> moves;
    if (!readPoseFile(moves, fileName, pose.count, error))
        return false;
    const ArrayHolder<Vector3> target(new Vector3[pose.count]());
    applyMoves(target.get(), moves.data(), moves.size());
    changed = setOffsets(pose, target.get());
    return true;
}
