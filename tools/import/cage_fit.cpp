// Fitting a control mesh to the render surface: binding and a least-squares step on the
// control points, in turn, so that the smooth surface passes through the render vertices.
#include "tools/import/cage_fit.h"

#include "face/amplification.h"
#include "face/attachments.h"
#include "face/face_model.h"
#include "face/sample_index.h"
#include "face/workers.h"

#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A vertex farther than this from its surface point pulls with the weight (reach / d)²,
// so that a part the surface does not reach yet draws it nearer while a part that lies
// far away (an eyeball inside the head) cannot tear it off: the loss grows with log d.
constexpr float fitReach = maxAttachDistance;
// The step keeps the control mesh's shape: the moves of neighbouring points are tied by a
// graph Laplacian of this strength, and every move damped by this one, both relative to the
// mean weight the vertices put on a point. A point that no vertex hangs on follows its
// neighbours.
constexpr double fitSmoothness = 0.02;
constexpr double fitDamping = 1e-4;
// The share of a vertex's whole residual (tangential part included) in its pull.
constexpr double fitTangential = 0.1;
// The fit stops when a step lowers the loss by less than this share.
constexpr double fitMinGain = 0.01;
// A step that breaks a rule loses the moves of the points around the triangles it breaks,
// in up to fitFreezes tries, then is halved until fitAttempts tries in all.
constexpr int fitFreezes = 4;
constexpr int fitAttempts = 8;
// A step that throws a vertex beyond the allowed excess is tried this many times in all.
constexpr int fitExcessTries = 3;
// Vertices per block of the workers. Every block writes only its own vertices' results, and
// the sums over vertices are taken afterwards in vertex order: the fit is the same on any
// number of threads.
constexpr int64_t fitBlock = 512;

// Where each vertex meets the surface: its attachment, or for a vertex too far for one,
// its nearest sample under the binding's normal rule (sub-patch −1 when there is none).
struct Foot {
    int32_t subPatch;
    float u, v;
};

void findFeet(std::vector<Foot>& feet, const FaceModel& model) {
    const int32_t N = model.renderVertexCount;
    feet.resize(size_t(N));
    SampleIndex samples;
    int32_t unattached = 0;
    for (int32_t i = 0; i < N; ++i)
        unattached += model.attachments[i].subPatch < 0;
    if (unattached > 0)
        buildSampleIndex(samples, model.samplePositions.get(), model.sampleCount, unattached);
    // The nearest sample is the same whatever the search's start hint: each block has its own.
    parallelFor(sharedWorkers(), N, fitBlock, [&](int64_t begin, int64_t end, int32_t) {
        int32_t hint = -1;
        for (int32_t i = int32_t(begin); i < int32_t(end); ++i) {
            const Attachment& a = model.attachments[i];
            if (a.subPatch >= 0) {
                feet[size_t(i)] = {a.subPatch, a.u, a.v};
                continue;
            }
            float distance;
            const int32_t s = findNearestSampleIndexed(
                distance, hint, samples, model.sampleNormals.get(), a.restPosition, a.restNormal,
                hintingFreeSampleLimit, std::numeric_limits<float>::infinity(), minNormalDot);
            if (s < 0) {
                feet[size_t(i)] = {-1, 0.0f, 0.0f};
                continue;
            }
            const PatchParameter& p = model.sampleParameters[s % samplesPerSubPatch];
            feet[size_t(i)] = {s / samplesPerSubPatch, p.u, p.v};
        }
    });
}

// The robust loss of one vertex at distance d: d²/2 within reach, then growing with log d.
double fitLoss(double d) {
    const double R = fitReach;
    return d <= R ? 0.5 * d * d : 0.5 * R * R + R * R * std::log(d / R);
}

} // namespace

void cornerWeights(float l[3], int32_t s, float u, float v) {
    const int k = s % 3;
    const float w = 1.0f - u - v;
    l[k] = u + w / 3.0f;
    l[(k + 1) % 3] = v + w / 3.0f;
    l[(k + 2) % 3] = w / 3.0f;
}

void measureExcess(std::vector<float>& excess, const FaceModel& model, const ControlCage& cage) {
    const size_t N = size_t(model.renderVertexCount);
    std::vector<float> unit(N);
    excess.assign(N, 0.0f);
    computeAmplification(excess.data(), nullptr, model, cage.points.data(), smallAmplificationStep);
    computeAmplification(unit.data(), nullptr, model, cage.points.data(), unitAmplificationStep);
    for (size_t i = 0; i < N; ++i)
        excess[i] =
            std::min(std::max(excess[i] / targetAmplification, unit[i] / targetUnitAmplification),
                     brokenExcess);
}

void evenSample(std::vector<Vector3>& positions, std::vector<Vector3>& normals,
                const std::vector<Vector3>& allPositions, const std::vector<Vector3>& allNormals,
                size_t limit) {
    const size_t stride = std::max<size_t>(1, (allPositions.size() + limit - 1) / limit);
    positions.clear();
    normals.clear();
    for (size_t i = 0; i < allPositions.size(); i += stride) {
        positions.push_back(allPositions[i]);
        normals.push_back(allNormals[i]);
    }
}

std::unique_ptr<FaceModel> bindCage(const ControlCage& cage, const std::vector<Vector3>& positions,
                                    const std::vector<Vector3>& normals) {
    const Triangle none = {{0, 0, 0}};
    const std::vector<TexCoord> texCoords(positions.size(), TexCoord{0.0f, 0.0f});
    return std::make_unique<FaceModel>(cage.points.data(), int32_t(cage.points.size()),
                                       cage.triangles.data(), int32_t(cage.triangles.size()),
                                       positions.data(), normals.data(), texCoords.data(),
                                       int32_t(positions.size()), &none, 0);
}

namespace {

// fitLoss with the feet it found.
double lossAndFeet(std::vector<Foot>& feet, const FaceModel& model) {
    findFeet(feet, model);
    const int32_t N = model.renderVertexCount;
    std::vector<double> losses(static_cast<size_t>(N));
    parallelFor(sharedWorkers(), N, fitBlock, [&](int64_t begin, int64_t end, int32_t) {
        for (int32_t i = int32_t(begin); i < int32_t(end); ++i) {
            Vector3 Q;
            SubPatchFrame frame;
            const Foot& f = feet[size_t(i)];
            losses[size_t(i)] =
                f.subPatch >= 0 && model.evaluateFrame(Q, frame, f.subPatch, f.u, f.v)
                    ? fitLoss(double(length(model.attachments[i].restPosition - Q)))
                    : fitLoss(std::numeric_limits<float>::max());
        }
    });
    double loss = 0.0;
    for (double l : losses)
        loss += l;
    return loss;
}

// One vertex's terms of the step's normal equations: the 3 × 3 blocks between its
// triangle's corners, its pull on each corner, and its weights' share of the trace.
struct VertexTerms {
    bool used;
    int32_t corner[3];
    double block[3][3][3][3]; // corners a, b; axes x, y
    double pull[3][3];        // corner a, axis x
    double trace[3];
};

// The step linearises the surface as the control triangle's barycentric interpolation of
// its corners' moves: the vertex pulls the corners by its residual along the surface normal
// (the part the samples' spacing does not decide) and by fitTangential of its whole
// residual, weighted as fitLoss.
void vertexTerms(VertexTerms& terms, const FaceModel& model, const ControlCage& cage, const Foot& f,
                 int32_t i) {
    terms.used = false;
    Vector3 Q;
    SubPatchFrame frame;
    if (f.subPatch < 0 || !model.evaluateFrame(Q, frame, f.subPatch, f.u, f.v))
        return;
    const Vector3 r = model.attachments[i].restPosition - Q;
    const double d = length(r);
    if (!std::isfinite(d) || !isFinite(frame.n))
        return;
    terms.used = true;
    const double weight = d <= fitReach ? 1.0 : (fitReach / d) * (fitReach / d);
    const double n[3] = {frame.n.x, frame.n.y, frame.n.z}, R[3] = {r.x, r.y, r.z};
    const double along = dot(frame.n, r);
    float l[3];
    cornerWeights(l, f.subPatch, f.u, f.v);
    std::copy(cage.triangles[size_t(f.subPatch / 3)].index,
              cage.triangles[size_t(f.subPatch / 3)].index + 3, terms.corner);
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
            const double ll = weight * l[a] * l[b];
            for (int x = 0; x < 3; ++x)
                for (int y = 0; y < 3; ++y)
                    terms.block[a][b][x][y] = ll * (n[x] * n[y] + (x == y ? fitTangential : 0.0));
        }
        terms.trace[a] = weight * l[a] * l[a];
        for (int x = 0; x < 3; ++x)
            terms.pull[a][x] = weight * l[a] * (n[x] * along + fitTangential * R[x]);
    }
}

} // namespace

double fitLoss(const FaceModel& model) {
    std::vector<Foot> feet;
    return lossAndFeet(feet, model);
}

std::unique_ptr<FaceModel> fitCage(ControlCage& cage, FitReport& report,
                                   const std::vector<Vector3>& positions,
                                   const std::vector<Vector3>& normals,
                                   const std::vector<Vector3>& surfaceNormals, int iterations) {
    report = FitReport();
    const int32_t K = int32_t(cage.points.size());
    // The triangles that break a rule before the fit (none in an automatic control mesh; a
    // user's may have some): the fit makes no other break one.
    CageFaults faults;
    findCageFaults(faults, cage, surfaceNormals);
    std::vector<uint8_t> wasFaulty(cage.triangles.size(), 0);
    for (const std::vector<int32_t>& list : faults.triangles)
        for (int32_t t : list)
            wasFaulty[size_t(t)] = 1;

    // The triangles at each point, and the edges for the smoothness term.
    std::vector<std::vector<int32_t>> around(static_cast<size_t>(K));
    for (size_t t = 0; t < cage.triangles.size(); ++t)
        for (int32_t c : cage.triangles[t].index)
            around[size_t(c)].push_back(int32_t(t));
    std::vector<std::pair<int32_t, int32_t>> edges;
    for (const Triangle& t : cage.triangles)
        for (int k = 0; k < 3; ++k) {
            const int32_t a = t.index[k], b = t.index[(k + 1) % 3];
            edges.push_back({std::min(a, b), std::max(a, b)});
        }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());

    std::unique_ptr<FaceModel> model = bindCage(cage, positions, normals);
    std::vector<Foot> feet, nextFeet;
    double loss = lossAndFeet(feet, *model);
    std::vector<float> excess;
    measureExcess(excess, *model, cage);
    float allowedExcess = 1.0f;
    for (float e : excess)
        allowedExcess = std::max(allowedExcess, e);
    report.lossBefore = report.lossAfter = loss;
    for (int iteration = 0; iteration < iterations; ++iteration) {
        // The normal equations of the step (vertexTerms). Unknowns: x, y, z of each point,
        // 3p + axis. Each vertex's terms are formed on the workers into its own slots, then
        // gathered in vertex order.
        const int32_t N = model->renderVertexCount;
        std::vector<VertexTerms> terms(static_cast<size_t>(N));
        parallelFor(sharedWorkers(), N, fitBlock, [&](int64_t begin, int64_t end, int32_t) {
            for (int32_t i = int32_t(begin); i < int32_t(end); ++i)
                vertexTerms(terms[size_t(i)], *model, cage, feet[size_t(i)], i);
        });
        std::vector<Eigen::Triplet<double>> entries;
        Eigen::VectorXd rhs = Eigen::VectorXd::Zero(3 * K);
        double trace = 0.0;
        for (const VertexTerms& v : terms) {
            if (!v.used)
                continue;
            for (int a = 0; a < 3; ++a) {
                for (int b = 0; b < 3; ++b)
                    for (int x = 0; x < 3; ++x)
                        for (int y = 0; y < 3; ++y)
                            entries.emplace_back(3 * v.corner[a] + x, 3 * v.corner[b] + y,
                                                 v.block[a][b][x][y]);
                trace += v.trace[a];
                for (int x = 0; x < 3; ++x)
                    rhs(3 * v.corner[a] + x) += v.pull[a][x];
            }
        }
        const double mean = std::max(trace / K, 1e-12);
        for (const auto& [a, b] : edges)
            for (int x = 0; x < 3; ++x) {
                const double s = fitSmoothness * mean;
                entries.emplace_back(3 * a + x, 3 * a + x, s);
                entries.emplace_back(3 * b + x, 3 * b + x, s);
                entries.emplace_back(3 * a + x, 3 * b + x, -s);
                entries.emplace_back(3 * b + x, 3 * a + x, -s);
            }
        for (int32_t p = 0; p < 3 * K; ++p)
            entries.emplace_back(p, p, fitDamping * mean);
        Eigen::SparseMatrix<double> normal(3 * K, 3 * K);
        normal.setFromTriplets(entries.begin(), entries.end());
        Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> solver(normal);
        if (solver.info() != Eigen::Success)
            break;
        const Eigen::VectorXd solution = solver.solve(rhs);
        if (solver.info() != Eigen::Success || !solution.allFinite())
            break;
        const auto step = [&](int32_t p, int x) { return solution(3 * p + x); };

        // The step, without the moves of the points around the corners of every triangle it
        // makes break a rule that held (a corner's normal is its triangles' sum), tried again
        // with those points kept, and halved after fitFreezes tries; then bound, and where
        // it throws a vertex beyond the allowed excess, tried again without the moves of the
        // points around the vertex's triangle.
        const ControlCage before = cage;
        std::vector<uint8_t> frozen(size_t(K), 0);
        const auto freezeAround = [&](int32_t t) {
            for (int32_t c : cage.triangles[size_t(t)].index)
                for (int32_t u : around[size_t(c)])
                    for (int32_t q : cage.triangles[size_t(u)].index)
                        frozen[size_t(q)] = 1;
        };
        std::unique_ptr<FaceModel> next;
        double nextLoss = loss;
        for (int tries = 0; tries < fitExcessTries && !next; ++tries) {
            bool kept = false;
            double scale = 1.0;
            for (int attempt = 0; attempt < fitAttempts && !kept; ++attempt) {
                if (attempt >= fitFreezes)
                    scale *= 0.5;
                for (int32_t p = 0; p < K; ++p)
                    cage.points[size_t(p)] =
                        frozen[size_t(p)]
                            ? before.points[size_t(p)]
                            : before.points[size_t(p)] + Vector3{float(scale * step(p, 0)),
                                                                 float(scale * step(p, 1)),
                                                                 float(scale * step(p, 2))};
                findCageFaults(faults, cage, surfaceNormals);
                kept = true;
                for (int kind = 0; kind < cageFaultCount; ++kind)
                    for (int32_t t : faults.triangles[kind])
                        if (!wasFaulty[size_t(t)]) {
                            kept = false;
                            freezeAround(t);
                        }
            }
            if (!kept)
                break;
            next = bindCage(cage, positions, normals);
            nextLoss = lossAndFeet(nextFeet, *next);
            if (!(nextLoss < loss)) {
                next.reset();
                break;
            }
            measureExcess(excess, *next, cage);
            bool thrown = false;
            for (int32_t i = 0; i < next->renderVertexCount; ++i)
                if (excess[size_t(i)] > allowedExcess) {
                    freezeAround(next->attachments[i].subPatch / 3);
                    thrown = true;
                }
            if (thrown)
                next.reset();
        }
        if (!next) {
            cage = before;
            break;
        }
        ++report.iterations;
        const bool gainSmall = loss - nextLoss < fitMinGain * loss;
        model = std::move(next);
        feet.swap(nextFeet);
        loss = nextLoss;
        report.lossAfter = loss;
        if (gainSmall)
            break;
    }
    return model;
}
