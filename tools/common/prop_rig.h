// The props (eyes, teeth) as the tools show an expression library: the way a face rig moves
// its joints. The poses named as ARKit names its expressions move the props by what their
// names say: the gaze poses (eyeLookUpLeft, ...) turn their eye about its own centre, the jaw
// poses (jaw...) carry the lower teeth by their move of the lower lip's middle, and every
// other one of them moves no prop (a blink closes the lids over an eye that stays where it
// looks). Drags and poses of other names move the props by their frames (app/prop_frame.h),
// as face-viewer does, but an eye turns about its own centre rather than about its corners.
//
// face-viewer keeps the frames alone: there a blink, which moves the upper lid that an eye's
// frame is spanned by, turns the eye about its corners.
#pragma once

#include "app/prop_frame.h"
#include "geometry/matrix.h"
#include "geometry/vector.h"
#include "io/data_folder.h"

#include <cstdint>
#include <string>

// An eye's turn at a gaze pose's full weight, in degrees: the end of its usual range, as
// capture apps mean a gaze weight of 1.
constexpr float gazeDegrees = 25.0f;

// The prop slot of the lower teeth (black_th1), carried by the jaw poses.
constexpr int32_t lowerTeethSlot = 1;

// Whether a pose (by its name) is a jaw pose of ARKit's (jawOpen, jawForward, ...).
bool isJawPose(const std::string& poseName);

// The gaze a pose of ARKit's at weight gives the eye on the face's left (left) or right:
// pitch up and yaw towards +x, in degrees, added to pitch and yaw. Nothing for other poses.
void addGaze(float& pitch, float& yaw, const std::string& poseName, float weight, bool left);

// A prop's centre at rest: the middle of the box of its positions (count; the origin for
// none), which an eye turns about.
Vector3 propCentre(const Vector3* positions, int32_t count);

// The rig of a scene's props: their frames at rest and each prop's centre at rest
// (propCentre).
struct PropRig {
    const PropFrame* frames[propSlotCount];
    Vector3 centres[propSlotCount];
};

// The transform of each prop (propSlotCount) for a pose: `dragged` (K control points: rest
// plus the moves that are not ARKit's expressions), the jaw poses' moves (K offsets, null for
// none) and each eye's gaze (pitch and yaw in degrees, [0] the left eye, [1] the right).
// usable[s] is false where a frame is degenerate (the transform is then not to be used).
// The identity for every prop when nothing moves.
void rigPropTransforms(Matrix4* transforms, bool* usable, const PropRig& rig, const Vector3* rest,
                       const Vector3* dragged, const Vector3* jawMoves, const float* pitch,
                       const float* yaw);
