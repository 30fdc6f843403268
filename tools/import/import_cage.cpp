#include "tools/import/import_cage.h"

#include <meshoptimizer.h>

#include <cstring>

namespace {

// The simplifier may remove any amount of detail: only the point count limits it.
constexpr float unlimitedError = 1.0f;

// Keeps the points the indices use, renumbered in order of first use.
void compact(ControlCage& cage, const ControlCage& welded, std::vector<unsigned>& indices) {
    std::vector<unsigned> remap(welded.points.size());
    cage.points.resize(meshopt_optimizeVertexFetchRemap(remap.data(), indices.data(),
                                                        indices.size(), welded.points.size()));
    meshopt_remapVertexBuffer(cage.points.data(), welded.points.data(), welded.points.size(),
                              sizeof(Vector3), remap.data());
    meshopt_remapIndexBuffer(indices.data(), indices.data(), indices.size(), remap.data());
    cage.triangles.resize(indices.size() / 3);
    for (size_t t = 0; t < cage.triangles.size(); ++t)
        for (int c = 0; c < 3; ++c)
            cage.triangles[t].index[c] = static_cast<int32_t>(indices[3 * t + c]);
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
    std::vector<unsigned> corners(3 * triangles.size());
    for (size_t t = 0; t < triangles.size(); ++t)
        for (int c = 0; c < 3; ++c)
            corners[3 * t + c] = static_cast<unsigned>(triangles[t].index[c]);
    // Positions join when they are equal as numbers, so -0 and +0 are one point (the render
    // mesh keeps them apart, as it compares bytes). The join compares bytes, so the keys have
    // their zeros made positive: adding +0 does that and changes no other value. A NaN joins
    // only a NaN of the same bits.
    std::vector<Vector3> keys(positions.size());
    for (size_t i = 0; i < positions.size(); ++i)
        keys[i] = {positions[i].x + 0.0f, positions[i].y + 0.0f, positions[i].z + 0.0f};
    std::vector<unsigned> remap(positions.size());
    const size_t count = meshopt_generateVertexRemap(remap.data(), corners.data(), corners.size(),
                                                     keys.data(), keys.size(), sizeof(Vector3));
    meshopt_remapIndexBuffer(corners.data(), corners.data(), corners.size(), remap.data());
    // Each point is the position of the vertex that first used it, its zeros' signs kept
    // (meshopt_remapVertexBuffer would copy any one of the joined vertices): walking the
    // corners backwards, the first use is written last.
    cage.points.resize(count);
    for (size_t c = corners.size(); c-- > 0;)
        cage.points[corners[c]] = positions[triangles[c / 3].index[c % 3]];
    // Triangles that joining collapses are dropped; their points stay.
    cage.triangles.clear();
    for (size_t i = 0; i < corners.size(); i += 3) {
        const Triangle t = {{static_cast<int32_t>(corners[i]), static_cast<int32_t>(corners[i + 1]),
                             static_cast<int32_t>(corners[i + 2])}};
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
