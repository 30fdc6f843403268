#include "geometry/bezier.h"

Vector3& evaluateQuadraticTriangle(Vector3& result, const Vector3& q1, const Vector3& q2,
                                   const Vector3& q3, const Vector3& q4, const Vector3& q5,
                                   const Vector3& q6, float a, float b, float c) {
    Vector3 l1, l2, l3;
    combine3(l1, q1, q2, q3, a, b, c);
    combine3(l2, q2, q4, q5, a, b, c);
    combine3(l3, q3, q5, q6, a, b, c);
    return combine3(result, l1, l2, l3, a, b, c);
}

Vector3& evaluateQuadraticTriangle(Vector3& result, const Vector3* q, float a, float b, float c) {
    return evaluateQuadraticTriangle(result, q[0], q[1], q[2], q[3], q[4], q[5], a, b, c);
}

Vector3& evaluateCubicTriangle(Vector3& result, const Vector3* p, float a, float b, float c) {
    Vector3 qa, qb, qc;
    evaluateQuadraticTriangle(qa, p[0], p[1], p[2], p[3], p[4], p[5], a, b, c);
    evaluateQuadraticTriangle(qb, p[1], p[3], p[4], p[6], p[7], p[8], a, b, c);
    evaluateQuadraticTriangle(qc, p[2], p[4], p[5], p[7], p[8], p[9], a, b, c);
    return combine3(result, qa, qb, qc, a, b, c);
}
