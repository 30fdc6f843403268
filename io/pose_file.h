// Pose files: moves of control points away from the model's rest positions, one a line,
//   I DX DY DZ
// (I an integer control-point index, the offsets real numbers, read with the model reader's
// token rules). Blank lines and lines whose first token starts with '#' are skipped.
//
// A data folder's pose library is FOLDER/poses/, one pose file NAME.txt per named pose; the
// name is what a shape key made from it is called.
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

// The largest offset a pose file may give along one axis, in model units (an imported head
// is 16 units tall): far beyond any drag, and small enough that the surface's cubic terms
// of a moved point stay finite in 32-bit floats.
constexpr float largestPoseOffset = 1e6f;

constexpr const char poseLibraryFolder[] = "poses";
constexpr const char poseFileExtension[] = ".txt";
// The longest name of a library pose.
constexpr size_t longestPoseName = 64;

// A pose of the library: its name and its moves.
struct NamedPose {
    std::string name;
    std::vector<ControlPointMove> moves;
};

// Reads a pose file. On success appends its moves to moves, in file order, and returns
// true. Refused, with one line in error and moves untouched: a file that openFileContents
// refuses (with its message), and with "<file>, line <L>: <what>" a line with other than
// four fields, an index that is not an integer below controlPointCount, an offset that is
// not a finite number or is larger than largestPoseOffset.
bool readPoseFile(std::vector<ControlPointMove>& moves, const char* fileName,
                  int32_t controlPointCount, std::string& error);

// The same on size bytes in memory (data may be null when size is 0), named fileName in the
// messages.
bool readPoseBuffer(std::vector<ControlPointMove>& moves, const char* data, size_t size,
                    const char* fileName, int32_t controlPointCount, std::string& error);

// Adds each move's offset to its control point, in order (indices below the points' count).
void applyMoves(Vector3* points, const ControlPointMove* moves, size_t moveCount);

// Whether name can name a library pose: 1 to longestPoseName letters, digits, '-' or '_'
// (a file name on every system, and a shape-key name every tool takes).
bool validPoseName(const std::string& name);

// The pose name of a file: its name without folder and extension ("poses/smile.txt": smile).
std::string poseName(const std::string& fileName);

// The library's file of a pose name: folder/NAME.txt.
std::string libraryPoseFile(const std::string& folder, const std::string& name);

// Reads the pose library in folder: every entry NAME.txt, in the order of the names'
// bytes. Each one refused (a name validPoseName refuses, a file readPoseFile refuses: a
// directory, NaN, an index past the model's controlPointCount ...) adds its one line to
// refusals and is left out; the others are read into poses (replaced). A folder that does
// not exist is an empty library. Returns false with one line in error when folder exists
// but cannot be listed (or is not a folder).
bool readPoseLibrary(std::vector<NamedPose>& poses, std::vector<std::string>& refusals,
                     const std::string& folder, int32_t controlPointCount, std::string& error);
