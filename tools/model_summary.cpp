#include "tools/model_summary.h"

#include "app/degenerate_geometry.h"
#include "face/face_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

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
    printDegenerateGeometry(stdout, model, controlPoints, controlPointCount);
}
