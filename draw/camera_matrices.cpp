// The camera into OpenGL's matrix stacks (Camera::loadMatrices, declared with the camera in
// geometry/camera.h): the camera's arithmetic stays free of GL.
#include "geometry/camera.h"

#include <GL/gl.h>

void Camera::loadMatrices() const {
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(projection.m);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(view.m);
}
