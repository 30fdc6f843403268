// A take (io/take_file.h) on a face that wears the expression library: each frame is the mix
// of the library's poses named as ARKit names its expressions, at the take's weights, and the
// head turns as the take says. face-poser plays it this way and face-inspect exports it, so a
// frame shown, a frame exported and --mix of that frame's weights are the same face, bit for
// bit.
#pragma once

#include "geometry/matrix.h"
#include "geometry/vector.h"
#include "io/pose_file.h"
#include "io/take_file.h"
#include "tools/common/pose_mix.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// For each of ARKit's expressions (arkitExpressionNames' order), the index of the pose of
// that name among poses (count), or −1 where the library has none: poseOf[arkitExpressionCount].
void findDrivenPoses(int32_t* poseOf, const NamedPose* poses, size_t count);

// The library's poses that a take drives (poseOf not −1 for an expression the take names).
int32_t drivenPoseCount(const Take& take, const int32_t* poseOf);

// The expressions the take names that the library has no pose of, "a, b and c" (empty for
// none).
std::string undrivenExpressions(const Take& take, const int32_t* poseOf);

// The terms of frame's mix (replaced): each driven pose at the frame's weight, those of
// weight 0 left out, for mixOffsets (tools/common/pose_mix.h), which sums them in the
// library's order whatever their order here.
void takeFrameTerms(std::vector<MixTerm>& terms, const Take& take, int32_t frame,
                    const NamedPose* poses, const int32_t* poseOf);

// A rotation as a unit quaternion (x, y, z, w).
struct Quaternion {
    float x, y, z, w;
};

// The head's turn at frame: yaw about the face's up axis (+y), then pitch about its
// left-right axis (+x), then roll about its front axis (+z), each by the right-hand rule and
// applied in that order to the head (R = Ry(yaw) · Rx(pitch) · Rz(roll)), so a positive yaw
// turns the face towards its left (+x), a positive pitch tips it down, a positive roll leans
// its top towards its right. The identity for a take without rotations.
Quaternion takeHeadTurn(const Take& take, int32_t frame);

// q as a rotation matrix.
Matrix4 rotationMatrix(const Quaternion& q);

// The rotation about pivot by q: p ↦ pivot + R·(p − pivot).
Matrix4 turnAbout(const Quaternion& q, const Vector3& pivot);

// The point a head turns about: the middle of the box of positions (count); the origin for
// none.
Vector3 headPivot(const Vector3* positions, int32_t count);
