// GL state around the point-and-line overlays: they are drawn over everything, unlit and
// untextured, and leave the state as they found it.
#include "draw/point_overlay.h"

#include <GL/gl.h>

bool isOn(unsigned int capability) {
    GLboolean on = GL_FALSE;
    glGetBooleanv(capability, &on);
    return on == GL_TRUE;
}

PointOverlayState beginPointOverlay(float pointSize) {
    PointOverlayState saved = {isOn(GL_DEPTH_TEST), isOn(GL_LIGHTING), isOn(GL_TEXTURE_2D), 1.0f};
    glGetFloatv(GL_POINT_SIZE, &saved.pointSize);
    if (saved.depthTest)
        glDisable(GL_DEPTH_TEST);
    if (saved.lighting)
        glDisable(GL_LIGHTING);
    if (saved.texturing)
        glDisable(GL_TEXTURE_2D);
    glPointSize(pointSize);
    return saved;
}

void endPointOverlay(const PointOverlayState& saved) {
    glPointSize(saved.pointSize);
    if (saved.texturing)
        glEnable(GL_TEXTURE_2D);
    if (saved.lighting)
        glEnable(GL_LIGHTING);
    if (saved.depthTest)
        glEnable(GL_DEPTH_TEST);
}
