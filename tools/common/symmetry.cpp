#include "tools/common/symmetry.h"

#include <algorithm>
#include <cassert>
#include <vector>

namespace {

struct Candidate {
    float distance;
    int32_t a, b; // a ≤ b
};

// The pairs about x = planeX, nearest first, one partner a point. edge: each point's mean
// edge length (K).
void pairAbout(MirrorPairs& pairs, const Vector3* points, int32_t K, const float* edge,
               const std::vector<int32_t>& byX) {
    std::vector<Candidate> candidates;
    for (int32_t a = 0; a < K; ++a) {
        const float reach = mirrorPairTolerance * edge[a];
        if (!(reach > 0.0f))
            continue; // no edges, or a degenerate one
        const Vector3 image = mirrorPoint(pairs.planeX, points[a]);
        // The points whose x lies within reach of the image's, by the order along x.
        auto first = std::lower_bound(byX.begin(), byX.end(), image.x - reach,
                                      [&](int32_t i, float x) { return points[i].x < x; });
        for (auto it = first; it != byX.end() && points[*it].x <= image.x + reach; ++it) {
            const int32_t b = *it;
            if (b < a)
                continue; // found from b's side
            const float d = length(image - points[b]);
            if (d < mirrorPairTolerance * std::min(edge[a], edge[b]))
                candidates.push_back({d, a, b});
        }
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& p, const Candidate& q) {
        return p.distance != q.distance ? p.distance < q.distance
                                        : (p.a != q.a ? p.a < q.a : p.b < q.b);
    });
    std::fill(pairs.partners.get(), pairs.partners.get() + K, -1);
    pairs.paired = pairs.onPlane = 0;
    for (const Candidate& c : candidates) {
        if (pairs.partners[c.a] >= 0 || pairs.partners[c.b] >= 0)
            continue;
        pairs.partners[c.a] = c.b;
        pairs.partners[c.b] = c.a;
        pairs.paired += c.a == c.b ? 1 : 2;
        pairs.onPlane += c.a == c.b ? 1 : 0;
    }
}

} // namespace

void findMirrorPairs(MirrorPairs& pairs, const Vector3* points, int32_t K, const Edge* edges,
                     int32_t E) {
    pairs.count = K;
    pairs.partners.reset(new int32_t[K]);
    pairs.planeX = 0.0f;
    pairs.paired = pairs.onPlane = 0;
    if (K == 0)
        return;
    // Each point's mean edge length, in double so that it does not depend on the edges'
    // order (a mirrored point's edges come in another); 0 for a point without edges, which
    // is paired with nothing.
    std::vector<double> lengths(static_cast<size_t>(K), 0.0);
    std::vector<int32_t> degree(static_cast<size_t>(K), 0);
    for (int32_t e = 0; e < E; ++e) {
        const double l = double(length(points[edges[e].a] - points[edges[e].b]));
        for (int32_t end : {edges[e].a, edges[e].b}) {
            lengths[size_t(end)] += l;
            ++degree[size_t(end)];
        }
    }
    std::vector<float> edge(static_cast<size_t>(K));
    for (size_t i = 0; i < edge.size(); ++i)
        edge[i] = degree[i] > 0 ? float(lengths[i] / degree[i]) : 0.0f;
    std::vector<int32_t> byX(static_cast<size_t>(K));
    for (int32_t i = 0; i < K; ++i)
        byX[size_t(i)] = i;
    std::sort(byX.begin(), byX.end(), [&](int32_t i, int32_t j) {
        return points[i].x != points[j].x ? points[i].x < points[j].x : i < j;
    });

    const float low = points[byX.front()].x, high = points[byX.back()].x;
    pairs.planeX = (low + high) * 0.5f;
    pairAbout(pairs, points, K, edge.data(), byX);
    // The plane through the pairs' middles, in double so that the mean does not depend on
    // the count; a mesh symmetric about its middle gives the middle back.
    double sum = 0.0;
    for (int32_t i = 0; i < K; ++i)
        if (pairs.partners[i] >= i)
            sum += (double(points[i].x) + double(points[pairs.partners[i]].x)) * 0.5;
    const int32_t pairCount = (pairs.paired + pairs.onPlane) / 2;
    if (pairCount == 0)
        return;
    const float fitted = float(sum / pairCount);
    if (fitted != pairs.planeX) {
        pairs.planeX = fitted;
        pairAbout(pairs, points, K, edge.data(), byX);
    }
}

int32_t mirrorOffsets(Vector3* mirrored, const Vector3* offsets, const int32_t* partners,
                      int32_t K) {
    assert(mirrored != offsets);
    int32_t leftOut = 0;
    for (int32_t i = 0; i < K; ++i)
        mirrored[i] = {0.0f, 0.0f, 0.0f};
    for (int32_t i = 0; i < K; ++i) {
        if (partners[i] >= 0)
            mirrored[partners[i]] = mirrorMove(offsets[i]);
        else if (!(offsets[i] == Vector3{0.0f, 0.0f, 0.0f}))
            ++leftOut;
    }
    return leftOut;
}

void splitOffsets(Vector3* left, Vector3* right, const Vector3* offsets, const Vector3* points,
                  const MirrorPairs& pairs) {
    const Vector3 none = {0.0f, 0.0f, 0.0f};
    for (int32_t i = 0; i < pairs.count; ++i) {
        const int32_t j = pairs.partners[i];
        // The side: +1 left, −1 right, 0 on the plane.
        const float against = j >= 0 ? points[j].x : pairs.planeX;
        const int side = j == i ? 0 : points[i].x > against ? 1 : points[i].x < against ? -1 : 0;
        // Half a move is exact, so the two halves add up to the whole.
        const Vector3 half = 0.5f * offsets[i];
        left[i] = side > 0 ? offsets[i] : side < 0 ? none : half;
        right[i] = side < 0 ? offsets[i] : side > 0 ? none : half;
    }
}
