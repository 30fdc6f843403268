// Closest points on a welded triangle mesh (surface_query.h). The point of a triangle nearest
// a query follows Ericson's Voronoi-region test (Real-Time Collision Detection, 5.1.5), in
// double.
#include "tools/fit/surface_query.h"

#include "io/normals.h"

#include <meshoptimizer.h>
#include <nanoflann.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

struct SurfaceCloud {
    const std::vector<Vector3>* points;
    size_t kdtree_get_point_count() const { return points->size(); }
    float kdtree_get_pt(size_t i, size_t axis) const {
        const Vector3& p = (*points)[i];
        return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
    }
    template <class Box> bool kdtree_get_bbox(Box&) const { return false; }
};

using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, SurfaceCloud>,
                                                 SurfaceCloud, 3, uint32_t>;

// Triangles per block of the border search.
constexpr int64_t borderBlock = 4096;
// Queries per block of closestSurfacePoints.
constexpr int64_t queryBlock = 256;

struct Point3d {
    double x, y, z;
};
Point3d toDouble(const Vector3& p) { return {p.x, p.y, p.z}; }
Point3d operator-(const Point3d& a, const Point3d& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Point3d operator+(const Point3d& a, const Point3d& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Point3d operator*(const Point3d& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double dot(const Point3d& a, const Point3d& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// The nearest point of segment a-b to p, as its parameter along the segment.
double segmentParameter(const Point3d& p, const Point3d& a, const Point3d& b) {
    const Point3d ab = b - a;
    const double ll = dot(ab, ab);
    return ll > 0.0 ? std::min(1.0, std::max(0.0, dot(p - a, ab) / ll)) : 0.0;
}

} // namespace

struct SurfaceTree {
    SurfaceCloud cloud;
    Tree tree;
    explicit SurfaceTree(const std::vector<Vector3>* points)
        : cloud{points}, tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(16)) {
        tree.buildIndex();
    }
};

void SurfaceTreeDeleter::operator()(SurfaceTree* tree) const { delete tree; }

Vector3 closestPointOnTriangle(double w[3], int32_t& feature, const Vector3& pf, const Vector3& af,
                               const Vector3& bf, const Vector3& cf) {
    const Point3d p = toDouble(pf), a = toDouble(af), b = toDouble(bf), c = toDouble(cf);
    const Point3d ab = b - a, ac = c - a, ap = p - a;
    auto result = [&](double wa, double wb, double wc, int32_t f) {
        w[0] = wa;
        w[1] = wb;
        w[2] = wc;
        feature = f;
        const Point3d q = a * wa + b * wb + c * wc;
        return Vector3{float(q.x), float(q.y), float(q.z)};
    };
    const Point3d n = {ab.y * ac.z - ab.z * ac.y, ab.z * ac.x - ab.x * ac.z,
                       ab.x * ac.y - ab.y * ac.x};
    const double scale = std::max(dot(ab, ab), dot(ac, ac));
    if (!(dot(n, n) > 1e-24 * scale * scale)) {
        // A degenerate triangle: the nearest of its three sides.
        const double t[3] = {segmentParameter(p, a, b), segmentParameter(p, b, c),
                             segmentParameter(p, c, a)};
        const Point3d q[3] = {a + (b - a) * t[0], b + (c - b) * t[1], c + (a - c) * t[2]};
        int best = 0;
        for (int k = 1; k < 3; ++k)
            if (dot(p - q[k], p - q[k]) < dot(p - q[best], p - q[best]))
                best = k;
        if (best == 0)
            return result(1.0 - t[0], t[0], 0.0, t[0] == 0.0 ? 4 : t[0] == 1.0 ? 5 : 1);
        if (best == 1)
            return result(0.0, 1.0 - t[1], t[1], t[1] == 0.0 ? 5 : t[1] == 1.0 ? 6 : 2);
        return result(t[2], 0.0, 1.0 - t[2], t[2] == 0.0 ? 6 : t[2] == 1.0 ? 4 : 3);
    }
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0.0 && d2 <= 0.0)
        return result(1.0, 0.0, 0.0, 4);
    const Point3d bp = p - b;
    const double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0.0 && d4 <= d3)
        return result(0.0, 1.0, 0.0, 5);
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0.0 && d1 >= 0.0 && d3 <= 0.0) {
        const double v = d1 / (d1 - d3);
        return result(1.0 - v, v, 0.0, 1);
    }
    const Point3d cp = p - c;
    const double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0.0 && d5 <= d6)
        return result(0.0, 0.0, 1.0, 6);
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0.0 && d2 >= 0.0 && d6 <= 0.0) {
        const double v = d2 / (d2 - d6);
        return result(1.0 - v, 0.0, v, 3);
    }
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0.0 && (d4 - d3) >= 0.0 && (d5 - d6) >= 0.0) {
        const double v = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        return result(0.0, 1.0 - v, v, 2);
    }
    const double denominator = 1.0 / (va + vb + vc);
    const double v = vb * denominator, u = vc * denominator;
    return result(1.0 - v - u, v, u, 0);
}

void buildQuerySurface(QuerySurface& s, const Vector3* positions, int32_t N,
                       const Triangle* triangles, int32_t M, WorkerPool& workers) {
    // Weld: points equal in every byte become the first of them.
    std::vector<uint32_t> remap(size_t(N) + 1);
    const size_t P = N > 0 ? meshopt_generateVertexRemap(remap.data(), nullptr, size_t(N),
                                                         positions, size_t(N), sizeof(Vector3))
                           : 0;
    s.positions.assign(P, Vector3{0.0f, 0.0f, 0.0f});
    for (int32_t i = 0; i < N; ++i)
        s.positions[remap[size_t(i)]] = positions[i];
    s.triangles.clear();
    s.triangles.reserve(size_t(M));
    for (int32_t t = 0; t < M; ++t) {
        const Triangle w = {{int32_t(remap[size_t(triangles[t].index[0])]),
                             int32_t(remap[size_t(triangles[t].index[1])]),
                             int32_t(remap[size_t(triangles[t].index[2])])}};
        if (w.index[0] != w.index[1] && w.index[1] != w.index[2] && w.index[2] != w.index[0])
            s.triangles.push_back(w);
    }
    const int32_t T = static_cast<int32_t>(s.triangles.size());
    s.normals.assign(P, Vector3{0.0f, 0.0f, 0.0f});
    computeMeshNormals(s.normals.data(), s.positions.data(), int32_t(P), s.triangles.data(), T);

    // The triangles around each point, in increasing order.
    s.firstTriangle.assign(P + 1, 0);
    for (const Triangle& t : s.triangles)
        for (int32_t j = 0; j < 3; ++j)
            ++s.firstTriangle[size_t(t.index[j]) + 1];
    for (size_t i = 0; i < P; ++i)
        s.firstTriangle[i + 1] += s.firstTriangle[i];
    s.pointTriangles.assign(size_t(3) * size_t(T), 0);
    {
        std::vector<int32_t> next(s.firstTriangle.begin(), s.firstTriangle.end() - 1);
        for (int32_t t = 0; t < T; ++t)
            for (int32_t j = 0; j < 3; ++j)
                s.pointTriangles[size_t(next[size_t(s.triangles[t].index[j])]++)] = t;
    }

    // A side is on the border when no other triangle around its first corner holds both of
    // its corners.
    s.borderSides.assign(size_t(T), 0);
    parallelFor(workers, T, borderBlock, [&](int64_t begin, int64_t end, int32_t) {
        for (int64_t t = begin; t < end; ++t) {
            uint8_t bits = 0;
            for (int32_t j = 0; j < 3; ++j) {
                const int32_t a = s.triangles[size_t(t)].index[j];
                const int32_t b = s.triangles[size_t(t)].index[(j + 1) % 3];
                bool shared = false;
                for (int32_t k = s.firstTriangle[size_t(a)];
                     k < s.firstTriangle[size_t(a) + 1] && !shared; ++k) {
                    const int32_t o = s.pointTriangles[size_t(k)];
                    if (o == t)
                        continue;
                    const Triangle& u = s.triangles[size_t(o)];
                    shared = u.index[0] == b || u.index[1] == b || u.index[2] == b;
                }
                if (!shared)
                    bits = uint8_t(bits | (1u << j));
            }
            s.borderSides[size_t(t)] = bits;
        }
    });
    s.borderPoint.assign(P, 0);
    for (int32_t t = 0; t < T; ++t)
        for (int32_t j = 0; j < 3; ++j)
            if (s.borderSides[size_t(t)] & (1u << j)) {
                s.borderPoint[size_t(s.triangles[t].index[j])] = 1;
                s.borderPoint[size_t(s.triangles[t].index[(j + 1) % 3])] = 1;
            }
    s.tree.reset(P > 0 ? new SurfaceTree(&s.positions) : nullptr);
}

void closestSurfacePoint(SurfacePoint& r, const QuerySurface& s, const Vector3& query) {
    r = SurfacePoint();
    if (!s.tree)
        return;
    uint32_t nearest[surfacePointCandidates];
    float squared[surfacePointCandidates];
    const float q[3] = {query.x, query.y, query.z};
    const size_t found = s.tree->tree.knnSearch(q, surfacePointCandidates, nearest, squared);
    double best = std::numeric_limits<double>::infinity();
    double weights[3] = {0.0, 0.0, 0.0};
    int32_t bestFeature = 0;
    for (size_t k = 0; k < found; ++k) {
        const int32_t i = int32_t(nearest[k]);
        for (int32_t e = s.firstTriangle[size_t(i)]; e < s.firstTriangle[size_t(i) + 1]; ++e) {
            const int32_t t = s.pointTriangles[size_t(e)];
            const Triangle& tri = s.triangles[size_t(t)];
            double w[3];
            int32_t feature;
            const Vector3 point = closestPointOnTriangle(
                w, feature, query, s.positions[size_t(tri.index[0])],
                s.positions[size_t(tri.index[1])], s.positions[size_t(tri.index[2])]);
            const double dx = double(point.x) - query.x, dy = double(point.y) - query.y,
                         dz = double(point.z) - query.z;
            const double d2 = dx * dx + dy * dy + dz * dz;
            if (d2 < best || (d2 == best && t < r.triangle)) {
                best = d2;
                r.point = point;
                r.triangle = t;
                bestFeature = feature;
                std::copy(w, w + 3, weights);
            }
        }
    }
    if (r.triangle < 0)
        return;
    r.distance = float(std::sqrt(best));
    const Triangle& tri = s.triangles[size_t(r.triangle)];
    const Vector3 n = s.normals[size_t(tri.index[0])] * float(weights[0]) +
                      s.normals[size_t(tri.index[1])] * float(weights[1]) +
                      s.normals[size_t(tri.index[2])] * float(weights[2]);
    const float len = length(n);
    if (len > normalLengthEpsilon)
        r.normal = n / len;
    else
        r.normal = unitOrZero(
            cross(s.positions[size_t(tri.index[1])] - s.positions[size_t(tri.index[0])],
                  s.positions[size_t(tri.index[2])] - s.positions[size_t(tri.index[0])]));
    const uint8_t sides = s.borderSides[size_t(r.triangle)];
    if (bestFeature >= 1 && bestFeature <= 3)
        r.onBorder = (sides >> (bestFeature - 1)) & 1u;
    else if (bestFeature >= 4)
        r.onBorder = s.borderPoint[size_t(tri.index[bestFeature - 4])] != 0;
}

void closestSurfacePoints(SurfacePoint* results, const QuerySurface& surface,
                          const Vector3* queries, int32_t count, WorkerPool& workers) {
    parallelFor(workers, count, queryBlock, [&](int64_t begin, int64_t end, int32_t) {
        for (int64_t i = begin; i < end; ++i)
            closestSurfacePoint(results[i], surface, queries[i]);
    });
}
