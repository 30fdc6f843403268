// face-inspect's picture of a binding: the render mesh coloured by how firmly each vertex
// is attached, drawn offscreen from the viewer's start-up camera.
#pragma once

#include <string>

class FaceModel;

// Colour of an attachment weight on the binding picture's scale (1 yellow, through
// teal at 0.5, to purple at 0), and the colour of unattached vertices (red).
void weightColour(float rgb[3], float weight);
extern const float unattachedColour[3];

// Colour of an amplification (face/amplification.h): teal up to 1 (the vertex follows its
// control points), through yellow at 1.5 to red at 3; magenta above 3 (spikes when dragged).
void amplificationColour(float rgb[3], float amplification);

// Renders the model's current render mesh offscreen (OSMesa, 640 × 640 a view) from the
// viewer's start-up camera, back faces culled as in the viewer, and writes a PNG. Each vertex
// is coloured by its attachment weight (weightColour, unattached vertices red) or, when
// amplification (N values) is not null, by its amplification (unattached vertices grey), and
// shaded by its normal towards the camera. threeViews puts the front, the left side (turned
// a quarter) and the back (turned half) side by side, 1920 × 640, so that what the front
// hides is seen. Returns false with one line in error when no context can be made or the
// file cannot be written.
bool writeBindingPicture(const char* fileName, const FaceModel& model, const float* amplification,
                         bool threeViews, std::string& error);
