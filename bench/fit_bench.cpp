// The default face fitted to a head and its library carried over (tools/fit), on every core:
// the fit (fitDefaultFace), then the head bound to the fitted control mesh as face-import
// binds it, and the library carried, corrected and checked on it (transferLibrary). Two
// heads: the default face's render mesh made again at a finer spacing (about 25,000
// vertices), widened, shortened and roughened so that the fit has work to do; and the 1M-vertex
// scan of bench/make-scan.sh, read from FACE_SCAN (default scan.ply; skipped when missing),
// whose landmarks are the default face's own (the scan is that face, made finer, with noise).
//   bench/make-scan.sh build scan.ply && build/bench/fit-bench
#include "io/normals.h"
#include "tools/assets/expressions.h"
#include "tools/assets/mesh.h"
#include "tools/fit/face_fit.h"
#include "tools/fit/pose_transfer.h"
#include "tools/import/import_mesh.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

struct BenchHead {
    std::vector<Vector3> positions;
    std::vector<Triangle> triangles;
    Vector3 landmarks[fitLandmarkCount];
    bool loaded = false;
    std::string error;
};

DefaultFace& defaultFace() {
    static DefaultFace face;
    if (face.model == nullptr)
        buildDefaultFace(face);
    return face;
}

const std::vector<NamedPose>& library() {
    static std::vector<NamedPose> poses;
    if (poses.empty()) {
        std::vector<Expression> expressions;
        buildExpressions(expressions, defaultFace());
        expressionPoses(poses, expressions);
    }
    return poses;
}

// The finer spacing that gives some 25,000 vertices (0.13 gives the default face's 19,952).
constexpr double headSpacing = 0.116;

Vector3 reshaped(const Vector3& p) { return {1.15f * p.x, 0.95f * p.y, p.z + 0.01f * p.x * p.x}; }

const BenchHead& syntheticHead() {
    static BenchHead head;
    if (head.loaded)
        return head;
    FaceMesh mesh;
    buildRenderMesh(mesh, headSpacing);
    std::mt19937 random(5);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    for (const Point3& p : mesh.positions)
        head.positions.push_back(reshaped(
            {float(p.x) + noise(random), float(p.y) + noise(random), float(p.z) + noise(random)}));
    head.triangles = mesh.triangles;
    const FaceModel& face = *defaultFace().model;
    for (int32_t k = 0; k < fitLandmarkCount; ++k)
        head.landmarks[k] =
            reshaped(face.attachments[defaultFace().features.vertex[k]].restPosition);
    head.loaded = true;
    return head;
}

const BenchHead& scanHead() {
    static BenchHead head;
    static bool tried = false;
    if (tried)
        return head;
    tried = true;
    const char* file = std::getenv("FACE_SCAN");
    ImportedMesh mesh;
    MeshFileListing listing;
    EmbeddedPicture embedded;
    if (!readImportedMesh(mesh, listing, embedded, file ? file : "scan.ply", MeshSelection(),
                          defaultCreaseDegrees, head.error)) {
        head.error += " (bench/make-scan.sh makes the scan; FACE_SCAN names it)";
        return head;
    }
    head.positions = std::move(mesh.positions);
    head.triangles = std::move(mesh.triangles);
    const FaceModel& face = *defaultFace().model;
    for (int32_t k = 0; k < fitLandmarkCount; ++k)
        head.landmarks[k] = face.attachments[defaultFace().features.vertex[k]].restPosition;
    head.loaded = true;
    return head;
}

void fitHead(benchmark::State& state, const BenchHead& head) {
    if (!head.loaded) {
        state.SkipWithError(head.error.c_str());
        return;
    }
    defaultFace();
    for (auto _ : state) {
        FaceFit fit;
        std::string error;
        fitDefaultFace(fit, error, head.positions.data(), int32_t(head.positions.size()),
                       head.triangles.data(), int32_t(head.triangles.size()), head.landmarks,
                       defaultFace());
        benchmark::DoNotOptimize(fit.controlPoints.data());
    }
    state.counters["vertices"] = double(head.positions.size());
}

// The binding (as face-import binds the head) and the library's transfer, timed apart.
void transferToHead(benchmark::State& state, const BenchHead& head) {
    if (!head.loaded) {
        state.SkipWithError(head.error.c_str());
        return;
    }
    FaceFit fit;
    std::string error;
    fitDefaultFace(fit, error, head.positions.data(), int32_t(head.positions.size()),
                   head.triangles.data(), int32_t(head.triangles.size()), head.landmarks,
                   defaultFace());
    const int32_t N = int32_t(head.positions.size()), M = int32_t(head.triangles.size());
    std::vector<Vector3> normals(static_cast<size_t>(N));
    computeMeshNormals(normals.data(), head.positions.data(), N, head.triangles.data(), M);
    const std::vector<TexCoord> texCoords(static_cast<size_t>(N), TexCoord{0.0f, 0.0f});
    library();
    for (auto _ : state) {
        FaceModel bound(fit.controlPoints.data(), int32_t(fit.controlPoints.size()),
                        fit.controlTriangles.data(), int32_t(fit.controlTriangles.size()),
                        head.positions.data(), normals.data(), texCoords.data(), N,
                        head.triangles.data(), M);
        LibraryTransfer transfer;
        transferLibrary(transfer, bound, fit, defaultFace(), library());
        benchmark::DoNotOptimize(transfer.poses.data());
    }
    state.counters["vertices"] = double(N);
}

void BM_FitHead25k(benchmark::State& state) { fitHead(state, syntheticHead()); }
void BM_TransferHead25k(benchmark::State& state) { transferToHead(state, syntheticHead()); }
void BM_FitScan1M(benchmark::State& state) { fitHead(state, scanHead()); }
void BM_TransferScan1M(benchmark::State& state) { transferToHead(state, scanHead()); }

BENCHMARK(BM_FitHead25k)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TransferHead25k)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FitScan1M)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_TransferScan1M)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

BENCHMARK_MAIN();
