// The two meshes of the face model, both laid out in the face domain and lifted onto the
// analytic surface (shape.h):
//   - the render mesh: a fine graded grid, with each eye's slit opened into the eye's
//     outline and the lip line cut (two copies of each vertex on it, except the corners);
//   - the control mesh: rows of hand-placed control points along the features, stitched
//     into triangles row by row, with the same cuts.
// Every triangle runs counter-clockwise as seen from outside the face.
#pragma once

#include "geometry/vector.h"
#include "tools/assets/shape.h"

#include <vector>

struct DomainPoint {
    double X, Y;
};

struct FaceMesh {
    std::vector<DomainPoint> domain; // per vertex: where it lies in the face domain
    std::vector<Point3> positions;   // per vertex: facePoint(domain)
    std::vector<Triangle> triangles; // counter-clockwise seen from outside
};

// Render mesh whose finest grid cells are about `spacing` model units wide (0.13 gives
// the committed model; smaller spacings give the dense benchmark variants).
constexpr double defaultRenderSpacing = 0.13;
void buildRenderMesh(FaceMesh& mesh, double spacing);

// Indices of the control points with fixed roles (the props' frames use them).
namespace controlRole {
constexpr int upperLipMiddle = 24;
constexpr int leftUpperLid[3] = {33, 34, 35}; // inner to outer, eye at negative x
constexpr int rightUpperLid[3] = {53, 54, 55};
constexpr int leftEyeInner = 66, leftEyeOuter = 67;
constexpr int rightEyeInner = 68, rightEyeOuter = 69;
constexpr int leftMouthCorner = 70, rightMouthCorner = 74;
constexpr int lowerLipMiddle = 87;
} // namespace controlRole

// The control mesh: its triangles list the skin first, then the eyelids (from
// firstLidOrLipTriangle on) and the lips (from firstLipTriangle on). The binding's normal
// test applies to every sub-patch from freeSubPatchCount (366, control triangle 122) on, so
// it covers the eyelids and the lips (from 354 and 396) and most of the skin; the order is
// not chosen for it.
//
// Every point also keeps the row of the layout it was placed in (controlRow), and its side
// of a cut: +1 for a point of the upper lid's or upper lip's edge alone, −1 for one of the
// lower's, 0 for a point both sides share (the corners, and every point off the cuts). The
// expressions (expressions.h) are made from these.
namespace controlRow {
enum : int {
    hairline,
    forehead,
    aboveBrows,
    brows,
    lidCrease,
    eyes, // the eye corners and the lids' edges
    lowerLids,
    cheeks,
    noseTip,
    noseBase,
    upperLip, // the upper lip's vermilion border
    mouth,    // the lip line
    lowerLip, // the lower lip's border
    chin,
    lowerEdge,
    count
};
} // namespace controlRow

struct ControlMesh {
    FaceMesh mesh;
    std::vector<int> row;  // per point: its row (controlRow)
    std::vector<int> side; // per point: +1 upper edge of a cut, −1 lower edge, 0 both
    int firstLidOrLipTriangle = 0;
    int firstLipTriangle = 0; // lip triangles come after the eyelids
};
void buildControlMesh(ControlMesh& control);
