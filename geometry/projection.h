// Closest-point projection of a point onto a cubic triangular Bézier sub-patch: a Newton
// iteration on the scalar objective f = (R·Su)² + (R·Sv)², which vanishes where the
// residual R = S(u, v) − X is perpendicular to both tangents (the foot point).
//
// Parameters: u weighs the net's corner a³, v the corner b³, w = 1 − u − v the corner c³.
// The ten points p[0..9] are in cubic net order (a³, a²b, a²c, ab², abc, ac², b³, b²c,
// bc², c³); for a face-model sub-patch that is b300, b210, b201, b120, b111, b102, b030,
// b021, b012, b003.
#pragma once

#include "geometry/vector.h"

// Stopping tolerances of the iteration (absolute, in model units: f is a length to the
// fourth power, its squared gradient a length to the eighth), and its evaluation cap.
constexpr float projectionObjectiveTolerance = 0.01f;
constexpr float projectionGradientTolerance = 0.01f;
constexpr int32_t projectionMaxEvaluations = 100;

// Everything one evaluation of the objective yields.
struct ProjectionEvaluation {
    Vector3 S; // surface point S(u, v)
    Vector3 R; // residual S − X
    Vector3 n; // normalize(Su × Sv)
    float f;   // (R·Su)² + (R·Sv)²
    float fu;  // ∂f/∂u
    float fv;  // ∂f/∂v
};

// Evaluates the objective at (u, v, w), w given by the caller as 1 − u − v:
//   Da, Db, Dc = 3·quadratic sub-nets A, B, C;  Hxy = 6·linear sub-nets (aa, ab, bb, ac,
//   bc, cc); Su = Da − Dc, Sv = Db − Dc, Suu = Haa − 2Hac + Hcc, Svv = Hbb − 2Hbc + Hcc,
//   Suv = Hab − Hac − Hbc + Hcc; α = R·Su, β = R·Sv, f = α² + β²;
//   fu = 2α(Su·Su + R·Suu) + 2β(Su·Sv + R·Suv),
//   fv = 2β(Sv·Sv + R·Svv) + 2α(Su·Sv + R·Suv).
void evaluateProjectionObjective(ProjectionEvaluation& out, const Vector3& X, const Vector3* p,
                                 float u, float v, float w);

// Refines the start (u, v) towards the foot point of X on the patch p[0..9]: stops when
// f < 0.01, or the squared gradient g² < 0.01 (both strict, f tested first), or after the
// 100th evaluation; each step is u −= f·fu/g², v −= f·fv/g². Parameters are never clamped.
// On return u and v hold the last evaluated parameters and d the signed distance |R| of
// that evaluation, positive when n·R > 0 (X on the side opposite to n), else −|R|.
// If evaluations is not null it receives the number of evaluations made (1 to 100).
void projectToSubPatch(float& u, float& v, float& d, const Vector3& X, const Vector3* p,
                       int32_t* evaluations = nullptr);
