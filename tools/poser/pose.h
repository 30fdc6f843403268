// The pose that face-poser edits: each control point's displacement from its rest position
// (what a pose file holds, io/pose_file.h), the control points that show it, and the history
// of edits behind undo and redo. Plain functions on a plain record; nothing here needs a
// window.
//
// The offsets are the pose; every control point not being dragged sits at exactly
// rest + offset, the sum that `face-inspect --pose` forms from the same file, so that a saved
// pose exported by face-inspect gives the positions that face-poser shows and writes.
//
// The mix: the weight of each library pose mixed into the offsets since the pose was last
// replaced whole (reset, loaded, mirrored). A change of weight is an edit like a drag, and
// undo and redo put the weights back with the offsets.
#pragma once

#include "geometry/vector.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One control point's offset before and after an edit.
struct PointChange {
    int32_t index;
    Vector3 before, after;
};

// A library pose's weight in the mix (tools/common/pose_mix.h), and its change in an edit.
struct MixWeight {
    std::string name;
    float weight;
};
struct WeightChange {
    std::string name;
    float before, after;
};

struct Pose {
    int32_t count = 0;            // K control points
    ArrayHolder<Vector3> rest;    // K, the control points as loaded
    ArrayHolder<Vector3> offsets; // K, displacement from rest
    Vector3* points = nullptr;    // K, the scene's control points (not owned)
    // The edits, each a run of changes of distinct points: edit e holds
    // changes[editEnds[e − 1] .. editEnds[e] − 1] (from 0 for e = 0). The first `applied`
    // edits are in force; those after them can be redone.
    std::vector<PointChange> changes;
    std::vector<size_t> editEnds;
    size_t applied = 0;
    // The weights not zero, and the weight changes of the edits: edit e holds
    // weightChanges[weightEditEnds[e − 1] .. weightEditEnds[e] − 1].
    std::vector<MixWeight> mix;
    std::vector<WeightChange> weightChanges;
    std::vector<size_t> weightEditEnds;
};

// Starts a pose at rest on the scene's control points (K): copies them as the rest
// positions, with zero offsets and no history.
void startPose(Pose& pose, Vector3* points, int32_t count);

// Ends the drag of control point index, which the dragger moved in points: its offset
// becomes points[index] − rest[index] and the point is set to rest + that offset. When the
// offset changed, records the change as one edit (dropping the edits that could be redone)
// and returns true; false when the point did not move.
bool commitDrag(Pose& pose, int32_t index);

// Sets the offsets to target (K entries) and the mix's weights to mix (names not there at 0;
// null keeps the weights) as one edit of the points whose offset changes and the weights
// that change, and those points to rest + offset. Returns false when nothing changes
// (nothing recorded).
bool editPose(Pose& pose, const Vector3* target, const std::vector<MixWeight>* mix);

// editPose of a pose replaced whole: the offsets set to target, every weight to 0.
bool setOffsets(Pose& pose, const Vector3* target);

// setOffsets to zero: every control point back at rest, as one edit.
bool resetPose(Pose& pose);

// The weight of the named library pose in the mix (0 when it has none).
float mixWeight(const Pose& pose, const std::string& name);

// Takes back the last edit in force (undo) or puts the next one back (redo), setting the
// offsets and points it changed and its weights. Returns false when there is none;
// otherwise index is the first control point the edit changed (−1 for an edit of weights
// alone).
bool undoEdit(Pose& pose, int32_t& index);
bool redoEdit(Pose& pose, int32_t& index);

// Control points whose offset is not zero.
int32_t movedPointCount(const Pose& pose);

// Writes the pose file: a comment line, then "I DX DY DZ" for every moved control point in
// index order, the offsets with nine significant digits so that each reads back as the same
// float. Returns false with one line in error ("<file>: cannot be written (<reason>)").
bool savePose(const Pose& pose, const char* fileName, std::string& error);

// The same for any offsets (K), such as a half of the pose.
bool savePoseOffsets(const Vector3* offsets, int32_t K, const char* fileName, std::string& error);

// Reads a pose file (readPoseFile: its one-line message in error, the pose unchanged, when
// it is refused) and sets the offsets to its moves, added per point in file order from zero,
// as one edit (setOffsets). changed tells whether any offset changed.
bool loadPose(Pose& pose, bool& changed, const char* fileName, std::string& error);
