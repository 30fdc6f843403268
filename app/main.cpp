// face-viewer: the GLUT layer. Creates the window, registers the callbacks in one place,
// and forwards every event to the plain operations of app/viewer.h.
#include "app/scene.h"
#include "app/viewer.h"
#include "app/window.h"

#include <GL/glut.h>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

ViewerState viewer; // program-wide navigation state; its camera is built before main
Scene scene;        // the face, its control points, props and dragger

// One line on standard error and status 1: an orderly stop instead of an uncaught exception.
[[noreturn]] void stop(const char* message) {
    std::fprintf(stderr, "face-viewer: %s\n", message);
    std::exit(1);
}

// The GL state, then the scene. A model or prop file that cannot be used, or too little
// memory to load it, ends the program with its one-line message.
void initScene() {
    initGLState();
    std::string error;
    if (!loadScene(scene, error))
        stop(error.c_str());
}

// An exception must not unwind through GLUT's C frames: the frame, which may warn about a
// prop (and so build a message), ends the program itself when memory runs out.
void onDisplay() {
    try {
        beginFrame(viewer);
        drawReferenceFrame();
        drawScene(scene, viewer);
        glutSwapBuffers();
    } catch (const std::bad_alloc&) {
        stop("out of memory while drawing");
    }
}

void onMouse(int button, int state, int x, int y) {
    mouseButtonViewer(viewer, scene.dragger.get(), button, state == GLUT_DOWN, x, y);
}

void onMotion(int x, int y) {
    motionViewer(viewer, scene.dragger.get(), x, y);
    glutPostRedisplay();
}

void onKeyboard(unsigned char key, int /*x*/, int /*y*/) {
    keyboardViewer(viewer, key);
    glutPostRedisplay();
}

} // namespace

int main(int argc, char** argv) try {
    glutInit(&argc, argv);
    createViewerWindow(viewer, argv[0]);
    registerViewerCallbacks(onDisplay, onMouse, onMotion, onKeyboard);
    initScene();
    glutMainLoop();
    return 0;
} catch (const std::bad_alloc&) {
    stop("out of memory");
}
