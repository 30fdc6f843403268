// The pose that face-poser edits: each control point's displacement from its rest position
// (what a pose file holds, io/pose_file.h), the control points that show it, and the history
// of edits behind undo and redo. Plain functions on a plain record; nothing here needs a
// window.
//
// The offsets are the pose; every control point not being dragged sits at exactly
// rest + offset, the sum that `face-inspect --pose` forms from the same file, so that a saved
// pose exported by face-inspect gives the positions that face-poser shows and writes.
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
};

// Starts a pose at rest on the scene's control points (K): copies them as the rest
// positions, with zero offsets and no history.
void startPose(Pose& pose, Vector3* points, int32_t count);

// Ends the drag of control point index, which the dragger moved in points: its offset
// becomes points[index] − rest[index] and the point is set to rest + that offset. When the
// offset changed, records the change as one edit (dropping the edits that could be redone)
// and returns true; false when the point did not move.
bool commitDrag(Pose& pose, int32_t index);

// Sets the offsets to target (K entries) as one edit of the points whose offset changes, and
// those points to rest + offset. Returns false when none changes (nothing recorded).
bool setOffsets(Pose& pose, const Vector3* target);

// setOffsets to zero: every control point back at rest, as one edit.
bool resetPose(Pose& pose);

// Takes back the last edit in force (undo) or puts the next one back (redo), setting the
// offsets and points it changed. Returns false when there is none; otherwise index is the
// first control point the edit changed.
bool undoEdit(Pose& pose, int32_t& index);
bool redoEdit(Pose& pose, int32_t& index);

// Control points whose offset is not zero.
int32_t movedPointCount(const Pose& pose);

// Writes the pose file: a comment line, then "I DX DY DZ" for every moved control point in
// index order, the offsets with nine significant digits so that each reads back as the same
// float. Returns false with one line in error ("<file>: cannot be written (<reason>)").
bool savePose(const Pose& pose, const char* fileName, std::string& error);

// Reads a pose file (readPoseFile: its one-line message in error, the pose unchanged, when
// it is refused) and sets the offsets to its moves, added per point in file order from zero,
// as one edit (setOffsets). changed tells whether any offset changed.
bool loadPose(Pose& pose, bool& changed, const char* fileName, std::string& error);
