#include "tools/import/import_cage.h"

#include <meshoptimizer.h>

#include <cstring>
#include <map>
#include <tuple>

namespace {

// The simplifier may remove any amount of detail: only the point count limits it.
constexpr float unlimitedError = 1.0f;

// Keeps the points the indices use, renumbered in order of first use.
void compact(ControlCage& cage, const ControlCage& welded, const std::vector<unsigned>& indices) {
    std::vector<int32_t> renumbered(welded.points.size(), -1);
    cage.points.clear();
    cage.triangles.clear();
    for (size_t i = 0; i + 2 < indices.size(); i += 3) {
        Triangle t;
        for (int c = 0; c < 3; ++c) {
            int32_t& slot = renumbered[indices[i + c]];
            if (slot < 0) {
                slot = static_cast<int32_t>(cage.points.size());
                cage.points.push_back(welded.points[indices[i + c]]);
            }
            t.index[c] = slot;
        }
        cage.triangles.push_back(t);
    }
}

size_t usedPoints(const std::vector<unsigned>& indices, size_t indexCount,
                  std::vector<uint8_t>& seen) {
    std::memset(seen.data(), 0, seen.size());
    size_t count = 0;
    for (size_t i = 0; i < indexCount; ++i)
        if (!seen[indices[i]]) {
            seen[indices[i]] = 1;
            ++count;
        }
    return count;
}

} // namespace

void weldPositions(ControlCage& cage, const std::vector<Vector3>& positions,
                   const std::vector<Triangle>& triangles) {
    std::map<std::tuple<float, float, float>, int32_t> joined;
    std::vector<int32_t> welded(positions.size(), -1);
    cage.points.clear();
    cage.triangles.clear();
    for (const Triangle& source : triangles) {
        Triangle t;
        for (int c = 0; c < 3; ++c) {
            const int32_t i = source.index[c];
            if (welded[i] < 0) {
                const Vector3& p = positions[i];
                const auto found = joined.emplace(std::make_tuple(p.x, p.y, p.z),
                                                  static_cast<int32_t>(cage.points.size()));
                if (found.second)
                    cage.points.push_back(p);
                welded[i] = found.first->second;
            }
            t.index[c] = welded[i];
        }
        if (t.index[0] != t.index[1] && t.index[1] != t.index[2] && t.index[2] != t.index[0])
            cage.triangles.push_back(t);
    }
}

void simplifyCage(ControlCage& cage, const ControlCage& welded, int32_t targetPoints) {
    const size_t indexCount = welded.triangles.size() * 3;
    std::vector<unsigned> source(indexCount);
    for (size_t t = 0; t < welded.triangles.size(); ++t)
        for (int c = 0; c < 3; ++c)
            source[3 * t + c] = static_cast<unsigned>(welded.triangles[t].index[c]);
    std::vector<unsigned> result(indexCount), best;
    std::vector<uint8_t> seen(welded.points.size());
    const float* xyz = &welded.points[0].x;

    // The point count grows with the target index count: bisect the target for the fewest
    // points not below targetPoints (or, for a mesh with fewer, all of them).
    size_t low = 0, high = indexCount, bestPoints = 0;
    while (low <= high) {
        const size_t target = (low + high) / 2 / 3 * 3;
        const size_t count =
            meshopt_simplify(result.data(), source.data(), indexCount, xyz, welded.points.size(),
                             sizeof(Vector3), target, unlimitedError, 0, nullptr);
        const size_t points = usedPoints(result, count, seen);
        const bool enough = points >= size_t(targetPoints);
        const bool hadEnough = bestPoints >= size_t(targetPoints);
        if (best.empty() || (enough && (!hadEnough || points < bestPoints)) ||
            (!enough && !hadEnough && points > bestPoints)) {
            bestPoints = points;
            best.assign(result.begin(), result.begin() + static_cast<long>(count));
        }
        if (points == size_t(targetPoints) || high - low < 3)
            break;
        if (!enough)
            low = target + 3;
        else if (target < 3)
            break;
        else
            high = target - 3;
    }
    compact(cage, welded, best);
}
