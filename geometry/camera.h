// The viewer's camera: pose and view, a symmetric perspective projection and its
// inverse, and the near-plane window. A plain value, copied by assignment.
#pragma once

#include "geometry/matrix.h"

struct Camera {
    Matrix4 pose;              // camera to world (the camera looks down its own −z, +y up)
    Matrix4 view;              // world to camera: always Matrix4::inverse(pose)
    Matrix4 projection;        // camera to clip (OpenGL frustum)
    Matrix4 inverseProjection; // clip to camera: Matrix4::inverse(projection)
    float zNear;               // distance of the near plane
    float zFar;                // distance of the far plane
    float nearWidth;           // full width of the near-plane window, centred on the axis
    float nearHeight;          // full height of that window

    // The viewer's complete set-up: fov is the horizontal field of view in radians,
    // aspect = width / height. width = tan(fov/2)·(2·zNear), height = width / aspect.
    Camera& setPerspective(const Matrix4& newPose, float fov, float aspect, float newNear,
                           float newFar);
    // pose = newPose, view = its inverse.
    Camera& setPose(const Matrix4& newPose);
    // Stores the window size (width, height) and the planes, then updateProjection().
    Camera& setFrustum(float width, float height, float newNear, float newFar);
    // projection from zNear, zFar, nearWidth, nearHeight; inverseProjection by the
    // general inverse.
    void updateProjection();
    // projection into GL_PROJECTION, view into GL_MODELVIEW; leaves GL_MODELVIEW current.
    // Defined with the drawing code (draw/camera_matrices.cpp); needs a current GL context.
    void loadMatrices() const;

    // World point to normalised device coordinates: e = view·p, q = e / (−e.z) in all
    // four components, result = projection·q. No guard for e.z = 0.
    Vector4 project(const Vector4& p) const;
    // NDC point to world: r = inverseProjection·p, r / r.w in all four components,
    // result = pose·r. No guard for r.w = 0.
    Vector4 unproject(const Vector4& p) const;
};
