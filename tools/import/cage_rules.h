// face-import's control mesh and the rules it keeps: the record every step of making or
// fitting one passes around, the faults that break a rule and how they are found.
#pragma once

#include "geometry/vector.h"

#include <cstdint>
#include <vector>

struct ControlCage {
    std::vector<Vector3> points;     // K
    std::vector<Triangle> triangles; // L, counter-clockwise seen from outside
};

// The rules of a control mesh, and the fault that breaks each. A triangle's quality is
// 4·√3·area / (sum of its squared sides): 1 for an equilateral triangle, 0 for a degenerate
// one; minTriangleQuality 0.2 is a triangle whose smallest angle is about 12° or whose
// largest is about 160°. Below it the Clough–Tocher sub-triangles turn to slivers whose
// tangents run nearly parallel (the binding's amplification reached 5 to 7 on such
// triangles of the Mr. Fixit head).
constexpr float minTriangleQuality = 0.2f;
// Two triangles on an edge fold over when their normals are more than 120° apart: the
// edge normal, their sum, shrinks to half a unit normal and swings with every small move.
constexpr float foldCosine = -0.5f;
// Every triangle faces the same side as the normals at its corners (the sum of the face
// normals around each point): a triangle whose normal is 87° or more from a corner's
// normal has turned against the point's fan, and where the fan's normals cancel the
// corner normal is not defined at all.
constexpr float minCornerCosine = 0.05f;

enum CageFault {
    sharedEdgeFault,  // an edge shared by more than two triangles
    repeatedFault,    // two triangles on the same three points
    orientationFault, // two neighbours running their shared edge the same way
    facingAwayFault,  // a connected part facing away from the render surface
    foldFault,        // normals more than 120° apart across an edge
    cornerFault,      // facing against the normal at one of its corners
    shapeFault,       // quality below minTriangleQuality (repeated or collinear corners)
    nonFiniteFault,   // a sub-patch not finite at rest
    cageFaultCount
};

// What the triangles with a fault do, as a warning names them after "N control triangles"
// ("fold over a neighbour (normals more than 120 degrees apart)").
const char* cageFaultText(CageFault fault);

// The triangles that break each rule, in increasing order, each at most once per rule.
struct CageFaults {
    std::vector<int32_t> triangles[cageFaultCount];
};

// The rules checked on cage. surfaceNormals (K, or empty to skip the check) holds the
// render surface's unit normal at or nearest each control point: a connected part of the
// control mesh (triangles joined by edges of two triangles) faces away when the sum over its
// triangles of their normals' dot products with their corners' surface normals is negative.
// Sub-patches are built with the face model's own construction.
void findCageFaults(CageFaults& faults, const ControlCage& cage,
                    const std::vector<Vector3>& surfaceNormals);

// The render surface's unit normal (computeMeshNormals of the render mesh) at the render
// vertex nearest each point of the cage: normals (K) for findCageFaults on a user's cage.
void nearestSurfaceNormals(std::vector<Vector3>& normals, const ControlCage& cage,
                           const std::vector<Vector3>& renderPositions,
                           const std::vector<Vector3>& renderNormals);

// The quality of the triangle a, b, c (see minTriangleQuality); 0 when its sides have no
// length at all.
float triangleQuality(const Vector3& a, const Vector3& b, const Vector3& c);

// The normal of triangle t over points, not normalised: (P1 − P0) × (P2 − P0), as
// computeFaceNormals makes it; its length is twice the triangle's area.
inline Vector3 faceNormal(const Vector3* points, const Triangle& t) {
    const Vector3& p0 = points[t.index[0]];
    return cross(points[t.index[1]] - p0, points[t.index[2]] - p0);
}
