// For face-import's warnings after binding: the parts of the render mesh that the surface
// leaves unattached, and where a point lies on the model, in words.
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

// Where a point lies on a model centred near the origin, facing +z with +y up, in words:
// "upper left front" (the model's own left, +x), from the box of positions (N > 0).
std::string regionName(const Vector3& point, const std::vector<Vector3>& positions);
