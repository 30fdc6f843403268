// Closest-point projection onto a sub-patch: foot points on a flat patch, the sign of the
// distance, the objective's gradient against finite differences, and the evaluation cap.
#include "geometry/bezier.h"
#include "geometry/patches.h"
#include "geometry/projection.h"
#include "tests/support/synthetic_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// Flat net over A = (0,0,0), B = (3,0,0), C = (0,3,0): point a^i b^j c^k at
// (i·A + j·B + k·C)/3, integer coordinates. S(u, v) = (3v, 3w, 0), n = +z.
const Vector3 flatNet[10] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {2, 0, 0}, {1, 1, 0},
                             {0, 2, 0}, {3, 0, 0}, {2, 1, 0}, {1, 2, 0}, {0, 3, 0}};

// A curved net: the flat one with heights.
void curvedNet(Vector3* p, float scale) {
    const float heights[10] = {0, 0.4f, -0.3f, 0.5f, 0.8f, 0.1f, 0, 0.6f, -0.2f, 0.3f};
    for (int i = 0; i < 10; ++i)
        p[i] = scale * Vector3{flatNet[i].x, flatNet[i].y, heights[i]};
}

} // namespace

TEST(Projection, PointAboveAFlatPatchFindsItsFootPointWithSignedDistance) {
    // Foot point (1.2, 0.9, 0): 3v = 1.2, 3w = 0.9, so (u, v) = (0.3, 0.4). Started there,
    // the first evaluation already stops, with the parameters untouched.
    for (const bool atFoot : {false, true})
        for (const float h : {2.0f, -2.0f, 0.25f}) {
            float u = atFoot ? 0.3f : 1.0f / 3, v = atFoot ? 0.4f : 1.0f / 3, d = 0;
            int32_t evaluations = 0;
            projectToSubPatch(u, v, d, {1.2f, 0.9f, h}, flatNet, &evaluations);
            // f < 0.01 bounds |R·Su| and |R·Sv| by 0.1, that is the parameters by 0.035.
            EXPECT_NEAR(u, 0.3f, atFoot ? 0.0f : 0.035f);
            EXPECT_NEAR(v, 0.4f, atFoot ? 0.0f : 0.035f);
            EXPECT_NEAR(d, -h, atFoot ? 1e-6f : 0.01f) << "positive opposite to n = +z";
            EXPECT_EQ(evaluations == 1, atFoot);
        }
}

TEST(Projection, GradientMatchesFiniteDifferencesOnACurvedPatch) {
    Vector3 p[10];
    curvedNet(p, 1.0f);
    const Vector3 X = {1.1f, 0.7f, 1.5f};
    const double h = 1e-3;
    for (const float u : {0.2f, 0.45f}) {
        for (const float v : {0.15f, 0.3f}) {
            ProjectionEvaluation e, eu1, eu0, ev1, ev0;
            evaluateProjectionObjective(e, X, p, u, v, 1.0f - u - v);
            const float up = u + float(h), um = u - float(h), vp = v + float(h), vm = v - float(h);
            evaluateProjectionObjective(eu1, X, p, up, v, 1.0f - up - v);
            evaluateProjectionObjective(eu0, X, p, um, v, 1.0f - um - v);
            evaluateProjectionObjective(ev1, X, p, u, vp, 1.0f - u - vp);
            evaluateProjectionObjective(ev0, X, p, u, vm, 1.0f - u - vm);
            const double fu = (double(eu1.f) - eu0.f) / (double(up) - um);
            const double fv = (double(ev1.f) - ev0.f) / (double(vp) - vm);
            EXPECT_NEAR(e.fu, fu, 1e-2 * (1 + std::fabs(fu)));
            EXPECT_NEAR(e.fv, fv, 1e-2 * (1 + std::fabs(fv)));
        }
    }
}

TEST(Projection, CurvedPatchEndsWithTheResidualAlongTheNormal) {
    Vector3 p[10];
    curvedNet(p, 1.0f);
    Random random(9);
    for (int trial = 0; trial < 100; ++trial) {
        const float u0 = random.range(0.1f, 0.5f), v0 = random.range(0.1f, 0.4f);
        Vector3 S;
        evaluateCubicTriangle(S, p, u0, v0, 1.0f - u0 - v0);
        const Vector3 X = S + Vector3{random.range(-0.2f, 0.2f), random.range(-0.2f, 0.2f),
                                      random.range(-0.3f, 0.3f)};
        float u = u0 + 0.05f, v = v0 - 0.05f, d = 0;
        int32_t evaluations = 0;
        projectToSubPatch(u, v, d, X, p, &evaluations);
        ProjectionEvaluation e;
        evaluateProjectionObjective(e, X, p, u, v, 1.0f - u - v);
        EXPECT_LT(evaluations, projectionMaxEvaluations);
        EXPECT_TRUE(e.f < 0.01f || e.fu * e.fu + e.fv * e.fv < 0.01f);
        EXPECT_EQ(std::fabs(d), length(e.R));
    }
}

TEST(Projection, StopsAtTheEvaluationCap) {
    // Non-finite values fail both stopping tests.
    Vector3 p[10];
    curvedNet(p, 1.0f);
    p[4].z = std::numeric_limits<float>::quiet_NaN();
    float u = 0.3f, v = 0.3f, d = 0;
    int32_t evaluations = 0;
    projectToSubPatch(u, v, d, {1, 1, 1}, p, &evaluations);
    EXPECT_EQ(evaluations, projectionMaxEvaluations);

    // At a large scale the absolute tolerance on f (a fourth power of a length) is below
    // what float positions can resolve, so the iteration runs to the cap.
    curvedNet(p, 3000.0f);
    u = 0.3f, v = 0.3f;
    projectToSubPatch(u, v, d, {3000, 2000, 2500}, p, &evaluations);
    EXPECT_EQ(evaluations, projectionMaxEvaluations);
    EXPECT_TRUE(std::isfinite(u) && std::isfinite(v) && std::isfinite(d));
}
