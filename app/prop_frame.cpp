#include "app/prop_frame.h"

Matrix4 frameFromPoints(const Vector3& A, const Vector3& B, const Vector3& C) {
    const Vector3 x = normalize(B - A);
    const Vector3 m = (A + B) * 0.5f;
    const Vector3 n = normalize(C - m);
    const Vector3 y = cross(x, n);
    return {{x.x, x.y, x.z, 0.0f, y.x, y.y, y.z, 0.0f, n.x, n.y, n.z, 0.0f, m.x, m.y, m.z, 1.0f}};
}

Vector3 centroid(const Vector3& p, const Vector3& q, const Vector3& r) {
    return ((p + q) + r) * oneThird;
}

PropFrame::PropFrame(const Vector3& A, const Vector3& B, const Vector3& C)
    : restInverse(Matrix4::inverse(frameFromPoints(A, B, C))) {}

Matrix4 PropFrame::currentTransform(const Vector3& A, const Vector3& B, const Vector3& C) const {
    return frameFromPoints(A, B, C) * restInverse;
}
