// A take (io/take_file.h) written as an animation of a glTF scene that carries the library's
// shape keys: one animation whose weights channel follows the take's weights, key by key at the
// take's times, linear between them, and whose rotation channel turns the whole scene about
// the head's pivot as the take turns the head. Blender, three.js and game engines play it.
#pragma once

#include "geometry/vector.h"
#include "io/import_record.h"
#include "io/pose_file.h"
#include "io/take_file.h"
#include "tools/common/take_pose.h"

#include <cstddef>
#include <string>
#include <vector>

struct SceneAnimation {
    std::string name;                   // the animation's name (the take's file name)
    std::vector<float> times;           // F key times in seconds, strictly increasing from 0
    std::vector<int32_t> frames;        // F: the take's frame of each key
    std::vector<float> weights;         // F × shapeCount: key k's weight of shape s at [k·S + s]
    std::vector<Quaternion> turns;      // F head turns in the scene's coordinates; empty: none
    Vector3 pivot = {0.0f, 0.0f, 0.0f}; // the point they turn about, in the scene's coordinates
};

// The animation of take on a scene whose shape keys are poses (count, the order of the keys):
// a key for each frame whose time, as a float, is later than the last key's (glTF's key times
// increase strictly; a frame at the time of the one before it is passed over), each shape
// named as one of ARKit's expressions at the frame's weight of it, any other at 0. The head
// turns (takeHeadTurn, when the take gives rotations and headTurn is set) about pivot (model
// units), taken into the scene's coordinates through record's placement (null: the scene is in
// model units).
void takeAnimation(SceneAnimation& animation, const std::string& name, const Take& take,
                   const NamedPose* poses, size_t count, const ImportRecord* record,
                   const Vector3& pivot, bool headTurn);

// Adds animation to a binary glTF file held in glb (replaced by the new file's bytes): its key
// data appended to the binary chunk, one accessor of the key times (shared by every sampler),
// a weights channel for every node whose mesh has shapeCount morph targets, and, with turns,
// the scene's root nodes put under a node that turns about the pivot (a node at the pivot,
// turning, and under it one that takes the pivot back to the origin). False with the problem
// in a few words when glb is not a binary glTF file as written here.
bool animateGlb(std::string& glb, const SceneAnimation& animation, size_t shapeCount,
                std::string& problem);
