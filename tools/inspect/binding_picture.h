// face-inspect's picture of a binding: the render mesh coloured by how firmly each vertex
// is attached, drawn offscreen from the viewer's start-up camera.
#pragma once

#include <string>

class FaceModel;

// Renders the model's current render mesh offscreen (OSMesa, 640 × 640 a view) from the
// viewer's start-up camera, back faces culled as in the viewer, and writes a PNG. Each vertex
// is coloured as bindingColours (app/binding_colour.h) colours it: by its attachment weight
// or, when amplification (N values) is not null, by its amplification; and shaded by its normal towards the camera. threeViews puts the front, the left side (turned
// a quarter) and the back (turned half) side by side, 1920 × 640, so that what the front
// hides is seen. Returns false with one line in error when no context can be made or the
// file cannot be written.
bool writeBindingPicture(const char* fileName, const FaceModel& model, const float* amplification,
                         bool threeViews, std::string& error);
