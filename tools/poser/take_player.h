// face-poser's player of takes (io/take_file.h): a recorded performance played on the face at
// its own rate in real time, paused, stepped a frame at a time and scrubbed, looped or not.
// Each frame shown is the mix of the library's poses named as ARKit names its expressions at
// the frame's weights (tools/common/take_pose.h), the one sum face-inspect --take --frame and
// --mix of those weights give. The player keeps the library it read when the take was loaded.
#pragma once

#include "geometry/vector.h"
#include "io/pose_file.h"
#include "io/take_file.h"
#include "tools/common/take_pose.h"
#include "tools/poser/pose.h"

#include <cstdint>
#include <string>
#include <vector>

struct TakePlayer {
    std::string file; // the take's file; empty while none is loaded
    Take take;
    std::vector<NamedPose> poses;         // the library when the take was loaded
    int32_t poseOf[arkitExpressionCount]; // each expression's pose in it, −1 none
    bool playing = false;
    bool loop = true;     // at its end the take starts again, else it stops there
    bool headTurn = true; // the take's head rotation turns the face
    double time = 0.0;    // seconds from the take's start
    int32_t frame = 0;    // the frame shown: takeFrameAt(time)
    // The shown frame: its mix (K offsets), its jaw poses' mix (which carries the lower
    // teeth) and its weights by pose name (which turn the eyes).
    int32_t count = 0; // K
    ArrayHolder<Vector3> offsets, jawOffsets;
    std::vector<MixWeight> weights;
};

// Loads fileName as the player's take on a face of K control points, driving the library
// poses (read by the caller from the folder's poses/): replaces what was loaded, paused at the
// first frame. False with one line in error (the file is refused, or the library holds no pose
// of an expression the take names), the player unchanged. warnings receives the reader's lines.
bool loadTake(TakePlayer& player, const char* fileName, std::vector<NamedPose>& poses, int32_t K,
              std::vector<std::string>& warnings, std::string& error);

// Forgets the take.
void closeTake(TakePlayer& player);

// Sets time (kept within the take; wrapped into it when looping) and the frame shown with
// its mix. Returns whether the frame changed.
bool seekTake(TakePlayer& player, double seconds);

// seconds of real time gone by while playing: the time moves on; past the end it wraps when
// looping, else stops at the end, paused. Returns whether the frame changed.
bool advanceTake(TakePlayer& player, double seconds);

// frames forward (or back, when negative): paused, at that frame's time, wrapping round when
// looping, else held at the first or last frame.
void stepTake(TakePlayer& player, int32_t frames);

// The line face-poser shows under the face: the take's name, the frame and the time of the
// take's length, its rate, and what is switched.
std::string takeStatusLine(const TakePlayer& player);
