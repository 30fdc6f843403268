// Closest points on a triangle mesh, for fitting one surface to another: the mesh welded by
// position (so texture seams and split corners are one surface), its smooth normals, its
// border, and a k-d tree (nanoflann) over its points.
//
// A closest point is searched among the triangles around the surfacePointCandidates points
// nearest the query: exact wherever the nearest triangle has a corner among them, which holds
// for any mesh whose triangles are not far larger than the distance asked about.
#pragma once

#include "face/workers.h"
#include "geometry/vector.h"

#include <cstdint>
#include <memory>
#include <vector>

struct SurfaceTree; // the nanoflann tree, defined with the queries
struct SurfaceTreeDeleter {
    void operator()(SurfaceTree* tree) const;
};

struct QuerySurface {
    std::vector<Vector3> positions;  // P distinct positions, in order of first appearance
    std::vector<Vector3> normals;    // P: computeMeshNormals over the welded triangles
    std::vector<Triangle> triangles; // on the P points; triangles welding collapses dropped
    // Per triangle, bit j set where its side from corner j to corner j + 1 belongs to no other
    // triangle (the mesh's border: a scan's holes and outline, a mask's edge).
    std::vector<uint8_t> borderSides;
    std::vector<uint8_t> borderPoint;   // P: 1 where the point lies on a border side
    std::vector<int32_t> firstTriangle; // P + 1: the triangles of point i are
    std::vector<int32_t> pointTriangles; // pointTriangles[firstTriangle[i] .. firstTriangle[i+1]−1]
    std::unique_ptr<SurfaceTree, SurfaceTreeDeleter> tree; // over positions
};

// Builds the surface of positions (N) and triangles (M, indices below N). Positions equal
// in every byte are one point. The border sides are found on the workers (the same with any
// thread count).
void buildQuerySurface(QuerySurface& surface, const Vector3* positions, int32_t N,
                       const Triangle* triangles, int32_t M, WorkerPool& workers = sharedWorkers());

// The points of the surface nearest a query whose triangles are searched.
constexpr int32_t surfacePointCandidates = 8;

// The closest point of the surface to a query: the point, the normal there (the corners'
// normals interpolated and made unit; the triangle's own where they cancel), the distance,
// the triangle (−1 on an empty surface) and whether the point lies on the border (on a border
// side or at a border point). Ties go to the lower triangle index.
struct SurfacePoint {
    Vector3 point = {0.0f, 0.0f, 0.0f};
    Vector3 normal = {0.0f, 0.0f, 0.0f};
    float distance = 0.0f;
    int32_t triangle = -1;
    bool onBorder = false;
};
void closestSurfacePoint(SurfacePoint& result, const QuerySurface& surface, const Vector3& query);

// closestSurfacePoint for queries[0..count−1] into results (count), in blocks on the workers.
void closestSurfacePoints(SurfacePoint* results, const QuerySurface& surface,
                          const Vector3* queries, int32_t count,
                          WorkerPool& workers = sharedWorkers());

// The point of triangle a, b, c nearest p, with its barycentric weights (w[0] at a), and
// which feature holds it: 0 the inside, 1 to 3 the sides a-b, b-c, c-a, 4 to 6 the corners
// a, b, c. A degenerate triangle gives the nearest of its corners and sides.
Vector3 closestPointOnTriangle(double w[3], int32_t& feature, const Vector3& p, const Vector3& a,
                               const Vector3& b, const Vector3& c);
