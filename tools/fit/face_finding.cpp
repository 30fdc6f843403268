#include "tools/fit/face_finding.h"

#include "tools/assets/expressions.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <meshoptimizer.h>
#include <nanoflann.hpp>
#include <vector>

namespace {

using Point = Eigen::Vector3d;

Point toPoint(const Vector3& v) { return Point(v.x, v.y, v.z); }
Vector3 toVector(const Point& p) { return {float(p.x()), float(p.y()), float(p.z())}; }

// ---------------------------------------------------------------------------------------
// An even sample of the surface.

// Points of the surface spread by area: the triangles' areas laid end to end and cut into
// count equal lengths, a point in the middle of each, placed within its triangle by the R2
// low-discrepancy sequence (Roberts, 2018), so that neighbouring points of one triangle do
// not bunch. triangles lists the triangles sampled (their indices into all).
void sampleSurface(std::vector<Point>& points, std::vector<Point>& normals,
                   const Vector3* positions, const Triangle* all,
                   const std::vector<int32_t>& triangles, int32_t count) {
    std::vector<double> cumulative(triangles.size());
    double total = 0.0;
    for (size_t t = 0; t < triangles.size(); ++t) {
        const Triangle& tri = all[triangles[t]];
        const Point a = toPoint(positions[tri.index[0]]);
        const Point b = toPoint(positions[tri.index[1]]), c = toPoint(positions[tri.index[2]]);
        const double area = 0.5 * (b - a).cross(c - a).norm();
        total += std::isfinite(area) ? area : 0.0;
        cumulative[t] = total;
    }
    points.clear();
    normals.clear();
    if (!(total > 0.0))
        return;
    points.reserve(size_t(count));
    normals.reserve(size_t(count));
    constexpr double r2a = 0.7548776662466927, r2b = 0.5698402909980532; // 1/g, 1/g² (g³ = g + 1)
    for (int32_t k = 0; k < count; ++k) {
        const double target = (double(k) + 0.5) / double(count) * total;
        size_t t = size_t(std::upper_bound(cumulative.begin(), cumulative.end(), target) -
                          cumulative.begin());
        t = std::min(t, triangles.size() - 1);
        double u = std::fmod(0.5 + double(k) * r2a, 1.0), v = std::fmod(0.5 + double(k) * r2b, 1.0);
        if (u + v > 1.0)
            u = 1.0 - u, v = 1.0 - v;
        const Triangle& tri = all[triangles[t]];
        const Point a = toPoint(positions[tri.index[0]]);
        const Point ab = toPoint(positions[tri.index[1]]) - a;
        const Point ac = toPoint(positions[tri.index[2]]) - a;
        points.push_back(a + u * ab + v * ac);
        normals.push_back(ab.cross(ac).normalized());
    }
}

// The sample as a nanoflann point cloud.
struct Cloud {
    std::vector<Point> points;
    std::vector<Point> normals; // of the triangle each point lies on
    size_t kdtree_get_point_count() const { return points.size(); }
    double kdtree_get_pt(size_t i, size_t d) const { return points[i][int(d)]; }
    template <class Box> bool kdtree_get_bbox(Box&) const { return false; }
};
using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, Cloud>, Cloud,
                                                 3, size_t>;

double nearestDistance(const Tree& tree, const Point& q) {
    size_t nearest = 0;
    double squared = 0.0;
    tree.knnSearch(q.data(), 1, &nearest, &squared);
    return std::sqrt(squared);
}

size_t nearestIndex(const Tree& tree, const Point& q) {
    size_t nearest = 0;
    double squared = 0.0;
    tree.knnSearch(q.data(), 1, &nearest, &squared);
    return nearest;
}

// ---------------------------------------------------------------------------------------
// The mirror plane.

struct Plane {
    Point normal;  // unit
    double offset; // the plane holds the points p with normal·p = offset
    double error;  // mean distance of a reflected point to the nearest point, over the diagonal
};

Point reflect(const Plane& plane, const Point& p) {
    return p - 2.0 * (plane.normal.dot(p) - plane.offset) * plane.normal;
}

// Every step'th point of the sample from first on: a spread subset.
void everyNth(std::vector<Point>& subset, const std::vector<Point>& points, size_t wanted) {
    subset.clear();
    const size_t step = std::max<size_t>(1, points.size() / std::max<size_t>(1, wanted));
    for (size_t i = step / 2; i < points.size(); i += step)
        subset.push_back(points[i]);
}

double mirrorError(const Plane& plane, const std::vector<Point>& subset, const Tree& tree,
                   double diagonal) {
    double sum = 0.0;
    for (const Point& p : subset)
        sum += nearestDistance(tree, reflect(plane, p));
    return sum / double(subset.size()) / diagonal;
}

// Moves the plane towards the one the sample meets itself across, as the iterative closest
// point method moves a transform: each point is paired with the sample's point nearest its
// reflection, the worst fifth of the pairs dropped, and the plane moved by the linearised
// least-squares step that brings the reflections onto the tangent planes of their partners
// (point to plane: a pair's offset along the surface, the spacing of the sample, says nothing
// of the plane).
void refinePlane(Plane& plane, const std::vector<Point>& subset, const Tree& tree,
                 const Cloud& cloud, int iterations) {
    std::vector<double> residual(subset.size());
    std::vector<size_t> partner(subset.size());
    // Positions about the subset's middle, so that the tilt's terms are of the size of the mesh.
    Point middle = Point::Zero();
    for (const Point& p : subset)
        middle += p;
    middle /= double(std::max<size_t>(1, subset.size()));
    for (int it = 0; it < iterations; ++it) {
        for (size_t i = 0; i < subset.size(); ++i) {
            const Point r = reflect(plane, subset[i]);
            partner[i] = nearestIndex(tree, r);
            residual[i] = std::fabs((r - cloud.points[partner[i]]).dot(cloud.normals[partner[i]]));
        }
        std::vector<double> sorted = residual;
        const size_t cut = sorted.size() * 4 / 5;
        std::nth_element(sorted.begin(), sorted.begin() + long(cut), sorted.end());
        const double limit = sorted[cut];
        const Point n = plane.normal;
        const Point helper = std::fabs(n.x()) < 0.9 ? Point(1, 0, 0) : Point(0, 1, 0);
        const Point t1 = (helper - n * n.dot(helper)).normalized(), t2 = n.cross(t1);
        const double d = plane.offset - n.dot(middle); // the offset about the middle
        Eigen::Matrix3d normal = Eigen::Matrix3d::Zero();
        Point rhs = Point::Zero();
        for (size_t i = 0; i < subset.size(); ++i) {
            if (residual[i] > limit)
                continue;
            const Point p = subset[i] - middle;
            const Point q = cloud.points[partner[i]] - middle;
            const Point& m = cloud.normals[partner[i]];
            const double h = n.dot(p) - d;
            const Point r = p - 2.0 * h * n;
            const double e = (r - q).dot(m);
            const Point row((-2.0 * t1.dot(p) * n - 2.0 * h * t1).dot(m),
                            (-2.0 * t2.dot(p) * n - 2.0 * h * t2).dot(m), 2.0 * n.dot(m));
            normal += row * row.transpose();
            rhs -= row * e;
        }
        normal.diagonal().array() += 1e-9 * (normal.trace() + 1e-30);
        const Point step = normal.ldlt().solve(rhs);
        if (!step.allFinite())
            return;
        plane.normal = (n + step.x() * t1 + step.y() * t2).normalized();
        plane.offset = d + step.z() + plane.normal.dot(middle);
    }
}

// The mirror planes of the sample, best first: started across many directions through the
// centroid (a Fibonacci lattice of the half sphere and the principal axes), each refined,
// the distinct ones kept.
void findMirrorPlanes(std::vector<Plane>& planes, const Cloud& cloud, const Tree& tree,
                      double diagonal) {
    Point centroid = Point::Zero();
    for (const Point& p : cloud.points)
        centroid += p;
    centroid /= double(cloud.points.size());
    Eigen::Matrix3d covariance = Eigen::Matrix3d::Zero();
    for (const Point& p : cloud.points)
        covariance += (p - centroid) * (p - centroid).transpose();
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> principal(covariance);

    std::vector<Point> starts;
    constexpr int lattice = 48;
    const double golden = M_PI * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < lattice; ++i) {
        const double z = 1.0 - (double(i) + 0.5) / double(lattice);
        const double r = std::sqrt(1.0 - z * z), a = golden * double(i);
        starts.push_back(Point(r * std::cos(a), r * std::sin(a), z));
    }
    for (int k = 0; k < 3; ++k)
        starts.push_back(principal.eigenvectors().col(k));

    std::vector<Point> coarse, judge;
    everyNth(coarse, cloud.points, 300);
    everyNth(judge, cloud.points, 600);
    std::vector<Plane> tried;
    for (const Point& n : starts) {
        Plane plane{n.normalized(), n.normalized().dot(centroid), 0.0};
        refinePlane(plane, coarse, tree, cloud, 3);
        plane.error = mirrorError(plane, judge, tree, diagonal);
        tried.push_back(plane);
    }
    std::stable_sort(tried.begin(), tried.end(),
                     [](const Plane& a, const Plane& b) { return a.error < b.error; });
    std::vector<Point> fine, final;
    everyNth(fine, cloud.points, 1500);
    everyNth(final, cloud.points, 3000);
    planes.clear();
    for (const Plane& t : tried) {
        bool distinct = true;
        for (const Plane& p : planes)
            distinct =
                distinct && std::fabs(p.normal.dot(t.normal)) < std::cos(10.0 * M_PI / 180.0);
        if (!distinct)
            continue;
        Plane plane = t;
        refinePlane(plane, fine, tree, cloud, 12);
        plane.error = mirrorError(plane, final, tree, diagonal);
        bool stillDistinct = true;
        for (const Plane& p : planes)
            stillDistinct = stillDistinct &&
                            std::fabs(p.normal.dot(plane.normal)) < std::cos(5.0 * M_PI / 180.0);
        if (stillDistinct)
            planes.push_back(plane);
        if (planes.size() == 4)
            break;
    }
    std::stable_sort(planes.begin(), planes.end(),
                     [](const Plane& a, const Plane& b) { return a.error < b.error; });
}

// ---------------------------------------------------------------------------------------
// Views and depth.

// A view of the mesh: x along left, y along up, z along front (toward the viewer), from
// origin.
struct Frame {
    Point origin, left, up, front;
};

Point inFrame(const Frame& f, const Point& p) {
    const Point d = p - f.origin;
    return Point(f.left.dot(d), f.up.dot(d), f.front.dot(d));
}

Point fromFrame(const Frame& f, const Point& q) {
    return f.origin + q.x() * f.left + q.y() * f.up + q.z() * f.front;
}

// The front-most depth seen in each cell, with summed tables for the mean over a box.
struct DepthImage {
    int32_t columns = 0, rows = 0;
    double x0 = 0.0, y0 = 0.0, cell = 1.0; // cell (c, r) spans x0 + c·cell, y0 + r·cell
    std::vector<double> depth;             // NaN where nothing is seen
    std::vector<double> sum, count;        // (columns + 1) · (rows + 1)
};

void sizeImage(DepthImage& image, double x0, double x1, double y0, double y1, double cell) {
    image.cell = cell;
    image.x0 = x0;
    image.y0 = y0;
    image.columns = std::max(1, int32_t(std::ceil((x1 - x0) / cell)));
    image.rows = std::max(1, int32_t(std::ceil((y1 - y0) / cell)));
    image.depth.assign(size_t(image.columns) * size_t(image.rows), NAN);
}

void see(DepthImage& image, int32_t c, int32_t r, double z) {
    if (c < 0 || r < 0 || c >= image.columns || r >= image.rows)
        return;
    double& d = image.depth[size_t(r) * size_t(image.columns) + size_t(c)];
    if (!(d >= z))
        d = z;
}

void summarise(DepthImage& image) {
    const size_t w = size_t(image.columns) + 1;
    image.sum.assign(w * (size_t(image.rows) + 1), 0.0);
    image.count.assign(image.sum.size(), 0.0);
    for (int32_t r = 0; r < image.rows; ++r)
        for (int32_t c = 0; c < image.columns; ++c) {
            const double d = image.depth[size_t(r) * size_t(image.columns) + size_t(c)];
            const bool seen = !std::isnan(d);
            const size_t at = size_t(r + 1) * w + size_t(c + 1);
            image.sum[at] =
                (seen ? d : 0.0) + image.sum[at - 1] + image.sum[at - w] - image.sum[at - w - 1];
            image.count[at] = (seen ? 1.0 : 0.0) + image.count[at - 1] + image.count[at - w] -
                              image.count[at - w - 1];
        }
}

// The triangles seen from the frame within [x0, x1] × [y0, y1], drawn into cells of the given
// size (a depth buffer: the front-most surface at each cell's middle).
void rasterImage(DepthImage& image, const Frame& frame, const Vector3* positions,
                 const Triangle* triangles, const std::vector<int32_t>& chosen, double x0,
                 double x1, double y0, double y1, double cell) {
    sizeImage(image, x0, x1, y0, y1, cell);
    for (int32_t t : chosen) {
        Point q[3];
        for (int k = 0; k < 3; ++k)
            q[k] = inFrame(frame, toPoint(positions[triangles[t].index[k]]));
        const double area = (q[1].x() - q[0].x()) * (q[2].y() - q[0].y()) -
                            (q[2].x() - q[0].x()) * (q[1].y() - q[0].y());
        if (!(std::fabs(area) > 0.0))
            continue;
        const double lowX = std::min({q[0].x(), q[1].x(), q[2].x()});
        const double highX = std::max({q[0].x(), q[1].x(), q[2].x()});
        const double lowY = std::min({q[0].y(), q[1].y(), q[2].y()});
        const double highY = std::max({q[0].y(), q[1].y(), q[2].y()});
        const int32_t c0 = std::max(0, int32_t(std::ceil((lowX - x0) / cell - 0.5)));
        const int32_t c1 =
            std::min(image.columns - 1, int32_t(std::floor((highX - x0) / cell - 0.5)));
        const int32_t r0 = std::max(0, int32_t(std::ceil((lowY - y0) / cell - 0.5)));
        const int32_t r1 = std::min(image.rows - 1, int32_t(std::floor((highY - y0) / cell - 0.5)));
        for (int32_t r = r0; r <= r1; ++r)
            for (int32_t c = c0; c <= c1; ++c) {
                const double px = x0 + (double(c) + 0.5) * cell, py = y0 + (double(r) + 0.5) * cell;
                const double w0 =
                    ((q[1].x() - px) * (q[2].y() - py) - (q[2].x() - px) * (q[1].y() - py)) / area;
                const double w1 =
                    ((q[2].x() - px) * (q[0].y() - py) - (q[0].x() - px) * (q[2].y() - py)) / area;
                const double w2 = 1.0 - w0 - w1;
                if (w0 < 0.0 || w1 < 0.0 || w2 < 0.0)
                    continue;
                see(image, c, r, w0 * q[0].z() + w1 * q[1].z() + w2 * q[2].z());
            }
    }
    summarise(image);
}

// The mean depth over the cells of the box and the share of them seen (cells outside the
// image count as unseen).
void boxMean(double& mean, double& seen, const DepthImage& image, double xa, double xb, double ya,
             double yb) {
    int32_t c0 = int32_t(std::floor((xa - image.x0) / image.cell + 0.5));
    int32_t c1 = int32_t(std::floor((xb - image.x0) / image.cell + 0.5));
    int32_t r0 = int32_t(std::floor((ya - image.y0) / image.cell + 0.5));
    int32_t r1 = int32_t(std::floor((yb - image.y0) / image.cell + 0.5));
    if (c1 <= c0)
        c1 = c0 + 1;
    if (r1 <= r0)
        r1 = r0 + 1;
    const double cells = double(c1 - c0) * double(r1 - r0);
    c0 = std::clamp(c0, 0, image.columns), c1 = std::clamp(c1, 0, image.columns);
    r0 = std::clamp(r0, 0, image.rows), r1 = std::clamp(r1, 0, image.rows);
    const size_t w = size_t(image.columns) + 1;
    const auto at = [&](const std::vector<double>& table, int32_t c, int32_t r) {
        return table[size_t(r) * w + size_t(c)];
    };
    const double n = at(image.count, c1, r1) - at(image.count, c0, r1) - at(image.count, c1, r0) +
                     at(image.count, c0, r0);
    const double s = at(image.sum, c1, r1) - at(image.sum, c0, r1) - at(image.sum, c1, r0) +
                     at(image.sum, c0, r0);
    seen = n / cells;
    mean = n > 0.0 ? s / n : 0.0;
}

// ---------------------------------------------------------------------------------------
// The template's agreement.

// The template's cells, square, in face units.
constexpr double cellWidth = 2.0 * double(templateHalfWidth) / templateColumns;
constexpr double heightMiss = cellWidth * templateRows - double(templateTop - templateBottom);
static_assert(heightMiss < 1e-6 && heightMiss > -1e-6, "the template's cells are square");

// The template at one resolution, ready to be compared: for each cell of the window its
// weight, its mean depth and its detail, the depth less the mean over the three by three
// cells around it: a band of the depth's detail that holds the nose, the eyes' hollows, the
// brows, the mouth's crease and the chin, and not the roundness every head has.
struct TemplateLevel {
    int32_t columns = 0, rows = 0;             // of the window
    double cell = 0.0;                         // face units
    std::vector<double> weight, depth, detail; // rows × columns, row 0 at the bottom
    double noseY = 0.0;                        // the template's nose tip, face units
    int32_t reach = 1; // the detail is the depth less the mean over (2 reach + 1)² cells
};

// The level whose cells are pool × pool cells of the template (pool divides the margin).
void makeLevel(TemplateLevel& level, const FaceTemplate& face, int32_t pool) {
    const int32_t margin = templateMargin / pool;
    level.reach = pool == 1 ? 2 : 1;
    const int32_t gridColumns = templateGridColumns / pool, gridRows = templateGridRows / pool;
    level.columns = templateColumns / pool;
    level.rows = templateRows / pool;
    level.cell = cellWidth * pool;
    level.noseY = double(face.landmarks[noseTip].y);
    std::vector<double> cover(size_t(gridColumns) * size_t(gridRows), 0.0);
    std::vector<double> mean(cover.size(), 0.0);
    for (int32_t r = 0; r < gridRows; ++r)
        for (int32_t c = 0; c < gridColumns; ++c) {
            double w = 0.0, d = 0.0;
            for (int32_t i = 0; i < pool; ++i)
                for (int32_t j = 0; j < pool; ++j) {
                    w += double(face.weight[r * pool + i][c * pool + j]);
                    d += double(face.weight[r * pool + i][c * pool + j]) *
                         double(face.depth[r * pool + i][c * pool + j]);
                }
            const size_t at = size_t(r) * size_t(gridColumns) + size_t(c);
            cover[at] = w / double(pool * pool);
            mean[at] = w > 0.0 ? d / w : 0.0;
        }
    const size_t cells = size_t(level.columns) * size_t(level.rows);
    level.weight.assign(cells, 0.0);
    level.depth.assign(cells, 0.0);
    level.detail.assign(cells, 0.0);
    for (int32_t r = 0; r < level.rows; ++r)
        for (int32_t c = 0; c < level.columns; ++c) {
            const int32_t gr = r + margin, gc = c + margin;
            const size_t g = size_t(gr) * size_t(gridColumns) + size_t(gc);
            double w = 0.0, d = 0.0, least = 1.0;
            for (int32_t i = -level.reach; i <= level.reach; ++i)
                for (int32_t j = -level.reach; j <= level.reach; ++j) {
                    const size_t n = size_t(gr + i) * size_t(gridColumns) + size_t(gc + j);
                    w += cover[n];
                    d += cover[n] * mean[n];
                    least = std::min(least, cover[n]);
                }
            // A cell at the template's edge has no detail to compare: the surface around it
            // is missing, not lower.
            const size_t at = size_t(r) * size_t(level.columns) + size_t(c);
            level.weight[at] = least >= 0.5 ? cover[g] : 0.0;
            level.depth[at] = mean[g];
            level.detail[at] = w > 0.0 ? mean[g] - d / w : 0.0;
        }
}

// A face placed in a view: the eyes' middle at (0, eyesY, depthShift), size mesh units per
// face unit.
struct Placement {
    double size = 0.0, eyesY = 0.0, depthShift = 0.0;
    double score = -2.0;
};

// The normalised correlation of the template's detail with the image's (each cell's mean
// depth less the mean over the three by three cells around it) over the window of the
// placement, times the share of the template's weight seen (cells at least half seen count).
double windowScore(double& depthShift, const TemplateLevel& level, const DepthImage& image,
                   double size, double eyesY) {
    double total = 0.0, sw = 0.0, st = 0.0, sm = 0.0, stt = 0.0, smm = 0.0, stm = 0.0;
    double depthSum = 0.0, templateDepthSum = 0.0;
    const double cell = level.cell * size;
    for (int32_t r = 0; r < level.rows; ++r)
        for (int32_t c = 0; c < level.columns; ++c) {
            const size_t at = size_t(r) * size_t(level.columns) + size_t(c);
            const double w = level.weight[at];
            if (w <= 0.0)
                continue;
            total += w;
            const double xa = -double(templateHalfWidth) * size + c * cell;
            const double ya = eyesY + double(templateBottom) * size + r * cell;
            double mean = 0.0, seen = 0.0, around = 0.0, seenAround = 0.0;
            boxMean(mean, seen, image, xa, xa + cell, ya, ya + cell);
            if (seen < 0.5)
                continue;
            boxMean(around, seenAround, image, xa - level.reach * cell,
                    xa + (1.0 + level.reach) * cell, ya - level.reach * cell,
                    ya + (1.0 + level.reach) * cell);
            if (seenAround < 0.75)
                continue;
            const double t = level.detail[at], m = (mean - around) / size;
            sw += w, st += w * t, sm += w * m;
            stt += w * t * t, smm += w * m * m, stm += w * t * m;
            depthSum += w * mean;
            templateDepthSum += w * level.depth[at];
        }
    if (!(sw > 0.0))
        return -1.0;
    depthShift = (depthSum - templateDepthSum * size) / sw;
    const double vt = stt - st * st / sw, vm = smm - sm * sm / sw, cov = stm - st * sm / sw;
    if (!(vt > 0.0) || !(vm > 0.0))
        return -1.0;
    return cov / std::sqrt(vt * vm) * (sw / total);
}

// A candidate view: a mirror plane, a direction in it and a placement.
struct Candidate {
    Frame frame;
    Placement placement;
    int32_t plane = 0;
    int32_t nose = 0; // which nose it is placed on
    double angle = 0.0;
    int upSign = 1;
};

Frame viewFrame(const Plane& plane, const Point& centre, double angle, int upSign) {
    // Two directions in the plane.
    const Point n = plane.normal;
    const Point helper = std::fabs(n.x()) < 0.9 ? Point(1, 0, 0) : Point(0, 1, 0);
    const Point e1 = (helper - n * n.dot(helper)).normalized();
    const Point e2 = n.cross(e1);
    Frame f;
    f.front = std::cos(angle) * e1 + std::sin(angle) * e2;
    f.up = double(upSign) * n.cross(f.front);
    f.left = f.up.cross(f.front);
    f.origin = centre - n * (n.dot(centre) - plane.offset);
    return f;
}

} // namespace

void makeFaceTemplate(FaceTemplate& face, const Vector3* positions, int32_t N,
                      const Triangle* triangles, int32_t M, const Landmarks& landmarks) {
    (void)N;
    Vector3 up, front;
    landmarkFrame(up, front, landmarks);
    Frame frame;
    frame.up = toPoint(up);
    frame.front = toPoint(front);
    frame.left = frame.up.cross(frame.front);
    frame.origin =
        0.25 *
        (toPoint(landmarks.points[eyeLeftOuter]) + toPoint(landmarks.points[eyeLeftInner]) +
         toPoint(landmarks.points[eyeRightOuter]) + toPoint(landmarks.points[eyeRightInner]));
    const double unit = (toPoint(landmarks.points[chin]) - frame.origin).norm();
    for (int32_t i = 0; i < landmarkCount; ++i)
        face.landmarks[i] = toVector(inFrame(frame, toPoint(landmarks.points[i])) / unit);
    // Four by four depths a cell, the front-most surface at each.
    constexpr int32_t fine = 4;
    std::vector<int32_t> all(static_cast<size_t>(M));
    for (int32_t t = 0; t < M; ++t)
        all[size_t(t)] = t;
    const double x0 = (-double(templateHalfWidth) - templateMargin * cellWidth) * unit;
    const double y0 = (double(templateBottom) - templateMargin * cellWidth) * unit;
    DepthImage image;
    rasterImage(image, frame, positions, triangles, all, x0,
                x0 + templateGridColumns * cellWidth * unit, y0,
                y0 + templateGridRows * cellWidth * unit, cellWidth * unit / fine);
    for (int32_t r = 0; r < templateGridRows; ++r)
        for (int32_t c = 0; c < templateGridColumns; ++c) {
            double sum = 0.0;
            int32_t seen = 0;
            for (int32_t i = 0; i < fine; ++i)
                for (int32_t j = 0; j < fine; ++j) {
                    const int32_t row = r * fine + i, column = c * fine + j;
                    if (row >= image.rows || column >= image.columns)
                        continue;
                    const double d =
                        image.depth[size_t(row) * size_t(image.columns) + size_t(column)];
                    if (!std::isnan(d))
                        sum += d, ++seen;
                }
            face.weight[r][c] = float(double(seen) / double(fine * fine));
            face.depth[r][c] = seen > 0 ? float(sum / seen / unit) : 0.0f;
        }
}

void makeDefaultFaceTemplate(FaceTemplate& face) {
    DefaultFace made;
    buildDefaultFace(made);
    std::vector<Vector3> positions;
    for (const Point3& p : made.render.positions)
        positions.push_back({float(p.x), float(p.y), float(p.z)});
    Landmarks landmarks;
    for (int32_t i = 0; i < landmarkCount; ++i) {
        landmarks.points[i] = positions[size_t(made.features.vertex[i])];
        landmarks.given[i] = true;
    }
    makeFaceTemplate(face, positions.data(), int32_t(positions.size()),
                     made.render.triangles.data(), int32_t(made.render.triangles.size()),
                     landmarks);
}

namespace {

// ---------------------------------------------------------------------------------------
// Noses: where the mirror plane's surface stands out most.

// A point of the mid-line that stands out at a scale: the sample's points within scale of it
// have their centroid protrusion · scale behind it, along front (in the plane).
struct Nose {
    Point tip, front;
    double scale = 0.0, protrusion = 0.0, angle = 0.0; // angle: front's in the plane's basis
};

// The scales looked at, as shares of the box diagonal, and how many noses each gives.
constexpr double noseScales[] = {0.01, 0.02, 0.04, 0.08};
constexpr int32_t nosesPerScale = 3;
// A face's size (face units in mesh units) from a nose's scale: from the first to the second
// times the scale.
constexpr double noseSizes[2] = {1.5, 8.0};
// The candidates compared again on the fine level.
constexpr size_t refinedCandidates = 3;

// The in-plane basis of viewFrame.
void planeBasis(Point& e1, Point& e2, const Point& n) {
    const Point helper = std::fabs(n.x()) < 0.9 ? Point(1, 0, 0) : Point(0, 1, 0);
    e1 = (helper - n * n.dot(helper)).normalized();
    e2 = n.cross(e1);
}

void findNoses(std::vector<Nose>& noses, const Plane& plane, const Cloud& cloud, const Tree& tree,
               double diagonal) {
    noses.clear();
    Point e1, e2;
    planeBasis(e1, e2, plane.normal);
    std::vector<std::pair<size_t, double>> found;
    for (double share : noseScales) {
        const double scale = share * diagonal;
        std::vector<Nose> standing;
        for (size_t i = 0; i < cloud.points.size(); ++i) {
            const Point& p = cloud.points[i];
            if (std::fabs(plane.normal.dot(p) - plane.offset) > 0.25 * scale)
                continue;
            found.clear();
            tree.radiusSearch(p.data(), scale * scale, found,
                              nanoflann::SearchParams(32, 0.0f, false));
            if (found.size() < 8)
                continue;
            Point centroid = Point::Zero();
            for (const auto& f : found)
                centroid += cloud.points[f.first];
            centroid /= double(found.size());
            Point out = p - centroid;
            out -= plane.normal * plane.normal.dot(out);
            Nose nose;
            nose.tip = p - plane.normal * (plane.normal.dot(p) - plane.offset);
            nose.protrusion = out.norm() / scale;
            nose.front = out.normalized();
            nose.scale = scale;
            nose.angle = std::atan2(nose.front.dot(e2), nose.front.dot(e1));
            if (nose.front.allFinite())
                standing.push_back(nose);
        }
        std::stable_sort(standing.begin(), standing.end(),
                         [](const Nose& a, const Nose& b) { return a.protrusion > b.protrusion; });
        int32_t kept = 0;
        for (size_t i = 0; i < standing.size() && kept < nosesPerScale; ++i) {
            bool apart = true;
            for (size_t k = noses.size() - size_t(kept); k < noses.size(); ++k)
                apart = apart && (noses[k].tip - standing[i].tip).norm() > 2.0 * scale;
            if (apart) {
                noses.push_back(standing[i]);
                ++kept;
            }
        }
    }
}

// The triangles that may reach within radius of centre: those whose bounding sphere (about
// their centroid, through their farthest corner) meets the ball, so that a large triangle
// across the face is drawn though its corners lie outside.
void trianglesNear(std::vector<int32_t>& chosen, const Vector3* positions,
                   const Triangle* triangles, int32_t M, const Point& centre, double radius) {
    chosen.clear();
    for (int32_t t = 0; t < M; ++t) {
        const Point a = toPoint(positions[triangles[t].index[0]]);
        const Point b = toPoint(positions[triangles[t].index[1]]);
        const Point c = toPoint(positions[triangles[t].index[2]]);
        const Point middle = (a + b + c) / 3.0;
        const double reach = std::sqrt(std::max(
            {(a - middle).squaredNorm(), (b - middle).squaredNorm(), (c - middle).squaredNorm()}));
        if ((middle - centre).norm() <= radius + reach)
            chosen.push_back(t);
    }
}

// The best view of a face with its nose tip at the nose: the front turned within ±span
// degrees of the candidate's in steps, the face's size within noseSizes of the nose's scale
// (or within 10 % of the candidate's, once placed), the template's nose tip at the nose's
// height or a cell above or below.
void viewNose(Candidate& candidate, const std::vector<Plane>& planes, const Nose& nose,
              const TemplateLevel& level, const Vector3* positions, const Triangle* triangles,
              const std::vector<int32_t>& chosen, double span, double step) {
    const Candidate start = candidate;
    const bool placed = start.placement.score > -2.0;
    const double smallest = placed ? start.placement.size / 1.1 : noseSizes[0] * nose.scale;
    const double largest = placed ? start.placement.size * 1.1 : noseSizes[1] * nose.scale;
    const double noseY = level.noseY;
    candidate.placement.score = -2.0; // scores of another level do not compare
    for (double turn = -span; turn <= span + 1e-9; turn += step) {
        const double angle = start.angle + turn * M_PI / 180.0;
        const Frame frame = viewFrame(planes[size_t(start.plane)], nose.tip, angle, start.upSign);
        // One image per octave of sizes, its cells a quarter of the level's at the octave's
        // smallest.
        for (double octave = smallest; octave <= largest * 1.0001; octave *= 2.0) {
            const double top = std::min(largest, octave * 2.0);
            const double cell = 0.25 * level.cell * octave;
            DepthImage image;
            rasterImage(image, frame, positions, triangles, chosen, -0.85 * top, 0.85 * top,
                        -(1.1 + noseY) * top - cell, (0.7 - noseY) * top + cell, cell);
            for (double size = octave; size <= top * 1.0001; size *= 1.05)
                for (int shift = -1; shift <= 1; ++shift) {
                    const double eyesY = -noseY * size + shift * 0.5 * level.cell * size;
                    double depthShift = 0.0;
                    const double score = windowScore(depthShift, level, image, size, eyesY);
                    if (score > candidate.placement.score) {
                        candidate.placement = {size, eyesY, depthShift, score};
                        candidate.frame = frame;
                        candidate.angle = angle;
                    }
                }
            if (top >= largest)
                break;
        }
    }
}

// How deep the mesh lies behind the candidate's face: over the sample's points within the
// face's column (half its eyes-to-chin distance either side of the mirror plane, from the
// chin to half that distance above the eyes), the 95th percentile of their depth behind the
// nose tip, in eyes-to-chin distances. A head's skull is about twice as deep as that
// distance; a face "found" on the end of a body (an animal's hindquarters) has the whole
// body behind it.
double depthBehind(const Candidate& candidate, const FaceTemplate& face,
                   const std::vector<Point>& points) {
    const Placement& placed = candidate.placement;
    const double noseZ = placed.depthShift + double(face.landmarks[noseTip].z) * placed.size;
    std::vector<double> depths;
    for (const Point& p : points) {
        const Point q = inFrame(candidate.frame, p);
        const double x = q.x() / placed.size, y = (q.y() - placed.eyesY) / placed.size;
        if (std::fabs(x) <= 0.5 && y >= -1.0 && y <= 0.5)
            depths.push_back((noseZ - q.z()) / placed.size);
    }
    if (depths.empty())
        return 0.0;
    const size_t at = depths.size() * 95 / 100;
    std::nth_element(depths.begin(), depths.begin() + long(at), depths.end());
    return depths[at];
}

// A mesh of more triangles than this is searched on a coarser copy of it (meshoptimizer's
// sloppy simplification, a grid's clustering, to this many): the views need no more detail
// than the template's cells, and drawing each of a million-vertex scan's triangles in every
// view takes most of a minute. The landmarks are still put on the mesh itself.
constexpr int32_t searchTriangleBudget = 65536;

void coarserCopy(std::vector<Triangle>& coarse, const Vector3* positions, int32_t N,
                 const Triangle* triangles, int32_t M) {
    static_assert(sizeof(Vector3) == 3 * sizeof(float), "positions as float triples");
    std::vector<unsigned int> indices(size_t(M) * 3), kept(size_t(M) * 3);
    for (int32_t t = 0; t < M; ++t)
        for (int k = 0; k < 3; ++k)
            indices[size_t(t) * 3 + size_t(k)] = unsigned(triangles[t].index[k]);
    const size_t count =
        meshopt_simplifySloppy(kept.data(), indices.data(), indices.size(), &positions[0].x,
                               size_t(N), sizeof(Vector3), size_t(searchTriangleBudget) * 3, 1.0f);
    coarse.resize(count / 3);
    for (size_t t = 0; t < coarse.size(); ++t)
        for (int k = 0; k < 3; ++k)
            coarse[t].index[k] = int32_t(kept[t * 3 + size_t(k)]);
}

} // namespace

void findFace(FaceFinding& finding, const FaceTemplate& face, const Vector3* positions, int32_t N,
              const Triangle* triangles, int32_t M) {
    finding = FaceFinding();
    assert(N > 0);
    std::vector<int32_t> all(static_cast<size_t>(M));
    for (int32_t t = 0; t < M; ++t)
        all[size_t(t)] = t;
    Cloud cloud;
    sampleSurface(cloud.points, cloud.normals, positions, triangles, all, 32768);
    if (cloud.points.size() < 100) {
        finding.problem = "the mesh has no area to look for a face on";
        return;
    }
    Point low = cloud.points[0], high = cloud.points[0];
    for (const Point& p : cloud.points)
        low = low.cwiseMin(p), high = high.cwiseMax(p);
    const double diagonal = (high - low).norm();
    // The mirror planes on a quarter of the sample.
    Cloud mirror;
    for (size_t i = 0; i < cloud.points.size(); i += 4) {
        mirror.points.push_back(cloud.points[i]);
        mirror.normals.push_back(cloud.normals[i]);
    }
    Tree tree(3, mirror, nanoflann::KDTreeSingleIndexAdaptorParams(16));
    tree.buildIndex();
    std::vector<Plane> planes;
    findMirrorPlanes(planes, mirror, tree, diagonal);
    if (planes.empty() || planes[0].error > double(maximumMirrorError)) {
        finding.mirrorError = planes.empty() ? 1.0f : float(planes[0].error);
        char text[200];
        std::snprintf(
            text, sizeof text,
            "no face found: the mesh is not mirror-symmetric (its mirror image lies %.3g of "
            "its size away, more than %g)",
            double(finding.mirrorError), double(maximumMirrorError));
        finding.problem = text;
        return;
    }

    TemplateLevel coarseLevel, fineLevel;
    makeLevel(coarseLevel, face, 2);
    makeLevel(fineLevel, face, 1);
    Tree fullTree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(16));
    fullTree.buildIndex();

    // Every nose of the usable planes, either way up, on the coarse level; the best few
    // again on the fine level.
    std::vector<Candidate> candidates;
    std::vector<Nose> noses;
    std::vector<Triangle> coarse;
    if (M > searchTriangleBudget)
        coarserCopy(coarse, positions, N, triangles, M);
    const Triangle* searched = coarse.empty() ? triangles : coarse.data();
    const int32_t searchedCount = coarse.empty() ? M : int32_t(coarse.size());
    std::vector<int32_t> chosen;
    const auto trianglesAbout = [&](const Nose& nose) {
        trianglesNear(chosen, positions, searched, searchedCount, nose.tip,
                      noseSizes[1] * nose.scale * 1.3);
    };
    for (size_t p = 0; p < planes.size(); ++p) {
        if (planes[p].error > 1.5 * planes[0].error &&
            planes[p].error > 0.5 * double(maximumMirrorError))
            continue;
        std::vector<Nose> found;
        findNoses(found, planes[p], cloud, fullTree, diagonal);
        for (const Nose& nose : found) {
            trianglesAbout(nose);
            for (int upSign = -1; upSign <= 1; upSign += 2) {
                Candidate c;
                c.plane = int32_t(p);
                c.nose = int32_t(noses.size());
                c.upSign = upSign;
                c.angle = nose.angle;
                viewNose(c, planes, nose, coarseLevel, positions, searched, chosen, 30.0, 7.5);
                candidates.push_back(c);
            }
            noses.push_back(nose);
        }
    }
    const auto better = [](const Candidate& x, const Candidate& y) {
        return x.placement.score > y.placement.score;
    };
    std::stable_sort(candidates.begin(), candidates.end(), better);
    candidates.resize(std::min<size_t>(candidates.size(), refinedCandidates));
    for (Candidate& c : candidates) {
        trianglesAbout(noses[size_t(c.nose)]);
        viewNose(c, planes, noses[size_t(c.nose)], fineLevel, positions, searched, chosen, 6.0,
                 1.5);
    }
    if (candidates.empty()) {
        finding.problem = "no face found: nothing on the mesh's mirror plane stands out as a nose";
        return;
    }
    std::stable_sort(candidates.begin(), candidates.end(), better);
    // The best whose depth behind is a head's; where none is, the best of all, to be refused.
    size_t chosenCandidate = 0;
    double deepest = 0.0;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const double depth = depthBehind(candidates[i], face, cloud.points);
        if (i == 0)
            deepest = depth;
        if (depth <= maximumHeadDepth) {
            chosenCandidate = i;
            deepest = depth;
            break;
        }
    }
    const Candidate& best = candidates[chosenCandidate];
    finding.score = float(best.placement.score);
    finding.mirrorError = float(planes[size_t(best.plane)].error);
    // The template's landmarks carried by the placement, each moved onto the surface.
    for (int32_t i = 0; i < landmarkCount; ++i) {
        const Point q = toPoint(face.landmarks[i]) * best.placement.size +
                        Point(0.0, best.placement.eyesY, best.placement.depthShift);
        float unused = 0.0f;
        finding.landmarks.points[i] = nearestSurfacePoint(
            unused, toVector(fromFrame(best.frame, q)), positions, triangles, M);
        finding.landmarks.given[i] = true;
    }
    // The face's own axes as its landmarks give them, as they are given for landmarks read.
    landmarkFrame(finding.up, finding.front, finding.landmarks);
    finding.depthBehind = float(deepest);
    finding.found = finding.score >= minimumFaceScore && deepest <= maximumHeadDepth;
    if (finding.score >= minimumFaceScore && !finding.found) {
        char text[240];
        std::snprintf(text, sizeof text,
                      "no face found: the best match of a face's depth (agreeing %.2f) has %.1f "
                      "times its eyes-to-chin distance of mesh behind its nose, more than a "
                      "head's %.1f",
                      double(finding.score), deepest, maximumHeadDepth);
        finding.problem = text;
        finding.landmarks = Landmarks();
    } else if (!finding.found) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "no face found: the best match of a face's depth agrees %.2f, less than "
                      "%.2f",
                      double(finding.score), double(minimumFaceScore));
        finding.problem = text;
        finding.landmarks = Landmarks();
    }
}
