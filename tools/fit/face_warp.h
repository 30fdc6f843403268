// The warp of a fit: a smooth map W of space, defined for any point near the face, as a
// deformation graph (Sumner, Schmid and Pauly, "Embedded deformation for shape
// manipulation", 2007): nodes spread over the default face, each with an affine transform,
// and every point carried by the transforms of its nearest nodes, blended by weights that
// fall to zero at the next node out (so the map is continuous everywhere).
//
// W(p) = Σ_j w_j(p) · (g_j + t_j + A_j (p − g_j)) over the warpNeighbours nodes j nearest
// p, with w_j = (1 − |p − g_j| / d)², d the distance of the next nearest node, the weights
// scaled to sum to 1. Every transform the identity (A_j = I, t_j = 0) gives W(p) = p.
// Computed in double; a point is rounded to float once, at the end.
#pragma once

#include "face/workers.h"
#include "geometry/vector.h"

#include <cstdint>
#include <vector>

// The nodes that carry a point.
constexpr int32_t warpNeighbours = 4;

struct FaceWarp {
    std::vector<Vector3> nodes; // n: node positions g_j
    // 12n: per node the rows of A_j (row-major, 9 values) then t_j (3 values).
    std::vector<double> transforms;
    float spacing = 0.0f; // no two nodes closer than this
};

// The nodes that carry one point and their weights (summing to 1).
struct NodeWeights {
    int32_t node[warpNeighbours];
    double weight[warpNeighbours];
};

// Nodes spread over points (count): each point in order becomes a node unless one lies
// closer than spacing (> 0); their transforms the identity.
void spreadWarpNodes(FaceWarp& warp, const Vector3* points, int32_t count, float spacing);

// Adds the mirror image (x negated) of every node off the plane x = 0 (those with x > 0),
// transforms the identity: nodes spread over one half of a face symmetric about x = 0 (the
// points on the other half skipped, those within half the spacing of the plane put on it)
// become a layout as symmetric as the face, so that a fit to a symmetric head is symmetric.
void mirrorWarpNodes(FaceWarp& warp);

// The nodes and weights of points[0..count−1] into weights (count), in blocks on the
// workers. Needs at least warpNeighbours + 1 nodes (asserted).
void findNodeWeights(NodeWeights* weights, const FaceWarp& warp, const Vector3* points,
                     int32_t count, WorkerPool& workers = sharedWorkers());

// W at points[0..count−1] into warped (count; may be points itself), in blocks on the
// workers.
void warpPoints(Vector3* warped, const FaceWarp& warp, const Vector3* points, int32_t count,
                WorkerPool& workers = sharedWorkers());

// W at point p with its nodes and weights as findNodeWeights gives them for p.
Vector3 warpPoint(const FaceWarp& warp, const NodeWeights& weights, const Vector3& p);

// The pairs of nodes tied by the fit's smoothness: each node with its warpGraphNeighbours
// nearest others, each pair once (the lower node first), in increasing order.
constexpr int32_t warpGraphNeighbours = 6;
struct NodePair {
    int32_t a, b;
};
void findNodePairs(std::vector<NodePair>& pairs, const FaceWarp& warp);
