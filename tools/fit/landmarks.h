// The 18 landmarks of a face that guide the default face's fit to a head: read from a file
// the user writes, checked against the head's mesh, completed where the file gives only
// some, and written for the user to correct.
//
// The landmarks are the first 18 features of tools/common/expression_measures.h, named as
// faceFeatureNames names them, in this order:
//   eye_left_outer, eye_left_inner, eye_right_outer, eye_right_inner  the corners of each
//                                                                     eye's opening
//   lid_left_upper, lid_left_lower, lid_right_upper, lid_right_lower  the middle of each
//                                                                     lid's margin
//   brow_left_inner, brow_left_outer, brow_right_inner, brow_right_outer  the brows' ends
//   mouth_left, mouth_right                                           the mouth's corners
//   lip_upper, lip_lower          the middle of each lip's edge, along the mouth's line
//   nose_tip, chin
// Left and right are the face's own: its left is +x when it looks along +z with +y up.
//
// A landmark file holds one line per landmark,
//   NAME X Y Z
// in the coordinates of the mesh file as it stands (before face-import's placement), the
// numbers read by the model reader's token rules (io/text_scanner.h). Blank lines and lines
// whose first token starts with '#' are skipped. A file may give some of the landmarks;
// completeLandmarks guesses the rest.
#pragma once

#include "geometry/vector.h"
#include "tools/common/expression_measures.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The landmarks are FaceFeature 0 to 17; landmark i is named faceFeatureNames[i].
constexpr int32_t landmarkCount = 18;
static_assert(chin == landmarkCount - 1, "the landmarks are the features up to the chin");

// Some or all of a face's landmarks.
struct Landmarks {
    Vector3 points[landmarkCount] = {};
    bool given[landmarkCount] = {}; // points[i] holds landmark i
    long line[landmarkCount] = {};  // the line of the file that gave it (0: not from a file)
};

// Reads a landmark file. On success replaces landmarks with the file's (given[i] set for
// those it names, line[i] their lines) and returns true. Refused, with landmarks untouched
// and one line in error: a file that openFileContents refuses (its own message), and
//   "<file>, line <L>: <what>"
// for a line of other than four fields, a name that is not a landmark's (the nearest name
// and the list follow), a name given twice, a coordinate that is not a number or not a
// finite 32-bit float; then, for the file as a whole (naming the line of the landmark at
// fault):
// - a landmark of one side that lies across the face's mid-plane from the others of its
//   side (checkLandmarkSides);
// - left and right swapped as a whole (the same);
// and "<file>: <what>" for landmarks too few to place the face (landmarksPlaceFace).
bool readLandmarkFile(Landmarks& landmarks, const char* fileName, std::string& error);

// The same on size bytes in memory (data may be null when size is 0), named fileName in the
// messages.
bool readLandmarkBuffer(Landmarks& landmarks, const char* data, size_t size, const char* fileName,
                        std::string& error);

// Whether the given landmarks keep left and right apart:
// - the mid-plane is the plane halfway between the left and right landmarks of the pairs
//   given (each left one with its right partner), across the mean of their differences;
//   every left landmark must lie on the left of it and every right one on the right (within
//   sideTolerance of the pairs' mean width: a brow's inner end may sit on the middle);
// - where an eye of each side, the mouth (its corners or lips, else the chin) and the nose
//   tip are given, the nose tip must lie in front of the plane through the eyes' and the
//   mouth's middles, in front as left and up make it (front = left × up): a file that names
//   the face's right as its left (the viewer's left) has the nose behind the face.
// Returns false with what is wrong in problem, and the landmark at fault in culprit.
bool checkLandmarkSides(const Landmarks& landmarks, std::string& problem, int32_t& culprit);
constexpr float sideTolerance = 0.01f;

// Whether the given landmarks place the face: at least one of each eye (a corner or a lid)
// and one of the mouth's corners, the lips, the nose tip or the chin, the latter off the line
// through the eyes by at least minimumFaceDepth of the eyes' distance (three points that set
// a similarity transform with a sound up and front). Returns false with why in problem.
bool landmarksPlaceFace(const Landmarks& landmarks, std::string& problem);
constexpr float minimumFaceDepth = 0.25f;

// A landmark may lie this share of the mesh's bounding-box diagonal from its surface.
constexpr float landmarkSurfaceShare = 0.05f;

// Checks every given landmark against the mesh (positions N > 0, triangles M > 0, indices
// below N): one farther than landmarkSurfaceShare of the box diagonal from the nearest point
// of its triangles is refused with one line,
//   "<file>, line <L>: nose_tip (1 2 3) lies 12.3 from the mesh's surface, more than 5 % of
//   its box diagonal (82); are the landmarks in the mesh file's own coordinates?"
// (a landmark not from a file is named without a line). fileName names the landmark file.
bool checkLandmarksOnSurface(const Landmarks& landmarks, const char* fileName,
                             const Vector3* positions, int32_t N, const Triangle* triangles,
                             int32_t M, std::string& error);

// The point of the mesh's triangles (positions N, triangles M > 0) nearest query, and its
// distance. Exact: every triangle is looked at whose bounding sphere may hold a nearer point.
Vector3 nearestSurfacePoint(float& distance, const Vector3& query, const Vector3* positions,
                            const Triangle* triangles, int32_t M);

// Fills every landmark not given: reference (landmarkCount points, a face's whole set, such
// as the default face's features) is fitted to the given ones by the similarity transform
// (rotation, uniform scale, translation) of least squares (Umeyama's method), and each
// missing landmark becomes the transformed reference point moved to the nearest point of
// the mesh (positions N, triangles M > 0). The given ones must place the face
// (landmarksPlaceFace). Each filled landmark is given, with line 0.
void completeLandmarks(Landmarks& landmarks, const Vector3* reference, const Vector3* positions,
                       int32_t N, const Triangle* triangles, int32_t M);

// The face's own up and front from its landmarks (which must place the face): left from the
// right eye's landmarks to the left's, up from the mouth's middle (or the chin's, else the
// nose tip's) to the eyes', made perpendicular to left, and front = left × up. Unit vectors.
void landmarkFrame(Vector3& up, Vector3& front, const Landmarks& landmarks);

// Writes all landmarkCount landmarks (every one given) as a landmark file, in order, each
// coordinate with nine significant digits (a float reads back the same), under a comment
// that says what the file is and how to use it, naming meshFile:
//   # The 18 landmarks of the face on MESH ...
//   #   face-import MESH --expressions --landmarks FILE
// Whole or not at all (writeFileContents). Returns false with one line in error.
bool writeLandmarkFile(const char* fileName, const Landmarks& landmarks, const char* meshFile,
                       std::string& error);
