// Construction of the smooth surface over a control mesh: every control triangle is split
// at an interior point into three cubic triangular Bézier sub-patches (a Clough–Tocher
// split) whose control points are lifted onto tangent planes from the corner positions,
// the corner normals and one normal per control-mesh edge.
//
// Sub-patch k (0..2) of a triangle P0 P1 P2 lies over P_k, P_(k+1) and the split point C,
// with barycentric weight a at P_k, b at P_(k+1), c at C. Its ten control points, named by
// their monomials:
//   b300 = P_k     b210 = E1_k    b201 = I_k      b120 = E2_k   b030 = P_(k+1)
//   b111 = F_k     b102 = G_k     b021 = I_(k+1)  b012 = G_(k+1) b003 = C
// The boundary curve of an edge depends only on the edge's two corners, their normals and
// the edge normal, so both triangles at an edge build the same curve.
//
// Every routine is straight-line 32-bit float arithmetic in the order documented, writes
// into the caller's results and allocates nothing. Nothing is validated: a zero
// denominator or a zero-length vector yields non-finite points.
#pragma once

#include "geometry/vector.h"

// Thirds and ninths as 32-bit floats, used by name so every caller rounds alike.
constexpr float oneThird = 0.33333334f;
constexpr float twoThirds = 0.6666667f;
constexpr float oneNinth = 0.11111111f;
constexpr float fourNinths = 0.44444445f;
constexpr float sevenNinths = 0.7777778f;

// result = X + t·d with t = ((Q − X)·H) / (H·d): where the line through X along d meets
// the plane through Q with normal H.
Vector3& projectAlong(Vector3& result, const Vector3& X, const Vector3& d, const Vector3& Q,
                      const Vector3& H);

// The two inner control points of the cubic boundary curve of the edge from P (normal N)
// to P2 (normal N2) with edge normal M. With n_t = lerp(lerp(N, M, t), lerp(M, N2, t), t):
//   E1 = projectAlong(lerp(P, P2, 1/3), n_(1/3), P, N)    (tangent plane at P)
//   E2 = projectAlong(lerp(P, P2, 2/3), n_(2/3), P2, N2)  (tangent plane at P2)
void edgeInnerPoints(Vector3& E1, Vector3& E2, const Vector3& P, const Vector3& N,
                     const Vector3& P2, const Vector3& N2, const Vector3& M);

// edgeInnerPoints, and the unit normal H = normalize((M × D) × D), D = E2 − E1, of the
// edge's cross plane (independent of the direction in which the edge is run).
void edgePlane(Vector3& E1, Vector3& E2, Vector3& H, const Vector3& P, const Vector3& N,
               const Vector3& P2, const Vector3& N2, const Vector3& M);

// The sixteen new control points of one control triangle (index k = corner or edge k;
// edge k runs from corner k to corner k + 1 mod 3).
struct TrianglePatchPoints {
    Vector3 E1[3]; // inner point of edge k near corner k
    Vector3 E2[3]; // inner point of edge k near corner k + 1
    Vector3 I[3];  // corner interior point of corner k
    Vector3 F[3];  // edge interior point of edge k
    Vector3 G[3];  // spoke point of corner k
    Vector3 C;     // split point
};

// Builds the sub-patch points of the triangle with corners P0..P2, unit corner normals
// N0..N2 and edge normals M0 (P0→P1), M1 (P1→P2), M2 (P2→P0):
//   1. (E1_k, E2_k, H_k) = edgePlane of edge k, k = 0, 1, 2;
//   2. normal field n(λ) = quadratic triangle (N0, M0, M2, N1, M1, N2) at λ, unnormalised;
//   3. I_k = projectAlong(X, n(λ), P_k, N_k), λ = 7/9 at corner k and 1/9 elsewhere,
//      X = combine3(P0, P1, P2; λ);
//   4. F_k = projectAlong(X, n(λ), E1_k, H_k), λ = 4/9 at corners k and k + 1, 1/9 at
//      the third;
//   5. G_k = combine3(I_k, F_k, F_(k−1); 1/3, 1/3, 1/3), F_(−1) = F_2;
//   6. C = combine3(G_0, G_1, G_2; 1/3, 1/3, 1/3).
void buildTrianglePatches(TrianglePatchPoints& out, const Vector3& P0, const Vector3& N0,
                          const Vector3& P1, const Vector3& N1, const Vector3& P2,
                          const Vector3& N2, const Vector3& M0, const Vector3& M1,
                          const Vector3& M2);

// Point of the cubic Bézier curve P0 P1 P2 P3 at t, by de Casteljau with lerp.
Vector3& evaluateCubicCurve(Vector3& result, const Vector3& P0, const Vector3& P1,
                            const Vector3& P2, const Vector3& P3, float t);
