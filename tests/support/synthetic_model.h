// Synthetic face models for tests and benchmarks: a bumpy height field over a rectangle,
// sampled by a coarse control grid and by a finer render grid lying near the smooth
// surface. Deterministic for a given seed.
#pragma once

#include "face/face_model.h"
#include "io/model_file.h"

#include <cstdint>
#include <memory>
#include <string>

// Small deterministic generator (xorshift32), the same on every platform.
struct Random {
    uint32_t state;
    explicit Random(uint32_t seed) : state(seed ? seed : 0x9e3779b9u) {}
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    // Uniform in [0, 1).
    float uniform() { return static_cast<float>(next() >> 8) * (1.0f / 16777216.0f); }
    // Uniform in [lo, hi).
    float range(float lo, float hi) { return lo + (hi - lo) * uniform(); }
};

struct SyntheticModelShape {
    int32_t controlCellsX = 11, controlCellsY = 11; // control triangles: 2 per cell
    int32_t renderCellsX = 99, renderCellsY = 99;   // render vertices: (cells + 1)² grid
    float width = 16.0f, height = 20.0f;            // extent of the domain in x and y
    float amplitude = 1.5f;                         // height of the bumps
    float controlJitter = 0.0f; // random displacement of control points (all axes)
    float renderNoise = 0.05f;  // random height of render vertices off the field
    float renderMargin = 0.5f;  // render grid reaches this far beyond the control grid
    uint32_t seed = 1;
};

// Height of the bumpy field at (x, y).
float syntheticHeight(const SyntheticModelShape& shape, float x, float y);

// Fills model with the shape's control grid and render grid; render normals are computed
// from the stored render triangles (counter-clockwise seen from +z, so normals point up).
void makeSyntheticModel(ModelData& model, const SyntheticModelShape& shape);

// A face model constructed from the ten values of model, bound on the given workers.
std::unique_ptr<FaceModel> makeFaceModel(const ModelData& model,
                                         SampleSearch search = SampleSearch::indexed,
                                         WorkerPool& workers = sharedWorkers());

// Fills model with the given control mesh and render vertices (positions and normals as
// given, texture coordinates zero) and render triangles.
void setModel(ModelData& model, const Vector3* controlPoints, int32_t K,
              const Triangle* controlTriangles, int32_t L, const Vector3* renderPositions,
              const Vector3* renderNormals, int32_t N, const Triangle* renderTriangles, int32_t M);
