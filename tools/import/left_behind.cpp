#include "tools/import/left_behind.h"

#include "face/face_model.h"
#include "tools/import/disjoint_sets.h"

#include <algorithm>
#include <limits>
#include <tuple>

void findPartsLeftBehind(std::vector<LeftBehind>& parts, const FaceModel& model,
                         const std::vector<Vector3>& positions) {
    parts.clear();
    const int32_t N = model.renderVertexCount;
    DisjointSets sets(N);
    const auto find = [&](int32_t v) { return sets.find(v); };
    const auto loose = [&](int32_t v) { return model.attachments[v].subPatch < 0; };
    const auto join = [&](int32_t a, int32_t b) {
        if (loose(a) && loose(b))
            sets.join(a, b);
    };
    for (int32_t t = 0; t < model.renderTriangleCount; ++t)
        for (int k = 0; k < 3; ++k)
            join(model.renderTriangles[t].index[k], model.renderTriangles[t].index[(k + 1) % 3]);
    // Vertices at one position (both sides of a seam): sorted by position, neighbours joined.
    std::vector<int32_t> order;
    for (int32_t v = 0; v < N; ++v)
        if (loose(v))
            order.push_back(v);
    const auto key = [&](int32_t v) {
        const Vector3& p = positions[size_t(v)];
        return std::make_tuple(p.x, p.y, p.z);
    };
    std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return key(a) < key(b); });
    for (size_t j = 1; j < order.size(); ++j)
        if (key(order[j]) == key(order[j - 1]))
            join(order[j], order[j - 1]);
    // Counts and centres per part, then the vertex nearest each centre.
    std::vector<int32_t> count(static_cast<size_t>(N), 0);
    std::vector<Vector3> sum(static_cast<size_t>(N), Vector3{0.0f, 0.0f, 0.0f});
    for (int32_t v : order) {
        ++count[size_t(find(v))];
        sum[size_t(find(v))] = sum[size_t(find(v))] + positions[size_t(v)];
    }
    std::vector<float> nearest(static_cast<size_t>(N), std::numeric_limits<float>::infinity());
    std::vector<int32_t> at(static_cast<size_t>(N), -1);
    for (int32_t v : order) {
        const int32_t r = find(v);
        const float d = length(positions[size_t(v)] - sum[size_t(r)] / float(count[size_t(r)]));
        if (d < nearest[size_t(r)]) {
            nearest[size_t(r)] = d;
            at[size_t(r)] = v;
        }
    }
    for (int32_t v : order)
        if (find(v) == v && count[size_t(v)] >= minLeftBehind)
            parts.push_back({count[size_t(v)], at[size_t(v)]});
    std::stable_sort(parts.begin(), parts.end(),
                     [](const LeftBehind& a, const LeftBehind& b) { return a.count > b.count; });
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
