#include "geometry/patches.h"

#include "geometry/bezier.h"

Vector3& projectAlong(Vector3& result, const Vector3& X, const Vector3& d, const Vector3& Q,
                      const Vector3& H) {
    const float t = dot(Q - X, H) / dot(H, d);
    result = X + t * d;
    return result;
}

namespace {

// The quadratic curve of normals N, M, N2 at t (unnormalised) and the edge point at t.
void edgeSample(Vector3& point, Vector3& normal, const Vector3& P, const Vector3& N,
                const Vector3& P2, const Vector3& N2, const Vector3& M, float t) {
    Vector3 nNear, nFar;
    lerp(point, P, P2, t);
    lerp(nNear, N, M, t);
    lerp(nFar, M, N2, t);
    lerp(normal, nNear, nFar, t);
}

} // namespace

void edgeInnerPoints(Vector3& E1, Vector3& E2, const Vector3& P, const Vector3& N,
                     const Vector3& P2, const Vector3& N2, const Vector3& M) {
    Vector3 point, normal;
    edgeSample(point, normal, P, N, P2, N2, M, oneThird);
    projectAlong(E1, point, normal, P, N);
    edgeSample(point, normal, P, N, P2, N2, M, twoThirds);
    projectAlong(E2, point, normal, P2, N2);
}

void edgePlane(Vector3& E1, Vector3& E2, Vector3& H, const Vector3& P, const Vector3& N,
               const Vector3& P2, const Vector3& N2, const Vector3& M) {
    edgeInnerPoints(E1, E2, P, N, P2, N2, M);
    const Vector3 D = E2 - E1;
    H = normalize(cross(cross(M, D), D));
}

void buildTrianglePatches(TrianglePatchPoints& out, const Vector3& P0, const Vector3& N0,
                          const Vector3& P1, const Vector3& N1, const Vector3& P2,
                          const Vector3& N2, const Vector3& M0, const Vector3& M1,
                          const Vector3& M2) {
    const Vector3* P[3] = {&P0, &P1, &P2};
    const Vector3* N[3] = {&N0, &N1, &N2};
    const Vector3* M[3] = {&M0, &M1, &M2};

    // Edges: inner points and cross planes.
    Vector3 H[3];
    for (int k = 0; k < 3; ++k) {
        const int next = (k + 1) % 3;
        edgePlane(out.E1[k], out.E2[k], H[k], *P[k], *N[k], *P[next], *N[next], *M[k]);
    }

    // The normal field's quadratic net in order a², ab, ac, b², bc, c².
    const Vector3 normalNet[6] = {N0, M0, M2, N1, M1, N2};

    // Corner interior points onto the corner tangent planes.
    for (int k = 0; k < 3; ++k) {
        float lambda[3] = {oneNinth, oneNinth, oneNinth};
        lambda[k] = sevenNinths;
        Vector3 X, n;
        combine3(X, P0, P1, P2, lambda[0], lambda[1], lambda[2]);
        evaluateQuadraticTriangle(n, normalNet, lambda[0], lambda[1], lambda[2]);
        projectAlong(out.I[k], X, n, *P[k], *N[k]);
    }

    // Edge interior points onto the edges' cross planes.
    for (int k = 0; k < 3; ++k) {
        float lambda[3] = {fourNinths, fourNinths, fourNinths};
        lambda[(k + 2) % 3] = oneNinth;
        Vector3 X, n;
        combine3(X, P0, P1, P2, lambda[0], lambda[1], lambda[2]);
        evaluateQuadraticTriangle(n, normalNet, lambda[0], lambda[1], lambda[2]);
        projectAlong(out.F[k], X, n, out.E1[k], H[k]);
    }

    // Spokes and the split point: plain averages, which keep the three sub-patches C1.
    for (int k = 0; k < 3; ++k)
        combine3(out.G[k], out.I[k], out.F[k], out.F[(k + 2) % 3], oneThird, oneThird, oneThird);
    combine3(out.C, out.G[0], out.G[1], out.G[2], oneThird, oneThird, oneThird);
}

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
