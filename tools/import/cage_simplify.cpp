#include "tools/import/cage_simplify.h"

#include <meshoptimizer.h>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace {

// The simplifier may remove any amount of detail: only the point count limits it.
constexpr float unlimitedError = 1.0f;
// A mesh above this many triangles is first clustered to about this many, which takes
// 75 ms on a 1M-vertex scan where one quadric pass took 1.1 s (the 2-core development VM).
constexpr size_t largeMeshTriangles = 100000;
// The quadric pass goes to this many times the points asked; the final count is then
// searched on that result (about 13 passes over a mesh of a few thousand triangles).
constexpr size_t intermediatePointsPerTarget = 8;

// The triangles' corners as meshoptimizer's index buffer (3 per triangle), and back.
void indicesOf(std::vector<unsigned>& indices, const std::vector<Triangle>& triangles) {
    indices.resize(3 * triangles.size());
    for (size_t t = 0; t < triangles.size(); ++t)
        for (int c = 0; c < 3; ++c)
            indices[3 * t + size_t(c)] = static_cast<unsigned>(triangles[t].index[c]);
}

void trianglesOf(std::vector<Triangle>& triangles, const std::vector<unsigned>& indices) {
    triangles.resize(indices.size() / 3);
    for (size_t t = 0; t < triangles.size(); ++t)
        for (int c = 0; c < 3; ++c)
            triangles[t].index[c] = static_cast<int32_t>(indices[3 * t + size_t(c)]);
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

// The fewest points not below targetPoints (or, for a mesh with fewer, as many as it
// keeps), searched over the target index count of meshopt_simplify on one small mesh.
void searchPointCount(std::vector<unsigned>& best, const std::vector<unsigned>& source,
                      const std::vector<Vector3>& points, size_t targetPoints) {
    const size_t indexCount = source.size();
    std::vector<unsigned> result(indexCount);
    std::vector<uint8_t> seen(points.size());
    size_t low = 0, high = indexCount, bestPoints = 0;
    best.clear();
    while (low <= high) {
        const size_t target = (low + high) / 2 / 3 * 3;
        const size_t count =
            meshopt_simplify(result.data(), source.data(), indexCount, &points[0].x, points.size(),
                             sizeof(Vector3), target, unlimitedError, 0, nullptr);
        const size_t found = usedPoints(result, count, seen);
        const bool enough = found >= targetPoints, hadEnough = bestPoints >= targetPoints;
        if (best.empty() || (enough && (!hadEnough || found < bestPoints)) ||
            (!enough && !hadEnough && found > bestPoints)) {
            bestPoints = found;
            best.assign(result.begin(), result.begin() + static_cast<long>(count));
        }
        if (found == targetPoints || high - low < 3)
            break;
        if (!enough)
            low = target + 3;
        else if (target < 3)
            break;
        else
            high = target - 3;
    }
}

} // namespace

void compactIndices(std::vector<Vector3>& points, std::vector<int32_t>& map,
                    std::vector<unsigned>& indices, const std::vector<Vector3>& source,
                    const std::vector<int32_t>& sourceMap) {
    std::vector<unsigned> remap(source.size());
    const size_t count = meshopt_optimizeVertexFetchRemap(remap.data(), indices.data(),
                                                          indices.size(), source.size());
    points.resize(count);
    map.resize(count);
    for (size_t i = 0; i < source.size(); ++i)
        if (remap[i] != ~0u) {
            points[remap[i]] = source[i];
            map[remap[i]] = sourceMap[i];
        }
    meshopt_remapIndexBuffer(indices.data(), indices.data(), indices.size(), remap.data());
}

void compactTriangles(ControlCage& cage, std::vector<int32_t>& pointOf,
                      const std::vector<Vector3>& points, const std::vector<Triangle>& triangles) {
    std::vector<unsigned> indices;
    indicesOf(indices, triangles);
    std::vector<int32_t> identity(points.size());
    std::iota(identity.begin(), identity.end(), 0);
    compactIndices(cage.points, pointOf, indices, points, identity);
    trianglesOf(cage.triangles, indices);
}

void weldPositions(ControlCage& cage, const std::vector<Vector3>& positions,
                   const std::vector<Triangle>& triangles, std::vector<int32_t>* pointOf) {
    std::vector<unsigned> corners;
    indicesOf(corners, triangles);
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
    if (pointOf) {
        pointOf->resize(positions.size());
        for (size_t i = 0; i < positions.size(); ++i)
            (*pointOf)[i] = remap[i] == ~0u ? -1 : static_cast<int32_t>(remap[i]);
    }
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

void simplifyCage(ControlCage& cage, std::vector<int32_t>& welded, const ControlCage& mesh,
                  int32_t targetPoints) {
    std::vector<unsigned> indices, step(mesh.triangles.size() * 3);
    indicesOf(indices, mesh.triangles);
    std::vector<int32_t> identity(mesh.points.size());
    std::iota(identity.begin(), identity.end(), 0);
    std::vector<Vector3> points;
    std::vector<int32_t> map;
    compactIndices(points, map, indices, mesh.points, identity);

    // Each step works on the last one's result, compacted, so that no pass touches the
    // full mesh's vertices again.
    if (indices.size() > 3 * largeMeshTriangles) {
        indices.resize(meshopt_simplifySloppy(step.data(), indices.data(), indices.size(),
                                              &points[0].x, points.size(), sizeof(Vector3),
                                              3 * largeMeshTriangles, unlimitedError, nullptr));
        std::copy(step.begin(), step.begin() + static_cast<long>(indices.size()), indices.begin());
        const std::vector<Vector3> source = points;
        const std::vector<int32_t> sourceMap = map;
        compactIndices(points, map, indices, source, sourceMap);
    }
    const size_t intermediate = intermediatePointsPerTarget * size_t(targetPoints);
    if (points.size() > 2 * intermediate) {
        // Points shrink about in proportion to the triangles.
        const size_t target = indices.size() * intermediate / points.size() / 3 * 3;
        indices.resize(meshopt_simplify(step.data(), indices.data(), indices.size(), &points[0].x,
                                        points.size(), sizeof(Vector3), target, unlimitedError, 0,
                                        nullptr));
        std::copy(step.begin(), step.begin() + static_cast<long>(indices.size()), indices.begin());
        const std::vector<Vector3> source = points;
        const std::vector<int32_t> sourceMap = map;
        compactIndices(points, map, indices, source, sourceMap);
    }
    std::vector<unsigned> best;
    searchPointCount(best, indices, points, size_t(targetPoints));
    compactIndices(cage.points, welded, best, points, map);
    trianglesOf(cage.triangles, best);
}
