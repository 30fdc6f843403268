// The viewer's navigation state and the plain operations behind its GLUT callbacks:
// the frame's camera, reshape, keys, special keys and mouse rotation. The GLUT layer
// (app/main.cpp) only forwards events here and posts redraws, so tests drive all of
// this without a window.
#pragma once

#include "face/draw_flags.h"
#include "geometry/camera.h"

struct ControlPointDragger;

#include <cstdint>

// GLUT's code of the right mouse button (GLUT_RIGHT_BUTTON; the library itself is not
// needed here), which picks and drags control points.
constexpr int rightButton = 2;

// Fixed parameters of the frame's camera.
constexpr float cameraFieldOfView = 1.2217f; // horizontal, radians (about 70 degrees)
constexpr float cameraNear = 1.0f;
constexpr float cameraFar = 100.0f;
constexpr float initialCameraDistance = 25.0f;
constexpr float distanceStep = 0.25f;     // "+" and "-"
constexpr float offsetStep = 0.25f;       // arrow, page and home keys
constexpr float dragTurnFactor = 3.1416f; // radians per window width or height of drag
constexpr double referenceCubeEdge = 19.0;

// Camera of the identity pose with the frame's parameters for the given window.
Camera makeFrameCamera(const Matrix4& pose, int32_t windowWidth, int32_t windowHeight);

struct ViewerState {
    int32_t windowWidth = 640;
    int32_t windowHeight = 640;
    float cameraDistance = initialCameraDistance;
    float viewYaw = 0.0f;   // radians, turn about the vertical axis
    float viewPitch = 0.0f; // radians, turn about the horizontal axis
    Vector3 viewOffset = {0.0f, 0.0f, 0.0f};
    uint32_t drawFlags = 0;
    bool showEyes = false;
    bool deformMode = false;
    int32_t selectedPoint = -1; // control point being dragged, −1 for none
    int32_t lastMouseX = 0;     // window pixels, origin top left
    int32_t lastMouseY = 0;
    Matrix4 cameraPose = Matrix4::identity();
    Camera camera = makeFrameCamera(Matrix4::identity(), 640, 640);
};

// Camera-to-world pose T(viewOffset)·Rx(−pitch)·Ry(−yaw)·T(0, 0, cameraDistance).
Matrix4 computeCameraPose(const ViewerState& state);

// Frame steps 1 to 3: rebuild cameraPose and camera, load the camera into OpenGL
// (GL_MODELVIEW stays current).
void beginFrame(ViewerState& state);

// The OpenGL state set once at start-up (lighting, culling, texturing, a placeholder ortho
// projection that the first frame replaces).
void initGLState();

// Frame steps 4 and 5: clear, and draw the red reference cube untextured and unlit,
// leaving lighting and depth test on and texturing as it was.
void drawReferenceFrame();

// Stores the window size and sets the viewport.
void reshapeViewer(ViewerState& state, int32_t width, int32_t height);

// Key effects (space, "+", "-", "a", "c", "e", "h", "t"; other keys change nothing).
// "t" switches GL_TEXTURE_2D directly and so needs a current GL context.
void keyboardViewer(ViewerState& state, unsigned char key);

// Arrow, page and home keys slide viewOffset along the axes of the last frame's pose.
void specialKeyViewer(ViewerState& state, int key);

// A mouse button event (GLUT's button code, pressed or released, window position). A right
// press in deformation mode with no point selected picks the control point nearest to the
// cursor within pickRadius; the right release ends the drag. Every event stores the position
// as the origin of the next motion step. dragger may be null (no control points); pickable,
// when given, holds one entry per control point, nonzero for those the press may pick
// (ControlPointDragger::pick).
void mouseButtonViewer(ViewerState& state, const ControlPointDragger* dragger, int button,
                       bool pressed, int32_t x, int32_t y, const uint8_t* pickable = nullptr);

// Mouse motion with a button held: drags the selected control point in deformation mode,
// otherwise turns the view.
void motionViewer(ViewerState& state, ControlPointDragger* dragger, int32_t x, int32_t y);

// Mouse motion that is not a control-point drag: turns the view by the distance from the
// last stored position and stores the new one.
void rotateViewer(ViewerState& state, int32_t x, int32_t y);

// Normalised device coordinates of a window position (numerators in integers).
void windowToDevice(float& nx, float& ny, const ViewerState& state, int32_t x, int32_t y);
