// Interactive control-point dragging: picking the control point nearest to the cursor on
// screen, moving it so that it stays under the cursor at its depth, and drawing every
// control point as a red dot. Positions on screen are normalised device coordinates (NDC):
// −1 to 1 left to right and bottom to top.
#pragma once

#include "geometry/camera.h"

#include <cstdint>

// Picking radius in NDC units (32 pixels in a 640-pixel window).
constexpr float pickRadius = 0.1f;
// Size of the control-point dots in pixels.
constexpr float controlPointDotSize = 3.0f;

struct ControlPointDragger {
    uint32_t count;  // number of control points
    Vector3* points; // the viewer's control points (not owned), moved in place

    ControlPointDragger(uint32_t pointCount, Vector3* pointArray)
        : count(pointCount), points(pointArray) {}

    // The index of the point whose projection lies nearest to (x, y), strictly within
    // radius; the lower index on equal distances; −1 when none (or no points). Depth plays
    // no part. pickable (count entries, nonzero for a point that may be taken) leaves the
    // others out; null takes every point, as face-viewer does.
    int32_t pick(const Camera& camera, float x, float y, float radius,
                 const uint8_t* pickable = nullptr) const;

    // Moves point index so that its projection lands on (x, y) at its current NDC depth.
    void drag(const Camera& camera, int32_t index, float x, float y);

    // Every point as a red dot over the scene: depth test, lighting and texturing off for
    // the dots, then restored with the point size.
    void drawPoints(const Camera& camera) const;
};
