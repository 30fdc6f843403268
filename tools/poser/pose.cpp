#include "tools/poser/pose.h"

#include "io/file_contents.h"
#include "io/pose_file.h"

#include <algorithm>
#include <cassert>
#include <cstdio>

namespace {

size_t editStart(const Pose& pose, size_t e) { return e == 0 ? 0 : pose.editEnds[e - 1]; }
size_t weightStart(const Pose& pose, size_t e) { return e == 0 ? 0 : pose.weightEditEnds[e - 1]; }

// Drops the edits that could be redone, so that the changes appended next form a new edit.
void dropRedoable(Pose& pose) {
    pose.changes.resize(editStart(pose, pose.applied));
    pose.editEnds.resize(pose.applied);
    pose.weightChanges.resize(weightStart(pose, pose.applied));
    pose.weightEditEnds.resize(pose.applied);
}

void closeEdit(Pose& pose) {
    pose.editEnds.push_back(pose.changes.size());
    pose.weightEditEnds.push_back(pose.weightChanges.size());
    pose.applied = pose.editEnds.size();
}

// Sets a weight of the mix, keeping only the weights that are not zero.
void setWeight(Pose& pose, const std::string& name, float weight) {
    auto it = std::find_if(pose.mix.begin(), pose.mix.end(),
                           [&](const MixWeight& w) { return w.name == name; });
    if (it != pose.mix.end() && weight == 0.0f)
        pose.mix.erase(it);
    else if (it != pose.mix.end())
        it->weight = weight;
    else if (weight != 0.0f)
        pose.mix.push_back({name, weight});
}

void setOffset(Pose& pose, int32_t index, const Vector3& offset) {
    pose.offsets[index] = offset;
    pose.points[index] = pose.rest[index] + offset;
}

// Sets every point and weight of edit e to its value after the edit (forward) or before it.
void replayEdit(Pose& pose, size_t e, bool forward) {
    for (size_t c = editStart(pose, e); c < pose.editEnds[e]; ++c) {
        const PointChange& change = pose.changes[c];
        setOffset(pose, change.index, forward ? change.after : change.before);
    }
    for (size_t c = weightStart(pose, e); c < pose.weightEditEnds[e]; ++c) {
        const WeightChange& change = pose.weightChanges[c];
        setWeight(pose, change.name, forward ? change.after : change.before);
    }
}

// The first point edit e changes, −1 for none.
int32_t firstChanged(const Pose& pose, size_t e) {
    return editStart(pose, e) < pose.editEnds[e] ? pose.changes[editStart(pose, e)].index : -1;
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
    pose.mix.clear();
    pose.weightChanges.clear();
    pose.weightEditEnds.clear();
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

bool editPose(Pose& pose, const Vector3* target, const std::vector<MixWeight>* mix) {
    std::vector<PointChange> changes;
    for (int32_t i = 0; i < pose.count; ++i)
        if (!(target[i] == pose.offsets[i]))
            changes.push_back({i, pose.offsets[i], target[i]});
    std::vector<WeightChange> weights;
    if (mix) {
        for (const MixWeight& w : pose.mix) // those that the new mix leaves out go to 0
            if (std::none_of(mix->begin(), mix->end(),
                             [&](const MixWeight& m) { return m.name == w.name; }))
                weights.push_back({w.name, w.weight, 0.0f});
        for (const MixWeight& m : *mix)
            if (mixWeight(pose, m.name) != m.weight)
                weights.push_back({m.name, mixWeight(pose, m.name), m.weight});
    }
    if (changes.empty() && weights.empty())
        return false;
    dropRedoable(pose);
    pose.changes.insert(pose.changes.end(), changes.begin(), changes.end());
    pose.weightChanges.insert(pose.weightChanges.end(), weights.begin(), weights.end());
    closeEdit(pose);
    replayEdit(pose, pose.applied - 1, true);
    return true;
}

bool setOffsets(Pose& pose, const Vector3* target) {
    const std::vector<MixWeight> none;
    return editPose(pose, target, &none);
}

float mixWeight(const Pose& pose, const std::string& name) {
    for (const MixWeight& w : pose.mix)
        if (w.name == name)
            return w.weight;
    return 0.0f;
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
    index = firstChanged(pose, e);
    return true;
}

bool redoEdit(Pose& pose, int32_t& index) {
    if (pose.applied == pose.editEnds.size())
        return false;
    const size_t e = pose.applied++;
    replayEdit(pose, e, true);
    index = firstChanged(pose, e);
    return true;
}

int32_t movedPointCount(const Pose& pose) {
    int32_t moved = 0;
    for (int32_t i = 0; i < pose.count; ++i)
        moved += pose.offsets[i] == Vector3{0.0f, 0.0f, 0.0f} ? 0 : 1;
    return moved;
}

bool savePose(const Pose& pose, const char* fileName, std::string& error) {
    return savePoseOffsets(pose.offsets.get(), pose.count, fileName, error);
}

bool savePoseOffsets(const Vector3* offsets, int32_t K, const char* fileName, std::string& error) {
    std::string text = "# face-poser: displacement of each moved control point from rest\n";
    for (int32_t i = 0; i < K; ++i) {
        const Vector3& d = offsets[i];
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
