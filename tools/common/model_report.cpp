#include "tools/common/model_report.h"

#include "app/prop_frame.h"
#include "face/amplification.h"
#include "io/data_folder.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

bool subPatchIsFinite(const FaceModel& model, int32_t s) {
    Vector3 net[10];
    model.subPatchNet(net, s);
    for (const Vector3& p : net)
        if (!isFinite(p))
            return false;
    return true;
}

std::string pointsText(int32_t a, int32_t b) {
    return std::to_string(a) + ", " + std::to_string(b);
}

// Why control triangle t's sub-patches are not finite. Its own corners: repeated, or on
// one line (their cross product negligible against the sides, as for prop frames). Else
// what feeds its construction: an edge whose normal (the sum of its triangles' normals)
// cancelled, a fold (a triangle on one of its edges facing the opposite way), a corner
// whose normal (the sum of the normals of the point's triangles) cancelled or faces against
// the triangle, or an edge of more than two triangles.
std::string nonFiniteCause(const FaceModel& model, const Vector3* P, int32_t t) {
    const int32_t* i = model.controlTriangles[t].index;
    if (P[i[0]] == P[i[1]] || P[i[1]] == P[i[2]] || P[i[2]] == P[i[0]])
        return "a repeated corner";
    const Vector3 e1 = P[i[1]] - P[i[0]], e2 = P[i[2]] - P[i[0]];
    if (length(cross(e1, e2)) < minSecondAxisLength * length(e1) * length(e2))
        return "collinear corners";
    const Vector3 n = normalize(model.controlFaceNormals[t]);
    // Per edge: how many other triangles hold it, the one facing most against this one,
    // and whether the edge's normal cancelled.
    int32_t sharing[3] = {0, 0, 0}, opposite[3] = {-1, -1, -1};
    float worst[3] = {1.0f, 1.0f, 1.0f};
    bool cancelled[3];
    std::string edge[3];
    for (int k = 0; k < 3; ++k) {
        const int32_t e = edgeIndex(model.triangleEdges[t].edge[k]);
        for (int32_t u = 0; u < model.controlTriangleCount; ++u)
            for (int m = 0; m < 3; ++m)
                if (u != t && edgeIndex(model.triangleEdges[u].edge[m]) == e) {
                    ++sharing[k];
                    const float c = dot(n, normalize(model.controlFaceNormals[u]));
                    if (c < worst[k]) {
                        worst[k] = c;
                        opposite[k] = u;
                    }
                }
        cancelled[k] = !(length(model.edgeNormals[e]) > 0.5f);
        edge[k] = "edge (" + pointsText(i[k], i[(k + 1) % 3]) + ")";
    }
    const auto fold = [&](int k) {
        return "a fold: control triangle " + std::to_string(opposite[k]) + " on " + edge[k] +
               " faces the opposite way";
    };
    for (int k = 0; k < 3; ++k)
        if (cancelled[k])
            return worst[k] < 0.0f ? fold(k)
                                   : "the normals of the triangles on " + edge[k] + " cancel";
    for (int k = 0; k < 3; ++k)
        if (!(length(model.controlNormals[i[k]]) > 0.5f))
            return "the normals of control point " + std::to_string(i[k]) + "'s triangles cancel";
    for (int k = 0; k < 3; ++k)
        if (worst[k] < 0.0f)
            return fold(k);
    for (int k = 0; k < 3; ++k)
        if (sharing[k] > 1)
            return edge[k] + " is shared by " + std::to_string(sharing[k] + 1) + " triangles";
    for (int k = 0; k < 3; ++k)
        if (!(dot(model.controlNormals[i[k]], n) > 0.0f))
            return "the normal of control point " + std::to_string(i[k]) +
                   " faces against it (its triangles fold over)";
    return "corner and edge normals edge-on to its tangent planes (a sharp bend)";
}

} // namespace

void printDegenerateGeometry(FILE* out, const FaceModel& model, const Vector3* controlPoints,
                             int32_t K) {
    std::vector<std::string> lines;
    int32_t nonFinite = 0;
    for (int32_t t = 0; t < model.controlTriangleCount; ++t) {
        std::string subPatches;
        for (int32_t s = 3 * t; s < 3 * t + 3; ++s)
            if (!subPatchIsFinite(model, s)) {
                subPatches += (subPatches.empty() ? "" : ", ") + std::to_string(s);
                ++nonFinite;
            }
        if (subPatches.empty())
            continue;
        const int32_t* i = model.controlTriangles[t].index;
        lines.push_back("  control triangle " + std::to_string(t) + " (control points " +
                        std::to_string(i[0]) + ", " + std::to_string(i[1]) + ", " +
                        std::to_string(i[2]) + ": " + nonFiniteCause(model, controlPoints, t) +
                        "): sub-patches " + subPatches);
    }
    std::fprintf(out, "non-finite sub-patches: %d\n", nonFinite);
    for (const std::string& line : lines)
        std::fprintf(out, "%s\n", line.c_str());

    if (K < minControlPointCount) {
        std::fprintf(out,
                     "degenerate prop frames: not checked (%d control points, the props need %d)\n",
                     K, minControlPointCount);
        return;
    }
    lines.clear();
    for (const PropSlotSource& source : propSlotSources) {
        Vector3 A, B, C;
        propFramePoints(A, B, C, source, controlPoints);
        if (frameIsDegenerate(frameFromPoints(A, B, C)))
            lines.push_back("  " + propFrameText(source));
    }
    std::fprintf(out, "degenerate prop frames: %zu\n", lines.size());
    for (const std::string& line : lines)
        std::fprintf(out, "%s\n", line.c_str());
}

void measureCloseness(SurfaceCloseness& closeness, const FaceModel& model) {
    std::vector<float> distances, tangents;
    for (int32_t i = 0; i < model.renderVertexCount; ++i) {
        const Attachment& a = model.attachments[i];
        Vector3 Q;
        SubPatchFrame frame;
        if (a.subPatch < 0 || !model.evaluateFrame(Q, frame, a.subPatch, a.u, a.v))
            continue;
        distances.push_back(length(a.restPosition - Q));
        tangents.push_back(std::sqrt(a.offset[0] * a.offset[0] + a.offset[1] * a.offset[1]));
    }
    closeness = SurfaceCloseness();
    closeness.attached = int32_t(distances.size());
    if (distances.empty())
        return;
    const auto percentile = [](std::vector<float>& values, double p) {
        const auto at = values.begin() + long(p * double(values.size() - 1));
        std::nth_element(values.begin(), at, values.end());
        return *at;
    };
    closeness.distanceLargest = *std::max_element(distances.begin(), distances.end());
    closeness.tangentLargest = *std::max_element(tangents.begin(), tangents.end());
    closeness.distanceMedian = percentile(distances, 0.5);
    closeness.distance99 = percentile(distances, 0.99);
    closeness.tangent99 = percentile(tangents, 0.99);
}

void measureAmplification(BindingAmplification& amplification, VertexAmplification& values,
                          const FaceModel& model, const Vector3* controlPoints) {
    const int32_t N = model.renderVertexCount;
    values.small.resize(size_t(N));
    values.unit.resize(size_t(N));
    values.smallWorst.resize(size_t(N));
    values.unitWorst.resize(size_t(N));
    computeAmplification(values.small.data(), values.smallWorst.data(), model, controlPoints,
                         smallAmplificationStep);
    amplification.small = summarizeAmplification(values.small.data(), values.smallWorst.data(), N);
    computeAmplification(values.unit.data(), values.unitWorst.data(), model, controlPoints,
                         unitAmplificationStep);
    amplification.unit = summarizeAmplification(values.unit.data(), values.unitWorst.data(), N);
}

void measureAmplification(BindingAmplification& amplification, const FaceModel& model,
                          const Vector3* controlPoints) {
    VertexAmplification values;
    measureAmplification(amplification, values, model, controlPoints);
}

void printAmplification(const AmplificationSummary& a, float step, int32_t N) {
    if (a.controlPoint < 0) {
        std::printf("amplification (moves of %g): no render vertex moves\n", step);
        return;
    }
    const double share = N > 0 ? 100.0 / N : 0.0;
    std::printf("amplification (moves of %g): largest %.3f at render vertex %d (control point "
                "%d)\n",
                step, a.largest, a.renderVertex, a.controlPoint);
    std::printf("amplification (moves of %g) above 1.5: %d (%.2f%%); above 3: %d (%.2f%%)\n", step,
                a.aboveOneAndHalf, a.aboveOneAndHalf * share, a.aboveThree, a.aboveThree * share);
}

void printModelSummary(const FaceModel& model, const Vector3* controlPoints,
                       int32_t controlPointCount) {
    BindingAmplification amplification;
    measureAmplification(amplification, model, controlPoints);
    printModelSummary(model, controlPoints, controlPointCount, amplification);
}

void printModelSummary(const FaceModel& model, const Vector3* controlPoints,
                       int32_t controlPointCount, const BindingAmplification& amplification) {
    std::vector<float> weights;
    for (int32_t i = 0; i < model.renderVertexCount; ++i)
        if (model.attachments[i].subPatch >= 0)
            weights.push_back(model.attachments[i].weight);
    const int32_t N = model.renderVertexCount;
    const size_t attached = weights.size();
    std::printf("control points (K): %d\n", controlPointCount);
    std::printf("control triangles (L): %d\n", model.controlTriangleCount);
    std::printf("edges (E): %d\n", model.edgeCount);
    std::printf("render vertices (N): %d\n", N);
    std::printf("render triangles (M): %d\n", model.renderTriangleCount);
    std::printf("sub-patches: %d\n", 3 * model.controlTriangleCount);
    std::printf("samples: %d\n", model.sampleCount);
    std::printf("attached: %zu (%.2f%%)\n", attached,
                N > 0 ? 100.0 * static_cast<double>(attached) / N : 0.0);
    std::printf("unattached: %zu\n", static_cast<size_t>(N) - attached);
    if (attached > 0) {
        // The lower median of the attached vertices' weights.
        const auto middle = weights.begin() + static_cast<long>((attached - 1) / 2);
        std::nth_element(weights.begin(), middle, weights.end());
        const float median = *middle;
        const float minimum = *std::min_element(weights.begin(), weights.end());
        std::printf("weight: minimum %.9g median %.9g\n", minimum, median);
        SurfaceCloseness c;
        measureCloseness(c, model);
        std::printf("distance to the surface: median %.4g, 99th percentile %.4g, largest %.4g\n",
                    c.distanceMedian, c.distance99, c.distanceLargest);
        std::printf("tangent coordinates: 99th percentile %.3g, largest %.3g\n", c.tangent99,
                    c.tangentLargest);
    } else {
        std::printf("weight: no attached vertex\n");
    }
    printAmplification(amplification.small, smallAmplificationStep, N);
    printAmplification(amplification.unit, unitAmplificationStep, N);
    printDegenerateGeometry(stdout, model, controlPoints, controlPointCount);
}
