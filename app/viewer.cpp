#include "app/viewer.h"

#include "app/dragger.h"
#include "app/wire_cube.h"

#include <GL/gl.h>
#include <cmath>

namespace {
// GLUT's special-key codes (the library itself is not needed here).
constexpr int keyLeft = 100, keyUp = 101, keyRight = 102, keyDown = 103;
constexpr int keyPageUp = 104, keyPageDown = 105, keyHome = 106;

// A zero-sized window (minimised) would give a zero or infinite aspect ratio, non-finite
// projection elements and divisions by zero in the mouse handlers; such a window is
// measured as one pixel instead.
float windowExtent(int32_t pixels) { return static_cast<float>(pixels > 0 ? pixels : 1); }

float windowAspect(int32_t width, int32_t height) {
    return windowExtent(width) / windowExtent(height);
}
} // namespace

Camera makeFrameCamera(const Matrix4& pose, int32_t windowWidth, int32_t windowHeight) {
    Camera camera;
    camera.setPerspective(pose, cameraFieldOfView, windowAspect(windowWidth, windowHeight),
                          cameraNear, cameraFar);
    return camera;
}

Matrix4 computeCameraPose(const ViewerState& state) {
    const float cy = std::cos(state.viewYaw), sy = std::sin(state.viewYaw);
    const float cp = std::cos(state.viewPitch), sp = std::sin(state.viewPitch);
    // Rows of R = Rx(−pitch)·Ry(−yaw).
    const float r[3][3] = {{cy, 0.0f, -sy}, {sp * sy, cp, sp * cy}, {cp * sy, -sp, cp * cy}};
    Matrix4 pose = Matrix4::identity();
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            pose.m[4 * col + row] = r[row][col];
    const float d = state.cameraDistance;
    pose.m[12] = state.viewOffset.x + d * r[0][2];
    pose.m[13] = state.viewOffset.y + d * r[1][2];
    pose.m[14] = state.viewOffset.z + d * r[2][2];
    return pose;
}

void beginFrame(ViewerState& state) {
    state.cameraPose = computeCameraPose(state);
    state.camera = makeFrameCamera(state.cameraPose, state.windowWidth, state.windowHeight);
    state.camera.loadMatrices();
}

void initGLState() {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    const GLfloat diffuse[4] = {0.9f, 0.9f, 0.9f, 1.0f};
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glCullFace(GL_BACK);
    glEnable(GL_CULL_FACE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_TEXTURE_2D);
    // Replaced by the camera's projection in the first frame.
    glMatrixMode(GL_PROJECTION);
    glOrtho(-10.0, 10.0, -10.0, 10.0, 1.0, 100.0);
}

void drawReferenceFrame() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_LIGHTING);
    glColor3f(1.0f, 0.0f, 0.0f);
    GLboolean textured = GL_FALSE;
    glGetBooleanv(GL_TEXTURE_2D, &textured);
    if (textured)
        glDisable(GL_TEXTURE_2D);
    drawWireCube(referenceCubeEdge);
    if (textured)
        glEnable(GL_TEXTURE_2D);
    glEnable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
}

void reshapeViewer(ViewerState& state, int32_t width, int32_t height) {
    state.windowWidth = width;
    state.windowHeight = height;
    glViewport(0, 0, width, height);
}

void keyboardViewer(ViewerState& state, unsigned char key) {
    switch (key) {
    case ' ':
        state.deformMode = !state.deformMode;
        state.selectedPoint = -1;
        break;
    case '+':
        state.cameraDistance -= distanceStep;
        break;
    case '-':
        state.cameraDistance += distanceStep;
        break;
    case 'a':
        state.drawFlags ^= drawAttachments;
        break;
    case 'c':
        state.drawFlags ^= drawControlMesh;
        break;
    case 'e':
        state.showEyes = !state.showEyes;
        break;
    case 'h':
        state.drawFlags ^= drawHintingSamples;
        break;
    case 't': {
        GLboolean textured = GL_FALSE;
        glGetBooleanv(GL_TEXTURE_2D, &textured);
        if (textured)
            glDisable(GL_TEXTURE_2D);
        else
            glEnable(GL_TEXTURE_2D);
        break;
    }
    default:
        break;
    }
}

void specialKeyViewer(ViewerState& state, int key) {
    // The camera's right (X), up (Y) and backward (Z) axes from the last frame's pose.
    const float* m = state.cameraPose.m;
    const Vector3 X = {m[0], m[1], m[2]};
    const Vector3 Y = {m[4], m[5], m[6]};
    const Vector3 Z = {m[8], m[9], m[10]};
    Vector3& o = state.viewOffset;
    switch (key) {
    case keyLeft:
        o = o - offsetStep * X;
        break;
    case keyUp:
        o = o + offsetStep * Y;
        break;
    case keyRight:
        o = o + offsetStep * X;
        break;
    case keyDown:
        o = o - offsetStep * Y;
        break;
    case keyPageUp:
        o = o + offsetStep * Z;
        break;
    case keyPageDown:
        o = o - offsetStep * Z;
        break;
    case keyHome:
        o = {0.0f, 0.0f, 0.0f};
        break;
    default:
        break;
    }
}

void rotateViewer(ViewerState& state, int32_t x, int32_t y) {
    const int32_t dx = x - state.lastMouseX;
    const int32_t dy = y - state.lastMouseY;
    state.viewYaw += static_cast<float>(dx) * dragTurnFactor / windowExtent(state.windowWidth);
    state.viewPitch += static_cast<float>(dy) * dragTurnFactor / windowExtent(state.windowHeight);
    state.lastMouseX = x;
    state.lastMouseY = y;
}

void windowToDevice(float& nx, float& ny, const ViewerState& state, int32_t x, int32_t y) {
    nx = static_cast<float>(2 * x - state.windowWidth) / windowExtent(state.windowWidth);
    ny = static_cast<float>(state.windowHeight - 2 * y) / windowExtent(state.windowHeight);
}

void mouseButtonViewer(ViewerState& state, const ControlPointDragger* dragger, int button,
                       bool pressed, int32_t x, int32_t y, const uint8_t* pickable) {
    if (button == rightButton) {
        // GLUT's reported state decides, rather than a flag flipped on every event, so a
        // release lost to another window cannot invert press and release for the rest of
        // the run.
        if (!pressed) {
            state.selectedPoint = -1;
        } else if (state.deformMode && state.selectedPoint == -1 && dragger) {
            float nx, ny;
            windowToDevice(nx, ny, state, x, y);
            state.selectedPoint = dragger->pick(state.camera, nx, ny, pickRadius, pickable);
        }
    }
    state.lastMouseX = x;
    state.lastMouseY = y;
}

void motionViewer(ViewerState& state, ControlPointDragger* dragger, int32_t x, int32_t y) {
    if (!(state.deformMode && state.selectedPoint >= 0 && dragger)) {
        rotateViewer(state, x, y);
        return;
    }
    float nx, ny;
    windowToDevice(nx, ny, state, x, y);
    dragger->drag(state.camera, state.selectedPoint, nx, ny);
    state.lastMouseX = x;
    state.lastMouseY = y;
}
