// face-poser without a window: its scene started on a folder in the current (offscreen)
// context, and a right-button drag of a control point through its mouse handlers as GLUT calls
// them, from the camera of the frame last drawn. For the tests of symmetry, regions and mixes.
#pragma once

#include "tools/poser/poser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

constexpr int rightMouseButton = 2; // GLUT_RIGHT_BUTTON

// A folder whose data/ is the committed one (a link), so that what face-poser writes (the
// pose library) goes into the folder and not into the repository.
inline std::string linkCommittedData(const std::string& folder) {
    std::filesystem::create_directory_symlink(FACE_SOURCE_DIR "/data", folder + "/data");
    return folder;
}

// startPoser on folder, its start-up lines swallowed; the view at face-viewer's start.
inline bool startPoserQuietly(Poser& poser, Scene& scene, const std::string& folder) {
    initGLState();
    std::string error;
    testing::internal::CaptureStdout();
    const bool started = startPoser(poser, scene, folder, nullptr, error);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(started) << error;
    return started;
}

// The window pixel where point p shows in the last frame.
inline void windowPosition(int32_t& x, int32_t& y, const ViewerState& state, const Vector3& p) {
    const Vector4 o = state.camera.project({p.x, p.y, p.z, 1.0f});
    x = int32_t(std::lround((o.x + 1.0f) * 0.5f * float(state.windowWidth)));
    y = int32_t(std::lround((1.0f - o.y) * 0.5f * float(state.windowHeight)));
}

// In deformation mode: a frame (which marks the points facing the camera), a right press on
// control point index, steps motions that take the cursor by (dx, dy) pixels, then the
// release unless held (the drag then stays in progress). Returns the point picked.
inline int32_t dragInPoser(Poser& poser, ViewerState& state, Scene& scene, int32_t index,
                           int32_t dx, int32_t dy, int32_t steps = 3, bool held = false) {
    state.deformMode = true;
    drawPoserFrame(poser, scene, state);
    int32_t x, y;
    windowPosition(x, y, state, scene.controlPoints[index]);
    poserMouseButton(poser, state, scene, rightMouseButton, true, x, y);
    const int32_t picked = state.selectedPoint;
    for (int32_t s = 1; s <= steps; ++s)
        poserMotion(poser, state, scene, x + dx * s / steps, y + dy * s / steps);
    if (!held)
        poserMouseButton(poser, state, scene, rightMouseButton, false, x + dx, y + dy);
    return picked;
}

// Keys typed into face-poser, what they print swallowed.
inline void typeKeys(Poser& poser, ViewerState& state, Scene& scene, const std::string& keys) {
    testing::internal::CaptureStdout();
    for (char key : keys)
        poserKey(poser, state, scene, static_cast<unsigned char>(key));
    testing::internal::GetCapturedStdout();
}

// The render mesh's positions and normals after one update from controlPoints, as face-inspect
// --dump positions prints them.
inline std::string dumpedPositions(FaceModel& face, const Vector3* controlPoints) {
    face.update(face.renderPositions.get(), face.renderNormals.get(), controlPoints);
    std::string text;
    for (int32_t i = 0; i < face.renderVertexCount; ++i) {
        const Vector3 &p = face.renderPositions[i], &n = face.renderNormals[i];
        char line[256];
        std::snprintf(line, sizeof line, "%.9g %.9g %.9g %.9g %.9g %.9g\n", p.x, p.y, p.z, n.x, n.y,
                      n.z);
        text += line;
    }
    return text;
}
