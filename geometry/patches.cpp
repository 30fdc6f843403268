#include "geometry/patches.h"

#include "geometry/bezier.h"

Vector3& evaluateCubicCurve(Vector3& result, const Vector3& P0, const Vector3& P1,
                            const Vector3& P2, const Vector3& P3, float t) {
    Vector3 q0, q1, q2, r0, r1;
    lerp(q0, P0, P1, t);
    lerp(q1, P1, P2, t);
    lerp(q2, P2, P3, t);
    lerp(r0, q0, q1, t);
    lerp(r1, q1, q2, t);
    return lerp(result, r0, r1, t);
}
