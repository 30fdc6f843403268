#include "face/face_model.h"

#include "face/sample_index.h"
#include "geometry/projection.h"
#include "io/memory_budget.h"
#include "io/model_file.h"
#include "io/normals.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <vector>

namespace {

#ifndef NDEBUG
bool indicesBelow(const Triangle* triangles, int32_t count, int32_t limit) {
    for (int32_t t = 0; t < count; ++t)
        for (int32_t j = 0; j < 3; ++j)
            if (triangles[t].index[j] < 0 || triangles[t].index[j] >= limit)
                return false;
    return true;
}
#endif

// Render vertices bound per block of the workers: a few hundred microseconds of work, and
// one cold start of a worker's hint per block.
constexpr int64_t bindingBlock = 512;

} // namespace

FaceModel::FaceModel(const Vector3* controlPoints, int32_t K, const Triangle* controlTriangles_,
                     int32_t L, const Vector3* restPositions, const Vector3* restNormals,
                     const TexCoord* texCoords, int32_t N, const Triangle* renderTriangles_,
                     int32_t M, SampleSearch search, WorkerPool& workers) {
    assert(K >= 0 && L >= 0 && N >= 0 && M >= 0);
    assert(L <= maxControlTriangleCount);
    assert(indicesBelow(controlTriangles_, L, K));
    assert(indicesBelow(renderTriangles_, M, N));

    // Control mesh: connectivity, edges, normals.
    controlPointCount = K;
    controlNormals.reset(new Vector3[K]);
    controlTriangleCount = L;
    controlTriangles = copyArray(controlTriangles_, L);
    triangleEdges.reset(new TriangleEdges[L]);
    controlFaceNormals.reset(new Vector3[L]);
    buildEdgeTable(edges, edgeCount, triangleEdges.get(), controlTriangles.get(), L);
    computeFaceNormals(controlFaceNormals.get(), controlPoints, controlTriangles.get(), L);
    computeVertexNormals(controlNormals.get(), K, controlFaceNormals.get(), controlTriangles.get(),
                         L);
    edgeNormals.reset(new Vector3[edgeCount]);
    computeEdgeNormals(edgeNormals.get(), edgeCount, controlFaceNormals.get(), triangleEdges.get(),
                       L);

    // The smooth surface.
    const int32_t subPatchCount = 3 * L;
    for (ArrayHolder<Vector3>* net :
         {&b300, &b210, &b201, &b120, &b030, &b111, &b102, &b021, &b012, &b003})
        net->reset(new Vector3[subPatchCount]);
    buildPatches(controlPoints, controlNormals.get(), edgeNormals.get());
    const Triangle* triangles = controlTriangles.get();
    const TriangleEdges* sides = triangleEdges.get();
    buildCornerLists(pointCorners, K, L,
                     [triangles](int32_t t, int32_t j) { return triangles[t].index[j]; });
    buildCornerLists(edgeCorners, edgeCount, L,
                     [sides](int32_t t, int32_t j) { return edgeIndex(sides[t].edge[j]); });

    // Overlay tessellation and hinting samples, at their fixed levels.
    surfaceVertexCount = tessellationVerticesPerSubPatch * subPatchCount;
    surfacePositions.reset(new Vector3[surfaceVertexCount]);
    surfaceNormals.reset(new Vector3[surfaceVertexCount]);
    surfaceTriangleCount = tessellationTrianglesPerSubPatch * subPatchCount;
    surfaceTriangles.reset(new Triangle[surfaceTriangleCount]);
    sampleCount = samplesPerSubPatch * subPatchCount;
    samplePositions.reset(new Vector3[sampleCount]);
    sampleNormals.reset(new Vector3[sampleCount]);
    sampleParameters.reset(new PatchParameter[samplesPerSubPatch]);
    computeHintingSamples(hintingLevel, workers);

    // Render mesh.
    renderVertexCount = N;
    renderPositions.reset(new Vector3[N]);
    renderNormals.reset(new Vector3[N]);
    renderTexCoords = copyArray(texCoords, N);
    renderTriangleCount = M;
    renderTriangles = copyArray(renderTriangles_, M);
    packedSubPatches.reset(new Lanes4[10 * static_cast<size_t>(subPatchCount)]);
    paddedPositions.reset(new Lanes4[N]);
    normalSums.reset(new Lanes4[N]);
    spanRenderNormalBlocks();

    // Attachments. The samples were computed just above from the same surface, so the
    // binding starts from them instead of computing them a second time.
    attachments.reset(new Attachment[N]);
    // On the workers too: this first touch of the array maps its pages, a tenth of the
    // construction of a large model.
    parallelFor(workers, N, bindingBlock, [&](int64_t begin, int64_t end, int32_t) {
        for (int64_t i = begin; i < end; ++i)
            attachments[i].subPatch = -1;
    });
    bindRenderVertices(restPositions, restNormals, search, workers);
}

void FaceModel::subPatchNet(Vector3* p, int32_t s) const {
    p[0] = b300[s];
    p[1] = b210[s];
    p[2] = b201[s];
    p[3] = b120[s];
    p[4] = b111[s];
    p[5] = b102[s];
    p[6] = b030[s];
    p[7] = b021[s];
    p[8] = b012[s];
    p[9] = b003[s];
}

bool FaceModel::evaluateFrame(Vector3& point, SubPatchFrame& frame, int32_t s, float u,
                              float v) const {
    if (s < 0)
        return false;
    Vector3 p[10];
    subPatchNet(p, s);
    const float w = 1.0f - u - v;
    evaluateSubPatch(point, frame.t1, frame.t2, p, u, v, w);
    frame.n = unitNormal(frame.t1, frame.t2);
    return true;
}

// Sub-patches sampled per block of the workers: about 10 µs of work.
constexpr int64_t samplingBlock = 16;

void FaceModel::computeHintingSamples(int32_t level, WorkerPool& workers) {
    assert(level == hintingLevel);
    parallelFor(workers, 3 * int64_t(controlTriangleCount), samplingBlock,
                [&](int64_t begin, int64_t end, int32_t) {
                    Vector3 p[10];
                    for (int32_t s = int32_t(begin); s < int32_t(end); ++s) {
                        subPatchNet(p, s);
                        sampleCells(&samplePositions[s * samplesPerSubPatch],
                                    &sampleNormals[s * samplesPerSubPatch], 0, p, level);
                    }
                });
    fillParameterGrid(sampleParameters.get(), level);
}

int32_t FaceModel::findNearestSample(float& distance, const Vector3& P, const Vector3& N,
                                     int32_t limit) const {
    float best = std::numeric_limits<float>::infinity();
    int32_t result = -1;
    for (int32_t i = 0; i < sampleCount; ++i) {
        const float d = sampleDistance(P, samplePositions[i]);
        if (d < best && d < maxAttachDistance &&
            sampleNormalAccepted(i, sampleNormals.get(), N, limit, minNormalDot)) {
            best = d;
            result = i;
        }
    }
    distance = best;
    return result;
}

int32_t FaceModel::attachVertex(Attachment& attachment, float& distance, int32_t& hint,
                                const Vector3& P, const Vector3& N,
                                const SampleIndex* index) const {
    // 1. The nearest acceptable sample.
    float best;
    const int32_t sample =
        index ? findNearestSampleIndexed(best, hint, *index, sampleNormals.get(), P, N,
                                         hintingFreeSampleLimit, maxAttachDistance, minNormalDot)
              : findNearestSample(best, P, N, hintingFreeSampleLimit);
    if (sample < 0)
        return -1;

    // 2-4. Project from the sample's parameters; fall back to them when the projection
    // leaves the sub-triangle or ends farther away than the sample.
    const int32_t s = sample / samplesPerSubPatch;
    const PatchParameter start = sampleParameters[sample % samplesPerSubPatch];
    float u = start.u, v = start.v, d;
    Vector3 p[10];
    subPatchNet(p, s);
    projectToSubPatch(u, v, d, P, p);
    if (d * d > best * best || u < 0.0f || v < 0.0f || u + v > 1.0f) {
        u = start.u;
        v = start.v;
        best = std::fabs(d);
    }

    // 5-7. Coordinates of the vertex in the frame at (u, v): D = offset·(t1, t2, n),
    // solved with the cofactors of the frame, each scaled by 1/det.
    Vector3 Q;
    SubPatchFrame f;
    evaluateFrame(Q, f, s, u, v);
    const Vector3 D = P - Q;
    const Vector3 c1 = cross(f.t2, f.n), c2 = cross(f.n, f.t1), c3 = cross(f.t1, f.t2);
    const float det = dot(f.t1, c1);
    const float g = 1.0f / det;
    const float offset[3] = {dot(c1 * g, D), dot(c2 * g, D), dot(c3 * g, D)};

    // A degenerate frame would carry non-finite offsets into every frame: stay unattached.
    if (!isFinite(f.n) || det == 0.0f || !std::isfinite(g) ||
        !isFinite({offset[0], offset[1], offset[2]}))
        return -1;

    attachment.u = u;
    attachment.v = v;
    for (int j = 0; j < 3; ++j)
        attachment.offset[j] = offset[j];
    attachment.normalCoords[0] = dot(f.t1, N);
    attachment.normalCoords[1] = dot(f.t2, N);
    attachment.normalCoords[2] = dot(f.n, N);
    distance = best;
    return s;
}

void FaceModel::computeAttachments(const Vector3* restPositions, const Vector3* restNormals,
                                   SampleSearch search, WorkerPool& workers) {
    computeHintingSamples(hintingLevel, workers);
    bindRenderVertices(restPositions, restNormals, search, workers);
}

void FaceModel::bindRenderVertices(const Vector3* restPositions, const Vector3* restNormals,
                                   SampleSearch search, WorkerPool& workers) {
    if (renderVertexCount == 0)
        return;
    // The index is scratch of this call, built once and read by every worker.
    SampleIndex index;
    const SampleIndex* useIndex = nullptr;
    if (search == SampleSearch::indexed) {
        buildSampleIndex(index, samplePositions.get(), sampleCount, renderVertexCount);
        useIndex = &index;
    }
    std::vector<int32_t> hints(size_t(workers.threadCount), -1);
    parallelFor(
        workers, renderVertexCount, bindingBlock, [&](int64_t begin, int64_t end, int32_t worker) {
            // The hint is kept in a local while the block runs: the workers' hints share a
            // cache line, which one write per vertex would pass to and fro between cores.
            int32_t hint = hints[size_t(worker)];
            for (int32_t i = int32_t(begin); i < int32_t(end); ++i) {
                Attachment& a = attachments[i];
                float distance = 0.0f;
                a = Attachment{};
                a.subPatch =
                    attachVertex(a, distance, hint, restPositions[i], restNormals[i], useIndex);
                a.weight = a.subPatch < 0 ? 0.0f : attachmentWeight(distance / maxAttachDistance);
                a.restPosition = restPositions[i];
                a.restNormal = restNormals[i];
            }
            hints[size_t(worker)] = hint;
        });
}

void buildEdgeTable(ArrayHolder<Edge>& edges, int32_t& edgeCount, TriangleEdges* triangleEdges,
                    const Triangle* controlTriangles, int32_t L) {
    // Edge map from (lower, higher) to the edge index; indices follow first appearance,
    // so a hashed map numbers the edges exactly as an ordered one would.
    std::unordered_map<uint64_t, int32_t> numbers;
    numbers.reserve(static_cast<size_t>(L) * 2);
    int32_t count = 0;
    for (int32_t t = 0; t < L; ++t) {
        const int32_t* i = controlTriangles[t].index;
        for (int32_t j = 0; j < 3; ++j) {
            const int32_t from = i[j], to = i[(j + 1) % 3];
            const uint64_t key =
                (static_cast<uint64_t>(static_cast<uint32_t>(std::min(from, to))) << 32) |
                static_cast<uint32_t>(std::max(from, to));
            const auto inserted = numbers.emplace(key, count);
            if (inserted.second)
                ++count;
            const int32_t e = inserted.first->second;
            triangleEdges[t].edge[j] = to < from ? ~e : e;
        }
    }
    edgeCount = count;
    edges.reset(new Edge[count]);
    for (const auto& entry : numbers)
        edges[entry.second] = {static_cast<int32_t>(entry.first >> 32),
                               static_cast<int32_t>(entry.first & 0xffffffffu)};
}

void computeEdgeNormals(Vector3* normals, int32_t E, const Vector3* faceNormals,
                        const TriangleEdges* triangleEdges, int32_t L) {
    sumFaceNormals(normals, E, faceNormals, L, [triangleEdges](int32_t t, int32_t j) {
        return edgeIndex(triangleEdges[t].edge[j]);
    });
}

uint64_t faceModelBytes(int64_t N, int64_t M, int64_t K, int64_t L) {
    const uint64_t v3 = sizeof(Vector3);
    const uint64_t subPatches = 3 * uint64_t(L);
    const uint64_t samples = uint64_t(samplesPerSubPatch) * subPatches;
    // Per control point: its normal and its corner list's start.
    const uint64_t perK = v3 + sizeof(int64_t);
    // Per control triangle: its copy, edges and face normal; per edge its record and normal;
    // its corners in the point and edge lists, and an edge's list start.
    uint64_t perL = sizeof(Triangle) + sizeof(TriangleEdges) + v3;
    perL += 3 * (sizeof(Edge) + v3);
    perL += 2 * 3 * sizeof(int32_t) + 3 * sizeof(int64_t);
    // The edge table's scratch: a hash node (key, number, link; allocated in 32 bytes) per
    // edge and at most four bucket pointers per triangle.
    perL += 3 * 32 + 4 * sizeof(void*);
    // Per sub-patch: the ten control points, the overlay's vertices (position and normal)
    // and triangles, and the packed copy the update reads (ten points padded to four floats).
    const uint64_t perSubPatch = 10 * v3 + tessellationVerticesPerSubPatch * 2 * v3 +
                                 tessellationTrianglesPerSubPatch * sizeof(Triangle) +
                                 sizeof(float[10][4]);
    // Per sample: position and normal, and the index built over them for the binding (at
    // most 32 bytes a sample with its build scratch: a copy of the point or an index into the
    // samples, sort keys and tree nodes).
    const uint64_t perSample = 2 * v3 + 32;
    // Per render vertex: position, normal, texture coordinate, attachment, and the update's
    // padded position and normal sum (a block's span of triangles is a few bytes per
    // thousand vertices).
    const uint64_t perN = 2 * v3 + sizeof(TexCoord) + sizeof(Attachment) + 2 * sizeof(float[4]);
    // Per render triangle: its copy and the reference update's face normal.
    const uint64_t perM = sizeof(Triangle) + v3;
    return uint64_t(N) * perN + uint64_t(M) * perM + uint64_t(K) * perK + uint64_t(L) * perL +
           subPatches * perSubPatch + samples * perSample;
}

bool faceModelFits(std::string& error, const ModelData& model, const char* fileName,
                   uint64_t availableBytes) {
    const int32_t N = model.renderVertexCount, M = model.renderTriangleCount;
    const int32_t K = model.controlPointCount, L = model.controlTriangleCount;
    if (L > maxControlTriangleCount) {
        error = std::string(fileName) + ": control triangle count: " + std::to_string(L) +
                " is more than the face model can sample (at most " +
                std::to_string(maxControlTriangleCount) + ")";
        return false;
    }
    const uint64_t need = faceModelBytes(N, M, K, L);
    if (need <= availableBytes)
        return true;
    // Name the counts whose share is at least a quarter of the need (one always is).
    struct Share {
        int64_t count;
        const char* one;
        const char* many;
        uint64_t bytes;
    };
    const Share shares[4] = {
        {L, "control triangle", "control triangles", faceModelBytes(0, 0, 0, L)},
        {N, "render vertex", "render vertices", faceModelBytes(N, 0, 0, 0)},
        {M, "render triangle", "render triangles", faceModelBytes(0, M, 0, 0)},
        {K, "control point", "control points", faceModelBytes(0, 0, K, 0)}};
    std::string counts;
    bool plural = false;
    int named = 0;
    for (const Share& share : shares) {
        if (share.bytes * 4 < need)
            continue;
        if (named > 0)
            counts += " and ";
        counts += std::to_string(share.count) + " " + (share.count == 1 ? share.one : share.many);
        plural = plural || named > 0 || share.count != 1;
        ++named;
    }
    error = std::string(fileName) + ": " + counts + (plural ? " need " : " needs ") +
            formatBytes(need) + " for the face model; " + formatBytes(availableBytes) +
            " are available";
    return false;
}

bool loadFaceModel(std::unique_ptr<FaceModel>& faceModel, ArrayHolder<Vector3>& controlPoints,
                   int32_t& controlPointCount, const char* fileName, std::string& error,
                   SampleSearch search, WorkerPool& workers) {
    ModelData model;
    if (!readModelFile(model, fileName, error) || !faceModelFits(error, model, fileName))
        return false;
    std::unique_ptr<FaceModel> created(new FaceModel(
        model.controlPoints.get(), model.controlPointCount, model.controlTriangles.get(),
        model.controlTriangleCount, model.renderPositions.get(), model.renderNormals.get(),
        model.renderTexCoords.get(), model.renderVertexCount, model.renderTriangles.get(),
        model.renderTriangleCount, search, workers));
    faceModel = std::move(created);
    controlPoints = std::move(model.controlPoints);
    controlPointCount = model.controlPointCount;
    // The remaining arrays of the file are released with model.
    return true;
}
