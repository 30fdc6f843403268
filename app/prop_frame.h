// Frames spanned by three control points, which carry the rigid props (eyes, teeth)
// along with the deforming face. A frame is the affine map from frame coordinates to model
// coordinates whose columns are the first axis, the second axis, the third axis and the
// origin; the axes need be neither orthogonal nor of unit length, only invertible.
#pragma once

#include "geometry/matrix.h"
#include "geometry/patches.h" // oneThird
#include "io/data_folder.h"

// The frame of points A, B, C:
//   first axis x = (B − A)/|B − A|, origin m = (A + B)·0.5,
//   third axis n = (C − m)/|C − m| (straight at C, not made orthogonal to x),
//   second axis y = x × n (not normalised: its length is the sine of the angle of x and n).
// Degenerate points (A = B, C = m, n parallel to x) give non-finite or singular frames.
Matrix4 frameFromPoints(const Vector3& A, const Vector3& B, const Vector3& C);

// Below this length of the second axis (the sine of the angle between x and n) the third
// point counts as on the line through the first two: rounding alone leaves cross products
// of parallel unit vectors about 1e-7 long, so the frame is singular in all but name.
constexpr float minSecondAxisLength = 1e-6f;

// True when frame (from frameFromPoints) cannot carry a prop: a value is not finite
// (A = B, or C at the mid-point) or the second axis is shorter than minSecondAxisLength (C on
// the line through A and B), which makes the frame singular.
bool frameIsDegenerate(const Matrix4& frame);

// ((p + q) + r)·oneThird per coordinate (one third rounded to float, 0.33333334, instead of a
// division by 3), each partial sum rounded to float.
Vector3 centroid(const Vector3& p, const Vector3& q, const Vector3& r);

struct PropFrame {
    Matrix4 restInverse;   // inverse of the frame of the three points at rest
    bool degenerateAtRest; // the rest frame is degenerate, so restInverse is meaningless

    // Builds and inverts the rest frame once.
    PropFrame(const Vector3& A, const Vector3& B, const Vector3& C);

    // transform = F·restInverse with F the frame of the current points: maps the rest
    // placement of a prop to its current one (the identity while the points have not
    // moved). Returns false when the rest frame or F is degenerate, or a value of the
    // product is not finite; transform must then not be used.
    bool currentTransform(Matrix4& transform, const Vector3& A, const Vector3& B,
                          const Vector3& C) const;
};

// The three frame points of a slot from the control points (at least minControlPointCount).
void propFramePoints(Vector3& A, Vector3& B, Vector3& C, const PropSlotSource& source,
                     const Vector3* controlPoints);
