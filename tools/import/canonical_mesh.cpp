#include "tools/import/canonical_mesh.h"

#include "io/normals.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <tuple>

namespace {

// 2^-8 of a height of 16 (2^4): the grid is height · 2^-12, rounded down to a power of two.
// A copy of a file in other units lands within 3e-6 of the original after placement (the
// largest difference over WusonOBJ scaled by 0.01 and 100, and Blender's exports of one head
// differ by 8e-6), and a finer grid of 2^-10 still split WusonOBJ scaled by 100 somewhere;
// 2^-8 (0.004) is far below what a control mesh of some 200 points follows.
constexpr int gridStepsLog2 = 12;

// A position on the grid with the vertex it came from, for sorting without indirection.
struct Keyed {
    float x, y, z;
    int32_t vertex;
};
bool operator<(const Keyed& a, const Keyed& b) {
    return a.x < b.x || (a.x == b.x && (a.y < b.y || (a.y == b.y && a.z < b.z)));
}
bool samePlace(const Keyed& a, const Keyed& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

} // namespace

float canonicalGrid(float height) {
    int exponent;
    std::frexp(height, &exponent); // height = m · 2^exponent, 0.5 ≤ m < 1
    return std::ldexp(1.0f, exponent - 1 - gridStepsLog2);
}

void makeCanonicalMesh(CanonicalMesh& mesh, const std::vector<Vector3>& positions,
                       const std::vector<Vector3>& normals, const std::vector<Triangle>& triangles,
                       float grid) {
    // Rounded to the grid: p / grid and its product with grid are exact, so the same
    // position, however it was rounded in the file's units, mostly lands on the same point.
    const auto snap = [grid](float v) { return std::round(v / grid) * grid + 0.0f; };
    std::vector<Vector3> snapped(positions.size());
    for (size_t i = 0; i < positions.size(); ++i)
        snapped[i] = {snap(positions[i].x), snap(positions[i].y), snap(positions[i].z)};
    // The used positions in (x, y, z) order, the equal ones joined.
    std::vector<uint8_t> used(positions.size(), 0);
    for (const Triangle& t : triangles)
        for (int32_t c : t.index)
            used[size_t(c)] = 1;
    std::vector<Keyed> order;
    for (size_t i = 0; i < positions.size(); ++i)
        if (used[i])
            order.push_back({snapped[i].x, snapped[i].y, snapped[i].z, int32_t(i)});
    std::sort(order.begin(), order.end(), [](const Keyed& a, const Keyed& b) {
        return a < b || (samePlace(a, b) && a.vertex < b.vertex);
    });
    std::vector<int32_t> pointOf(positions.size(), -1);
    mesh.positions.clear();
    for (size_t j = 0; j < order.size(); ++j) {
        if (j == 0 || !samePlace(order[j], order[j - 1]))
            mesh.positions.push_back({order[j].x, order[j].y, order[j].z});
        pointOf[size_t(order[j].vertex)] = int32_t(mesh.positions.size()) - 1;
    }
    // The triangles on the points, each starting at its lowest, in order.
    mesh.triangles.clear();
    for (const Triangle& t : triangles) {
        int32_t c[3] = {pointOf[size_t(t.index[0])], pointOf[size_t(t.index[1])],
                        pointOf[size_t(t.index[2])]};
        if (c[0] == c[1] || c[1] == c[2] || c[2] == c[0])
            continue;
        const int first = c[0] < c[1] ? (c[0] < c[2] ? 0 : 2) : (c[1] < c[2] ? 1 : 2);
        mesh.triangles.push_back({{c[first], c[(first + 1) % 3], c[(first + 2) % 3]}});
    }
    // Points only collapsed triangles used are dropped, the order kept.
    std::vector<int32_t> kept(mesh.positions.size(), -1);
    for (const Triangle& t : mesh.triangles)
        for (int32_t c : t.index)
            kept[size_t(c)] = 0;
    int32_t count = 0;
    for (size_t p = 0; p < kept.size(); ++p)
        if (kept[p] == 0) {
            mesh.positions[size_t(count)] = mesh.positions[p];
            kept[p] = count++;
        }
    mesh.positions.resize(size_t(count));
    for (Triangle& t : mesh.triangles)
        for (int32_t& c : t.index)
            c = kept[size_t(c)];
    std::sort(mesh.triangles.begin(), mesh.triangles.end(),
              [](const Triangle& a, const Triangle& b) {
                  return std::lexicographical_compare(a.index, a.index + 3, b.index, b.index + 3);
              });
    // The render vertices used, each on the grid with its own normal rounded to normalGrid (one
    // side of a seam or crease keeps its own), in that order, a vertex repeated once. Each is
    // bound as the summary binds it (the one that a nearby vertex stood for was, on a 3DS Max
    // STL file, thrown 30 times as far), but where the grid puts it: bound where the file's
    // rounding put it, the rounds' choices differed between copies of one file whose forms
    // were the same.
    const auto round = [](float v) { return std::round(v / normalGrid) * normalGrid + 0.0f; };
    struct Vertex {
        Vector3 snapped, rounded;
    };
    std::vector<Vertex> vertices;
    for (size_t i = 0; i < positions.size(); ++i)
        if (used[i])
            vertices.push_back(
                {snapped[i], {round(normals[i].x), round(normals[i].y), round(normals[i].z)}});
    const auto key = [](const Vertex& v) {
        return std::make_tuple(v.snapped.x, v.snapped.y, v.snapped.z, v.rounded.x, v.rounded.y,
                               v.rounded.z);
    };
    std::sort(vertices.begin(), vertices.end(),
              [&](const Vertex& a, const Vertex& b) { return key(a) < key(b); });
    mesh.vertexPositions.clear();
    mesh.vertexNormals.clear();
    for (size_t j = 0; j < vertices.size(); ++j)
        if (j == 0 || key(vertices[j]) != key(vertices[j - 1])) {
            mesh.vertexPositions.push_back(vertices[j].snapped);
            mesh.vertexNormals.push_back(normalize(vertices[j].rounded));
        }
    mesh.normals.resize(mesh.positions.size());
    computeMeshNormals(mesh.normals.data(), mesh.positions.data(), int32_t(mesh.positions.size()),
                       mesh.triangles.data(), int32_t(mesh.triangles.size()));
}
