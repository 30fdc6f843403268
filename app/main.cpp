// face-viewer: the GLUT layer. Creates the window, registers the callbacks in one place,
// and forwards every event to the plain operations of app/viewer.h.
#include "app/scene.h"
#include "app/viewer.h"

#include <GL/glut.h>
#include <cstdio>
#include <cstdlib>

namespace {

ViewerState viewer; // program-wide navigation state; its camera is built before main
Scene scene;        // the face, its control points, props and dragger

// The GL state, then the scene. A model or prop file that cannot be used ends the program
// with its one-line message.
void initScene() {
    initGLState();
    std::string error;
    if (!loadScene(scene, error)) {
        std::fprintf(stderr, "face-viewer: %s\n", error.c_str());
        std::exit(1);
    }
}

void onReshape(int width, int height) { reshapeViewer(viewer, width, height); }

void onDisplay() {
    beginFrame(viewer);
    drawReferenceFrame();
    drawScene(scene, viewer);
    glutSwapBuffers();
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

void onSpecialKey(int key, int /*x*/, int /*y*/) {
    specialKeyViewer(viewer, key);
    glutPostRedisplay();
}

} // namespace

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH); // RGB is GLUT's default (value 0)
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(viewer.windowWidth, viewer.windowHeight);
    glutCreateWindow(argv[0]);
    glutReshapeFunc(onReshape);
    glutDisplayFunc(onDisplay);
    glutMouseFunc(onMouse);
    glutMotionFunc(onMotion);
    glutKeyboardFunc(onKeyboard);
    glutSpecialFunc(onSpecialKey);
    initScene();
    glutMainLoop();
    return 0;
}
