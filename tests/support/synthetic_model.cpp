#include "tests/support/synthetic_model.h"

#include "io/normals.h"

#include <cmath>
#include <cstdio>

float syntheticHeight(const SyntheticModelShape& shape, float x, float y) {
    return shape.amplitude * std::sin(0.5f * x) * std::cos(0.4f * y) +
           0.2f * shape.amplitude * std::sin(1.3f * x + 0.7f * y);
}

namespace {

// Two counter-clockwise triangles per cell of a (cellsX + 1) × (cellsY + 1) vertex grid.
void gridMesh(Triangle* triangles, int32_t cellsX, int32_t cellsY) {
    const int32_t row = cellsX + 1;
    int32_t t = 0;
    for (int32_t j = 0; j < cellsY; ++j)
        for (int32_t i = 0; i < cellsX; ++i) {
            const int32_t v00 = j * row + i, v10 = v00 + 1, v01 = v00 + row, v11 = v01 + 1;
            triangles[t++] = {{v00, v10, v11}};
            triangles[t++] = {{v00, v11, v01}};
        }
}

} // namespace

void makeSyntheticModel(ModelData& model, const SyntheticModelShape& shape) {
    Random random(shape.seed);

    const int32_t K = (shape.controlCellsX + 1) * (shape.controlCellsY + 1);
    const int32_t L = 2 * shape.controlCellsX * shape.controlCellsY;
    model.controlPointCount = K;
    model.controlPoints.reset(new Vector3[K]);
    for (int32_t j = 0, c = 0; j <= shape.controlCellsY; ++j)
        for (int32_t i = 0; i <= shape.controlCellsX; ++i, ++c) {
            const float x = shape.width * static_cast<float>(i) / shape.controlCellsX;
            const float y = shape.height * static_cast<float>(j) / shape.controlCellsY;
            const float jx = random.range(-1.0f, 1.0f) * shape.controlJitter;
            const float jy = random.range(-1.0f, 1.0f) * shape.controlJitter;
            const float jz = random.range(-1.0f, 1.0f) * shape.controlJitter;
            model.controlPoints[c] = {x + jx, y + jy, syntheticHeight(shape, x, y) + jz};
        }
    model.controlTriangleCount = L;
    model.controlTriangles.reset(new Triangle[L]);
    gridMesh(model.controlTriangles.get(), shape.controlCellsX, shape.controlCellsY);

    const int32_t N = (shape.renderCellsX + 1) * (shape.renderCellsY + 1);
    const int32_t M = 2 * shape.renderCellsX * shape.renderCellsY;
    model.renderVertexCount = N;
    model.renderPositions.reset(new Vector3[N]);
    model.renderTexCoords.reset(new TexCoord[N]);
    const float x0 = -shape.renderMargin, y0 = -shape.renderMargin;
    const float spanX = shape.width + 2.0f * shape.renderMargin;
    const float spanY = shape.height + 2.0f * shape.renderMargin;
    for (int32_t j = 0, v = 0; j <= shape.renderCellsY; ++j)
        for (int32_t i = 0; i <= shape.renderCellsX; ++i, ++v) {
            const float s = static_cast<float>(i) / shape.renderCellsX;
            const float t = static_cast<float>(j) / shape.renderCellsY;
            const float x = x0 + spanX * s, y = y0 + spanY * t;
            const float z =
                syntheticHeight(shape, x, y) + random.range(-0.5f, 0.5f) * shape.renderNoise;
            model.renderPositions[v] = {x, y, z};
            model.renderTexCoords[v] = {s, 1.0f - t};
        }
    model.renderTriangleCount = M;
    model.renderTriangles.reset(new Triangle[M]);
    gridMesh(model.renderTriangles.get(), shape.renderCellsX, shape.renderCellsY);
    model.renderNormals.reset(new Vector3[N]);
    computeMeshNormals(model.renderNormals.get(), model.renderPositions.get(), N,
                       model.renderTriangles.get(), M);
}

std::unique_ptr<FaceModel> makeFaceModel(const ModelData& model, SampleSearch search,
                                         WorkerPool& workers) {
    return std::unique_ptr<FaceModel>(new FaceModel(
        model.controlPoints.get(), model.controlPointCount, model.controlTriangles.get(),
        model.controlTriangleCount, model.renderPositions.get(), model.renderNormals.get(),
        model.renderTexCoords.get(), model.renderVertexCount, model.renderTriangles.get(),
        model.renderTriangleCount, search, workers));
}

void setModel(ModelData& model, const Vector3* controlPoints, int32_t K,
              const Triangle* controlTriangles, int32_t L, const Vector3* renderPositions,
              const Vector3* renderNormals, int32_t N, const Triangle* renderTriangles, int32_t M) {
    model.controlPointCount = K;
    model.controlPoints = copyArray(controlPoints, K);
    model.controlTriangleCount = L;
    model.controlTriangles = copyArray(controlTriangles, L);
    model.renderVertexCount = N;
    model.renderPositions = copyArray(renderPositions, N);
    model.renderNormals = copyArray(renderNormals, N);
    model.renderTexCoords.reset(new TexCoord[N]());
    model.renderTriangleCount = M;
    model.renderTriangles = copyArray(renderTriangles, M);
}
