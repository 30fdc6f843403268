#include "geometry/camera.h"

#include <cmath>

Camera& Camera::setPerspective(const Matrix4& newPose, float fov, float aspect, float newNear,
                               float newFar) {
    setPose(newPose);
    const float width = std::tan(fov / 2.0f) * (2.0f * newNear);
    const float height = width / aspect;
    return setFrustum(width, height, newNear, newFar);
}

Camera& Camera::setPose(const Matrix4& newPose) {
    pose = newPose;
    view = Matrix4::inverse(pose);
    return *this;
}

Camera& Camera::setFrustum(float width, float height, float newNear, float newFar) {
    nearWidth = width;
    nearHeight = height;
    zNear = newNear;
    zFar = newFar;
    updateProjection();
    return *this;
}

void Camera::updateProjection() {
    const float n = zNear, f = zFar;
    projection = Matrix4{};
    projection.m[0] = 2.0f * n / nearWidth;
    projection.m[5] = 2.0f * n / nearHeight;
    projection.m[10] = (f + n) / (n - f);
    projection.m[11] = -1.0f;
    projection.m[14] = 2.0f * f * n / (n - f);
    inverseProjection = Matrix4::inverse(projection);
}

Vector4 Camera::project(const Vector4& p) const {
    const Vector4 e = view * p;
    const float d = -e.z;
    const Vector4 q = {e.x / d, e.y / d, e.z / d, e.w / d};
    return projection * q;
}

Vector4 Camera::unproject(const Vector4& p) const {
    const Vector4 r = inverseProjection * p;
    const Vector4 s = {r.x / r.w, r.y / r.w, r.z / r.w, r.w / r.w};
    return pose * s;
}
