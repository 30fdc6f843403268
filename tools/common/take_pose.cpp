#include "tools/common/take_pose.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void findDrivenPoses(int32_t* poseOf, const NamedPose* poses, size_t count) {
    for (int32_t e = 0; e < arkitExpressionCount; ++e) {
        poseOf[e] = -1;
        for (size_t k = 0; k < count && poseOf[e] < 0; ++k)
            if (poses[k].name == arkitExpressionNames[e])
                poseOf[e] = int32_t(k);
    }
}

int32_t drivenPoseCount(const Take& take, const int32_t* poseOf) {
    int32_t count = 0;
    for (int32_t e = 0; e < arkitExpressionCount; ++e)
        count += poseOf[e] >= 0 && take.named[size_t(e)] ? 1 : 0;
    return count;
}

std::string undrivenExpressions(const Take& take, const int32_t* poseOf) {
    std::vector<std::string> names;
    for (int32_t e = 0; e < arkitExpressionCount; ++e)
        if (take.named[size_t(e)] && poseOf[e] < 0)
            names.push_back(arkitExpressionNames[e]);
    std::string list;
    for (size_t k = 0; k < names.size(); ++k)
        list += (k == 0 ? "" : k + 1 == names.size() ? " and " : ", ") + names[k];
    return list;
}

void takeFrameTerms(std::vector<MixTerm>& terms, const Take& take, int32_t frame,
                    const NamedPose* poses, const int32_t* poseOf) {
    terms.clear();
    const float* weights = &take.weights[size_t(frame) * arkitExpressionCount];
    for (int32_t e = 0; e < arkitExpressionCount; ++e) {
        if (poseOf[e] < 0 || weights[e] == 0.0f)
            continue;
        const NamedPose& pose = poses[poseOf[e]];
        terms.push_back({pose.name, weights[e], pose.moves.data(), pose.moves.size()});
    }
}

namespace {

Quaternion multiply(const Quaternion& a, const Quaternion& b) {
    return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
            a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,
            a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

// The turn by angle (radians) about a coordinate axis (0 x, 1 y, 2 z).
Quaternion axisTurn(int axis, float angle) {
    const float s = std::sin(0.5f * angle), c = std::cos(0.5f * angle);
    Quaternion q = {0.0f, 0.0f, 0.0f, c};
    (axis == 0 ? q.x : axis == 1 ? q.y : q.z) = s;
    return q;
}

} // namespace

Quaternion takeHeadTurn(const Take& take, int32_t frame) {
    if (take.rotations.empty())
        return {0.0f, 0.0f, 0.0f, 1.0f};
    const float* r = &take.rotations[size_t(frame) * takeRotationCount];
    const Quaternion q =
        multiply(multiply(axisTurn(1, r[takeHeadYaw]), axisTurn(0, r[takeHeadPitch])),
                 axisTurn(2, r[takeHeadRoll]));
    // Unit to float rounding already; normalised again so that every reader takes it as one.
    const float n = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    return {q.x / n, q.y / n, q.z / n, q.w / n};
}

Matrix4 rotationMatrix(const Quaternion& q) {
    const float x = q.x, y = q.y, z = q.z, w = q.w;
    Matrix4 m = Matrix4::identity();
    m.m[0] = 1.0f - 2.0f * (y * y + z * z);
    m.m[1] = 2.0f * (x * y + z * w);
    m.m[2] = 2.0f * (x * z - y * w);
    m.m[4] = 2.0f * (x * y - z * w);
    m.m[5] = 1.0f - 2.0f * (x * x + z * z);
    m.m[6] = 2.0f * (y * z + x * w);
    m.m[8] = 2.0f * (x * z + y * w);
    m.m[9] = 2.0f * (y * z - x * w);
    m.m[10] = 1.0f - 2.0f * (x * x + y * y);
    return m;
}

Matrix4 turnAbout(const Quaternion& q, const Vector3& pivot) {
    Matrix4 m = rotationMatrix(q);
    const Vector4 turned = m * Vector4{pivot.x, pivot.y, pivot.z, 0.0f};
    m.m[12] = pivot.x - turned.x;
    m.m[13] = pivot.y - turned.y;
    m.m[14] = pivot.z - turned.z;
    return m;
}

Vector3 headPivot(const Vector3* positions, int32_t count) {
    if (count <= 0)
        return {0.0f, 0.0f, 0.0f};
    Vector3 low = positions[0], high = positions[0];
    for (int32_t i = 1; i < count; ++i) {
        low = {std::min(low.x, positions[i].x), std::min(low.y, positions[i].y),
               std::min(low.z, positions[i].z)};
        high = {std::max(high.x, positions[i].x), std::max(high.y, positions[i].y),
                std::max(high.z, positions[i].z)};
    }
    return 0.5f * (low + high);
}
