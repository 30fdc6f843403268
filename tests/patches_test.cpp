// Sub-patch construction: flat and curved triangles against an independent
// double-precision construction (which puts E1, E2 and I in their tangent planes and F in
// its cross plane).
#include "geometry/patches.h"
#include "tests/support/synthetic_model.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Double-precision vectors for the independent construction.
struct D3 {
    double x, y, z;
};
D3 d3(const Vector3& v) { return {v.x, v.y, v.z}; }
D3 operator+(D3 a, D3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
D3 operator-(D3 a, D3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
D3 operator*(double s, D3 a) { return {s * a.x, s * a.y, s * a.z}; }
double dotD(D3 a, D3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
D3 crossD(D3 a, D3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
D3 unitD(D3 a) { return (1.0 / std::sqrt(dotD(a, a))) * a; }
D3 alongD(D3 X, D3 d, D3 Q, D3 H) { return X + (dotD(Q - X, H) / dotD(H, d)) * d; }

// The construction written from its formulas: quadratic normal field by Bernstein
// polynomials, points by barycentric sums.
struct ReferencePatches {
    D3 E1[3], E2[3], I[3], F[3], G[3], C;
};
ReferencePatches referenceConstruction(const Vector3 Pf[3], const Vector3 Nf[3],
                                       const Vector3 Mf[3]) {
    const D3 P[3] = {d3(Pf[0]), d3(Pf[1]), d3(Pf[2])}, N[3] = {d3(Nf[0]), d3(Nf[1]), d3(Nf[2])},
             M[3] = {d3(Mf[0]), d3(Mf[1]), d3(Mf[2])};
    ReferencePatches r;
    D3 H[3];
    auto field = [&](double a, double b, double c) {
        return (a * a) * N[0] + (2 * a * b) * M[0] + (2 * a * c) * M[2] + (b * b) * N[1] +
               (2 * b * c) * M[1] + (c * c) * N[2];
    };
    for (int k = 0; k < 3; ++k) {
        const int n = (k + 1) % 3;
        for (int end = 0; end < 2; ++end) {
            const double t = end == 0 ? 1.0 / 3 : 2.0 / 3;
            const D3 normal =
                ((1 - t) * (1 - t)) * N[k] + (2 * t * (1 - t)) * M[k] + (t * t) * N[n];
            const D3 X = (1 - t) * P[k] + t * P[n];
            (end == 0 ? r.E1[k] : r.E2[k]) =
                alongD(X, normal, end == 0 ? P[k] : P[n], end == 0 ? N[k] : N[n]);
        }
        const D3 D = r.E2[k] - r.E1[k];
        H[k] = unitD(crossD(crossD(M[k], D), D));
    }
    for (int k = 0; k < 3; ++k) {
        double l[3] = {1.0 / 9, 1.0 / 9, 1.0 / 9};
        l[k] = 7.0 / 9;
        r.I[k] =
            alongD(l[0] * P[0] + l[1] * P[1] + l[2] * P[2], field(l[0], l[1], l[2]), P[k], N[k]);
    }
    for (int k = 0; k < 3; ++k) {
        double l[3] = {4.0 / 9, 4.0 / 9, 4.0 / 9};
        l[(k + 2) % 3] = 1.0 / 9;
        r.F[k] =
            alongD(l[0] * P[0] + l[1] * P[1] + l[2] * P[2], field(l[0], l[1], l[2]), r.E1[k], H[k]);
    }
    for (int k = 0; k < 3; ++k)
        r.G[k] = (1.0 / 3) * (r.I[k] + r.F[k] + r.F[(k + 2) % 3]);
    r.C = (1.0 / 3) * (r.G[0] + r.G[1] + r.G[2]);
    return r;
}

void expectNear(const Vector3& a, D3 b, double tolerance) {
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

// A corner normal tilted at most ~atan(tilt) away from up.
Vector3 tilted(Random& random, float tilt) {
    return normalize(Vector3{random.range(-tilt, tilt), random.range(-tilt, tilt), 1.0f});
}

} // namespace

// Trial 0 is flat, every normal +z: each control point lies at its domain position.
// A construction that differs between the two directions of an edge cannot match the
// reference, which is symmetric: neighbouring sub-patches would crack apart.
TEST(SubPatchConstruction, FlatAndCurvedTrianglesMatchIndependentConstruction) {
    Random random(3);
    for (int trial = 0; trial < 20; ++trial) {
        const float lift = trial == 0 ? 0.0f : 0.5f, tilt = trial == 0 ? 0.0f : 0.3f;
        Vector3 P[3] = {{0, 0, 0}, {3, 0, lift}, {0.5f, 3, -lift}}, N[3], M[3];
        for (int k = 0; k < 3; ++k) {
            P[k] = P[k] + Vector3{random.range(-0.3f, 0.3f), random.range(-0.3f, 0.3f), 0};
            N[k] = tilted(random, tilt);
            M[k] = tilted(random, tilt);
        }
        TrianglePatchPoints q;
        buildTrianglePatches(q, P[0], N[0], P[1], N[1], P[2], N[2], M[0], M[1], M[2]);
        const ReferencePatches r = referenceConstruction(P, N, M);
        const double tol = 2e-5;
        for (int k = 0; k < 3; ++k) {
            expectNear(q.E1[k], r.E1[k], tol);
            expectNear(q.E2[k], r.E2[k], tol);
            expectNear(q.I[k], r.I[k], tol);
            expectNear(q.F[k], r.F[k], tol);
            expectNear(q.G[k], r.G[k], tol);
        }
        expectNear(q.C, r.C, tol);
    }
}
