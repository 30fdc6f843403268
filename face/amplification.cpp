#include "face/amplification.h"

#include "face/face_model.h"
#include "geometry/lanes.h"
#include "io/normals.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Offsets of a compressed list per item: item i's entries are entries[first[i] ..
// first[i + 1] − 1], in the order they were counted.
struct Lists {
    std::vector<int32_t> first, entries;
};

// Lists from (item, entry) pairs given twice by visit: once to count, once to fill.
template <class Visit> void buildLists(Lists& lists, int32_t itemCount, Visit visit) {
    lists.first.assign(size_t(itemCount) + 1, 0);
    visit([&](int32_t item, int32_t) { ++lists.first[size_t(item) + 1]; });
    for (int32_t i = 0; i < itemCount; ++i)
        lists.first[size_t(i) + 1] += lists.first[size_t(i)];
    lists.entries.resize(size_t(lists.first[size_t(itemCount)]));
    std::vector<int32_t> next(lists.first.begin(), lists.first.end() - 1);
    visit(
        [&](int32_t item, int32_t entry) { lists.entries[size_t(next[size_t(item)]++)] = entry; });
}

// The normals of the update from controlPoints: face normals (L), control normals (K),
// edge normals (E), each a sum in triangle order as computeVertexNormals and
// computeEdgeNormals make it.
struct ControlNormals {
    std::vector<Vector3> face, vertex, edge;
};

// The sum of the face normals listed (in their order), scaled as the update scales it.
Vector3 normalOfSum(const int32_t* triangles, int32_t count, const std::vector<Vector3>& face) {
    Vector3 sum = {0.0f, 0.0f, 0.0f};
    for (int32_t j = 0; j < count; ++j)
        sum = sum + face[size_t(triangles[j])];
    return normalizedSum(sum);
}

// The nets of triangle t's three sub-patches, in lanes as the update builds them.
void buildTriangleNets(Lanes4 nets[3][10], const FaceModel& model, int32_t t, const Vector3* points,
                       const ControlNormals& normals) {
    const int32_t* i = model.controlTriangles[t].index;
    const EdgeRef* r = model.triangleEdges[t].edge;
    Lanes4 P[3], N[3], M[3];
    for (int k = 0; k < 3; ++k) {
        load(P[k], points[i[k]]);
        load(N[k], normals.vertex[size_t(i[k])]);
        load(M[k], normals.edge[size_t(edgeIndex(r[k]))]);
    }
    PatchPointsOf<Lanes4> q;
    buildTrianglePatches(q, P[0], N[0], P[1], N[1], P[2], N[2], M[0], M[1], M[2]);
    subPatchNets(nets, q, P);
}

// The attached vertices' attachments in lanes of four (Points4), each field in its own
// array: the parameters (w = 1 − u − v, as placedPosition takes it), the weight, the
// offsets, the loaded position and the position placed on the rest pose's surface. Each
// array has three floats more than vertices, so that four are always read.
struct AttachedLanes {
    std::vector<float> u, v, w, weight, o1, o2, o3, loaded[3], placed[3];

    void resize(size_t count) {
        for (std::vector<float>* f : {&u, &v, &w, &weight, &o1, &o2, &o3})
            f->assign(count + 3, 0.0f);
        for (int c = 0; c < 3; ++c) {
            loaded[c].assign(count + 3, 0.0f);
            placed[c].assign(count + 3, 0.0f);
        }
    }
    void set(size_t j, const Attachment& a, const Vector3& at) {
        u[j] = a.u;
        v[j] = a.v;
        w[j] = 1.0f - a.u - a.v;
        weight[j] = a.weight;
        o1[j] = a.offset[0];
        o2[j] = a.offset[1];
        o3[j] = a.offset[2];
        for (int c = 0; c < 3; ++c) {
            loaded[c][j] = (&a.restPosition.x)[c];
            placed[c][j] = (&at.x)[c];
        }
    }
};

inline Float4 fourFrom(const std::vector<float>& f, size_t j) {
    Float4 four;
    std::memcpy(&four, &f[j], sizeof four);
    return four;
}

// How far the attached vertices j to j + 3 move, divided by step, placed on the sub-patch
// whose net (broadcast to every lane) is net: each lane as placedPosition and the distance
// from its rest placement compute it for one vertex.
inline __attribute__((always_inline)) void movesOfFour(Float4& moves, const AttachedLanes& a,
                                                       size_t j, const Points4* net, float step) {
    Points4 Q, t1, t2;
    evaluateSubPatch(Q, t1, t2, net, fourFrom(a.u, j), fourFrom(a.v, j), fourFrom(a.w, j));
    const Points4 loaded = {fourFrom(a.loaded[0], j), fourFrom(a.loaded[1], j),
                            fourFrom(a.loaded[2], j)};
    const Points4 placed = {fourFrom(a.placed[0], j), fourFrom(a.placed[1], j),
                            fourFrom(a.placed[2], j)};
    const Points4 d =
        blendedPosition(loaded, fourFrom(a.weight, j), fourFrom(a.o1, j), fourFrom(a.o2, j),
                        fourFrom(a.o3, j), Q, t1, t2, unitNormal(t1, t2)) -
        placed;
    moves = squareRoot(dot(d, d)) / step;
}

} // namespace

// Control points moved per block of the workers.
constexpr int64_t amplificationBlock = 4;

void computeAmplification(float* amplification, int32_t* worstControlPoint, const FaceModel& model,
                          const Vector3* controlPoints, float step, WorkerPool& workers) {
    const int32_t K = model.controlPointCount, L = model.controlTriangleCount;
    const int32_t E = model.edgeCount, N = model.renderVertexCount;
    const Triangle* triangles = model.controlTriangles.get();

    // Who touches whom: each point's triangles (once per corner it fills, as the normal sums
    // count them), each edge's triangles, each sub-patch's attached render vertices.
    Lists pointTriangles, edgeTriangles, subPatchVertices;
    buildLists(pointTriangles, K, [&](auto add) {
        for (int32_t t = 0; t < L; ++t)
            for (int k = 0; k < 3; ++k)
                add(triangles[t].index[k], t);
    });
    buildLists(edgeTriangles, E, [&](auto add) {
        for (int32_t t = 0; t < L; ++t)
            for (int k = 0; k < 3; ++k)
                add(edgeIndex(model.triangleEdges[t].edge[k]), t);
    });
    buildLists(subPatchVertices, 3 * L, [&](auto add) {
        for (int32_t i = 0; i < N; ++i)
            if (model.attachments[i].subPatch >= 0)
                add(model.attachments[i].subPatch, i);
    });
    const auto normalOf = [](const Lists& lists, int32_t item, const std::vector<Vector3>& face) {
        const size_t first = size_t(lists.first[size_t(item)]);
        return normalOfSum(&lists.entries[first], lists.first[size_t(item) + 1] - int32_t(first),
                           face);
    };

    // The rest pose: normals, nets, and the attached vertices' positions, which are kept in
    // sub-patch order (with their attachments) so that each rebuilt sub-patch reads one run.
    ControlNormals normals;
    normals.face.resize(size_t(L));
    computeFaceNormals(normals.face.data(), controlPoints, triangles, L);
    normals.vertex.resize(size_t(K));
    for (int32_t p = 0; p < K; ++p)
        normals.vertex[size_t(p)] = normalOf(pointTriangles, p, normals.face);
    normals.edge.resize(size_t(E));
    for (int32_t e = 0; e < E; ++e)
        normals.edge[size_t(e)] = normalOf(edgeTriangles, e, normals.face);
    const size_t attachedCount = subPatchVertices.entries.size();
    AttachedLanes attached;
    attached.resize(attachedCount);
    Lanes4 restNets[3][10];
    for (int32_t t = 0; t < L; ++t) {
        if (subPatchVertices.first[size_t(3 * t)] == subPatchVertices.first[size_t(3 * t + 3)])
            continue;
        buildTriangleNets(restNets, model, t, controlPoints, normals);
        for (int32_t j = subPatchVertices.first[size_t(3 * t)];
             j < subPatchVertices.first[size_t(3 * t + 3)]; ++j) {
            const Attachment& a = model.attachments[subPatchVertices.entries[size_t(j)]];
            Vector3 placed;
            store(placed, placedPosition(a, restNets[a.subPatch - 3 * t]));
            attached.set(size_t(j), a, placed);
        }
    }

    // One control point moved at a time, along each axis; the control points in blocks on
    // the workers, each worker with its own moved pose and its own largest moves. A worker
    // takes its blocks in increasing order, so its strict "larger than" keeps, for each
    // vertex, the lowest control point of its own that reaches its largest move; merged
    // below, lowest point first on equal moves, that is the one-thread answer.
    struct WorkerScratch {
        std::vector<Vector3> points;
        ControlNormals moved;
        std::vector<int32_t> ring, around, edgesAround;
        std::vector<uint8_t> marked;
        std::vector<float> largest;
        std::vector<int32_t> worst;
    };
    int32_t mostCorners = 0;
    for (int32_t c = 0; c < K; ++c)
        mostCorners = std::max(mostCorners, pointTriangles.first[size_t(c) + 1] -
                                                pointTriangles.first[size_t(c)]);
    std::vector<WorkerScratch> scratch(size_t(workers.threadCount));
    for (WorkerScratch& w : scratch) {
        // Sized for the largest neighbourhood, so that no block allocates.
        w.points.assign(controlPoints, controlPoints + K);
        w.moved = normals;
        w.ring.reserve(3 * size_t(mostCorners));
        w.edgesAround.reserve(3 * size_t(mostCorners));
        w.around.reserve(size_t(L));
        w.marked.assign(size_t(std::max(K, L)), 0);
        w.largest.assign(attachedCount, 0.0f);
        w.worst.assign(attachedCount, -1);
    }
    parallelFor(workers, K, amplificationBlock, [&](int64_t begin, int64_t end, int32_t worker) {
        WorkerScratch& w = scratch[size_t(worker)];
        std::vector<Vector3>& points = w.points;
        ControlNormals& moved = w.moved;
        std::vector<int32_t>&ring = w.ring, &around = w.around, &edgesAround = w.edgesAround;
        std::vector<uint8_t>& marked = w.marked;
        std::vector<float>& largest = w.largest;
        std::vector<int32_t>& worst = w.worst;
        Lanes4 nets[3][10];
        for (int32_t c = int32_t(begin); c < int32_t(end); ++c) {
            // The triangles around c change their face normals; the normals of their corners
            // and of their edges change; every triangle around one of those corners gets new
            // sub-patches.
            const int32_t* own = &pointTriangles.entries[size_t(pointTriangles.first[size_t(c)])];
            const int32_t ownCount =
                pointTriangles.first[size_t(c) + 1] - pointTriangles.first[size_t(c)];
            ring.clear();
            edgesAround.clear();
            for (int32_t j = 0; j < ownCount; ++j)
                for (int k = 0; k < 3; ++k) {
                    const int32_t p = triangles[own[j]].index[k];
                    if (!marked[size_t(p)]) {
                        marked[size_t(p)] = 1;
                        ring.push_back(p);
                    }
                    edgesAround.push_back(edgeIndex(model.triangleEdges[own[j]].edge[k]));
                }
            for (int32_t p : ring)
                marked[size_t(p)] = 0;
            around.clear();
            for (int32_t p : ring)
                for (int32_t j = pointTriangles.first[size_t(p)];
                     j < pointTriangles.first[size_t(p) + 1]; ++j) {
                    const int32_t t = pointTriangles.entries[size_t(j)];
                    if (!marked[size_t(t)]) {
                        marked[size_t(t)] = 1;
                        around.push_back(t);
                    }
                }
            for (int32_t t : around)
                marked[size_t(t)] = 0;

            for (int axis = 0; axis < 3; ++axis) {
                Vector3 delta = {0.0f, 0.0f, 0.0f};
                (&delta.x)[axis] = step;
                points[size_t(c)] = controlPoints[c] + delta;
                for (int32_t j = 0; j < ownCount; ++j) {
                    const int32_t* i = triangles[own[j]].index;
                    moved.face[size_t(own[j])] = cross(points[size_t(i[1])] - points[size_t(i[0])],
                                                       points[size_t(i[2])] - points[size_t(i[0])]);
                }
                for (int32_t p : ring)
                    moved.vertex[size_t(p)] = normalOf(pointTriangles, p, moved.face);
                for (int32_t e : edgesAround)
                    moved.edge[size_t(e)] = normalOf(edgeTriangles, e, moved.face);
                for (int32_t t : around) {
                    // A triangle none of whose sub-patches holds a vertex moves nothing.
                    if (subPatchVertices.first[size_t(3 * t)] ==
                        subPatchVertices.first[size_t(3 * t + 3)])
                        continue;
                    buildTriangleNets(nets, model, t, points.data(), moved);
                    for (int k = 0; k < 3; ++k) {
                        const int32_t first = subPatchVertices.first[size_t(3 * t + k)];
                        const int32_t last = subPatchVertices.first[size_t(3 * t + k + 1)];
                        if (first == last)
                            continue;
                        Points4 net[10];
                        for (int q = 0; q < 10; ++q)
                            load(net[q], nets[k][q]);
                        for (int32_t j = first; j < last; j += 4) {
                            Float4 moves;
                            movesOfFour(moves, attached, size_t(j), net, step);
                            for (int32_t l = 0; l < std::min(4, last - j); ++l) {
                                // A broken sub-patch (NaN) counts as an infinite move.
                                const float value = std::isnan(moves[l])
                                                        ? std::numeric_limits<float>::infinity()
                                                        : moves[l];
                                if (value > largest[size_t(j + l)]) {
                                    largest[size_t(j + l)] = value;
                                    worst[size_t(j + l)] = c;
                                }
                            }
                        }
                    }
                }
            }
            // Back to the rest pose.
            points[size_t(c)] = controlPoints[c];
            for (int32_t j = 0; j < ownCount; ++j)
                moved.face[size_t(own[j])] = normals.face[size_t(own[j])];
            for (int32_t p : ring)
                moved.vertex[size_t(p)] = normals.vertex[size_t(p)];
            for (int32_t e : edgesAround)
                moved.edge[size_t(e)] = normals.edge[size_t(e)];
        }
    });
    std::vector<float> largest(attachedCount, 0.0f);
    std::vector<int32_t> worst(attachedCount, -1);
    for (const WorkerScratch& w : scratch)
        for (size_t j = 0; j < attachedCount; ++j)
            if (w.largest[j] > largest[j] ||
                (w.largest[j] == largest[j] && w.worst[j] >= 0 && w.worst[j] < worst[j])) {
                largest[j] = w.largest[j];
                worst[j] = w.worst[j];
            }

    for (int32_t i = 0; i < N; ++i) {
        amplification[i] = 0.0f;
        if (worstControlPoint)
            worstControlPoint[i] = -1;
    }
    for (size_t j = 0; j < attachedCount; ++j) {
        const int32_t i = subPatchVertices.entries[j];
        amplification[i] = largest[j];
        if (worstControlPoint)
            worstControlPoint[i] = worst[j];
    }
}

AmplificationSummary summarizeAmplification(const float* amplification,
                                            const int32_t* worstControlPoint, int32_t N) {
    AmplificationSummary summary;
    for (int32_t i = 0; i < N; ++i) {
        const float a = amplification[i];
        if (a > summary.largest) {
            summary.largest = a;
            summary.renderVertex = i;
            summary.controlPoint = worstControlPoint[i];
        }
        summary.aboveOneAndHalf += a > 1.5f;
        summary.aboveThree += a > 3.0f;
    }
    return summary;
}
