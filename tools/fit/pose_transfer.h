// The default face's expression library carried to a head it was fitted to (face_fit.h),
// and what the library promises checked again on the head.
//
// A library pose moves control point i of the default face by d_i. On the fitted control
// mesh the move becomes W(x_i + d'_i) − W(x_i): x_i the point under the fit's similarity,
// d'_i the move scaled and turned with it, W the fit's warp. The residual that put the point
// on the head's surface stays as it is. So a move across a lid spans that head's lid, not
// the default face's, and a point W does not stretch moves as on the default face, turned
// and scaled.
//
// On a head that is not its own mirror image (any scan) W carries a …Left pose and its
// …Right partner through the two sides' own shapes, and they no longer mirror each other.
// mirrorPairedPoses makes each pair mirror images again on the head: each side's move the
// mean of its own and its partner's, mirrored across the fitted face's middle plane.
//
// W alone need not close the lids or the lips on a head whose own lid gap or lip line lies
// otherwise than the default face's under W. correctClosingPoses then scales each closing
// pose (eyeBlinkLeft, eyeBlinkRight; mouthClose against jawOpen) so that it meets the head's
// own geometry as it meets the default face's: the lid gap at the middle of the eye closed
// to the share of the rest gap that the blink leaves on the default face (the upper lid
// passing the lower by a few per cent, which closes the eye along its whole length), and the
// lips that jawOpen parts sealed at their middle. The scale is found by the secant method on
// the head's render vertices at the lids' and lips' middles (findHeadFeatures).
#pragma once

#include "face/face_model.h"
#include "face/workers.h"
#include "io/pose_file.h"
#include "tools/common/expression_measures.h"

#include <cstdint>
#include <string>
#include <vector>

struct DefaultFace;
struct Expression;
struct FaceFit;

// The library's expressions (buildExpressions, K offsets each) as named poses: the moves of
// the points each one moves, in increasing index.
void expressionPoses(std::vector<NamedPose>& poses, const std::vector<Expression>& expressions);

// Each pose of library (default face numbering, indices below the fit's K) carried to the
// fitted control mesh into carried (replaced; the same names and order, a move for every
// point the pose moves). W runs on the workers: the same moves with any thread count.
void carryPoses(std::vector<NamedPose>& carried, const std::vector<NamedPose>& library,
                const FaceFit& fit, WorkerPool& workers = sharedWorkers());

// The head's render vertices at the default face's features: for each FaceFeature, of the
// head's render vertices attached to the control triangle that holds the default face's own
// feature vertex or to one across a side of it (the fitted control mesh keeps the default
// face's triangles, so the upper lid's vertex is taken from the upper lid: no side joins a
// triangle of one lid to one of the other), the one nearest the fitted feature point; where
// none is attached there, of every attached vertex. headModel is the head's render mesh
// bound to fit.controlPoints.
void findHeadFeatures(FaceFeatures& features, const FaceModel& headModel, const FaceFit& fit,
                      const DefaultFace& face);

// What correctClosingPoses did to each closing pose: the scale applied (1 where W alone met
// the aim) and the measure before and after, as the check reports it (a share of the head's
// rest lid gap for a blink, of jawOpen's lip gap for mouthClose).
struct ClosingCorrection {
    std::string name;
    float scale = 1.0f;
    float before = 0.0f, after = 0.0f;
    // Where no scale meets the aim (lids or lips painted on the skin, not modelled): the
    // library's move kept (scale 1), and the measure at the scale that came nearest.
    bool kept = false;
    float untried = 0.0f;
};

// A head whose lid gap at rest is below this share of the fitted face's height has its eye
// closed at rest (the default face's is 5.2 %): its blink is not checked for closing, and
// the correction keeps the lids where they meet.
constexpr float closedEyeShare = 0.01f;

// Scales eyeBlinkLeft, eyeBlinkRight and mouthClose in carried (found by name; a name missing
// is skipped) where W alone misses the aims of checkCarriedPoses, as the header says, and
// where the scale found meets them; the others stay. face is the default face with its library
// (expressionPoses of buildExpressions), which says what share of the rest gap the blink leaves
// there. headModel is the head's render mesh bound to fit.controlPoints; its update is used.
void correctClosingPoses(std::vector<NamedPose>& carried,
                         std::vector<ClosingCorrection>& corrections, FaceModel& headModel,
                         const FaceFeatures& headFeatures, const FaceFit& fit, DefaultFace& face,
                         const std::vector<NamedPose>& library);

// One pose checked on the head.
struct CarriedPoseCheck {
    std::string name;
    std::string measured; // what is measured, with the figures ("lid gap 2.1 % of rest ...")
    std::string aim;      // what the library promises ("at most 10 % ...")
    bool promised = true; // the pose's own promise kept (true for a pose without one)
    bool met = true;      // that, and the aims below (and every position finite)
    // The largest move of a render vertex against the largest move of the control points
    // that carry it (poseThrow; aim 1.5), and the largest move of a render vertex behind
    // the face (behind the rearmost point of the fitted render mesh along its front), as a
    // share of the pose's largest move (aim 0).
    float thrown = 0.0f;
    float behind = 0.0f;
    int32_t behindCount = 0; // the render vertices behind the face
    // For a …Right pose: how far its moves at the features off the middle line depart from
    // the mirror image (across the fitted face's own middle plane) of its …Left's, as a share
    // of the …Left's largest move; −1 for other poses.
    float mirror = -1.0f;
};

// The aims on a head: a blink closes its eye to at most 10 % of the head's rest gap without
// the upper lid passing the lower by more than 5 %, the other eye within 5 % of its rest gap;
// jawOpen drops the lower lip's middle by at least 4 % of the fitted face's height (the
// default face's aim is 8 %: a head's jaw is stretched or squeezed by W); mouthClose with
// jawOpen leaves at most 10 % of jawOpen's lip gap; each one-sided mouth pose (Smile, Frown,
// Dimple, Stretch) moves its own corner, the other at most 10 % as far; a Right pose
// mirrors its Left within maxMirrorDeparture; nothing thrown beyond 1.5; nothing behind the
// face moves.
constexpr float maxMirrorDeparture = 0.25f;
constexpr float maxBehindMove = 1e-3f; // the update's rounding moves a vertex by 1e-6 of it
constexpr float maxPoseThrow = 1.5f;

// Checks every pose of carried (fitted numbering) on the head; the rest pose is
// fit.controlPoints. headModel is the head's render mesh bound to fit.controlPoints.
// Returns the number of poses that miss an aim.
int32_t checkCarriedPoses(std::vector<CarriedPoseCheck>& checks, FaceModel& headModel,
                          const FaceFeatures& headFeatures, const FaceFit& fit,
                          const DefaultFace& face, const std::vector<NamedPose>& carried);

// Makes every …Left pose of carried and its …Right partner (found by name) mirror images of
// each other across the fitted face's middle plane (the plane of fit.up and fit.front), by
// the default face's mirror pairs of control points: the …Right move of a point becomes the
// mean of its own and the …Left move of its partner mirrored, and the …Left move the mirror
// image of that. A point without a partner keeps its moves. On a mirror-symmetric head the
// poses stay as W carried them.
void mirrorPairedPoses(std::vector<NamedPose>& carried, const FaceFit& fit,
                       const DefaultFace& face);

// Everything above in one call, for face-import: the library carried to the fitted control
// mesh, the pairs made mirror images, the head's features found, the closing poses corrected
// and every pose checked.
struct LibraryTransfer {
    std::vector<NamedPose> poses; // the library's names and order, fitted numbering
    FaceFeatures headFeatures;
    std::vector<ClosingCorrection> corrections;
    std::vector<CarriedPoseCheck> checks; // one per pose, in order
    int32_t missed = 0;                   // poses that miss an aim
};
void transferLibrary(LibraryTransfer& transfer, FaceModel& headModel, const FaceFit& fit,
                     DefaultFace& face, const std::vector<NamedPose>& library,
                     WorkerPool& workers = sharedWorkers());

// The transfer in words, for face-import's report: one line for the poses carried and how
// many keep every aim, one per closing pose corrected (its scale, the measure before and
// after), one per pose that misses an aim (what it measures), each ending in '\n':
//   expressions: 51 carried to the fitted control mesh, 49 keep every aim
//   eyeBlinkLeft scaled by 1.345 to close the head's own lids: lid gap 21.9 % of rest before,
//   -4.0 % after
//   eyeLookInRight misses an aim: mirror 58.8 % (aim 25 %); thrown 1.131
void describeTransfer(std::string& text, const LibraryTransfer& transfer);
