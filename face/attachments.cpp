#include "face/attachments.h"

#include <cmath>

namespace {

// Evaluates the grid points (u0 + step·k, u0 + step·i) of a level-n grid.
void sampleGridPoints(Vector3* positions, Vector3* normals, int32_t strideBytes, const Vector3* p,
                      int32_t n, float step, float start) {
    const size_t stride = strideBytes < 12 ? 12 : static_cast<size_t>(strideBytes);
    char* pos = reinterpret_cast<char*>(positions);
    char* nor = reinterpret_cast<char*>(normals);
    for (int32_t i = 0; i <= n; ++i)
        for (int32_t k = 0; k <= n - i; ++k) {
            const float u = start + step * static_cast<float>(k);
            const float v = start + step * static_cast<float>(i);
            const float w = 1.0f - u - v;
            evaluateSubPatchNormal(*reinterpret_cast<Vector3*>(pos),
                                   *reinterpret_cast<Vector3*>(nor), p, u, v, w);
            pos += stride;
            nor += stride;
        }
}

// Step and offset of the cell-centre grid, in the documented float form.
void cellSpacing(float& step, float& offset, int32_t n) {
    const float nf = static_cast<float>(n);
    step = (nf / (nf + 1.0f)) / nf;
    offset = (1.0f - nf / (nf + 1.0f)) * 0.5f;
}

} // namespace

void sampleGrid(Vector3* positions, Vector3* normals, int32_t strideBytes, const Vector3* p,
                int32_t n) {
    const float step = 1.0f / static_cast<float>(n);
    // u = step·k exactly as written: 0 + step·k adds nothing for finite step.
    sampleGridPoints(positions, normals, strideBytes, p, n, step, 0.0f);
}

void sampleCells(Vector3* positions, Vector3* normals, int32_t strideBytes, const Vector3* p,
                 int32_t n) {
    float step, offset;
    cellSpacing(step, offset, n);
    sampleGridPoints(positions, normals, strideBytes, p, n, step, offset);
}

PatchParameter interpolate2D(const PatchParameter& A, const PatchParameter& B,
                             const PatchParameter& C, float a, float b, float c) {
    return {(a * A.u + b * B.u) + c * C.u, (a * A.v + b * B.v) + c * C.v};
}

void fillParameterGrid(PatchParameter* parameters, int32_t n) {
    float step, offset;
    cellSpacing(step, offset, n);
    const PatchParameter cornerA = {1.0f, 0.0f}, cornerB = {0.0f, 1.0f}, cornerC = {0.0f, 0.0f};
    int32_t j = 0;
    for (int32_t i = 0; i <= n; ++i)
        for (int32_t k = 0; k <= n - i; ++k) {
            const float u = offset + step * static_cast<float>(k);
            const float v = offset + step * static_cast<float>(i);
            const float w = 1.0f - u - v;
            parameters[j++] = interpolate2D(cornerA, cornerB, cornerC, u, v, w);
        }
}

float attachmentWeight(float x) {
    if (-1.0f < x && x < 1.0f)
        return std::exp(0.5f * std::log(std::cos(x)));
    return 0.0f;
}
