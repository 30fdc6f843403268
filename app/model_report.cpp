#include "app/model_report.h"

#include "app/prop_frame.h"
#include "app/scene.h"
#include "face/amplification.h"

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

// Why a control triangle's surface may break down: equal corners, corners on one line
// (their cross product negligible against the sides, as for prop frames), or neither.
const char* cornerKind(const Vector3& P0, const Vector3& P1, const Vector3& P2) {
    if (P0 == P1 || P1 == P2 || P2 == P0)
        return "a repeated corner";
    const Vector3 e1 = P1 - P0, e2 = P2 - P0;
    if (length(cross(e1, e2)) < minSecondAxisLength * length(e1) * length(e2))
        return "collinear corners";
    return "corners spanning a triangle";
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
                        std::to_string(i[2]) + ": " +
                        cornerKind(controlPoints[i[0]], controlPoints[i[1]], controlPoints[i[2]]) +
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

void printAmplification(const FaceModel& model, const Vector3* controlPoints) {
    const int32_t N = model.renderVertexCount;
    std::vector<float> amplification(static_cast<size_t>(N));
    std::vector<int32_t> worst(static_cast<size_t>(N));
    computeAmplification(amplification.data(), worst.data(), model, controlPoints,
                         smallAmplificationStep);
    const AmplificationSummary a = summarizeAmplification(amplification.data(), worst.data(), N);
    if (a.controlPoint < 0) {
        std::printf("amplification (moves of %g): no render vertex moves\n",
                    smallAmplificationStep);
        return;
    }
    const double share = N > 0 ? 100.0 / N : 0.0;
    std::printf("amplification (moves of %g): largest %.3f at render vertex %d (control point "
                "%d)\n",
                smallAmplificationStep, a.largest, a.renderVertex, a.controlPoint);
    std::printf("amplification above 1.5: %d (%.2f%%); above 3: %d (%.2f%%)\n", a.aboveOneAndHalf,
                a.aboveOneAndHalf * share, a.aboveThree, a.aboveThree * share);
}

void printModelSummary(const FaceModel& model, const Vector3* controlPoints,
                       int32_t controlPointCount) {
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
    } else {
        std::printf("weight: no attached vertex\n");
    }
    printAmplification(model, controlPoints);
    printDegenerateGeometry(stdout, model, controlPoints, controlPointCount);
}
