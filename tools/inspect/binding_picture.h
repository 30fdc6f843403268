// face-inspect's picture of a binding: the render mesh coloured by how firmly each vertex
// is attached, drawn offscreen with a camera that frames the whole mesh.
#pragma once

#include "geometry/vector.h"

#include <cstdint>
#include <string>

class FaceModel;

// The share of a view's half-side left free on each side of the framed mesh.
constexpr float pictureMargin = 0.05f;
// The default face spans 0.55 of the start-up view's side, a head imported 16 units tall
// about as much; a mesh spanning less than a third is shown larger.
constexpr float minStartUpSpan = 1.0f / 3.0f;

// The camera of a binding picture: the viewer's start-up camera turned about centre, at
// distance from it, with the viewer's field of view and these planes.
struct PictureFrame {
    Vector3 centre;
    float distance;
    float zNear, zFar;
    bool startUp; // the viewer's start-up camera itself (centre 0, its distance and planes)
};

// The frame for positions (count > 0) seen in viewCount views (1: the front; 3: also turned
// a quarter and a half about the vertical axis). The viewer's start-up camera is kept when
// every position lies inside each view less pictureMargin on every side, between its planes,
// and the front view spans at least minStartUpSpan of the picture's side: the picture is then
// what the viewer shows at start-up. Otherwise the camera looks at the middle of the
// positions' bounding box from the nearest distance at which every position fits each view
// less the margin, and the planes enclose them.
void choosePictureFrame(PictureFrame& frame, const Vector3* positions, int32_t count,
                        int viewCount);

// Renders the model's current render mesh offscreen (OSMesa, 640 × 640 a view) from the
// camera choosePictureFrame gives for it, back faces culled as in the viewer, and writes a
// PNG. Each vertex is coloured as bindingColours (tools/common/binding_colour.h) colours it: by its
// attachment weight or, when amplification (N values) is not null, by its amplification; and
// shaded by its normal towards the camera. threeViews puts the front, the left side (turned a
// quarter) and the back (turned half) side by side, 1920 × 640, so that what the front hides
// is seen. Returns false with one line in error when no context can be made or the file
// cannot be written.
bool writeBindingPicture(const char* fileName, const FaceModel& model, const float* amplification,
                         bool threeViews, std::string& error);
