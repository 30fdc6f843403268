#include "face/sample_index.h"

#include <nanoflann.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The finite samples as nanoflann's data set.
struct SamplePoints {
    const Vector3* points;
    size_t count;
    size_t kdtree_get_point_count() const { return count; }
    float kdtree_get_pt(size_t i, size_t axis) const {
        return axis == 0 ? points[i].x : axis == 1 ? points[i].y : points[i].z;
    }
    template <class Box> bool kdtree_get_bbox(Box&) const { return false; }
};

// Squared Euclidean distance in double from float coordinates: each difference of two
// floats is exact in double and each square and sum rounds by a relative 2^−53, so the
// tree's distances are the true ones for all that the pruning margin below cares about.
struct ExactL2 {
    using ElementType = float;
    using DistanceType = double;
    const SamplePoints& data;
    explicit ExactL2(const SamplePoints& points) : data(points) {}
    double evalMetric(const float* a, uint32_t i, size_t) const {
        const Vector3& s = data.points[i];
        const double dx = static_cast<double>(a[0]) - s.x;
        const double dy = static_cast<double>(a[1]) - s.y;
        const double dz = static_cast<double>(a[2]) - s.z;
        return dx * dx + dy * dy + dz * dz;
    }
    template <class U, class V> double accum_dist(U a, V b, size_t) const {
        const double d = static_cast<double>(a) - static_cast<double>(b);
        return d * d;
    }
};

using Tree = nanoflann::KDTreeSingleIndexAdaptor<ExactL2, SamplePoints, 3, uint32_t>;

// Samples per leaf: few where many searches follow the build, many where few do (building
// then costs more than searching, and a tree of larger leaves is quicker to build). A leaf
// holds about leafSamplesPerSearch times the samples per search expected, within these
// bounds; the shape of the tree never changes a result. face-import's refinement binds a few
// hundred vertices to a fresh index thousands of times: a head took a third less time than
// with leaves of 10 throughout, while a 1M-vertex binding keeps the small leaves it wants.
constexpr int64_t minLeafSize = 10, maxLeafSize = 128;
constexpr int64_t leafSamplesPerSearch = 4;

// Widening of the search bound: the float distance of a sample undershoots its true
// distance by at most a few units of rounding (relative 2^−22) and, for tiny differences,
// by underflow of the squares (absolute, below 1e−19). The margins exceed both by orders
// of magnitude and cost next to nothing in pruning.
constexpr double boundRelativeMargin = 1.0 / 1024;
constexpr double boundAbsoluteMargin = 1e-15;

// nanoflann result set that keeps the one sample the exhaustive search would return, and
// whose bound (worstDist, squared) shrinks to the best distance taken so far.
struct NearestSample {
    const SampleIndex& index;
    const Vector3* normals;
    Vector3 P, N;
    int32_t freeSampleLimit;
    float maxDistance, minDot;
    float best = std::numeric_limits<float>::infinity();
    int32_t result = -1, resultPoint = -1;
    double bound2 = 0;

    void setBound() {
        const double bound = static_cast<double>(best < maxDistance ? best : maxDistance) *
                                 (1.0 + boundRelativeMargin) +
                             boundAbsoluteMargin;
        bound2 = bound * bound;
    }
    // Takes the point when the rules accept it and (distance, index) is smaller.
    void consider(int32_t point) {
        const float d = sampleDistance(P, index.points[point]);
        if (!(d < maxDistance) || d > best)
            return;
        const int32_t sample = index.samples[point];
        if (d == best && sample > result)
            return;
        if (!sampleNormalAccepted(sample, normals, N, freeSampleLimit, minDot))
            return;
        best = d;
        result = sample;
        resultPoint = point;
        setBound();
    }

    // The result-set interface nanoflann's search calls.
    bool full() const { return true; }
    double worstDist() const { return bound2; }
    bool addPoint(double, uint32_t point) {
        consider(static_cast<int32_t>(point));
        return true;
    }
};

} // namespace

struct SampleTree {
    SamplePoints points;
    Tree tree;
    SampleTree(const SamplePoints& p, size_t leafSize)
        : points(p), tree(3, points, nanoflann::KDTreeSingleIndexAdaptorParams(leafSize)) {}
};

void SampleTreeDeleter::operator()(SampleTree* tree) const { delete tree; }

void buildSampleIndex(SampleIndex& index, const Vector3* positions, int32_t count,
                      int64_t searches) {
    int32_t finite = 0;
    for (int32_t i = 0; i < count; ++i)
        finite += isFinite(positions[i]);
    index.pointCount = finite;
    index.points.reset(new Vector3[finite]);
    index.samples.reset(new int32_t[finite]);
    for (int32_t i = 0, point = 0; i < count; ++i)
        if (isFinite(positions[i])) {
            index.points[point] = positions[i];
            index.samples[point++] = i;
        }
    const int64_t leafSize =
        std::min(maxLeafSize, std::max(minLeafSize, leafSamplesPerSearch * int64_t(finite) /
                                                        std::max<int64_t>(1, searches)));
    index.tree.reset(new SampleTree({index.points.get(), static_cast<size_t>(index.pointCount)},
                                    size_t(leafSize)));
    index.lastPoint = -1;
}

int32_t findNearestSampleIndexed(float& distance, int32_t& hint, const SampleIndex& index,
                                 const Vector3* sampleNormals, const Vector3& P, const Vector3& N,
                                 int32_t freeSampleLimit, float maxDistance, float minDot) {
    NearestSample nearest{index, sampleNormals, P, N, freeSampleLimit, maxDistance, minDot};
    nearest.setBound();
    // A point that is not finite is at a non-finite distance from every sample.
    if (index.pointCount > 0 && isFinite(P)) {
        // The last query's answer is usually near this one: as a first candidate it
        // tightens the bound before the descent.
        if (hint >= 0)
            nearest.consider(hint);
        const float query[3] = {P.x, P.y, P.z};
        index.tree->tree.findNeighbors(nearest, query, nanoflann::SearchParams());
        if (nearest.resultPoint >= 0)
            hint = nearest.resultPoint;
    }
    distance = nearest.best;
    return nearest.result;
}

int32_t findNearestSampleIndexed(float& distance, SampleIndex& index, const Vector3* sampleNormals,
                                 const Vector3& P, const Vector3& N, int32_t freeSampleLimit,
                                 float maxDistance, float minDot) {
    return findNearestSampleIndexed(distance, index.lastPoint, index, sampleNormals, P, N,
                                    freeSampleLimit, maxDistance, minDot);
}
