// The props of an expression library, rigged (prop_rig.h).
#include "tools/common/prop_rig.h"

#include <algorithm>
#include <cmath>

bool isJawPose(const std::string& poseName) { return poseName.rfind("jaw", 0) == 0; }

void addGaze(float& pitch, float& yaw, const std::string& poseName, float weight, bool left) {
    const std::string side = left ? "Left" : "Right";
    const float turn = gazeDegrees * weight;
    if (poseName == "eyeLookUp" + side)
        pitch += turn;
    else if (poseName == "eyeLookDown" + side)
        pitch -= turn;
    // The left eye's ear is at +x and its nose at −x; the right eye's the other way round.
    else if (poseName == "eyeLookOut" + side)
        yaw += left ? turn : -turn;
    else if (poseName == "eyeLookIn" + side)
        yaw += left ? -turn : turn;
}

Vector3 propCentre(const Vector3* positions, int32_t count) {
    if (count == 0)
        return {0.0f, 0.0f, 0.0f};
    Vector3 low = positions[0], high = positions[0];
    for (int32_t v = 1; v < count; ++v) {
        const Vector3& p = positions[v];
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    return (low + high) * 0.5f;
}

namespace {

// The turn about centre by pitch (up) and yaw (towards +x), in degrees: +z, where an eye
// looks at rest, turns to (cos p sin y, sin p, cos p cos y).
Matrix4 turnAbout(const Vector3& centre, float pitchDegrees, float yawDegrees) {
    const float p = pitchDegrees * 3.14159265f / 180.0f, y = yawDegrees * 3.14159265f / 180.0f;
    const float cp = std::cos(p), sp = std::sin(p), cy = std::cos(y), sy = std::sin(y);
    // Columns: the images of x, y and z (the yaw after the pitch).
    const Vector3 X{cy, 0.0f, -sy}, Y{-sy * sp, cp, -cy * sp}, Z{sy * cp, sp, cy * cp};
    const Vector3 t = centre - (X * centre.x + Y * centre.y + Z * centre.z);
    return {{X.x, X.y, X.z, 0.0f, Y.x, Y.y, Y.z, 0.0f, Z.x, Z.y, Z.z, 0.0f, t.x, t.y, t.z, 1.0f}};
}

// An eye's frame transform with its turn and stretch applied about the eye's own centre, and
// the centre carried as the middle of the frame's first two points (the eye's corners) moves:
// x' = L·(x − centre) + centre + (m' − m), L the frame transform's linear part.
bool aboutCentre(Matrix4& transform, const PropFrame& frame, const PropSlotSource& source,
                 const Vector3* rest, const Vector3* points, const Vector3& centre) {
    Vector3 A, B, C, a, b, c;
    propFramePoints(A, B, C, source, rest);
    propFramePoints(a, b, c, source, points);
    if (!frame.currentTransform(transform, a, b, c))
        return false;
    const float* m = transform.m;
    const Vector3 turned = {m[0] * centre.x + m[4] * centre.y + m[8] * centre.z,
                            m[1] * centre.x + m[5] * centre.y + m[9] * centre.z,
                            m[2] * centre.x + m[6] * centre.y + m[10] * centre.z};
    const Vector3 t = centre + ((a + b) * 0.5f - (A + B) * 0.5f) - turned;
    transform.m[12] = t.x;
    transform.m[13] = t.y;
    transform.m[14] = t.z;
    return isFinite(t);
}

} // namespace

void rigPropTransforms(Matrix4* transforms, bool* usable, const PropRig& rig, const Vector3* rest,
                       const Vector3* dragged, const Vector3* jawMoves, const float* pitch,
                       const float* yaw) {
    for (int32_t s = 0; s < propSlotCount; ++s) {
        const PropSlotSource& source = propSlotSources[s];
        const Vector3& centre = rig.centres[s];
        if (!source.alwaysDrawn) { // an eye
            Matrix4 carried;
            usable[s] = aboutCentre(carried, *rig.frames[s], source, rest, dragged, centre);
            const int32_t eye = centre.x > 0.0f ? 0 : 1;
            transforms[s] = carried * turnAbout(centre, pitch[eye], yaw[eye]);
            continue;
        }
        Vector3 A, B, C;
        propFramePoints(A, B, C, source, dragged);
        usable[s] = rig.frames[s]->currentTransform(transforms[s], A, B, C);
        if (s == lowerTeethSlot && jawMoves != nullptr) {
            const Vector3& jaw = jawMoves[source.third[0]];
            transforms[s].m[12] += jaw.x;
            transforms[s].m[13] += jaw.y;
            transforms[s].m[14] += jaw.z;
        }
    }
}
