// The window of face-viewer and face-poser: double-buffered RGB with a depth buffer, at the
// top left of the screen, the viewer's size (640 by 640 at start). For the GLUT layers only:
// the rest of app/ knows nothing of GLUT.
#pragma once

#include "app/viewer.h"

#include <GL/glut.h>

// After glutInit: the display mode, position and size, then the window with this title.
inline void createViewerWindow(const ViewerState& viewer, const char* title) {
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH); // RGB is GLUT's default (value 0)
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(viewer.windowWidth, viewer.windowHeight);
    glutCreateWindow(title);
}
