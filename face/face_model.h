// The deformable face: a coarse control mesh whose smooth surface (three cubic Bézier
// sub-patches per control triangle) carries a finer textured render mesh.
//
// The face model owns every array below; the control points belong to the application,
// which lends them to buildPatches, update and draw. Construction builds the edge table,
// the control and edge normals, all sub-patches, the hinting samples, and attaches every
// render vertex within reach of the surface (face/attachments.h documents the binding).
//
// Sub-patch s = 3t + k belongs to control triangle t = (i0, i1, i2) and lies over the
// control points i(k), i((k+1) mod 3) and the triangle's split point. Entry s of the ten
// arrays b300 .. b003 holds its ten control points, named by their monomials in the
// barycentric weights (a at corner i(k), b at corner i(k+1), c at the split point). The
// declared order puts b030 fifth; evaluation takes them in net order b300, b210, b201,
// b120, b111, b102, b030, b021, b012, b003 (subPatchNet).
#pragma once

#include "face/attachments.h"
#include "face/workers.h"
#include "geometry/grid.h"
#include "geometry/vector.h"
#include "io/memory_budget.h"
#include "io/normals.h"

#include <cstdint>
#include <memory>
#include <string>

struct SampleIndex; // face/sample_index.h

// One control-mesh edge: its two vertex indices, the lower first.
struct Edge {
    int32_t a, b;
};

// An edge met by a triangle side: r ≥ 0 names edge r run from its lower to its higher
// vertex; a negative r is ~e (−e − 1), edge e run from the higher to the lower vertex.
using EdgeRef = int32_t;
inline int32_t edgeIndex(EdgeRef r) { return r >= 0 ? r : ~r; }

// The edges of the sides i0→i1, i1→i2, i2→i0 of one control triangle.
struct TriangleEdges {
    EdgeRef edge[3];
};

// Which nearest-sample search binds the render vertices. Both give identical attachments;
// the exhaustive one compares every vertex with every sample and serves as the reference.
enum class SampleSearch { indexed, exhaustive };

// Overlay tessellation level and its per-sub-patch sizes.
constexpr int32_t tessellationLevel = 5;
constexpr int32_t tessellationVerticesPerSubPatch = gridVertexCount(tessellationLevel);
constexpr int32_t tessellationTrianglesPerSubPatch = gridTriangleCount(tessellationLevel);

// Render vertices whose normals one worker sums in the update on several threads.
constexpr int32_t renderNormalBlock = 8192;

// Largest control triangle count whose sample count 198·L fits a 32-bit count.
constexpr int32_t maxControlTriangleCount = INT32_MAX / (3 * samplesPerSubPatch);

class FaceModel {
  public:
    // Builds the face model from the ten values of a model file (io/model_file.h):
    // controlPoints (K), controlTriangles (L, indices below K), restPositions and
    // restNormals (N), texCoords (N), renderTriangles (M, indices below N). Copies the
    // triangles and texture coordinates; reads the points and normals during construction
    // only. Counts must be non-negative, indices in range and L at most
    // maxControlTriangleCount (asserted: the model reader and loadFaceModel refuse anything
    // else). Every render vertex is bound through the given search (both give the same
    // result); the samples and the binding run on the workers (the same result with any
    // thread count).
    FaceModel(const Vector3* controlPoints, int32_t K, const Triangle* controlTriangles, int32_t L,
              const Vector3* restPositions, const Vector3* restNormals, const TexCoord* texCoords,
              int32_t N, const Triangle* renderTriangles, int32_t M,
              SampleSearch search = SampleSearch::indexed, WorkerPool& workers = sharedWorkers());
    FaceModel(const FaceModel&) = delete;
    FaceModel& operator=(const FaceModel&) = delete;

    // Rebuilds all 3L sub-patches (the ten arrays) from controlPoints (K), controlNormals
    // (K) and edgeNormals (E) with buildTrianglePatches, triangle by triangle.
    void buildPatches(const Vector3* controlPoints, const Vector3* controlNormals,
                      const Vector3* edgeNormals);

    // The ten control points of sub-patch s (0 ≤ s < 3L) into p[0..9], in net order.
    void subPatchNet(Vector3* p, int32_t s) const;

    // Surface point and frame of sub-patch s at (u, v, 1 − u − v) (evaluateSubPatch, with
    // n = (t1 × t2) / |t1 × t2|). Writes nothing and returns false when s < 0.
    bool evaluateFrame(Vector3& point, SubPatchFrame& frame, int32_t s, float u, float v) const;

    // Fills samplePositions and sampleNormals (66 per sub-patch, sampleCells of each
    // sub-patch in order) and sampleParameters (fillParameterGrid). level must be
    // hintingLevel, the level the arrays are sized for. Sub-patches in blocks on the workers.
    void computeHintingSamples(int32_t level, WorkerPool& workers = sharedWorkers());

    // The exhaustive nearest-sample search: among samples i with |P − sample i| < 0.5 and,
    // for i ≥ freeSampleLimit, sampleNormals[i]·N > 0.25, the nearest, ties to the lowest
    // index. Returns its index and its distance, or −1 and +∞ when none qualifies.
    int32_t findNearestSample(float& distance, const Vector3& P, const Vector3& N,
                              int32_t freeSampleLimit) const;

    // Attaches one render vertex (rest position P, rest normal N): nearest sample (through
    // index, starting from the point hint and recording its answer there for the next
    // query, or exhaustively when index is null), projection onto its sub-patch from the
    // sample's parameters, fallback to those parameters when the projection leaves the
    // sub-triangle or lands farther than the sample, then the vertex's coordinates in the
    // frame there. Returns the sub-patch and writes attachment.u, v, offset, normalCoords
    // and distance; returns −1 (writing nothing) when no sample qualifies or when the frame
    // at the attachment point is degenerate (t1 × t2 or the determinant zero or not finite).
    int32_t attachVertex(Attachment& attachment, float& distance, int32_t& hint, const Vector3& P,
                         const Vector3& N, const SampleIndex* index) const;

    // Recomputes the hinting samples and binds every render vertex i from restPositions[i]
    // and restNormals[i] (N each) into attachments[i]: sub-patch, weight
    // attachmentWeight(distance / 0.5) (0 when unattached), rest position and normal. The
    // index is built once; the vertices are bound in blocks on the workers, each worker
    // with its own start hint (which never changes a result).
    void computeAttachments(const Vector3* restPositions, const Vector3* restNormals,
                            SampleSearch search = SampleSearch::indexed,
                            WorkerPool& workers = sharedWorkers());

    // Per-frame deformation from controlPoints (K): control, edge and face normals, all
    // sub-patches, then positions[i] (N) from attachment i and normals[i] (N) from the
    // moved mesh. positions and normals are this model's renderPositions and renderNormals.
    // The sub-patches are built, the vertices placed and the render normals accumulated
    // with x, y and z in the lanes of a vector register, from the same source as
    // updateReference, so the results are identical. With more than one thread every step
    // runs in blocks on the workers, and each normal (control, edge, render) is summed
    // item by item over its corner list, in the triangle order of the one-thread sums:
    // the same bits with any thread count.
    void update(Vector3* positions, Vector3* normals, const Vector3* controlPoints,
                WorkerPool& workers = sharedWorkers());

    // The same update, every value computed in the documented operation order: normals
    // by computeFaceNormals, computeVertexNormals, computeEdgeNormals; each attached
    // vertex at (1 − w)·rest + w·(Q + o1·t1 + o2·t2 + o3·n) from evaluateFrame; unattached
    // vertices at rest; render normals by computeMeshNormals.
    void updateReference(Vector3* positions, Vector3* normals, const Vector3* controlPoints);

    // Overlay tessellation at the given level (tessellationLevel, for which the arrays are
    // sized): sampleGrid of every sub-patch s into surfacePositions and surfaceNormals from
    // s·21 on, and its gridTriangles from entry s·25 on, from the current sub-patches.
    void tessellateSurface(int32_t level);

    // Updates from controlPoints (K) and draws the textured mesh and the overlays chosen by
    // drawFlags (bit 1 control mesh, 2 attachments, 4 hinting samples). Defined with the
    // drawing code (draw/face_draw.cpp); needs a current GL context.
    void draw(const Vector3* controlPoints, uint32_t drawFlags);

    // Members in this order: counts and the arrays they count. All arrays are allocated
    // once at construction with exactly the stated number of entries.
    int32_t controlPointCount = 0;            // K
    ArrayHolder<Vector3> controlNormals;      // K, unit normal per control point
    int32_t edgeCount = 0;                    // E, distinct control-mesh edges
    ArrayHolder<Edge> edges;                  // E, in order of first appearance
    ArrayHolder<Vector3> edgeNormals;         // E, unit normal per edge
    int32_t controlTriangleCount = 0;         // L
    ArrayHolder<Triangle> controlTriangles;   // L, copy, in file order
    ArrayHolder<TriangleEdges> triangleEdges; // L
    ArrayHolder<Vector3> controlFaceNormals;  // L, unnormalised
    // The ten control points of every sub-patch, 3L each.
    ArrayHolder<Vector3> b300, b210, b201, b120, b030, b111, b102, b021, b012, b003;
    int32_t renderVertexCount = 0;                // N
    ArrayHolder<Vector3> renderPositions;         // N, written by every update
    ArrayHolder<Vector3> renderNormals;           // N, written by every update
    ArrayHolder<TexCoord> renderTexCoords;        // N, copy
    int32_t renderTriangleCount = 0;              // M
    ArrayHolder<Triangle> renderTriangles;        // M, copy
    ArrayHolder<Attachment> attachments;          // N
    int32_t surfaceVertexCount = 0;               // 63·L
    ArrayHolder<Vector3> surfacePositions;        // 63·L
    ArrayHolder<Vector3> surfaceNormals;          // 63·L
    int32_t surfaceTriangleCount = 0;             // 75·L
    ArrayHolder<Triangle> surfaceTriangles;       // 75·L
    int32_t sampleCount = 0;                      // 198·L
    ArrayHolder<Vector3> samplePositions;         // 198·L, rest pose
    ArrayHolder<Vector3> sampleNormals;           // 198·L, unit, rest pose
    ArrayHolder<PatchParameter> sampleParameters; // 66, (u, v) within one sub-patch

  private:
    // Binds every render vertex from the current samples (computeAttachments without
    // recomputing them).
    void bindRenderVertices(const Vector3* restPositions, const Vector3* restNormals,
                            SampleSearch search, WorkerPool& workers);
    // The control-mesh normals of the update's first steps.
    void updateControlNormals(const Vector3* controlPoints);

    // buildPatches with lane type V (Vector3 or Lanes4: the same bits); with Lanes4 it
    // also stores the ten points of every sub-patch s in net order into
    // packed[10s .. 10s + 9].
    // The triangles [begin, end) only.
    template <class V>
    void buildPatchesIn(const Vector3* controlPoints, const Vector3* controlNormals,
                        const Vector3* edgeNormals, Lanes4* packed, int32_t begin, int32_t end);
    // The update on more than one thread.
    void updateOnWorkers(Vector3* positions, Vector3* normals, const Vector3* controlPoints,
                         WorkerPool& workers);

    // Per-frame scratch of update, allocated at construction, in lanes for aligned vector
    // loads: every sub-patch's net (10 per sub-patch), the new render positions (N) and
    // the render normals' running sums (N).
    ArrayHolder<Lanes4> packedSubPatches;
    ArrayHolder<Lanes4> paddedPositions;
    ArrayHolder<Lanes4> normalSums;
    // For the update on several threads: the corners of each control point (K) and of each
    // edge (E); for every block of renderNormalBlock render vertices the triangles
    // [first, last) that hold all its corners (two entries a block), and whether those
    // spans together stay within 2M triangles (so that the blocks are summed apart).
    CornerLists pointCorners, edgeCorners;
    ArrayHolder<int32_t> renderNormalSpans;
    bool renderNormalBlocksLocal = false;
    // Fills renderNormalSpans and renderNormalBlocksLocal from the render triangles.
    void spanRenderNormalBlocks();
};

// Numbers the edges of the control triangles (L) in order of first appearance (triangles
// in order, sides i0→i1, i1→i2, i2→i0). Allocates edges (E entries), sets edgeCount and
// writes triangleEdges[0..L−1] (caller-allocated): e for a side running upwards (or with
// equal indices), ~e for one running downwards.
void buildEdgeTable(ArrayHolder<Edge>& edges, int32_t& edgeCount, TriangleEdges* triangleEdges,
                    const Triangle* controlTriangles, int32_t L);

// normals[0..E−1]: zero, plus faceNormals[t] for every edge of every triangle t (L), then
// scaled by 1/length where the length exceeds 2^−23.
void computeEdgeNormals(Vector3* normals, int32_t E, const Vector3* faceNormals,
                        const TriangleEdges* triangleEdges, int32_t L);

struct ModelData; // io/model_file.h

// Bytes the face model built from N render vertices, M render triangles, K control points
// and L control triangles takes at its peak: all its arrays (with 3L as the bound of the
// edge count E), the sample index and edge table built during construction, and the update's
// scratch (the packed sub-patches, padded positions, normal sums, the reference update's
// face normals, and the control mesh's corner lists of the update on several threads).
uint64_t faceModelBytes(int64_t N, int64_t M, int64_t K, int64_t L);

// Whether the face model can be built from a model read from fileName within availableBytes
// (by default the memory available to the process, io/memory_budget.h):
// its control triangle count must be at most maxControlTriangleCount, and faceModelBytes at
// most availableBytes. If not, returns false with one line in error naming the file, the
// count and the limit, or the counts and the bytes, for instance
//   data/retarget.model: 1000000 control triangles need 12.4 GB for the face model; 3.1 GB
//   are available
// (the counts named are those whose arrays take at least a quarter of the need).
bool faceModelFits(std::string& error, const ModelData& model, const char* fileName,
                   uint64_t availableBytes = availableMemoryBytes());

// Reads the model file and builds a new face model from it. On success replaces the
// caller's face model (destroying the old one), stores the control points (K) into
// controlPoints and K into controlPointCount, and returns true. On a bad file returns
// false with the reader's one-line message (or faceModelFits', against the memory available
// to the process) in error and changes nothing else.
bool loadFaceModel(std::unique_ptr<FaceModel>& faceModel, ArrayHolder<Vector3>& controlPoints,
                   int32_t& controlPointCount, const char* fileName, std::string& error,
                   SampleSearch search = SampleSearch::indexed,
                   WorkerPool& workers = sharedWorkers());
