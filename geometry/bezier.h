// Linear interpolation, barycentric combination and de Casteljau evaluation of
// quadratic and cubic triangular Bézier nets, in fixed point orders.
//
// Barycentric weights (a, b, c) are passed by value; callers keep a + b + c = 1 (usually
// c = 1 − a − b). Weights outside [0, 1] extrapolate; nothing is checked.
//
// Net orders, each point named by the monomial it weighs:
//   quadratic (6 points): a², ab, ac, b², bc, c²
//   cubic (10 points):    a³, a²b, a²c, ab², abc, ac², b³, b²c, bc², c³
// Row i of the cubic net holds i + 1 points; position j of row i weighs a^(3−i) b^(i−j) c^j.
//
// Every Vector3 routine writes into the caller's result and returns it; none allocates.
#pragma once

#include "geometry/vector.h"

// The evaluators are written once over a lane type V: Vector3, or a vector-register type
// with the same operations (geometry/lanes.h): +, −, V·float, float·V, V/float, dot and
// cross, each rounding as Vector3's does. The weights are of a scalar type S: float, or
// four floats in lanes where V holds four points (Points4 of geometry/lanes.h), each lane
// rounding as the float does. Each operation has one name: the template returns its value,
// and the Vector3 form writes into the caller's result through the template.

// A·(1 − t) + B·t.
template <class V> V lerp(const V& A, const V& B, float t) {
    const float s = 1.0f - t;
    return A * s + B * t;
}

// (a·A + b·B) + c·C.
template <class V, class S> V combine3(const V& A, const V& B, const V& C, S a, S b, S c) {
    return (a * A + b * B) + c * C;
}

// The quadratic triangle (q1..q6 in net order a², ab, ac, b², bc, c²) at (a, b, c): two
// de Casteljau steps, L1..L3 from (q1,q2,q3), (q2,q4,q5), (q3,q5,q6), then combined.
template <class V, class S>
V evaluateQuadraticTriangle(const V& q1, const V& q2, const V& q3, const V& q4, const V& q5,
                            const V& q6, S a, S b, S c) {
    return combine3(combine3(q1, q2, q3, a, b, c), combine3(q2, q4, q5, a, b, c),
                    combine3(q3, q5, q6, a, b, c), a, b, c);
}

// result = A·(1 − t) + B·t, per component.
inline Vector3& lerp(Vector3& result, const Vector3& A, const Vector3& B, float t) {
    return result = lerp(A, B, t);
}

// result = (a·A + b·B) + c·C, per component.
inline Vector3& combine3(Vector3& result, const Vector3& A, const Vector3& B, const Vector3& C,
                         float a, float b, float c) {
    return result = combine3(A, B, C, a, b, c);
}

// Quadratic triangle at (a, b, c): q holds 6 points in quadratic net order.
inline Vector3& evaluateQuadraticTriangle(Vector3& result, const Vector3* q, float a, float b,
                                          float c) {
    return result = evaluateQuadraticTriangle(q[0], q[1], q[2], q[3], q[4], q[5], a, b, c);
}

// The cubic net's three quadratic sub-nets (p1..p10 in cubic net order) at (a, b, c):
// A over (p1, p2, p3, p4, p5, p6), B over (p2, p4, p5, p7, p8, p9), C over
// (p3, p5, p6, p8, p9, p10): the last de Casteljau level but one.
template <class V, class S>
inline __attribute__((always_inline)) void cubicSubNets(V& A, V& B, V& C, const V* p, S a, S b,
                                                        S c) {
    A = evaluateQuadraticTriangle(p[0], p[1], p[2], p[3], p[4], p[5], a, b, c);
    B = evaluateQuadraticTriangle(p[1], p[3], p[4], p[6], p[7], p[8], a, b, c);
    C = evaluateQuadraticTriangle(p[2], p[4], p[5], p[7], p[8], p[9], a, b, c);
}

// The cubic triangle at (a, b, c): its sub-nets combined with combine3.
template <class V> V evaluateCubicTriangle(const V* p, float a, float b, float c) {
    V A, B, C;
    cubicSubNets(A, B, C, p, a, b, c);
    return combine3(A, B, C, a, b, c);
}

// Cubic triangle at (a, b, c): p holds 10 points in cubic net order.
inline Vector3& evaluateCubicTriangle(Vector3& result, const Vector3* p, float a, float b,
                                      float c) {
    return result = evaluateCubicTriangle(p, a, b, c);
}
