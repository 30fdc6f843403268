// The default face fitted to a head (face_fit.h): similarity, non-rigid ICP on the warp's
// nodes, the control points put on the head's surface under face-import's rules.
#include "tools/fit/face_fit.h"

#include "io/normals.h"
#include "tools/assets/expressions.h"
#include "tools/fit/surface_query.h"

#include <Eigen/Dense>
#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

using SparseMatrix = Eigen::SparseMatrix<double>;

// The stiffness of each step, from the first (nearly a global affine map) to the last
// (the face free to follow the head's shape); the landmarks' weight with it, as a share of
// the pairs' whole weight, so that the landmarks place the face first and the surface
// decides at last.
constexpr double firstStiffness = 100.0, lastStiffness = 0.5;
constexpr double firstLandmarkWeight = 10.0, lastLandmarkWeight = 1.0;
// Every node's A is drawn weakly to the identity: the smoothness between nodes leaves the
// part of A across a flat stretch of the face (along its normal) otherwise free, and that
// part carries a lid's or a lip's move off the surface.
constexpr double identityWeight = 1e-3;
// Pairs farther apart than this share of the face's height, or whose normals differ by
// more than 60°, are dropped.
constexpr double pairReach = 0.08;
constexpr float pairCosine = 0.5f;
// A round that moves no fitted vertex farther than this share of the face's height ends
// its step.
constexpr double settledMove = 1e-4;
// A control point is put on the head's surface where its closest point lies within this
// share of the face's height.
constexpr float surfaceReach = 0.05f;
// A triangle that W folds is drawn back towards the similarity's place of its corners in
// halving steps, at most this many.
constexpr int drawBackSteps = 12;

// One row of the least-squares problem: Σ coefficient · unknown = target (the target per
// coordinate, set apart), the unknowns those of one coordinate c: per node j the row c of
// A_j and t_jc (4j .. 4j + 3).
constexpr int32_t maxRowEntries = 4 * warpNeighbours;
struct Row {
    int32_t count = 0;
    int32_t unknown[maxRowEntries];
    double coefficient[maxRowEntries];
};

// The entries of W at a point, as a row: W(p)_c = base_c + row · U_c.
struct Base {
    double b[3];
};
void warpRow(Row& row, Base& base, const FaceWarp& warp, const NodeWeights& w, const Vector3& p) {
    row.count = 0;
    double* b = base.b;
    b[0] = b[1] = b[2] = 0.0;
    for (int32_t k = 0; k < warpNeighbours; ++k) {
        const Vector3& g = warp.nodes[size_t(w.node[k])];
        const double d[3] = {double(p.x) - g.x, double(p.y) - g.y, double(p.z) - g.z};
        for (int32_t a = 0; a < 4; ++a) {
            row.unknown[row.count] = 4 * w.node[k] + a;
            row.coefficient[row.count] = w.weight[k] * (a < 3 ? d[a] : 1.0);
            ++row.count;
        }
        b[0] += w.weight[k] * g.x;
        b[1] += w.weight[k] * g.y;
        b[2] += w.weight[k] * g.z;
    }
}

// The value index of entry (r, c), r ≥ c, of a compressed column-major matrix.
int32_t entryIndex(const SparseMatrix& m, int32_t r, int32_t c) {
    const int32_t* begin = m.innerIndexPtr() + m.outerIndexPtr()[c];
    const int32_t* end = m.innerIndexPtr() + m.outerIndexPtr()[c + 1];
    return int32_t(std::lower_bound(begin, end, r) - m.innerIndexPtr());
}

template <class Visit> void forEachProduct(const Row& row, Visit visit) {
    for (int32_t i = 0; i < row.count; ++i)
        for (int32_t j = 0; j < row.count; ++j)
            if (row.unknown[i] >= row.unknown[j])
                visit(row.unknown[i], row.unknown[j], row.coefficient[i] * row.coefficient[j]);
}

// Adds weight · row rowᵀ into values (the slots of the row, from slot on) and
// weight · row · target_c into each right-hand side.
void addRow(double* values, Eigen::VectorXd* rhs, const int32_t*& slot, const Row& row,
            double weight, const double target[3]) {
    forEachProduct(row,
                   [&](int32_t, int32_t, double product) { values[*slot++] += weight * product; });
    if (rhs)
        for (int32_t i = 0; i < row.count; ++i)
            for (int c = 0; c < 3; ++c)
                rhs[c][row.unknown[i]] += weight * row.coefficient[i] * target[c];
}

struct Head {
    QuerySurface surface;
    float height = 0.0f;
};

// The fitted render vertices' pairs with the head.
struct Pairing {
    std::vector<SurfacePoint> closest; // V
    std::vector<uint8_t> kept;         // V
    int32_t keptCount = 0;
};

void pairWithHead(Pairing& pairing, const Head& head, const std::vector<Vector3>& fitted,
                  const std::vector<Vector3>& fittedNormals, double reach, WorkerPool& workers) {
    const int32_t V = static_cast<int32_t>(fitted.size());
    pairing.closest.resize(static_cast<size_t>(V));
    pairing.kept.assign(size_t(V), 0);
    closestSurfacePoints(pairing.closest.data(), head.surface, fitted.data(), V, workers);
    pairing.keptCount = 0;
    for (int32_t v = 0; v < V; ++v) {
        const SurfacePoint& c = pairing.closest[size_t(v)];
        const bool keep = c.triangle >= 0 && !c.onBorder && double(c.distance) <= reach &&
                          dot(c.normal, fittedNormals[size_t(v)]) > pairCosine;
        pairing.kept[size_t(v)] = keep;
        pairing.keptCount += keep;
    }
}

// The rotation that turns unit a onto unit b (Rodrigues), applied to e.
Vector3 turnBetween(const Vector3& a, const Vector3& b, const Vector3& e) {
    const Vector3 axis = cross(a, b);
    const float s = length(axis), c = dot(a, b);
    if (!(s > 0.0f))
        return c >= 0.0f ? e : e * -1.0f;
    const Vector3 k = axis / s;
    return e * c + cross(k, e) * s + k * (dot(k, e) * (1.0f - c));
}

float percentile(std::vector<float> values, double share) {
    if (values.empty())
        return 0.0f;
    const size_t k = std::min(values.size() - 1, size_t(share * double(values.size() - 1) + 0.5));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(k), values.end());
    return values[k];
}

} // namespace

bool fitSimilarity(Similarity& s, const Vector3* from, const Vector3* to, int32_t count) {
    if (count < 3)
        return false;
    Eigen::Vector3d mx = Eigen::Vector3d::Zero(), my = Eigen::Vector3d::Zero();
    for (int32_t i = 0; i < count; ++i) {
        mx += Eigen::Vector3d(from[i].x, from[i].y, from[i].z);
        my += Eigen::Vector3d(to[i].x, to[i].y, to[i].z);
    }
    mx /= count;
    my /= count;
    Eigen::Matrix3d sigma = Eigen::Matrix3d::Zero(), spread = Eigen::Matrix3d::Zero();
    double varianceFrom = 0.0, varianceTo = 0.0;
    for (int32_t i = 0; i < count; ++i) {
        const Eigen::Vector3d x = Eigen::Vector3d(from[i].x, from[i].y, from[i].z) - mx;
        const Eigen::Vector3d y = Eigen::Vector3d(to[i].x, to[i].y, to[i].z) - my;
        sigma += y * x.transpose();
        spread += x * x.transpose();
        varianceFrom += x.squaredNorm();
        varianceTo += y.squaredNorm();
    }
    // Points on one line leave the turn about it undecided.
    const Eigen::Vector3d extents =
        Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d>(spread).eigenvalues();
    if (!(extents[1] > 1e-12 * extents[2]) || !(varianceTo > 0.0))
        return false;
    Eigen::JacobiSVD<Eigen::Matrix3d> svd(sigma, Eigen::ComputeFullU | Eigen::ComputeFullV);
    Eigen::Matrix3d flip = Eigen::Matrix3d::Identity();
    if (svd.matrixU().determinant() * svd.matrixV().determinant() < 0.0)
        flip(2, 2) = -1.0;
    const Eigen::Matrix3d R = svd.matrixU() * flip * svd.matrixV().transpose();
    const double scale = (svd.singularValues().asDiagonal() * flip).trace() / varianceFrom;
    const Eigen::Vector3d t = my - scale * R * mx;
    s.scale = scale;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            s.rotation[r][c] = R(r, c);
        s.translation[r] = t[r];
    }
    return true;
}

Vector3 applySimilarity(const Similarity& s, const Vector3& p) {
    double out[3];
    for (int r = 0; r < 3; ++r)
        out[r] =
            s.scale * (s.rotation[r][0] * p.x + s.rotation[r][1] * p.y + s.rotation[r][2] * p.z) +
            s.translation[r];
    return {float(out[0]), float(out[1]), float(out[2])};
}

Vector3 turnMove(const Similarity& s, const Vector3& d) {
    double out[3];
    for (int r = 0; r < 3; ++r)
        out[r] =
            s.scale * (s.rotation[r][0] * d.x + s.rotation[r][1] * d.y + s.rotation[r][2] * d.z);
    return {float(out[0]), float(out[1]), float(out[2])};
}

bool fitDefaultFace(FaceFit& fit, std::string& error, const Vector3* headPositions,
                    int32_t headVertexCount, const Triangle* headTriangles,
                    int32_t headTriangleCount, const Vector3 headLandmarks[fitLandmarkCount],
                    const DefaultFace& face, const FitSettings& settings, WorkerPool& workers) {
    const FaceModel& model = *face.model;
    const int32_t V = model.renderVertexCount, K = model.controlPointCount;
    fit = FaceFit();

    // The similarity from the landmarks.
    Vector3 faceLandmarks[fitLandmarkCount];
    for (int32_t k = 0; k < fitLandmarkCount; ++k)
        faceLandmarks[k] = model.attachments[face.features.vertex[k]].restPosition;
    if (!fitSimilarity(fit.similarity, faceLandmarks, headLandmarks, fitLandmarkCount)) {
        error = "the landmarks lie on one line (or on one point): they decide no turn of the face";
        return false;
    }
    const Similarity& S = fit.similarity;
    fit.up = unitOrZero(turnMove(S, {0.0f, 1.0f, 0.0f}));
    fit.front = unitOrZero(turnMove(S, {0.0f, 0.0f, 1.0f}));
    fit.faceHeight = float(S.scale * double(face.features.height));

    Head head;
    buildQuerySurface(head.surface, headPositions, headVertexCount, headTriangles,
                      headTriangleCount, workers);
    if (head.surface.triangles.empty()) {
        error = "the head has no triangles to fit the face to";
        return false;
    }
    float low = headPositions[0].y, high = headPositions[0].y;
    for (int32_t i = 1; i < headVertexCount; ++i) {
        low = std::min(low, headPositions[i].y);
        high = std::max(high, headPositions[i].y);
    }
    head.height = high > low ? high - low : fit.faceHeight;
    fit.figures.headHeight = head.height;

    // The default face under the similarity: its render vertices, landmarks and the warp's
    // nodes spread over it.
    std::vector<Vector3> placedVertices(static_cast<size_t>(V));
    for (int32_t v = 0; v < V; ++v)
        placedVertices[size_t(v)] = applySimilarity(S, model.attachments[v].restPosition);
    std::vector<Vector3> placedLandmarks(fitLandmarkCount);
    for (int32_t k = 0; k < fitLandmarkCount; ++k)
        placedLandmarks[size_t(k)] = applySimilarity(S, faceLandmarks[k]);
    // The nodes: spread over the default face's left half (+x) and mirrored, in its own
    // frame, then put under the similarity.
    FaceWarp& warp = fit.warp;
    {
        std::vector<Vector3> half;
        for (int32_t v = 0; v < V; ++v) {
            Vector3 p = model.attachments[v].restPosition;
            if (p.x < 0.0f)
                continue;
            if (p.x < 0.5f * settings.nodeSpacing)
                p.x = 0.0f;
            half.push_back(p);
        }
        spreadWarpNodes(warp, half.data(), int32_t(half.size()), settings.nodeSpacing);
        mirrorWarpNodes(warp);
        for (Vector3& g : warp.nodes)
            g = applySimilarity(S, g);
        warp.spacing = float(S.scale) * settings.nodeSpacing;
    }
    const int32_t n = static_cast<int32_t>(warp.nodes.size());
    fit.figures.nodes = n;
    const double h = double(warp.spacing);

    std::vector<NodeWeights> vertexWeights(static_cast<size_t>(V)),
        landmarkWeights(fitLandmarkCount);
    findNodeWeights(vertexWeights.data(), warp, placedVertices.data(), V, workers);
    findNodeWeights(landmarkWeights.data(), warp, placedLandmarks.data(), fitLandmarkCount,
                    workers);
    std::vector<NodePair> pairs;
    findNodePairs(pairs, warp);

    // The rows: pairs (one per render vertex), landmarks, smoothness (per node pair, each
    // node's transform at the other's place, and the difference of their A column by column),
    // the identity's pull on each A.
    std::vector<Row> vertexRows(static_cast<size_t>(V)), landmarkRows(fitLandmarkCount);
    std::vector<Base> vertexBase(static_cast<size_t>(V)), landmarkBase(fitLandmarkCount);
    for (int32_t v = 0; v < V; ++v)
        warpRow(vertexRows[size_t(v)], vertexBase[size_t(v)], warp, vertexWeights[size_t(v)],
                placedVertices[size_t(v)]);
    for (int32_t k = 0; k < fitLandmarkCount; ++k)
        warpRow(landmarkRows[size_t(k)], landmarkBase[size_t(k)], warp, landmarkWeights[size_t(k)],
                placedLandmarks[size_t(k)]);
    std::vector<Row> smoothRows;
    std::vector<Vector3> smoothTargets;
    for (const NodePair& pair : pairs)
        for (int side = 0; side < 2; ++side) {
            const int32_t i = side == 0 ? pair.a : pair.b, j = side == 0 ? pair.b : pair.a;
            const Vector3 &gi = warp.nodes[size_t(i)], &gj = warp.nodes[size_t(j)];
            Row r;
            const double d[3] = {double(gj.x) - gi.x, double(gj.y) - gi.y, double(gj.z) - gi.z};
            for (int32_t a = 0; a < 4; ++a) {
                r.unknown[r.count] = 4 * i + a;
                r.coefficient[r.count++] = a < 3 ? d[a] : 1.0;
            }
            r.unknown[r.count] = 4 * j + 3;
            r.coefficient[r.count++] = -1.0;
            smoothRows.push_back(r);
            smoothTargets.push_back({float(d[0]), float(d[1]), float(d[2])});
        }
    for (const NodePair& pair : pairs)
        for (int32_t a = 0; a < 3; ++a) {
            Row r;
            r.unknown[0] = 4 * pair.a + a;
            r.coefficient[0] = h;
            r.unknown[1] = 4 * pair.b + a;
            r.coefficient[1] = -h;
            r.count = 2;
            smoothRows.push_back(r);
            smoothTargets.push_back({0.0f, 0.0f, 0.0f});
        }
    std::vector<Row> identityRows;
    for (int32_t j = 0; j < n; ++j)
        for (int32_t a = 0; a < 4; ++a) {
            Row r;
            r.unknown[0] = 4 * j + a;
            // t is held only as far as nothing else decides it (a node of no pair).
            r.coefficient[0] = a < 3 ? h : 1e-3 * h;
            r.count = 1;
            identityRows.push_back(r);
        }

    // The pattern of the normal equations, analysed once.
    const int32_t unknowns = 4 * n;
    std::vector<Eigen::Triplet<double>> triplets;
    auto collect = [&](const std::vector<Row>& rows) {
        for (const Row& row : rows)
            forEachProduct(row,
                           [&](int32_t r, int32_t c, double) { triplets.emplace_back(r, c, 0.0); });
    };
    collect(vertexRows);
    collect(landmarkRows);
    collect(smoothRows);
    collect(identityRows);
    SparseMatrix Q(unknowns, unknowns);
    Q.setFromTriplets(triplets.begin(), triplets.end());
    Q.makeCompressed();
    triplets.clear();
    triplets.shrink_to_fit();
    auto slotsOf = [&](const std::vector<Row>& rows) {
        std::vector<int32_t> slots;
        for (const Row& row : rows)
            forEachProduct(
                row, [&](int32_t r, int32_t c, double) { slots.push_back(entryIndex(Q, r, c)); });
        return slots;
    };
    const std::vector<int32_t> vertexSlots = slotsOf(vertexRows);
    const int32_t nnz = int32_t(Q.nonZeros());
    // The fixed groups' values and right-hand sides, each at unit weight.
    std::vector<double> landmarkValues(size_t(nnz), 0.0), smoothValues(size_t(nnz), 0.0),
        identityValues(size_t(nnz), 0.0);
    Eigen::VectorXd landmarkRhs[3], smoothRhs[3], identityRhs[3];
    for (int c = 0; c < 3; ++c) {
        landmarkRhs[c] = Eigen::VectorXd::Zero(unknowns);
        smoothRhs[c] = Eigen::VectorXd::Zero(unknowns);
        identityRhs[c] = Eigen::VectorXd::Zero(unknowns);
    }
    {
        const std::vector<int32_t> slots = slotsOf(landmarkRows);
        const int32_t* slot = slots.data();
        for (int32_t k = 0; k < fitLandmarkCount; ++k) {
            const Vector3& L = headLandmarks[k];
            const double* b = landmarkBase[size_t(k)].b;
            const double target[3] = {double(L.x) - b[0], double(L.y) - b[1], double(L.z) - b[2]};
            addRow(landmarkValues.data(), landmarkRhs, slot, landmarkRows[size_t(k)],
                   1.0 / fitLandmarkCount, target);
        }
    }
    {
        const std::vector<int32_t> slots = slotsOf(smoothRows);
        const int32_t* slot = slots.data();
        const double weight = 1.0 / double(std::max<size_t>(1, pairs.size()));
        for (size_t r = 0; r < smoothRows.size(); ++r) {
            const double target[3] = {smoothTargets[r].x, smoothTargets[r].y, smoothTargets[r].z};
            addRow(smoothValues.data(), smoothRhs, slot, smoothRows[r], weight, target);
        }
    }
    {
        const std::vector<int32_t> slots = slotsOf(identityRows);
        const int32_t* slot = slots.data();
        for (size_t r = 0; r < identityRows.size(); ++r) {
            const int32_t a = int32_t(r % 4);
            const double target[3] = {a == 0 ? h : 0.0, a == 1 ? h : 0.0, a == 2 ? h : 0.0};
            addRow(identityValues.data(), identityRhs, slot, identityRows[r], 1.0 / n, target);
        }
    }

    Eigen::SimplicialLDLT<SparseMatrix, Eigen::Lower> solver;
    solver.analyzePattern(Q);

    const std::vector<Triangle> faceTriangles(
        model.renderTriangles.get(), model.renderTriangles.get() + model.renderTriangleCount);
    std::vector<Vector3> fitted(static_cast<size_t>(V)), fittedNormals(static_cast<size_t>(V)),
        previous;
    auto warpVertices = [&]() {
        parallelFor(workers, V, 1024, [&](int64_t begin, int64_t end, int32_t) {
            for (int64_t v = begin; v < end; ++v)
                fitted[size_t(v)] =
                    warpPoint(warp, vertexWeights[size_t(v)], placedVertices[size_t(v)]);
        });
        computeMeshNormals(fittedNormals.data(), fitted.data(), V, faceTriangles.data(),
                           int32_t(faceTriangles.size()));
    };
    warpVertices();
    Pairing pairing;
    const double reach = pairReach * fit.faceHeight;
    const int32_t steps = std::max(1, settings.stiffnessSteps);
    for (int32_t step = 0; step < steps; ++step) {
        const double t = steps > 1 ? double(step) / double(steps - 1) : 1.0;
        const double stiffness = firstStiffness * std::pow(lastStiffness / firstStiffness, t);
        const double landmarkWeight =
            firstLandmarkWeight * std::pow(lastLandmarkWeight / firstLandmarkWeight, t);
        for (int32_t round = 0; round < settings.roundsPerStep; ++round) {
            pairWithHead(pairing, head, fitted, fittedNormals, reach, workers);
            std::vector<double> values(static_cast<size_t>(nnz));
            Eigen::VectorXd rhs[3];
            for (int32_t i = 0; i < nnz; ++i)
                values[size_t(i)] = landmarkWeight * landmarkValues[size_t(i)] +
                                    stiffness * smoothValues[size_t(i)] +
                                    identityWeight * identityValues[size_t(i)];
            for (int c = 0; c < 3; ++c)
                rhs[c] = landmarkWeight * landmarkRhs[c] + stiffness * smoothRhs[c] +
                         identityWeight * identityRhs[c];
            const double weight = 1.0 / double(std::max(1, pairing.keptCount));
            const int32_t* slot = vertexSlots.data();
            for (int32_t v = 0; v < V; ++v) {
                const Row& row = vertexRows[size_t(v)];
                if (!pairing.kept[size_t(v)]) {
                    slot += row.count * (row.count + 1) / 2;
                    continue;
                }
                const Vector3& c = pairing.closest[size_t(v)].point;
                const double* b = vertexBase[size_t(v)].b;
                const double target[3] = {double(c.x) - b[0], double(c.y) - b[1],
                                          double(c.z) - b[2]};
                addRow(values.data(), rhs, slot, row, weight, target);
            }
            std::copy(values.begin(), values.end(), Q.valuePtr());
            solver.factorize(Q);
            for (int c = 0; c < 3; ++c) {
                const Eigen::VectorXd U = solver.solve(rhs[c]);
                for (int32_t j = 0; j < n; ++j) {
                    for (int32_t a = 0; a < 3; ++a)
                        warp.transforms[12 * size_t(j) + 3 * size_t(c) + size_t(a)] = U[4 * j + a];
                    warp.transforms[12 * size_t(j) + 9 + size_t(c)] = U[4 * j + 3];
                }
            }
            previous = fitted;
            warpVertices();
            ++fit.figures.rounds;
            float moved = 0.0f;
            for (int32_t v = 0; v < V; ++v)
                moved = std::max(moved, length(fitted[size_t(v)] - previous[size_t(v)]));
            if (double(moved) < settledMove * fit.faceHeight)
                break;
        }
    }

    // The figures of the fitted render mesh.
    fit.fittedVertices = fitted;
    fit.back = dot(fitted[0], fit.front);
    for (int32_t v = 1; v < V; ++v)
        fit.back = std::min(fit.back, dot(fitted[size_t(v)], fit.front));
    pairWithHead(pairing, head, fitted, fittedNormals, reach, workers);
    std::vector<float> distances;
    for (int32_t v = 0; v < V; ++v)
        if (!pairing.closest[size_t(v)].onBorder && pairing.closest[size_t(v)].triangle >= 0)
            distances.push_back(pairing.closest[size_t(v)].distance / head.height);
    fit.figures.covered = float(distances.size()) / float(V);
    fit.figures.distanceMedian = percentile(distances, 0.5);
    fit.figures.distance95 = percentile(distances, 0.95);
    std::vector<Vector3> warpedLandmarks(fitLandmarkCount);
    warpPoints(warpedLandmarks.data(), warp, placedLandmarks.data(), fitLandmarkCount, workers);
    for (int32_t k = 0; k < fitLandmarkCount; ++k)
        fit.figures.landmarkResidual[k] =
            length(warpedLandmarks[size_t(k)] - headLandmarks[k]) / head.height;
    Vector3 placedFeatures[faceFeatureCount];
    for (int32_t f = 0; f < faceFeatureCount; ++f)
        placedFeatures[f] =
            applySimilarity(S, model.attachments[face.features.vertex[f]].restPosition);
    warpPoints(fit.featurePoints, warp, placedFeatures, faceFeatureCount, workers);

    // The control points: under the similarity, under W, then on the head's surface at their
    // own height above the default face's render surface.
    fit.placed.resize(static_cast<size_t>(K));
    for (int32_t i = 0; i < K; ++i)
        fit.placed[size_t(i)] = applySimilarity(S, face.rest[i]);
    fit.warped.resize(static_cast<size_t>(K));
    warpPoints(fit.warped.data(), warp, fit.placed.data(), K, workers);
    fit.controlTriangles.assign(model.controlTriangles.get(),
                                model.controlTriangles.get() + model.controlTriangleCount);
    QuerySurface faceSurface;
    {
        std::vector<Vector3> rest(static_cast<size_t>(V));
        for (int32_t v = 0; v < V; ++v)
            rest[size_t(v)] = model.attachments[v].restPosition;
        buildQuerySurface(faceSurface, rest.data(), V, faceTriangles.data(),
                          int32_t(faceTriangles.size()), workers);
    }
    std::vector<SurfacePoint> onFace(static_cast<size_t>(K)), onHead(static_cast<size_t>(K));
    closestSurfacePoints(onFace.data(), faceSurface, face.rest.get(), K, workers);
    closestSurfacePoints(onHead.data(), head.surface, fit.warped.data(), K, workers);
    std::vector<uint8_t> snapped(size_t(K), 0);
    std::vector<Vector3> snappedPoint(static_cast<size_t>(K));
    fit.controlPoints = fit.warped;
    for (int32_t i = 0; i < K; ++i) {
        const SurfacePoint& f = onFace[size_t(i)];
        const SurfacePoint& c = onHead[size_t(i)];
        const Vector3 faceNormal = unitOrZero(turnMove(S, f.normal));
        if (c.triangle < 0 || c.onBorder || c.distance > surfaceReach * fit.faceHeight ||
            dot(c.normal, faceNormal) <= pairCosine)
            continue;
        // The point's own offset from the default face's render surface, turned as the
        // surface turns from the default face to the head.
        const Vector3 offset = turnMove(S, face.rest[i] - f.point);
        snappedPoint[size_t(i)] = c.point + turnBetween(faceNormal, c.normal, offset);
        fit.controlPoints[size_t(i)] = snappedPoint[size_t(i)];
        snapped[size_t(i)] = 1;
    }

    // The rules: a point whose placing breaks one stays where W puts it; then the corners of
    // a triangle still breaking one are drawn back towards the similarity's place.
    ControlCage cage;
    cage.triangles = fit.controlTriangles;
    std::vector<Vector3> surfaceNormals(static_cast<size_t>(K));
    for (int32_t i = 0; i < K; ++i)
        surfaceNormals[size_t(i)] = onHead[size_t(i)].normal;
    auto faultyCorners = [&](std::vector<int32_t>& corners) {
        cage.points = fit.controlPoints;
        findCageFaults(fit.faults, cage, surfaceNormals);
        corners.clear();
        for (const std::vector<int32_t>& list : fit.faults.triangles)
            for (int32_t t : list)
                for (int32_t j = 0; j < 3; ++j)
                    corners.push_back(fit.controlTriangles[size_t(t)].index[j]);
        std::sort(corners.begin(), corners.end());
        corners.erase(std::unique(corners.begin(), corners.end()), corners.end());
        return !corners.empty();
    };
    std::vector<int32_t> corners;
    while (faultyCorners(corners)) {
        bool changed = false;
        for (int32_t i : corners)
            if (snapped[size_t(i)]) {
                snapped[size_t(i)] = 0;
                fit.controlPoints[size_t(i)] = fit.warped[size_t(i)];
                ++fit.figures.heldBack;
                changed = true;
            }
        if (!changed)
            break;
    }
    std::vector<float> share(size_t(K), 1.0f);
    for (int drawn = 0; drawn < drawBackSteps && faultyCorners(corners); ++drawn)
        for (int32_t i : corners) {
            if (share[size_t(i)] == 1.0f)
                ++fit.figures.drawnBack;
            share[size_t(i)] = drawn + 1 < drawBackSteps ? 0.5f * share[size_t(i)] : 0.0f;
            fit.controlPoints[size_t(i)] =
                fit.placed[size_t(i)] +
                (fit.warped[size_t(i)] - fit.placed[size_t(i)]) * share[size_t(i)];
        }
    for (int32_t i = 0; i < K; ++i)
        fit.figures.onSurface += snapped[size_t(i)];
    return true;
}

void describeFit(std::string& text, const FaceFit& fit) {
    const FitFigures& f = fit.figures;
    int32_t farthest = 0;
    for (int32_t k = 1; k < fitLandmarkCount; ++k)
        if (f.landmarkResidual[k] > f.landmarkResidual[farthest])
            farthest = k;
    char line[512];
    std::snprintf(line, sizeof line,
                  "fit: %d landmarks, the farthest %.2f %% of the head's height off (%s); the "
                  "face lies %.3f %% (median) and %.3f %% (95th percentile) of the head's height "
                  "from the head's surface over the %.0f %% of it the head covers\n",
                  int(fitLandmarkCount), 100.0 * f.landmarkResidual[farthest],
                  faceFeatureNames[farthest], 100.0 * f.distanceMedian, 100.0 * f.distance95,
                  100.0 * f.covered);
    text = line;
    std::snprintf(line, sizeof line,
                  "fitted control mesh: %d of %zu points on the head's surface, %d held where the "
                  "warp put them and %d drawn back to keep the control mesh's rules; ",
                  f.onSurface, fit.controlPoints.size(), f.heldBack, f.drawnBack);
    text += line;
    std::string broken;
    for (int kind = 0; kind < cageFaultCount; ++kind)
        if (!fit.faults.triangles[kind].empty())
            broken += (broken.empty() ? "" : "; ") +
                      std::to_string(fit.faults.triangles[kind].size()) + " triangles " +
                      cageFaultText(CageFault(kind));
    text += broken.empty() ? "every rule kept\n" : "still broken: " + broken + "\n";
}
