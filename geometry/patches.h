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
// Every routine is straight-line 32-bit float arithmetic in the order documented and
// allocates nothing. Nothing is validated: a zero
// denominator or a zero-length vector yields non-finite points.
#pragma once

#include "geometry/bezier.h"
#include "geometry/vector.h"

#include <cmath>

// Thirds and ninths as 32-bit floats, used by name so every caller rounds alike.
constexpr float oneThird = 0.33333334f;
constexpr float twoThirds = 0.6666667f;
constexpr float oneNinth = 0.11111111f;
constexpr float fourNinths = 0.44444445f;
constexpr float sevenNinths = 0.7777778f;

// The routines below are written once over a lane type V, as lerp, combine3 and
// evaluateQuadraticTriangle are (geometry/bezier.h), so the fast update and the reference order
// compute the same bits from the same source.

// X + t·d with t = ((Q − X)·H) / (H·d): where the line through X along d meets the plane
// through Q with normal H.
template <class V> V projectAlong(const V& X, const V& d, const V& Q, const V& H) {
    const float t = dot(Q - X, H) / dot(H, d);
    return X + t * d;
}

// The two inner control points of the cubic boundary curve of the edge from P (normal N)
// to P2 (normal N2) with edge normal M. With n_t = lerp(lerp(N, M, t), lerp(M, N2, t), t):
//   E1 = projectAlong(lerp(P, P2, 1/3), n_(1/3), P, N)    (tangent plane at P)
//   E2 = projectAlong(lerp(P, P2, 2/3), n_(2/3), P2, N2)  (tangent plane at P2)
template <class V>
void edgeInnerPoints(V& E1, V& E2, const V& P, const V& N, const V& P2, const V& N2, const V& M) {
    V normal = lerp(lerp(N, M, oneThird), lerp(M, N2, oneThird), oneThird);
    E1 = projectAlong(lerp(P, P2, oneThird), normal, P, N);
    normal = lerp(lerp(N, M, twoThirds), lerp(M, N2, twoThirds), twoThirds);
    E2 = projectAlong(lerp(P, P2, twoThirds), normal, P2, N2);
}

// edgeInnerPoints, and the unit normal H = normalize((M × D) × D), D = E2 − E1, of the
// edge's cross plane (independent of the direction in which the edge is run).
template <class V>
void edgePlane(V& E1, V& E2, V& H, const V& P, const V& N, const V& P2, const V& N2, const V& M) {
    edgeInnerPoints(E1, E2, P, N, P2, N2, M);
    const V D = E2 - E1;
    const V h = cross(cross(M, D), D);
    H = h * (1.0f / std::sqrt(dot(h, h)));
}

// The sixteen new control points of one control triangle (index k = corner or edge k;
// edge k runs from corner k to corner k + 1 mod 3).
template <class V> struct PatchPointsOf {
    V E1[3]; // inner point of edge k near corner k
    V E2[3]; // inner point of edge k near corner k + 1
    V I[3];  // corner interior point of corner k
    V F[3];  // edge interior point of edge k
    V G[3];  // spoke point of corner k
    V C;     // split point
};
using TrianglePatchPoints = PatchPointsOf<Vector3>;

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
template <class V>
void buildTrianglePatches(PatchPointsOf<V>& out, const V& P0, const V& N0, const V& P1, const V& N1,
                          const V& P2, const V& N2, const V& M0, const V& M1, const V& M2) {
    const V P[3] = {P0, P1, P2}, N[3] = {N0, N1, N2}, M[3] = {M0, M1, M2};
    V H[3];
    for (int k = 0; k < 3; ++k) {
        const int next = (k + 1) % 3;
        edgePlane(out.E1[k], out.E2[k], H[k], P[k], N[k], P[next], N[next], M[k]);
    }
    for (int k = 0; k < 3; ++k) {
        float l[3] = {oneNinth, oneNinth, oneNinth};
        l[k] = sevenNinths;
        const V n = evaluateQuadraticTriangle(N0, M0, M2, N1, M1, N2, l[0], l[1], l[2]);
        out.I[k] = projectAlong(combine3(P0, P1, P2, l[0], l[1], l[2]), n, P[k], N[k]);
    }
    for (int k = 0; k < 3; ++k) {
        float l[3] = {fourNinths, fourNinths, fourNinths};
        l[(k + 2) % 3] = oneNinth;
        const V n = evaluateQuadraticTriangle(N0, M0, M2, N1, M1, N2, l[0], l[1], l[2]);
        out.F[k] = projectAlong(combine3(P0, P1, P2, l[0], l[1], l[2]), n, out.E1[k], H[k]);
    }
    // Spokes and the split point: plain averages, which keep the three sub-patches C1.
    for (int k = 0; k < 3; ++k)
        out.G[k] = combine3(out.I[k], out.F[k], out.F[(k + 2) % 3], oneThird, oneThird, oneThird);
    out.C = combine3(out.G[0], out.G[1], out.G[2], oneThird, oneThird, oneThird);
}

// The nets of a triangle's three sub-patches from its corners P[0..2] and the points q that
// buildTrianglePatches made of them. Sub-patch k spans corner k, corner k + 1 and the split
// point; its net in net order b300, b210, b201, b120, b111, b102, b030, b021, b012, b003 is
// P_k, E1_k, I_k, E2_k, F_k, G_k, P_(k+1), I_(k+1), G_(k+1), C.
template <class V> void subPatchNets(V nets[3][10], const PatchPointsOf<V>& q, const V* P) {
    for (int k = 0; k < 3; ++k) {
        const int next = (k + 1) % 3;
        V* net = nets[k];
        net[0] = P[k];
        net[1] = q.E1[k];
        net[2] = q.I[k];
        net[3] = q.E2[k];
        net[4] = q.F[k];
        net[5] = q.G[k];
        net[6] = P[next];
        net[7] = q.I[next];
        net[8] = q.G[next];
        net[9] = q.C;
    }
}

// Point of the cubic Bézier curve P0 P1 P2 P3 at t, by de Casteljau with lerp.
Vector3& evaluateCubicCurve(Vector3& result, const Vector3& P0, const Vector3& P1,
                            const Vector3& P2, const Vector3& P3, float t);
