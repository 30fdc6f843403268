// Face model benchmarks: binding the render mesh (k-d tree and exhaustive search), the
// per-frame update (vectorised and reference order), loading the default model, and the
// peak memory of a million-vertex face. Models are generated here: a bumpy height field
// with a control grid of about 250 or 4,000 triangles and a render grid of about 10k, 100k
// or 1M vertices near the smooth surface.
//   build/bench/face-bench                                   (all but the memory figure)
//   build/bench/face-bench --benchmark_filter=PeakMemory     (run alone: it reads the
//                                                             process's maximum RSS)
// Run from the repository root so that data/retarget.model is found.
#include "face/face_model.h"
#include "io/model_file.h"
#include "tests/support/synthetic_model.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

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

void perVertexCounter(benchmark::State& state, int32_t N) {
    state.counters["per_vertex"] = benchmark::Counter(
        static_cast<double>(N), benchmark::Counter::kIsIterationInvariantRate |
                                    benchmark::Counter::kInvert);
    state.counters["vertices"] = N;
}

// Construction including the binding of every render vertex.
void BM_Bind(benchmark::State& state) {
    const ModelData& data = cachedModel(static_cast<int32_t>(state.range(0)),
                                        static_cast<int32_t>(state.range(1)));
    const SampleSearch search = state.range(2) ? SampleSearch::exhaustive : SampleSearch::indexed;
    std::unique_ptr<FaceModel> model;
    for (auto _ : state) {
        model = makeFaceModel(data, search);
        benchmark::DoNotOptimize(model->attachments.get());
    }
    // The exhaustive search is the reference: the index must agree bit for bit.
    if (search == SampleSearch::exhaustive) {
        const auto indexed = makeFaceModel(data, SampleSearch::indexed);
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
    const ModelData& data = cachedModel(static_cast<int32_t>(state.range(0)),
                                        static_cast<int32_t>(state.range(1)));
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
            model->update(model->renderPositions.get(), model->renderNormals.get(),
                          points.data());
        benchmark::DoNotOptimize(model->renderNormals.get());
        benchmark::ClobberMemory();
    }
    perVertexCounter(state, data.renderVertexCount);
    state.counters["triangles"] = data.controlTriangleCount;
}

// Read, construct and bind the default model, as the viewer does at start-up.
void BM_DefaultModelLoad(benchmark::State& state) {
    const char* file = "data/retarget.model";
    std::unique_ptr<FaceModel> model;
    ArrayHolder<Vector3> points;
    int32_t K = 0;
    std::string error;
    for (auto _ : state) {
        if (!loadFaceModel(model, points, K, file, error)) {
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
        model->update(model->renderPositions.get(), model->renderNormals.get(), points.get());
        benchmark::DoNotOptimize(model->renderNormals.get());
        benchmark::ClobberMemory();
    }
    perVertexCounter(state, model->renderVertexCount);
}

// Peak memory of a million-vertex face: the generated input arrays (as a reader would
// return them), the face model built from them, the inputs released as loadFaceModel does,
// then frames. Reports the process's maximum resident set per render vertex.
void BM_PeakMemory1M(benchmark::State& state) {
    for (auto _ : state) {
        std::unique_ptr<FaceModel> model;
        int32_t N = 0;
        {
            ModelData data;
            makeSyntheticModel(data, benchShape(1000, 11));
            N = data.renderVertexCount;
            model = makeFaceModel(data);
            ArrayHolder<Vector3> points = std::move(data.controlPoints);
            data = ModelData();
            for (int frame = 0; frame < 3; ++frame)
                model->update(model->renderPositions.get(), model->renderNormals.get(),
                              points.get());
        }
        rusage usage;
        getrusage(RUSAGE_SELF, &usage);
        const double bytes = static_cast<double>(usage.ru_maxrss) * 1024.0;
        state.counters["max_rss_MB"] = bytes / 1e6;
        state.counters["bytes_per_vertex"] = bytes / N;
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
BENCHMARK(BM_DefaultModelLoad)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DefaultModelUpdate)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PeakMemory1M)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
