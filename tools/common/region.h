// A region of the control mesh around one point: every point within a radius of it along the
// mesh's edges, weighted by a smooth falloff, and the moves of a drag of that region, mirrored
// to the other side of the face or not. Distances run over the edges, not through space, so
// the upper lip's region stops at the mouth's opening and does not reach the lower lip
// across it (nor an eyelid the other one).
#pragma once

#include "face/face_model.h" // Edge
#include "geometry/vector.h"

#include <cstdint>

// The falloff at distance d of a region of radius r > 0: 1 at the centre, 0 from r on, and
// smooth at both ends (t²(3 − 2t) of t = 1 − d / r, Blender's "smooth" proportional falloff).
float regionFalloff(float distance, float radius);

// weights[i] (K) = regionFalloff of point i's distance from centre over the edges (E) of
// the mesh through points (K), the shortest path's edge lengths summed (Dijkstra). Radius 0
// (or less) gives centre alone weight 1. Returns the number of points with weight above 0.
int32_t regionWeights(float* weights, const Vector3* points, int32_t K, const Edge* edges,
                      int32_t E, int32_t centre, float radius);

// The move of every point (K) when point picked of a region (weights, K, from
// regionWeights around picked) is dragged by delta. Without mirroring (partners null) a point
// moves by its weight times delta. With mirroring (partners: K, as MirrorPairs holds them),
// the region has a mirror image about the partners, point i weighted there as its partner
// is in the region, and each point takes the move of the image it belongs to more: weight
// times delta in the region, the mirrored move mirrorMove(delta) in its image, and the move's
// part along the plane, (delta + mirrorMove(delta)) / 2, where both weigh it equally (a point
// on the plane). A picked point on the plane moves along it. The moves are those of a
// symmetric edit: each point's is the mirror of its partner's.
void regionMoves(Vector3* moves, const float* weights, const int32_t* partners, int32_t K,
                 int32_t picked, const Vector3& delta);
