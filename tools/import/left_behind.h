// For face-import's warnings after binding: the parts of the render mesh that the surface
// leaves unattached, the parts where a drag throws vertices beyond the aims, and where a
// point lies on the model, in words.
#pragma once

#include "geometry/vector.h"

#include <cstdint>
#include <string>
#include <vector>

class FaceModel;

// A connected part of the render mesh that the surface leaves unattached: how many vertices,
// and the one nearest the part's centre (for regionName).
struct LeftBehind {
    int32_t count = 0;
    int32_t vertex = -1;
};

// The unattached render vertices of model in connected parts (joined by the render
// triangles' edges and by equal positions, so that texture seams do not split a part), the
// largest first; positions (N) are the render vertices'. Parts of fewer than minLeftBehind
// vertices are left out.
constexpr int32_t minLeftBehind = 10;
void findPartsLeftBehind(std::vector<LeftBehind>& parts, const FaceModel& model,
                         const std::vector<Vector3>& positions);

// A connected part of the render mesh where a drag throws vertices beyond the aims: how
// many vertices, the largest amplification for each move and the vertex whose excess over
// its aims (the larger of small / smallAim and unit / unitAim) is the largest.
struct ThrownPart {
    int32_t count = 0;
    int32_t vertex = -1;
    float small = 0.0f, unit = 0.0f;
};

// The render vertices of model whose amplification (small, unit: N each, for moves of 0.1
// and of 1) exceeds smallAim or unitAim, in connected parts as findPartsLeftBehind joins
// them, every part however small, the worst (largest excess) first.
void findPartsThrown(std::vector<ThrownPart>& parts, const FaceModel& model,
                     const std::vector<Vector3>& positions, const std::vector<float>& small,
                     const std::vector<float>& unit, float smallAim, float unitAim);

// Why the binding throws attached render vertex v of model (controlPoints: the rest pose),
// in words for the warning: "its offset lies along nearly parallel tangents (tangent
// coordinates 35.1, 29.2)" where the offset's tangent coordinates reach 1 or more; else, for
// a vertex thrown by moves of 1 (unitMove), "a move of 1 is longer than its control
// triangle's smallest height (0.42)" where that height is below 1; else "the surface bends
// sharply there".
std::string thrownCause(const FaceModel& model, const Vector3* controlPoints, int32_t v,
                        bool unitMove);

// Where a point lies on a model centred near the origin, facing +z with +y up, in words:
// "upper left front" (the model's own left, +x), from the box of positions (N > 0).
std::string regionName(const Vector3& point, const std::vector<Vector3>& positions);
