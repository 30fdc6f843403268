#include "tools/common/region.h"

#include "tools/common/symmetry.h"

#include <cassert>
#include <functional>
#include <limits>
#include <queue>
#include <utility>
#include <vector>

float regionFalloff(float distance, float radius) {
    if (!(distance < radius))
        return 0.0f;
    const float t = 1.0f - distance / radius;
    return t * t * (3.0f - 2.0f * t);
}

int32_t regionWeights(float* weights, const Vector3* points, int32_t K, const Edge* edges,
                      int32_t E, int32_t centre, float radius) {
    assert(centre >= 0 && centre < K);
    std::fill(weights, weights + K, 0.0f);
    weights[centre] = 1.0f;
    if (!(radius > 0.0f))
        return 1;
    // The edges at each point, as offsets into one list.
    std::vector<int32_t> first(size_t(K) + 1, 0), ends(2 * size_t(E));
    for (int32_t e = 0; e < E; ++e) {
        ++first[size_t(edges[e].a) + 1];
        ++first[size_t(edges[e].b) + 1];
    }
    for (int32_t i = 0; i < K; ++i)
        first[size_t(i) + 1] += first[size_t(i)];
    std::vector<int32_t> fill(first.begin(), first.end() - 1);
    for (int32_t e = 0; e < E; ++e) {
        ends[size_t(fill[size_t(edges[e].a)]++)] = edges[e].b;
        ends[size_t(fill[size_t(edges[e].b)]++)] = edges[e].a;
    }
    // Dijkstra from the centre, no farther than the radius.
    std::vector<float> distance(size_t(K), std::numeric_limits<float>::infinity());
    using Entry = std::pair<float, int32_t>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
    distance[size_t(centre)] = 0.0f;
    queue.push({0.0f, centre});
    int32_t inside = 0;
    while (!queue.empty()) {
        const auto [d, i] = queue.top();
        queue.pop();
        if (d > distance[size_t(i)])
            continue; // reached already by a shorter path
        weights[i] = regionFalloff(d, radius);
        inside += weights[i] > 0.0f ? 1 : 0;
        for (int32_t k = first[size_t(i)]; k < first[size_t(i) + 1]; ++k) {
            const int32_t j = ends[size_t(k)];
            const float through = d + length(points[i] - points[j]);
            if (through < radius && through < distance[size_t(j)]) {
                distance[size_t(j)] = through;
                queue.push({through, j});
            }
        }
    }
    return inside;
}

void regionMoves(Vector3* moves, const float* weights, const int32_t* partners, int32_t K,
                 int32_t picked, const Vector3& delta) {
    if (!partners) {
        for (int32_t i = 0; i < K; ++i)
            moves[i] = weights[i] * delta;
        return;
    }
    // The move's part along the plane: its x cancels exactly.
    const Vector3 along = 0.5f * (delta + mirrorMove(delta));
    const Vector3 drag = partners[picked] == picked ? along : delta;
    const Vector3 mirrored = mirrorMove(drag);
    for (int32_t i = 0; i < K; ++i) {
        const float inRegion = weights[i];
        const float inImage = partners[i] >= 0 ? weights[partners[i]] : 0.0f;
        moves[i] = inRegion > inImage   ? inRegion * drag
                   : inImage > inRegion ? inImage * mirrored
                                        : inRegion * along;
    }
}
