// Face model benchmarks: binding the render mesh (k-d tree and exhaustive search), the
// per-frame update (vectorised and reference order), loading the default model, and the
// peak memory of a million-vertex face, all on one thread; then the binding, the update and
// the amplification on one thread and on every core in the same run (*Threads), with the
// speed-up. Models are generated here: a bumpy height field
// with a control grid of about 250 or 4,000 triangles and a render grid of about 10k, 100k
// or 1M vertices near the smooth surface.
//   build/bench/face-bench
// Run from the repository root so that data/retarget.model is found.
#include "face/amplification.h"
#include "face/face_model.h"
#include "io/model_file.h"
#include "tests/support/synthetic_model.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Render grid sides: 100² = 10k, 316² ≈ 100k, 1000² = 1M vertices. Control grids:
// 11 × 11 cells = 242 triangles, 45 × 45 cells = 4,050 triangles.
SyntheticModelShape benchShape(int32_t renderSide, int32_t controlCells) {
    SyntheticModelShape shape;
    shape.renderCellsX = shape.renderCellsY = renderSide - 1;
    shape.controlCellsX = shape.controlCellsY = controlCells;
    shape.seed = 17;
    return shape;
}

// One generated model at a time (the million-vertex one is large).
const ModelData& cachedModel(int32_t renderSide, int32_t controlCells) {
    static ModelData model;
    static int32_t side = -1, cells = -1;
    if (side != renderSide || cells != controlCells) {
        model = ModelData();
        makeSyntheticModel(model, benchShape(renderSide, controlCells));
        side = renderSide;
        cells = controlCells;
    }
    return model;
}

// A pool of one thread: the one-thread code path, whatever the machine.
WorkerPool& oneThread() {
    static WorkerPool pool;
    return pool;
}

void perVertexCounter(benchmark::State& state, int32_t N) {
    state.counters["per_vertex"] =
        benchmark::Counter(static_cast<double>(N), benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
    state.counters["vertices"] = N;
}

// Construction including the binding of every render vertex.
void BM_Bind(benchmark::State& state) {
    const ModelData& data =
        cachedModel(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    const SampleSearch search = state.range(2) ? SampleSearch::exhaustive : SampleSearch::indexed;
    std::unique_ptr<FaceModel> model;
    for (auto _ : state) {
        model = makeFaceModel(data, search, oneThread());
        benchmark::DoNotOptimize(model->attachments.get());
    }
    // The exhaustive search is the reference: the index must agree bit for bit.
    if (search == SampleSearch::exhaustive) {
        const auto indexed = makeFaceModel(data, SampleSearch::indexed, oneThread());
        if (std::memcmp(indexed->attachments.get(), model->attachments.get(),
                        sizeof(Attachment) * static_cast<size_t>(data.renderVertexCount)) != 0)
            state.SkipWithError("indexed and exhaustive attachments differ");
    }
    int32_t attached = 0;
    for (int32_t i = 0; i < model->renderVertexCount; ++i)
        attached += model->attachments[i].subPatch >= 0;
    perVertexCounter(state, data.renderVertexCount);
    state.counters["attached"] = attached;
    state.counters["triangles"] = data.controlTriangleCount;
}

// One per-frame update with the control points slightly moved.
void BM_Update(benchmark::State& state) {
    const ModelData& data =
        cachedModel(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    const bool reference = state.range(2) != 0;
    const auto model = makeFaceModel(data);
    std::vector<Vector3> points(data.controlPoints.get(),
                                data.controlPoints.get() + data.controlPointCount);
    float phase = 0;
    for (auto _ : state) {
        phase += 0.01f;
        points[points.size() / 2].z = data.controlPoints[points.size() / 2].z + phase;
        if (reference)
            model->updateReference(model->renderPositions.get(), model->renderNormals.get(),
                                   points.data());
        else
            model->update(model->renderPositions.get(), model->renderNormals.get(), points.data(),
                          oneThread());
        benchmark::DoNotOptimize(model->renderNormals.get());
        benchmark::ClobberMemory();
    }
    perVertexCounter(state, data.renderVertexCount);
    state.counters["triangles"] = data.controlTriangleCount;
}

// Read, construct and bind the default model, as the viewer does at start-up.
void BM_DefaultModelLoad(benchmark::State& state) {
    const char* file = "data/retarget.model";
    const SampleSearch search = state.range(0) ? SampleSearch::exhaustive : SampleSearch::indexed;
    std::unique_ptr<FaceModel> model;
    ArrayHolder<Vector3> points;
    int32_t K = 0;
    std::string error;
    for (auto _ : state) {
        if (!loadFaceModel(model, points, K, file, error, search, oneThread())) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    perVertexCounter(state, model->renderVertexCount);
    state.counters["triangles"] = model->controlTriangleCount;
}

void BM_DefaultModelUpdate(benchmark::State& state) {
    std::unique_ptr<FaceModel> model;
    ArrayHolder<Vector3> points;
    int32_t K = 0;
    std::string error;
    if (!loadFaceModel(model, points, K, "data/retarget.model", error)) {
        state.SkipWithError(error.c_str());
        for (auto _ : state) {
        }
        return;
    }
    for (auto _ : state) {
        model->update(model->renderPositions.get(), model->renderNormals.get(), points.get(),
                      oneThread());
        benchmark::DoNotOptimize(model->renderNormals.get());
        benchmark::ClobberMemory();
    }
    perVertexCounter(state, model->renderVertexCount);
}

// The amplification of every render vertex (3K local rebuilds), on a generated model or, for
// a side of 0, the default model: to set against the binding (BM_Bind, BM_DefaultModelLoad).
void BM_Amplification(benchmark::State& state) {
    const int32_t side = static_cast<int32_t>(state.range(0));
    ModelData loaded;
    std::string error;
    if (side == 0 && !readModelFile(loaded, "data/retarget.model", error)) {
        state.SkipWithError(error.c_str());
        for (auto _ : state) {
        }
        return;
    }
    const ModelData& data =
        side == 0 ? loaded : cachedModel(side, static_cast<int32_t>(state.range(1)));
    const auto model = makeFaceModel(data);
    std::vector<float> amplification(static_cast<size_t>(data.renderVertexCount));
    for (auto _ : state) {
        computeAmplification(amplification.data(), nullptr, *model, data.controlPoints.get(),
                             smallAmplificationStep, oneThread());
        benchmark::DoNotOptimize(amplification.data());
    }
    perVertexCounter(state, data.renderVertexCount);
    state.counters["triangles"] = data.controlTriangleCount;
}

// Runs run(workers) on one thread and on every core (the shared pool) in turn, the order
// switching every iteration so that a change of the machine's load hits both alike. The
// iteration time is the all-core run's; the counters give both times and their ratio.
template <class Run> void compareThreads(benchmark::State& state, Run run) {
    using Clock = std::chrono::steady_clock;
    WorkerPool& all = sharedWorkers();
    double oneSeconds = 0, allSeconds = 0;
    int64_t iterations = 0;
    for (auto _ : state) {
        double seconds[2] = {0, 0}; // one thread, every core
        for (int k = 0; k < 2; ++k) {
            const int which = (k + iterations) % 2;
            const auto start = Clock::now();
            run(which == 0 ? oneThread() : all);
            seconds[which] = std::chrono::duration<double>(Clock::now() - start).count();
        }
        oneSeconds += seconds[0];
        allSeconds += seconds[1];
        ++iterations;
        state.SetIterationTime(seconds[1]);
    }
    state.counters["threads"] = all.threadCount;
    state.counters["one_thread_ms"] = 1e3 * oneSeconds / double(iterations);
    state.counters["all_cores_ms"] = 1e3 * allSeconds / double(iterations);
    state.counters["speedup"] = oneSeconds / allSeconds;
}

// The default model (side 0) or a generated one, for the *Threads benchmarks.
const ModelData& threadsModel(benchmark::State& state, ModelData& loaded) {
    const int32_t side = static_cast<int32_t>(state.range(0));
    std::string error;
    if (side == 0 && !readModelFile(loaded, "data/retarget.model", error))
        state.SkipWithError(error.c_str());
    return side == 0 ? loaded : cachedModel(side, static_cast<int32_t>(state.range(1)));
}

// Construction with the binding (k-d tree), at one thread and every core.
void BM_BindThreads(benchmark::State& state) {
    ModelData loaded;
    const ModelData& data = threadsModel(state, loaded);
    std::unique_ptr<FaceModel> model;
    compareThreads(state, [&](WorkerPool& workers) {
        model = makeFaceModel(data, SampleSearch::indexed, workers);
        benchmark::DoNotOptimize(model->attachments.get());
    });
    state.counters["vertices"] = data.renderVertexCount;
}

// One update with a control point moved, at one thread and every core.
void BM_UpdateThreads(benchmark::State& state) {
    ModelData loaded;
    const ModelData& data = threadsModel(state, loaded);
    const auto model = makeFaceModel(data);
    std::vector<Vector3> points(data.controlPoints.get(),
                                data.controlPoints.get() + data.controlPointCount);
    float phase = 0;
    compareThreads(state, [&](WorkerPool& workers) {
        phase += 0.01f;
        points[points.size() / 2].z = data.controlPoints[points.size() / 2].z + phase;
        model->update(model->renderPositions.get(), model->renderNormals.get(), points.data(),
                      workers);
        benchmark::DoNotOptimize(model->renderNormals.get());
        benchmark::ClobberMemory();
    });
    state.counters["vertices"] = data.renderVertexCount;
}

// The amplification (3K local rebuilds), at one thread and every core.
void BM_AmplificationThreads(benchmark::State& state) {
    ModelData loaded;
    const ModelData& data = threadsModel(state, loaded);
    const auto model = makeFaceModel(data);
    std::vector<float> amplification(static_cast<size_t>(data.renderVertexCount));
    compareThreads(state, [&](WorkerPool& workers) {
        computeAmplification(amplification.data(), nullptr, *model, data.controlPoints.get(),
                             smallAmplificationStep, workers);
        benchmark::DoNotOptimize(amplification.data());
    });
    state.counters["vertices"] = data.renderVertexCount;
}

// Peak memory of a million-vertex face, measured in a fresh process (this program run
// again with peakMemoryFlag) so that nothing of the benchmark itself counts: the child's
// maximum resident set per render vertex. Two ways in: the ten arrays generated in memory
// and handed to the constructor (then released, as loadFaceModel does), and the whole
// loadFaceModel from a model file written beforehand. Both then run three frames.
const char peakMemoryFlag[] = "--peak-memory-child";

// The child's work; returns its exit status.
int peakMemoryChild(const char* fileName) {
    std::unique_ptr<FaceModel> model;
    ArrayHolder<Vector3> points;
    if (fileName) {
        int32_t K = 0;
        std::string error;
        if (!loadFaceModel(model, points, K, fileName, error))
            return 2;
    } else {
        ModelData data;
        makeSyntheticModel(data, benchShape(1000, 11));
        model = makeFaceModel(data);
        points = std::move(data.controlPoints);
    }
    for (int frame = 0; frame < 3; ++frame)
        model->update(model->renderPositions.get(), model->renderNormals.get(), points.get());
    return model->renderVertexCount == 1000 * 1000 ? 0 : 3;
}

void BM_PeakMemory1M(benchmark::State& state) {
    const bool fromFile = state.range(0) != 0;
    std::string path;
    if (fromFile) {
        char directory[] = "/tmp/face-bench-XXXXXX";
        if (mkdtemp(directory)) {
            path = std::string(directory) + "/million.model";
            ModelData data;
            makeSyntheticModel(data, benchShape(1000, 11));
            std::string written;
            writeModelFile(path.c_str(), data, written);
        }
    }
    for (auto _ : state) {
        const pid_t child = fork();
        if (child == 0) {
            const char* arguments[] = {"/proc/self/exe", peakMemoryFlag,
                                       fromFile ? path.c_str() : nullptr, nullptr};
            execv(arguments[0], const_cast<char**>(arguments));
            _exit(4);
        }
        int status = 0;
        rusage usage;
        if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            state.SkipWithError("the measuring process failed");
            break;
        }
        const double bytes = static_cast<double>(usage.ru_maxrss) * 1024.0;
        state.counters["max_rss_MB"] = bytes / 1e6;
        state.counters["bytes_per_vertex"] = bytes / (1000.0 * 1000.0); // N = 1000²
    }
    if (!path.empty()) {
        std::remove(path.c_str());
        rmdir(path.substr(0, path.rfind('/')).c_str());
    }
}

} // namespace

// Arguments: render grid side, control cells per side, search (0 index, 1 exhaustive).
BENCHMARK(BM_Bind)
    ->Args({100, 11, 0})
    ->Args({100, 11, 1})
    ->Args({316, 11, 0})
    ->Args({316, 11, 1})
    ->Args({316, 45, 0})
    ->Args({1000, 11, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// Arguments: render grid side, control cells per side, order (0 vectorised, 1 reference).
BENCHMARK(BM_Update)
    ->Args({100, 11, 0})
    ->Args({316, 11, 0})
    ->Args({316, 11, 1})
    ->Args({316, 45, 0})
    ->Args({1000, 11, 0})
    ->Args({1000, 11, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// Arguments: render grid side (0: the default model), control cells per side.
BENCHMARK(BM_Amplification)
    ->Args({0, 0})
    ->Args({316, 11})
    ->Args({1000, 11})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// Argument: search (0 index, 1 exhaustive).
BENCHMARK(BM_DefaultModelLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DefaultModelUpdate)->Unit(benchmark::kMillisecond)->UseRealTime();
// Arguments: render grid side (0: the default model), control cells per side.
BENCHMARK(BM_BindThreads)
    ->Args({0, 0})
    ->Args({1000, 11})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_UpdateThreads)
    ->Args({0, 0})
    ->Args({316, 11})
    ->Args({1000, 11})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_AmplificationThreads)
    ->Args({0, 0})
    ->Args({1000, 11})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
// Argument: 0 arrays in memory, 1 through loadFaceModel from a file.
BENCHMARK(BM_PeakMemory1M)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], peakMemoryFlag) == 0)
        return peakMemoryChild(argc >= 3 ? argv[2] : nullptr);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
