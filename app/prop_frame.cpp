#include "app/prop_frame.h"

#include <cmath>

namespace {
bool allFinite(const Matrix4& m) {
    for (float e : m.m)
        if (!std::isfinite(e))
            return false;
    return true;
}
} // namespace

Matrix4 frameFromPoints(const Vector3& A, const Vector3& B, const Vector3& C) {
    const Vector3 x = normalize(B - A);
    const Vector3 m = (A + B) * 0.5f;
    const Vector3 n = normalize(C - m);
    const Vector3 y = cross(x, n);
    return {{x.x, x.y, x.z, 0.0f, y.x, y.y, y.z, 0.0f, n.x, n.y, n.z, 0.0f, m.x, m.y, m.z, 1.0f}};
}

bool frameIsDegenerate(const Matrix4& frame) {
    const Vector3 y = {frame.m[4], frame.m[5], frame.m[6]};
    return !allFinite(frame) || !(length(y) >= minSecondAxisLength);
}

Vector3 centroid(const Vector3& p, const Vector3& q, const Vector3& r) {
    return ((p + q) + r) * oneThird;
}

PropFrame::PropFrame(const Vector3& A, const Vector3& B, const Vector3& C) {
    const Matrix4 rest = frameFromPoints(A, B, C);
    degenerateAtRest = frameIsDegenerate(rest);
    restInverse = Matrix4::inverse(rest);
}

bool PropFrame::currentTransform(Matrix4& transform, const Vector3& A, const Vector3& B,
                                 const Vector3& C) const {
    const Matrix4 current = frameFromPoints(A, B, C);
    if (degenerateAtRest || frameIsDegenerate(current))
        return false;
    transform = current * restInverse;
    return allFinite(transform);
}

void propFramePoints(Vector3& A, Vector3& B, Vector3& C, const PropSlotSource& source,
                     const Vector3* controlPoints) {
    A = controlPoints[source.first];
    B = controlPoints[source.second];
    C = source.thirdCount == 3
            ? centroid(controlPoints[source.third[0]], controlPoints[source.third[1]],
                       controlPoints[source.third[2]])
            : controlPoints[source.third[0]];
}
