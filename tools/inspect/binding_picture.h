// face-inspect's picture of a binding: the render mesh coloured by how firmly each vertex
// is attached, drawn offscreen from the viewer's start-up camera.
#pragma once

#include <string>

class FaceModel;

// Colour of an attachment weight on the binding picture's scale (1 yellow, through
// teal at 0.5, to purple at 0), and the colour of unattached vertices (red).
void weightColour(float rgb[3], float weight);
extern const float unattachedColour[3];

// Renders the model's current render mesh offscreen (OSMesa, 640 × 640) from the viewer's
// start-up camera, back faces culled as in the viewer, each vertex coloured by its
// attachment weight and shaded by its normal, and writes a PNG. Returns false with one
// line in error when no context can be made or the file cannot be written.
bool writeBindingPicture(const char* fileName, const FaceModel& model, std::string& error);
