#include "geometry/projection.h"

#include "geometry/bezier.h"

void evaluateProjectionObjective(ProjectionEvaluation& out, const Vector3& X, const Vector3* p,
                                 float u, float v, float w) {
    // First derivatives with respect to the three weights.
    Vector3 qa, qb, qc;
    cubicSubNets(qa, qb, qc, p, u, v, w);
    const Vector3 Da = 3.0f * qa, Db = 3.0f * qb, Dc = 3.0f * qc;

    // Second derivatives from the linear sub-nets.
    Vector3 laa, lab, lbb, lac, lbc, lcc;
    combine3(laa, p[0], p[1], p[2], u, v, w);
    combine3(lab, p[1], p[3], p[4], u, v, w);
    combine3(lbb, p[3], p[6], p[7], u, v, w);
    combine3(lac, p[2], p[4], p[5], u, v, w);
    combine3(lbc, p[4], p[7], p[8], u, v, w);
    combine3(lcc, p[5], p[8], p[9], u, v, w);
    const Vector3 Haa = 6.0f * laa, Hab = 6.0f * lab, Hbb = 6.0f * lbb;
    const Vector3 Hac = 6.0f * lac, Hbc = 6.0f * lbc, Hcc = 6.0f * lcc;

    // Derivatives in (u, v), with w = 1 − u − v.
    const Vector3 Su = Da - Dc;
    const Vector3 Sv = Db - Dc;
    const Vector3 Suu = Haa - 2.0f * Hac + Hcc;
    const Vector3 Svv = Hbb - 2.0f * Hbc + Hcc;
    const Vector3 Suv = Hab - Hac - Hbc + Hcc;

    out.n = normalize(cross(Su, Sv));
    evaluateCubicTriangle(out.S, p, u, v, w);
    out.R = out.S - X;

    const float alpha = dot(out.R, Su);
    const float beta = dot(out.R, Sv);
    out.f = alpha * alpha + beta * beta;
    const float mixed = dot(Su, Sv) + dot(out.R, Suv);
    out.fu = 2.0f * alpha * (dot(Su, Su) + dot(out.R, Suu)) + 2.0f * beta * mixed;
    out.fv = 2.0f * beta * (dot(Sv, Sv) + dot(out.R, Svv)) + 2.0f * alpha * mixed;
}

void projectToSubPatch(float& u, float& v, float& d, const Vector3& X, const Vector3* p,
                       int32_t* evaluations) {
    float pu = u, pv = v;
    ProjectionEvaluation e;
    evaluateProjectionObjective(e, X, p, pu, pv, 1.0f - pu - pv);
    int32_t count = 1;
    for (;;) {
        if (e.f < projectionObjectiveTolerance)
            break;
        const float g2 = e.fu * e.fu + e.fv * e.fv;
        if (g2 < projectionGradientTolerance)
            break;
        pu = pu - e.f * e.fu / g2;
        pv = pv - e.f * e.fv / g2;
        evaluateProjectionObjective(e, X, p, pu, pv, 1.0f - pu - pv);
        if (++count == projectionMaxEvaluations)
            break;
    }
    u = pu;
    v = pv;
    const float distance = length(e.R);
    d = dot(e.n, e.R) > 0.0f ? distance : -distance;
    if (evaluations)
        *evaluations = count;
}
