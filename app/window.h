// The window of face-viewer and face-poser: double-buffered RGB with a depth buffer, at the
// top left of the screen, the viewer's size (640 by 640 at start). For the GLUT layers only:
// the rest of app/ knows nothing of GLUT.
#pragma once

#include "app/viewer.h"

#include <GL/glut.h>

// The navigation state of the program's window, which the callbacks below act on.
inline ViewerState*& windowNavigation() {
    static ViewerState* navigation = nullptr;
    return navigation;
}

// The callbacks that act on the navigation state alone, the same in both programs.
inline void onReshape(int width, int height) { reshapeViewer(*windowNavigation(), width, height); }
inline void onSpecialKey(int key, int /*x*/, int /*y*/) {
    specialKeyViewer(*windowNavigation(), key);
    glutPostRedisplay();
}

// After glutInit: the display mode, position and size, then the window with this title; the
// window's navigation state is viewer.
inline void createViewerWindow(ViewerState& viewer, const char* title) {
    windowNavigation() = &viewer;
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH); // RGB is GLUT's default (value 0)
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(viewer.windowWidth, viewer.windowHeight);
    glutCreateWindow(title);
}

// Registers the callbacks, in this order: reshape and display, mouse and motion, keyboard and
// special keys; reshape and special keys are the shared ones above.
inline void registerViewerCallbacks(void (*display)(), void (*mouse)(int, int, int, int),
                                    void (*motion)(int, int),
                                    void (*keyboard)(unsigned char, int, int)) {
    glutReshapeFunc(onReshape);
    glutDisplayFunc(display);
    glutMouseFunc(mouse);
    glutMotionFunc(motion);
    glutKeyboardFunc(keyboard);
    glutSpecialFunc(onSpecialKey);
}
