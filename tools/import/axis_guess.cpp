#include "tools/import/axis_guess.h"

#include <algorithm>
#include <cmath>
#include <nanoflann.hpp>

namespace {

constexpr size_t maxJudged = 4096;

// The sample as a nanoflann point cloud.
struct Cloud {
    std::vector<Vector3> points;
    size_t kdtree_get_point_count() const { return points.size(); }
    float kdtree_get_pt(size_t i, size_t d) const {
        return d == 0 ? points[i].x : d == 1 ? points[i].y : points[i].z;
    }
    template <class Box> bool kdtree_get_bbox(Box&) const { return false; }
};

using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, Cloud>, Cloud,
                                                 3, size_t>;

float coordinate(const Vector3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

Vector3 unitAxis(int axis, float sign) {
    Vector3 v = {0.0f, 0.0f, 0.0f};
    (axis == 0 ? v.x : axis == 1 ? v.y : v.z) = sign;
    return v;
}

} // namespace

void guessAxes(AxisGuess& guess, const std::vector<Vector3>& positions) {
    Cloud cloud;
    const size_t step = std::max<size_t>(1, positions.size() / maxJudged);
    for (size_t i = 0; i < positions.size(); i += step)
        cloud.points.push_back(positions[i]);
    Vector3 low = cloud.points[0], high = cloud.points[0];
    for (const Vector3& p : cloud.points) {
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    const Vector3 middle = (low + high) * 0.5f, extent = high - low;
    const float diagonal = length(extent);
    Tree tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(16));
    tree.buildIndex();

    // The mirror axis: the one across whose middle plane the sample best meets itself.
    guess.mirrorAxis = -1;
    for (int axis = 0; axis < 3; ++axis) {
        double sum = 0.0;
        for (const Vector3& p : cloud.points) {
            float q[3] = {p.x, p.y, p.z};
            q[axis] = 2.0f * coordinate(middle, axis) - q[axis];
            size_t nearest = 0;
            float squared = 0.0f;
            tree.knnSearch(q, 1, &nearest, &squared);
            sum += std::sqrt(double(squared));
        }
        const float error =
            diagonal > 0.0f ? float(sum / double(cloud.points.size())) / diagonal : 0.0f;
        if (guess.mirrorAxis < 0 || error < guess.mirrorError) {
            guess.mirrorAxis = axis;
            guess.mirrorError = error;
        }
    }
    // The other two, longer first, each toward the side with more vertices.
    const int a = (guess.mirrorAxis + 1) % 3, b = (guess.mirrorAxis + 2) % 3;
    const int longAxis = coordinate(extent, a) >= coordinate(extent, b) ? a : b;
    const int shortAxis = longAxis == a ? b : a;
    const auto toward = [&](int axis) {
        size_t ahead = 0;
        for (const Vector3& p : cloud.points)
            ahead += coordinate(p, axis) > coordinate(middle, axis);
        return unitAxis(axis, 2 * ahead >= cloud.points.size() ? 1.0f : -1.0f);
    };
    guess.longest = toward(longAxis);
    guess.shortest = toward(shortAxis);
}
