// The warp of a fit as a deformation graph (face_warp.h).
#include "tools/fit/face_warp.h"

#include <nanoflann.hpp>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <unordered_map>

namespace {

struct NodeCloud {
    const std::vector<Vector3>* points;
    size_t kdtree_get_point_count() const { return points->size(); }
    float kdtree_get_pt(size_t i, size_t axis) const {
        const Vector3& p = (*points)[i];
        return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
    }
    template <class Box> bool kdtree_get_bbox(Box&) const { return false; }
};
using NodeTree =
    nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, NodeCloud, double>,
                                        NodeCloud, 3, uint32_t>;

// Points per block of the workers.
constexpr int64_t warpBlock = 512;

// The cell of a point on a grid of the given spacing.
int64_t cellKey(int64_t x, int64_t y, int64_t z) {
    return ((x & 0x1fffff) << 42) | ((y & 0x1fffff) << 21) | (z & 0x1fffff);
}

// The nodes nearest p (count of them, the nearest first; ties by index) as nanoflann
// returns them.
size_t nearestNodes(uint32_t* index, double* squared, const NodeTree& tree, const Vector3& p,
                    size_t count) {
    const float q[3] = {p.x, p.y, p.z};
    return tree.knnSearch(q, count, index, squared);
}

void weightsOf(NodeWeights& w, const NodeTree& tree, const Vector3& p) {
    uint32_t index[warpNeighbours + 1];
    double squared[warpNeighbours + 1];
    nearestNodes(index, squared, tree, p, warpNeighbours + 1);
    const double reach = std::sqrt(squared[warpNeighbours]);
    double sum = 0.0;
    for (int32_t k = 0; k < warpNeighbours; ++k) {
        const double f = reach > 0.0 ? 1.0 - std::sqrt(squared[k]) / reach : 0.0;
        w.node[k] = int32_t(index[k]);
        w.weight[k] = f * f;
        sum += w.weight[k];
    }
    // All nodes as far as the next one out: equal shares.
    for (int32_t k = 0; k < warpNeighbours; ++k)
        w.weight[k] = sum > 0.0 ? w.weight[k] / sum : 1.0 / warpNeighbours;
}

} // namespace

void spreadWarpNodes(FaceWarp& warp, const Vector3* points, int32_t count, float spacing) {
    assert(spacing > 0.0f);
    warp.nodes.clear();
    warp.spacing = spacing;
    std::unordered_map<int64_t, std::vector<int32_t>> cells;
    const double inverse = 1.0 / double(spacing);
    const double limit = double(spacing) * double(spacing);
    for (int32_t i = 0; i < count; ++i) {
        const Vector3& p = points[i];
        const int64_t cx = int64_t(std::floor(p.x * inverse));
        const int64_t cy = int64_t(std::floor(p.y * inverse));
        const int64_t cz = int64_t(std::floor(p.z * inverse));
        bool near = false;
        for (int64_t dx = -1; dx <= 1 && !near; ++dx)
            for (int64_t dy = -1; dy <= 1 && !near; ++dy)
                for (int64_t dz = -1; dz <= 1 && !near; ++dz) {
                    const auto cell = cells.find(cellKey(cx + dx, cy + dy, cz + dz));
                    if (cell == cells.end())
                        continue;
                    for (int32_t n : cell->second) {
                        const Vector3& g = warp.nodes[size_t(n)];
                        const double ex = double(g.x) - p.x, ey = double(g.y) - p.y,
                                     ez = double(g.z) - p.z;
                        if (ex * ex + ey * ey + ez * ez < limit) {
                            near = true;
                            break;
                        }
                    }
                }
        if (near)
            continue;
        cells[cellKey(cx, cy, cz)].push_back(int32_t(warp.nodes.size()));
        warp.nodes.push_back(p);
    }
    warp.transforms.assign(warp.nodes.size() * 12, 0.0);
    for (size_t j = 0; j < warp.nodes.size(); ++j) {
        warp.transforms[12 * j + 0] = 1.0;
        warp.transforms[12 * j + 4] = 1.0;
        warp.transforms[12 * j + 8] = 1.0;
    }
}

void mirrorWarpNodes(FaceWarp& warp) {
    const size_t n = warp.nodes.size();
    for (size_t j = 0; j < n; ++j)
        if (warp.nodes[j].x > 0.0f)
            warp.nodes.push_back({-warp.nodes[j].x, warp.nodes[j].y, warp.nodes[j].z});
    warp.transforms.assign(warp.nodes.size() * 12, 0.0);
    for (size_t j = 0; j < warp.nodes.size(); ++j) {
        warp.transforms[12 * j + 0] = 1.0;
        warp.transforms[12 * j + 4] = 1.0;
        warp.transforms[12 * j + 8] = 1.0;
    }
}

void findNodeWeights(NodeWeights* weights, const FaceWarp& warp, const Vector3* points,
                     int32_t count, WorkerPool& workers) {
    assert(warp.nodes.size() > size_t(warpNeighbours));
    NodeCloud cloud{&warp.nodes};
    NodeTree tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));
    tree.buildIndex();
    parallelFor(workers, count, warpBlock, [&](int64_t begin, int64_t end, int32_t) {
        for (int64_t i = begin; i < end; ++i)
            weightsOf(weights[i], tree, points[i]);
    });
}

Vector3 warpPoint(const FaceWarp& warp, const NodeWeights& w, const Vector3& p) {
    double out[3] = {0.0, 0.0, 0.0};
    for (int32_t k = 0; k < warpNeighbours; ++k) {
        const size_t j = size_t(w.node[k]);
        const Vector3& g = warp.nodes[j];
        const double* T = &warp.transforms[12 * j];
        const double d[3] = {double(p.x) - g.x, double(p.y) - g.y, double(p.z) - g.z};
        const double gj[3] = {g.x, g.y, g.z};
        for (int c = 0; c < 3; ++c)
            out[c] += w.weight[k] * (gj[c] + T[9 + c] +
                                     (T[3 * c] * d[0] + T[3 * c + 1] * d[1] + T[3 * c + 2] * d[2]));
    }
    return {float(out[0]), float(out[1]), float(out[2])};
}

void warpPoints(Vector3* warped, const FaceWarp& warp, const Vector3* points, int32_t count,
                WorkerPool& workers) {
    assert(warp.nodes.size() > size_t(warpNeighbours));
    NodeCloud cloud{&warp.nodes};
    NodeTree tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));
    tree.buildIndex();
    parallelFor(workers, count, warpBlock, [&](int64_t begin, int64_t end, int32_t) {
        for (int64_t i = begin; i < end; ++i) {
            NodeWeights w;
            weightsOf(w, tree, points[i]);
            warped[i] = warpPoint(warp, w, points[i]);
        }
    });
}

void findNodePairs(std::vector<NodePair>& pairs, const FaceWarp& warp) {
    pairs.clear();
    NodeCloud cloud{&warp.nodes};
    NodeTree tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));
    tree.buildIndex();
    const size_t n = warp.nodes.size();
    for (size_t j = 0; j < n; ++j) {
        uint32_t index[warpGraphNeighbours + 1];
        double squared[warpGraphNeighbours + 1];
        const size_t found =
            nearestNodes(index, squared, tree, warp.nodes[j], warpGraphNeighbours + 1);
        for (size_t k = 0; k < found; ++k)
            if (index[k] != j)
                pairs.push_back({int32_t(std::min<size_t>(j, index[k])),
                                 int32_t(std::max<size_t>(j, index[k]))});
    }
    std::sort(pairs.begin(), pairs.end(), [](const NodePair& x, const NodePair& y) {
        return x.a != y.a ? x.a < y.a : x.b < y.b;
    });
    pairs.erase(
        std::unique(pairs.begin(), pairs.end(),
                    [](const NodePair& x, const NodePair& y) { return x.a == y.a && x.b == y.b; }),
        pairs.end());
}
