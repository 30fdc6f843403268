// face-inspect's outputs for other tools and for the eye: poses (control-point moves) read
// from a file, the deformed render mesh as Wavefront OBJ, and a picture of the binding.
#pragma once

#include "geometry/vector.h"

#include <cstdint>
#include <string>
#include <vector>

class FaceModel;

// Adds delta to control point index.
struct ControlPointMove {
    int32_t index;
    Vector3 delta;
};

// Reads a pose file: one move "I DX DY DZ" a line (I an integer control point index, the
// others real numbers, as the model reader reads its tokens); blank lines and lines whose
// first token starts with '#' are skipped. On success appends the moves to moves and returns
// true. Refused, with one line in error: a file that openFileContents refuses (with its
// message), and with "<file>, line <L>: <what>" a line with other than four fields, an index
// that is not an integer below controlPointCount, an offset that is not a finite number.
bool readPoseFile(std::vector<ControlPointMove>& moves, const char* fileName,
                  int32_t controlPointCount, std::string& error);

// Writes the model's current render mesh (renderPositions, renderTexCoords,
// renderNormals, renderTriangles) as OBJ: v, vt (v flipped to the OBJ convention of v = 0
// at the picture's bottom), vn, and one f per triangle in its stored order, the front
// (counter-clockwise) winding. Reals with nine significant digits. Returns false with
// one line in error when the file cannot be written.
bool writeObjFile(const char* fileName, const FaceModel& model, std::string& error);

// Colour of an attachment weight on the binding picture's scale (1 yellow, through
// teal at 0.5, to purple at 0), and the colour of unattached vertices (red).
void weightColour(float rgb[3], float weight);
extern const float unattachedColour[3];

// Renders the model's current render mesh offscreen (OSMesa, 640 × 640) from the viewer's
// start-up camera, back faces culled as in the viewer, each vertex coloured by its
// attachment weight and shaded by its normal, and writes a PNG. Returns false with one
// line in error when no context can be made or the file cannot be written.
bool writeBindingPicture(const char* fileName, const FaceModel& model, std::string& error);
