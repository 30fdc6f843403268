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
// Every routine writes into the caller's result and returns it; none allocates.
#pragma once

#include "geometry/vector.h"

// result = A·(1 − t) + B·t, per component.
inline Vector3& lerp(Vector3& result, const Vector3& A, const Vector3& B, float t) {
    const float s = 1.0f - t;
    result = {A.x * s + B.x * t, A.y * s + B.y * t, A.z * s + B.z * t};
    return result;
}

// result = (a·A + b·B) + c·C, per component.
inline Vector3& combine3(Vector3& result, const Vector3& A, const Vector3& B, const Vector3& C,
                         float a, float b, float c) {
    result = {(a * A.x + b * B.x) + c * C.x, (a * A.y + b * B.y) + c * C.y,
              (a * A.z + b * B.z) + c * C.z};
    return result;
}

// Quadratic triangle at (a, b, c): q holds 6 points in quadratic net order.
// Two de Casteljau steps: L1..L3 from (q1,q2,q3), (q2,q4,q5), (q3,q5,q6), then combine3.
Vector3& evaluateQuadraticTriangle(Vector3& result, const Vector3* q, float a, float b, float c);

// Cubic triangle at (a, b, c): p holds 10 points in cubic net order. The quadratic
// sub-nets A = (1,2,3,4,5,6), B = (2,4,5,7,8,9), C = (3,5,6,8,9,10) are evaluated first,
// then combined with combine3.
Vector3& evaluateCubicTriangle(Vector3& result, const Vector3* p, float a, float b, float c);

// Quadratic triangle with its six points given one by one (quadratic net order).
Vector3& evaluateQuadraticTriangle(Vector3& result, const Vector3& q1, const Vector3& q2,
                                   const Vector3& q3, const Vector3& q4, const Vector3& q5,
                                   const Vector3& q6, float a, float b, float c);
