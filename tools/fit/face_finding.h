// Finding the face on a head mesh without landmarks: its own up and front, from where its
// nose, eyes and mouth are rather than from the file's axes, and its 18 landmarks; or a
// refusal where the mesh shows no face (a duck, a spider, a box).
//
// The search, on an even sample of the surface (any size, orientation and units):
// 1. The mirror plane: a face is nearly mirror-symmetric, so its up and front lie in the
//    plane the sample best meets itself across. Started across many directions, each plane
//    is refined as the iterative closest point method refines a transform (each point paired
//    with the sample point nearest its reflection, the plane moved so that the reflections
//    reach their partners' tangent planes).
// 2. Noses: the points of that plane that stand out most, at four scales (from 1 % to 8 % of
//    the box diagonal): those whose neighbours within the scale have their centroid farthest
//    behind them. Each gives a place, a rough front (away from that centroid) and a size.
// 3. The face about each nose, either way up: seen from fronts turned within ±30° of the
//    nose's, its depth (the triangles about the nose drawn into a depth buffer, as the
//    template is drawn, so that a small face on a large body has no holes) is compared with
//    a template face's
//    (the default face, makeFaceTemplate) with the template's nose tip on the nose, at sizes
//    from 1.5 to 8 times the nose's scale. The comparison is the normalised correlation of
//    the depths' detail (each cell's depth less the mean around it: the nose, the eyes'
//    hollows, the brows, the mouth, the chin; not the roundness every head has), times the
//    share of the template seen. The best views, refined in finer turns and cells, are the
//    candidates.
// 4. A head's depth: the best candidate whose column of mesh behind the nose is no deeper
//    than a head's (maximumHeadDepth) is the face; a face-like shape on the end of a body (an
//    animal's hindquarters) has the whole body behind it.
// 5. The landmarks: the template's, carried by that view and size, each moved to the nearest
//    point of the surface; up and front are the landmarks' own (landmarkFrame).
// The correlation is the confidence: below minimumFaceScore, with no mirror plane closer
// than maximumMirrorError, or with no candidate of a head's depth, no face is found.
//
// Deterministic: the same mesh gives the same bits on every run.
#pragma once

#include "geometry/vector.h"
#include "tools/fit/landmarks.h"

#include <cstdint>
#include <string>

// The template's window, in face units (origin the middle of the eyes' corners, x the face's
// left, y its up, z its front, the unit the distance from the eyes' middle to the chin):
// x within ±templateHalfWidth, y from templateBottom to templateTop, in
// templateColumns × templateRows square cells; the template's grid holds templateMargin
// cells more on every side, around which the window's cells are compared.
constexpr int32_t templateColumns = 20;
constexpr int32_t templateRows = 24;
constexpr float templateHalfWidth = 0.7f;
constexpr float templateBottom = -1.08f;
constexpr float templateTop = 0.6f;
constexpr int32_t templateMargin = 2;
constexpr int32_t templateGridColumns = templateColumns + 2 * templateMargin;
constexpr int32_t templateGridRows = templateRows + 2 * templateMargin;

// A face to look for: its depth over the window and its landmarks, in face units.
struct FaceTemplate {
    // Row 0 at the bottom, column 0 on the face's right; cell (templateMargin,
    // templateMargin) is the window's first.
    float depth[templateGridRows][templateGridColumns];
    float weight[templateGridRows][templateGridColumns]; // the share of the cell the face covers
    Vector3 landmarks[landmarkCount];
};

// The template of a face mesh (positions N, triangles M) whose landmarks (landmarkCount,
// all given, placing the face) are known: for this system, the default face and its
// features (tools/assets/expressions.h). Its depth is the front-most surface, averaged
// over each cell; a cell less than half covered weighs nothing.
void makeFaceTemplate(FaceTemplate& face, const Vector3* positions, int32_t N,
                      const Triangle* triangles, int32_t M, const Landmarks& landmarks);

// makeFaceTemplate of the default face (tools/assets/expressions.h buildDefaultFace) and its
// features: the face this system looks for.
void makeDefaultFaceTemplate(FaceTemplate& face);

// Below this agreement (the detail's normalised correlation times the share of the template
// seen) no face is found: over the heads of docs/face-import.md, the faces found score 0.54
// to 0.71; the best matches on heads whose face is not found, and on meshes that are no face
// (the duck, the spider, boxes, a teapot, a rock) score at most 0.45, but for a sphere (0.50
// to 0.54) and the bulls (0.74 to 0.77), which the depth behind them refuses.
constexpr float minimumFaceScore = 0.5f;
// A mesh farther than this from its mirror image (the mean distance of a reflected sample
// point to the nearest sample point, over the box diagonal) shows no face.
constexpr float maximumMirrorError = 0.03f;

// A face whose column (see depthBehind in the source) has mesh deeper than this many
// eyes-to-chin distances behind its nose tip (the 95th percentile) is no head's: a skull is
// about twice that distance deep, and hair or a helmet adds to it; an animal's hindquarters
// have the whole body behind them.
constexpr double maximumHeadDepth = 3.5;

struct FaceFinding {
    bool found = false;
    float score = 0.0f;              // the template's agreement at the face found, −1 to 1
    float mirrorError = 0.0f;        // of the mirror plane used
    float depthBehind = 0.0f;        // of the face chosen, in its eyes-to-chin distances
    Vector3 up = {0.0f, 1.0f, 0.0f}; // the face's own, unit: where found
    Vector3 front = {0.0f, 0.0f, 1.0f};
    Landmarks landmarks; // every one given where found, none where not
    std::string problem; // where not found: why, one line (no file name)
};

// Looks for the face on the mesh (positions N > 0, triangles M, indices below N).
void findFace(FaceFinding& finding, const FaceTemplate& face, const Vector3* positions, int32_t N,
              const Triangle* triangles, int32_t M);
