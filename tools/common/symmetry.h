// Left-right symmetry of a control mesh: its plane of symmetry, the pairs of control points
// that are each other's mirror images, and a pose mirrored or split into its halves along
// them. A face faces +z with +y up (face-import places every head so, the default face is
// built so), so the plane is x = c; the face's own left is the side of larger x (on the
// right as one looks at it), as Blender and Maya name the halves of a face.
//
// The pairs tolerate a head that is a little asymmetric: each point is paired with the
// point nearest to its mirror image when that lies within a fraction of the control edges
// there (their mean length at the two points), one to one, the nearest pairs first; a point
// on the plane is its own partner.
#pragma once

#include "face/face_model.h" // Edge
#include "geometry/vector.h"

#include <cstdint>

// A pair is taken when the mirror image of one point lies closer to the other than this
// fraction of the smaller of the two points' mean control edge lengths: half an edge, so that
// a partner is the point where the image falls rather than a neighbour of it, and far above
// the rounding of a symmetric file. face-import's automatic control meshes are not symmetric:
// on them it pairs most points of a head, and a point it leaves alone has no free point
// within half an edge of its image (docs/face-poser.md, symmetry).
constexpr float mirrorPairTolerance = 0.5f;

// The plane of symmetry x = planeX, the partner of every control point and their counts.
struct MirrorPairs {
    float planeX = 0.0f;
    int32_t count = 0;             // K
    ArrayHolder<int32_t> partners; // K: the partner, itself on the plane, −1 for none
    int32_t paired = 0;            // points with a partner (those on the plane included)
    int32_t onPlane = 0;           // points that are their own partner
};

// The mirror image of a point about x = planeX, and of a move (which the plane's place
// does not change). About x = 0 both are exact: x becomes −x.
inline Vector3 mirrorPoint(float planeX, const Vector3& p) {
    return {(planeX + planeX) - p.x, p.y, p.z};
}
inline Vector3 mirrorMove(const Vector3& d) { return {-d.x, d.y, d.z}; }

// Finds the plane and the pairs of points (K, with the control mesh's edges, E): the plane
// starts at the middle of the points' x range and moves to the mean of the pairs' middles
// (the plane found from the points, for a head placed a little off centre; a symmetric mesh
// keeps the middle of its range), then the pairs are found again about it. A point without
// edges is paired with nothing. Writes every field of pairs.
void findMirrorPairs(MirrorPairs& pairs, const Vector3* points, int32_t K, const Edge* edges,
                     int32_t E);

// A pose mirrored: mirrored[partners[i]] = mirrorMove(offsets[i]) for every paired point i
// (K each; the two arrays distinct), zero for a point without a partner. Returns the number
// of moved points without a partner, whose moves are left out.
int32_t mirrorOffsets(Vector3* mirrored, const Vector3* offsets, const int32_t* partners,
                      int32_t K);

// A pose split into its halves (K each): a point on the face's left (x larger than its
// partner's, or than planeX for one without a partner) keeps its whole move in left and
// none in right, one on the right the other way round, and a point on the plane (its own
// partner, or without one at exactly planeX) half of it in each. left + right is offsets
// exactly. points are the positions that decide the sides (the rest positions).
void splitOffsets(Vector3* left, Vector3* right, const Vector3* offsets, const Vector3* points,
                  const MirrorPairs& pairs);
