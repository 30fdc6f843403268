// What an expression does to a face, measured where its name makes a promise: the lid gap at
// the middle of each eye, the lips' middles, the mouth corners, the brows, the cheeks, the
// nose, the chin, the teeth and the eyes that ride on the control points' frames, and
// whether any render vertex is thrown. The places are render vertices (FaceFeatures), so
// the same measures run on any face whose features are known.
//
// The face's own left is +x (a face faces +z with +y up); up is +y.
#pragma once

#include "face/face_model.h"
#include "geometry/matrix.h"
#include "geometry/vector.h"

#include <cstdint>

// The render vertices measured. The first eighteen are the landmarks a user marks on a
// head (the corners of each eye opening, the middle of each lid's edge, the ends of the
// brows, the mouth corners, the middle of each lip's edge, the nose tip, the chin); the
// rest are places between them.
enum FaceFeature : int32_t {
    eyeLeftOuter,
    eyeLeftInner,
    eyeRightOuter,
    eyeRightInner,
    lidLeftUpper,
    lidLeftLower,
    lidRightUpper,
    lidRightLower,
    browLeftInner,
    browLeftOuter,
    browRightInner,
    browRightOuter,
    mouthLeft,
    mouthRight,
    lipUpper,
    lipLower,
    noseTip,
    chin,
    // halfway from the lips' middle to each corner, on each lip's edge
    lipLeftUpper,
    lipLeftLower,
    lipRightUpper,
    lipRightLower,
    cheekLeft, // the middle of each cheek, beside the mouth
    cheekRight,
    underEyeLeft, // the top of each cheek, under the eye
    underEyeRight,
    noseWingLeft,
    noseWingRight,
    faceFeatureCount
};

// The names of the features, as a landmark file names them ("eye_left_outer", ...).
extern const char* const faceFeatureNames[faceFeatureCount];

struct FaceFeatures {
    int32_t vertex[faceFeatureCount]; // render vertex of each feature
    float height;                     // the face's height, from the chin to the hairline
};

// The frame carried props (props' slots, io/data_folder.h) as a user sees them move: the
// upper and lower teeth, the left (+x) and right eyes.
enum PropPart : int32_t { upperTeeth, lowerTeeth, leftEye, rightEye, propPartCount };

// A face posed: its render positions (N) and the transform of each prop.
struct PosedFace {
    int32_t vertexCount = 0;        // N
    ArrayHolder<Vector3> positions; // N
    ArrayHolder<Vector3> normals;   // N
    Matrix4 prop[propPartCount];
    bool propUsable[propPartCount];
    bool finite; // every position and every prop transform finite
};

// Poses the face: control points rest + offsets (K each), one update of model into
// face.positions and face.normals (allocated at N on first use), and each prop's transform from its
// frame (the transform is the identity where offsets are zero).
void poseFace(PosedFace& face, FaceModel& model, const Vector3* rest, const Vector3* offsets);

// The lid gap of one eye (0 left, 1 right): the height of the upper lid's middle above the
// lower's (negative where the upper passes the lower).
float lidGap(const PosedFace& face, const FaceFeatures& features, int32_t eye);

// The lips' gap at the middle: the height of the upper lip's middle above the lower's.
float lipGap(const PosedFace& face, const FaceFeatures& features);

// A feature's move from rest.
Vector3 featureMove(const PosedFace& face, const PosedFace& rest, const FaceFeatures& features,
                    FaceFeature feature);

// Where an eye looks (0 left, 1 right): its turn from rest in degrees, up (pitch, positive
// up) and sideways (yaw, positive towards +x, the face's left), of the direction +z carried
// by the eye's transform.
void eyeTurn(float& pitchDegrees, float& yawDegrees, const PosedFace& face, int32_t eye);

// How far a prop's transform carries a point from its rest place.
float propMove(const PosedFace& face, PropPart part, const Vector3& point);

// The largest of |face − rest| over every render vertex.
float largestMove(const PosedFace& face, const PosedFace& rest);

// How far a pose throws the render mesh: the largest over the attached render vertices of
// the vertex's move divided by the largest move among the control points that carry it (the
// corners of its control triangle and their neighbours along the control edges, whose moves
// reach its sub-patch through the normals); 0 when nothing moves. controlMoves: K.
float poseThrow(const PosedFace& face, const PosedFace& rest, const FaceModel& model,
                const Vector3* controlMoves);

// The mirror partner of each feature: the same feature on the other side, itself for one in
// the middle (the lips' middles, the nose tip, the chin).
FaceFeature mirrorFeature(FaceFeature feature);

// How far the feature moves of a pose depart from the mirror of another's: the largest over
// the features off the middle line of |move − mirrored move of its partner in `mirrored`|,
// as a share of the pose's largest move of a render vertex. (A render vertex on the middle
// line hangs on one side's sub-patch, so its sideways move tells of the binding, not of
// the pose.)
float featureMirrorDeparture(const PosedFace& posed, const PosedFace& mirrored,
                             const PosedFace& rest, const FaceFeatures& features);

// The mirror partner of every render vertex (N): the vertex at the mirrored rest position
// (x negated), exactly; −1 where none is there. Coincident vertices (the two edges of a cut
// at rest) pair in index order.
void mirrorRenderVertices(int32_t* partners, const Vector3* restPositions, int32_t N);

// How far a pose's render moves depart from the mirror of another's: the largest over the
// vertices with a partner of |move of v − mirrored move of its partner| in `posed`
// against `mirrored`, as a share of the largest move of `posed`.
float mirrorDeparture(const PosedFace& posed, const PosedFace& mirrored, const PosedFace& rest,
                      const int32_t* partners, int32_t N);
