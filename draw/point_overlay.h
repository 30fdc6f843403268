// GL state around the point-and-line overlays (attachments, hinting samples, control-point
// dots): they are drawn over everything, unlit and untextured, and leave the state as they
// found it.
#pragma once

// Whether the GL capability (GL_DEPTH_TEST, GL_BLEND, ...) is switched on, by glGetBooleanv.
bool isOn(unsigned int capability);

struct PointOverlayState {
    bool depthTest, lighting, texturing; // which of the three switches were on
    float pointSize;                     // the point size before the overlay
};

// Saves the depth-test, lighting and texturing switches and the point size, switches off
// those of the three that are on (in that order) and sets the given point size.
PointOverlayState beginPointOverlay(float pointSize);

// Restores the saved point size, then switches back on texturing, lighting and depth test,
// those that were on.
void endPointOverlay(const PointOverlayState& saved);
