// Model reader throughput: generates a model file of a 1000 × 1000 render grid (a million
// vertices, about two million triangles) with six-decimal reals into a temporary directory,
// then reads it from memory and from the file. Bytes per second is the parse speed.
//   build/bench/io-bench
#include "io/file_contents.h"
#include "io/model_file.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>

namespace {

constexpr int gridSide = 1000; // render vertices per side

// Writes the model and returns its path (empty on failure).
std::string writeModel(const std::string& dir) {
    const std::string path = dir + "/bench.model";
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        return std::string();
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-0.001, 0.001);
    const int n = gridSide * gridSide;
    std::fprintf(file, "%d\n", n);
    for (int r = 0; r < gridSide; ++r)
        for (int c = 0; c < gridSide; ++c)
            std::fprintf(file, "%.6f %.6f %.6f\n", c * 0.0002 - 0.1 + jitter(random),
                         r * 0.0002 - 0.1 + jitter(random), 0.05 + jitter(random));
    for (int r = 0; r < gridSide; ++r)
        for (int c = 0; c < gridSide; ++c)
            std::fprintf(file, "%.6f %.6f\n", c / double(gridSide - 1), r / double(gridSide - 1));
    std::fprintf(file, "%d\n", 2 * (gridSide - 1) * (gridSide - 1));
    for (int r = 0; r + 1 < gridSide; ++r)
        for (int c = 0; c + 1 < gridSide; ++c) {
            const int v = r * gridSide + c;
            std::fprintf(file, "%d %d %d\n%d %d %d\n", v, v + 1, v + gridSide, v + 1,
                         v + gridSide + 1, v + gridSide);
        }
    // A small control mesh: a 10 × 10 grid.
    std::fprintf(file, "100\n");
    for (int i = 0; i < 100; ++i)
        std::fprintf(file, "%.6f %.6f 0.1\n", (i % 10) * 0.02 - 0.1, (i / 10) * 0.02 - 0.1);
    std::fprintf(file, "162\n");
    for (int r = 0; r < 9; ++r)
        for (int c = 0; c < 9; ++c) {
            const int v = r * 10 + c;
            std::fprintf(file, "%d %d %d\n%d %d %d\n", v, v + 1, v + 10, v + 1, v + 11, v + 10);
        }
    std::fclose(file);
    return path;
}

struct BenchFile {
    std::string dir;
    std::string path;
    std::string contents;
    BenchFile() {
        char pattern[] = "/tmp/face-io-bench-XXXXXX";
        if (mkdtemp(pattern))
            dir = pattern;
        path = writeModel(dir);
        std::string error;
        FileContents file;
        if (path.empty() || !openFileContents(file, path.c_str(), error))
            std::fprintf(stderr, "cannot make the benchmark model: %s\n", error.c_str());
        else
            contents.assign(file.data, file.size);
    }
    ~BenchFile() {
        std::remove(path.c_str());
        rmdir(dir.c_str());
    }
};

BenchFile& benchFile() {
    static BenchFile file;
    return file;
}

void readModelFromMemory(benchmark::State& state) {
    const std::string& contents = benchFile().contents;
    std::string error;
    for (auto _ : state) {
        ModelData model;
        if (!readModelBuffer(model, contents.data(), contents.size(), "bench.model", error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(model.renderNormals.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(contents.size()));
}

void readModelFromFile(benchmark::State& state) {
    const BenchFile& file = benchFile();
    std::string error;
    for (auto _ : state) {
        ModelData model;
        if (!readModelFile(model, file.path.c_str(), error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(model.renderNormals.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.contents.size()));
}

BENCHMARK(readModelFromMemory)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(readModelFromFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
