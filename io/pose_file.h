// Pose files: moves of control points away from the model's rest positions, one a line,
//   I DX DY DZ
// (I an integer control-point index, the offsets real numbers, read with the model reader's
// token rules). Blank lines and lines whose first token starts with '#' are skipped.
#pragma once

#include "geometry/vector.h"

#include <cstdint>
#include <string>
#include <vector>

// Adds delta to control point index.
struct ControlPointMove {
    int32_t index;
    Vector3 delta;
};

// Reads a pose file. On success appends its moves to moves, in file order, and returns
// true. Refused, with one line in error and moves untouched: a file that openFileContents
// refuses (with its message), and with "<file>, line <L>: <what>" a line with other than
// four fields, an index that is not an integer below controlPointCount, an offset that is
// not a finite number.
bool readPoseFile(std::vector<ControlPointMove>& moves, const char* fileName,
                  int32_t controlPointCount, std::string& error);

// Adds each move's offset to its control point, in order (indices below the points' count).
void applyMoves(Vector3* points, const ControlPointMove* moves, size_t moveCount);
