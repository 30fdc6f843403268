// What face-import --expressions does around the fit (face_fit.h) and the transfer
// (pose_transfer.h): the head's landmarks, from the user's file or found on the mesh; the
// axes the face stands by; the share of the head's face attached; and the carried library and
// the landmarks written into the user's folder.
#pragma once

#include "face/face_model.h"
#include "geometry/vector.h"
#include "io/pose_file.h"
#include "tools/fit/face_fit.h"
#include "tools/fit/landmarks.h"
#include "tools/fit/pose_transfer.h"

#include <cstdint>
#include <string>
#include <vector>

struct DefaultFace;

// The head's 18 landmarks in the mesh file's coordinates (positions N, triangles M, as read,
// before any placement). From landmarkFile (may be null) where given: read, checked against
// the mesh and completed from the default face's where the file gives only some; else found
// on the mesh (findFace). how receives a few words on where they came from ("found on the
// mesh, agreeing 0.66 with a face's depth", "4 of 18 from FILE, 14 completed"). False with one
// line in error: the file refused, or no face found (asking for --landmarks).
bool headLandmarks(Landmarks& landmarks, std::string& how, std::string& error,
                   const char* landmarkFile, const char* meshFile, const Vector3* positions,
                   int32_t N, const Triangle* triangles, int32_t M, const DefaultFace& face);

// The signed coordinate axes nearest a face's up and front (two different axes).
void nearestAxes(Vector3& up, Vector3& front, const Vector3& faceUp, const Vector3& faceFront);

// The axes nearest the face's own up and front (landmarkFrame): the axes the head is placed
// by, so that it stands facing +z.
void faceAxes(Vector3& up, Vector3& front, const Landmarks& landmarks);

// Where face-import places a head that wears the library: the scale and the centre (in the
// mesh file's coordinates) that, with the rotation whose rows are cross(up, front), up and
// front, lay the head's landmarks over the default face's features: the scale the ratio of
// their spreads about their centroids, the centre the point that lands on the origin. So a
// head of any size and units, a bust or a whole body, has its face where the default face's
// is and as large, in front of face-viewer's camera, and a drag, a move of the library or the
// amplification's measure means the same on it as on the default face.
void facePlacement(double& scale, double centre[3], const Landmarks& landmarks, const Vector3& up,
                   const Vector3& front, const DefaultFace& face);

// The head's face region: its render vertices (positions N) within faceRegionReach of the
// fitted face's surface (fit.fittedVertices; a share of the fitted face's height from the
// chin to the hairline, so that a whole body's face region is its face's, not a band as wide
// as a share of the body), and of them those the binding attached (model's attachments).
struct FaceRegion {
    int32_t vertices = 0;
    int32_t attached = 0;
};
constexpr float faceRegionReach = 0.02f;
void measureFaceRegion(FaceRegion& region, const FaceModel& model, const Vector3* positions,
                       int32_t N, const FaceFit& fit);

// The measures of the poses a user tries first, for face-import's report, one line each: the
// blinks, jawOpen, mouthClose and the smiles as checked on the head (their figures and aims),
// and the largest departure of a …Right pose from its …Left's mirror image.
//   eyeBlinkLeft: lid gap 2.1 % of rest; the other eye's 100.0 % (aim: ...)
//   mirror: the Right poses within 12.3 % of their Left's mirror image (eyeLookInRight)
void describeKeyPoses(std::string& text, const std::vector<CarriedPoseCheck>& checks);

// The carried poses as the folder's library, FOLDER/poses/NAME.txt each (one move a line,
// nine significant digits, under a comment naming the pose and where it came from), and the
// landmarks as FOLDER/landmarks.txt (writeLandmarkFile). Written with writeFileContents, so
// inside an open FileBatch they replace the folder's files with the rest of the import. False
// with one line in error.
bool writeHeadLibrary(const std::string& folder, const std::vector<NamedPose>& poses,
                      const Landmarks& landmarks, const char* meshFile, std::string& error);
