// The default face fitted to a head by 18 landmarks: its control mesh put on the head's
// surface, so that the expression library made on the default face carries over
// (pose_transfer.h).
//
// The fit runs in three steps:
// 1. a similarity (scale, turn, shift) that takes the default face's landmarks onto the
//    head's in the least-squares sense (Umeyama, "Least-squares estimation of
//    transformation parameters between two point patterns", 1991);
// 2. a non-rigid fit of the default face's render mesh onto the head's surface, guided by the
//    landmarks: non-rigid ICP (Amberg, Romdhani and Vetter, "Optimal step nonrigid ICP
//    algorithms for surface registration", 2007) on the deformation graph of face_warp.h,
//    its nodes spread over the default face's left half and mirrored (a symmetric head gets a
//    symmetric fit). Each round pairs every render vertex with its closest point on the head,
//    dropping pairs farther apart than 8 % of the face's height, whose normals differ by more
//    than 60°, or whose head point lies on the head's border (a hole, the edge of a scan);
//    then solves one sparse least-squares problem for the nodes' transforms (the pairs, the
//    landmarks, each node's map against its neighbours' at their places and their A against
//    each other, a weak pull of every A to the identity; Eigen's SimplicialLDLT, the pattern
//    analysed once and factored each round, x, y and z solved apart on one factor). The
//    stiffness falls from 100 to 0.5 of the pairs' weight in steps, the landmarks' weight
//    from 10 to 1, two rounds each. The result is the warp W, a smooth map of space;
// 3. the default face's control points carried by W, and each put on the head's surface
//    where that lies near (at its own height above the default face's render surface, as a
//    control point keeps it there), the control mesh kept to face-import's rules
//    (cage_rules.h): a point whose placing breaks a rule stays where W puts it, and a
//    triangle W folds is drawn back towards the similarity's place of its corners until the
//    rules hold.
//
// Every figure is a share of the head's height (its extent along +y), so heads in any units
// read alike. The head is as face-import places it (facing +z, +y up) or in any other frame:
// the landmarks decide the turn.
#pragma once

#include "face/workers.h"
#include "geometry/vector.h"
#include "tools/common/expression_measures.h"
#include "tools/fit/face_warp.h"
#include "tools/import/cage_rules.h"

#include <cstdint>
#include <string>
#include <vector>

struct DefaultFace; // tools/assets/expressions.h

// The landmarks: the first fitLandmarkCount features of FaceFeature, in that order
// (eye_left_outer .. chin; faceFeatureNames names them).
constexpr int32_t fitLandmarkCount = 18;

// head = scale · rotation · face + translation.
struct Similarity {
    double scale = 1.0;
    double rotation[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
    double translation[3] = {0.0, 0.0, 0.0};
};

// The similarity that takes from[i] nearest to[i] (count ≥ 3) in the least-squares sense,
// its turn a proper rotation. Returns false where the points from lie on one line (no turn
// is decided) or to all on one point.
bool fitSimilarity(Similarity& similarity, const Vector3* from, const Vector3* to, int32_t count);

// A point, and a move (scale and turn only), under a similarity.
Vector3 applySimilarity(const Similarity& similarity, const Vector3& p);
Vector3 turnMove(const Similarity& similarity, const Vector3& d);

// How the fit ran; the defaults are the tuned ones.
struct FitSettings {
    // Node spacing of the warp, in the default face's units (it is 17 tall): the eye's
    // opening, 0.9 tall at its middle, spans two.
    float nodeSpacing = 0.5f;
    int32_t stiffnessSteps = 6; // the stiffness lowered in this many steps
    int32_t roundsPerStep = 2;  // pairing and solving rounds at each
};

// What the fit did, and how well.
struct FitFigures {
    float headHeight = 0.0f; // the head's extent along +y, which the shares below divide
    // The distance from the fitted render mesh (the default face's render vertices under W)
    // to the head's surface, over the vertices whose closest head point is not on the head's
    // border: median and 95th percentile, as shares of headHeight.
    float distanceMedian = 0.0f;
    float distance95 = 0.0f;
    // The share of the default face's render vertices whose closest head point is not on the
    // head's border (the part of the face the head covers).
    float covered = 0.0f;
    // Each landmark's distance from the head's after the fit, as a share of headHeight.
    float landmarkResidual[fitLandmarkCount] = {};
    int32_t rounds = 0;    // pairing and solving rounds in all
    int32_t nodes = 0;     // nodes of the warp
    int32_t onSurface = 0; // control points put on the head's surface
    int32_t heldBack = 0;  // control points left where W puts them, as placing broke a rule
    int32_t drawnBack = 0; // control points drawn back towards the similarity's place
};

// The default face fitted to a head. The control mesh (controlPoints, controlTriangles) is
// what face-import writes as the model's control mesh for the head's render mesh.
struct FaceFit {
    Similarity similarity;
    FaceWarp warp; // W, acting on points already under the similarity
    // K: the default face's rest control points under the similarity (x_i of the poses).
    std::vector<Vector3> placed;
    // K: W(placed[i]).
    std::vector<Vector3> warped;
    // K: the fitted control points: warped[i] + the residual that puts them on the surface.
    std::vector<Vector3> controlPoints;
    std::vector<Triangle> controlTriangles; // L: the default face's, in its numbering
    // The rules the fitted control mesh still breaks (none where the repair succeeded).
    CageFaults faults;
    // faceFeatureCount: every feature of the default face (FaceFeature) under the
    // similarity and W: where it lies on the head.
    Vector3 featurePoints[faceFeatureCount];
    // The default face's up (+y) and front (+z) under the similarity's turn: the head's
    // own axes as the landmarks see them.
    Vector3 up = {0.0f, 1.0f, 0.0f}, front = {0.0f, 0.0f, 1.0f};
    float faceHeight = 0.0f; // the default face's height under the similarity's scale
    // V: the default face's render vertices under the similarity and W (its triangles are
    // the default face's), and the rearmost of them along front (dot product).
    std::vector<Vector3> fittedVertices;
    float back = 0.0f;
    FitFigures figures;
};

// Fits face (buildDefaultFace) to the head: positions (headVertexCount), triangles
// (headTriangleCount, indices below headVertexCount, counter-clockwise seen from outside),
// landmarks (fitLandmarkCount points on or near the head's surface, in the head's frame,
// in FaceFeature order). Writes every field of fit. Returns false with one line in error
// where the landmarks decide no similarity (all on one line) or the head has no triangles.
// The pairing and the warp run on the workers: the same result with any thread count.
bool fitDefaultFace(FaceFit& fit, std::string& error, const Vector3* headPositions,
                    int32_t headVertexCount, const Triangle* headTriangles,
                    int32_t headTriangleCount, const Vector3 headLandmarks[fitLandmarkCount],
                    const DefaultFace& face, const FitSettings& settings = FitSettings(),
                    WorkerPool& workers = sharedWorkers());

// The fit's figures in words, for face-import's report (two lines, each ending in '\n'):
//   fit: 18 landmarks, the farthest 0.42 % of the head's height off (lip_lower); the face
//   lies 0.076 % (median) and 0.44 % (95th percentile) of the head's height from the
//   head's surface over the 96 % of it the head covers
//   fitted control mesh: 216 of 240 points on the head's surface, 0 held where the warp put
//   them and 0 drawn back to keep the control mesh's rules; every rule kept
// (where a rule is still broken, the second line names how many triangles break each).
void describeFit(std::string& text, const FaceFit& fit);
