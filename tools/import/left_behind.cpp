#include "tools/import/left_behind.h"

#include "face/face_model.h"
#include "tools/import/disjoint_sets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <tuple>

namespace {

// The marked render vertices (N entries, non-zero for marked) in connected parts, joined by
// the render triangles' edges and by equal positions: partOf (N) receives each marked
// vertex's part (a representative vertex), −1 for the others; members the marked vertices
// in order of position.
void markedParts(std::vector<int32_t>& partOf, std::vector<int32_t>& members,
                 const FaceModel& model, const std::vector<Vector3>& positions,
                 const std::vector<uint8_t>& marked) {
    const int32_t N = model.renderVertexCount;
    DisjointSets sets(N);
    const auto join = [&](int32_t a, int32_t b) {
        if (marked[size_t(a)] && marked[size_t(b)])
            sets.join(a, b);
    };
    for (int32_t t = 0; t < model.renderTriangleCount; ++t)
        for (int k = 0; k < 3; ++k)
            join(model.renderTriangles[t].index[k], model.renderTriangles[t].index[(k + 1) % 3]);
    // Vertices at one position (both sides of a seam): sorted by position, neighbours joined.
    members.clear();
    for (int32_t v = 0; v < N; ++v)
        if (marked[size_t(v)])
            members.push_back(v);
    const auto key = [&](int32_t v) {
        const Vector3& p = positions[size_t(v)];
        return std::make_tuple(p.x, p.y, p.z);
    };
    std::sort(members.begin(), members.end(),
              [&](int32_t a, int32_t b) { return key(a) < key(b); });
    for (size_t j = 1; j < members.size(); ++j)
        if (key(members[j]) == key(members[j - 1]))
            join(members[j], members[j - 1]);
    partOf.assign(size_t(N), -1);
    for (int32_t v : members)
        partOf[size_t(v)] = sets.find(v);
}

} // namespace

void findPartsLeftBehind(std::vector<LeftBehind>& parts, const FaceModel& model,
                         const std::vector<Vector3>& positions) {
    parts.clear();
    const int32_t N = model.renderVertexCount;
    std::vector<uint8_t> loose(static_cast<size_t>(N));
    for (int32_t v = 0; v < N; ++v)
        loose[size_t(v)] = model.attachments[v].subPatch < 0;
    std::vector<int32_t> partOf, order;
    markedParts(partOf, order, model, positions, loose);
    // Counts and centres per part, then the vertex nearest each centre.
    std::vector<int32_t> count(static_cast<size_t>(N), 0);
    std::vector<Vector3> sum(static_cast<size_t>(N), Vector3{0.0f, 0.0f, 0.0f});
    for (int32_t v : order) {
        const size_t r = size_t(partOf[size_t(v)]);
        ++count[r];
        sum[r] = sum[r] + positions[size_t(v)];
    }
    std::vector<float> nearest(static_cast<size_t>(N), std::numeric_limits<float>::infinity());
    std::vector<int32_t> at(static_cast<size_t>(N), -1);
    for (int32_t v : order) {
        const size_t r = size_t(partOf[size_t(v)]);
        const float d = length(positions[size_t(v)] - sum[r] / float(count[r]));
        if (d < nearest[r]) {
            nearest[r] = d;
            at[r] = v;
        }
    }
    for (int32_t v : order)
        if (partOf[size_t(v)] == v && count[size_t(v)] >= minLeftBehind)
            parts.push_back({count[size_t(v)], at[size_t(v)]});
    std::stable_sort(parts.begin(), parts.end(),
                     [](const LeftBehind& a, const LeftBehind& b) { return a.count > b.count; });
}

void findPartsThrown(std::vector<ThrownPart>& parts, const FaceModel& model,
                     const std::vector<Vector3>& positions, const std::vector<float>& small,
                     const std::vector<float>& unit, float smallAim, float unitAim) {
    parts.clear();
    const int32_t N = model.renderVertexCount;
    std::vector<uint8_t> thrown(static_cast<size_t>(N));
    std::vector<float> excess(static_cast<size_t>(N));
    for (int32_t v = 0; v < N; ++v) {
        excess[size_t(v)] = std::max(small[size_t(v)] / smallAim, unit[size_t(v)] / unitAim);
        thrown[size_t(v)] = excess[size_t(v)] > 1.0f;
    }
    std::vector<int32_t> partOf, members;
    markedParts(partOf, members, model, positions, thrown);
    std::vector<int32_t> slot(size_t(N), -1);
    for (int32_t v : members) {
        const size_t r = size_t(partOf[size_t(v)]);
        if (slot[r] < 0) {
            slot[r] = int32_t(parts.size());
            parts.push_back({0, v, 0.0f, 0.0f});
        }
        ThrownPart& p = parts[size_t(slot[r])];
        ++p.count;
        p.small = std::max(p.small, small[size_t(v)]);
        p.unit = std::max(p.unit, unit[size_t(v)]);
        if (excess[size_t(v)] > excess[size_t(p.vertex)])
            p.vertex = v;
    }
    std::stable_sort(parts.begin(), parts.end(), [&](const ThrownPart& a, const ThrownPart& b) {
        return excess[size_t(a.vertex)] > excess[size_t(b.vertex)];
    });
}

std::string thrownCause(const FaceModel& model, const Vector3* controlPoints, int32_t v,
                        bool unitMove) {
    const Attachment& a = model.attachments[v];
    char text[160];
    const float tangent = std::sqrt(a.offset[0] * a.offset[0] + a.offset[1] * a.offset[1]);
    if (tangent >= 1.0f) {
        std::snprintf(text, sizeof text,
                      "its offset lies along nearly parallel tangents (tangent coordinates "
                      "%.3g, %.3g)",
                      double(a.offset[0]), double(a.offset[1]));
        return text;
    }
    const int32_t* c = model.controlTriangles[a.subPatch / 3].index;
    const Vector3 *A = &controlPoints[c[0]], *B = &controlPoints[c[1]], *C = &controlPoints[c[2]];
    const float area2 = length(cross(*B - *A, *C - *A));
    const float longest = std::max(length(*B - *A), std::max(length(*C - *B), length(*A - *C)));
    const float height = longest > 0.0f ? area2 / longest : 0.0f;
    if (unitMove && height < 1.0f) {
        std::snprintf(text, sizeof text,
                      "a move of 1 is longer than its control triangle's smallest height (%.2g)",
                      double(height));
        return text;
    }
    return "the surface bends sharply there";
}

std::string regionName(const Vector3& point, const std::vector<Vector3>& positions) {
    Vector3 low = positions[0], high = positions[0];
    for (const Vector3& p : positions) {
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    // Thirds of the box along each axis.
    const auto third = [](float v, float a, float b) {
        const float t = b > a ? (v - a) / (b - a) : 0.5f;
        return t < 1.0f / 3.0f ? 0 : t > 2.0f / 3.0f ? 2 : 1;
    };
    static const char* const vertical[3] = {"lower", "middle", "upper"};
    static const char* const side[3] = {" right", "", " left"};
    static const char* const depth[3] = {" back", "", " front"};
    return std::string(vertical[third(point.y, low.y, high.y)]) +
           side[third(point.x, low.x, high.x)] + depth[third(point.z, low.z, high.z)];
}
