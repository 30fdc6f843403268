// The editor of the automatic control mesh: a control mesh whose triangles are replaced by
// local edits (edge flips, edge collapses, dropped triangles, render vertices inserted as new
// points), each of which can be undone, and the scores that judge how well its triangles
// keep a shape.
#pragma once

#include "tools/import/automatic_cage.h"
#include "tools/import/cage_rules.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

struct SampleIndex;

// Thresholds of the local shape a triangle keeps: its quality, the cosine between its
// normal and each neighbour's, and between its normal and each corner's normal.
struct Shape {
    float quality, foldCosine, cornerCosine;
};
// The rules (cage_rules.h).
constexpr Shape rules = {minTriangleQuality, foldCosine, minCornerCosine};
// What the mending aims at beyond them, where an edit gets there: quality 0.4 (a smallest
// angle of about 25°), normals within 90° of each neighbour's and 60° of each corner's. The
// worst vertices of the corpus's heads (amplification 2 to 14) hung on triangles of quality
// 0.08 to 0.24 or with a corner's normal 76° to 80° away.
constexpr Shape aims = {0.4f, 0.0f, 0.5f};

// A control mesh being edited: triangles are never moved, only marked dead, so that an
// edit can be undone; each directed side belongs to at most one live triangle. New points
// come from a set of render vertices (the candidates), found through a k-d tree.
struct Editor {
    std::vector<Vector3> points;
    std::vector<Vector3> surfaceNormals;      // the render surface's normal at each point
    std::vector<Triangle> triangles;          // live and dead, in the order they were made
    std::vector<uint8_t> alive;               // per triangle
    std::vector<std::vector<int32_t>> around; // live triangles at each point
    // The live triangle of each directed side, keyed by its two points: kept up to date by
    // every edit and undo, as neighbours are looked up while the mesh changes.
    std::unordered_map<uint64_t, int32_t> sides;
    std::vector<uint8_t> pinned; // points the refinement inserted: kept
    int32_t usedPoints = 0;
    int32_t minPoints = 0, maxPoints = 0; // no collapse below, no insertion above
    float scale = 1.0f;                   // mean control edge length, for deviations
    const std::vector<Vector3>* candidates = nullptr;
    const std::vector<Vector3>* candidateNormals = nullptr;
    SampleIndex* candidateIndex = nullptr;
};

// An edit: the live triangles removed and the triangles added in their place, with a new
// point (index points.size() when the edit is made) where it inserts one. An edit with no
// triangles removed is none (what the edits below return where they cannot be made).
struct Edit {
    std::vector<int32_t> removed;
    std::vector<Triangle> added;
    float cost = 0.0f; // how far it moves the surface, in mean edges (smaller is better)
    enum Kind { flip, collapse, drop, insertion, move } kind = flip;
    bool addsPoint = false;
    Vector3 position = {0, 0, 0}, normal = {0, 0, 0};
};

// The simplifier's triangles (simplified, with the render surface's normals at its points:
// K) in a new editor e (its limits and candidates set): repeated triangles once, pairs back
// to back not at all; each part joined by edges of two triangles turned to run its edges
// consistently and to face the render surface, the largest parts placed first; a triangle
// that would make a third on an edge dropped. report counts the triangles dropped.
void startEditor(Editor& e, CageReport& report, const ControlCage& simplified,
                 const std::vector<Vector3>& surfaceNormals);

// Applies the edit, writing the new triangles' slots (their indices in e.triangles); false
// (and nothing changed) when an added triangle does not fit: a side already in use (a third
// triangle on an edge, or two running it the same way), repeated corners, or a triangle on
// the same points facing the other way.
bool applyEdit(Editor& e, const Edit& edit, std::vector<int32_t>& slots);
// Undoes an edit applied with the given slots.
void undoEdit(Editor& e, const Edit& edit, const std::vector<int32_t>& slots);
// Adds the edit to the counts of report (flips, collapses, dropped, inserted).
void countEdit(CageReport& report, const Edit& edit);

// The live triangle running the side from b to a (the neighbour across side a → b), or −1.
int32_t neighbour(const Editor& e, int32_t a, int32_t b);

// Flips the edge under side k of live triangle t (from corner k to k + 1): t and its
// neighbour become the two triangles on the other diagonal. None on a border.
Edit flipEdit(const Editor& e, int32_t t, int k);
// Moves point from onto point to: its triangles that hold both go, the others are bent
// over to `to`. A border point only slides along its border, so that openings keep their
// outline; none is made while the mesh has only minPoints points, for a pinned point, or
// where from lies farther than maxDeviation mean edges from the plane of a triangle that
// replaces its own.
Edit collapseEdit(const Editor& e, int32_t from, int32_t to, float maxDeviation);
// Drops live triangle t.
Edit dropEdit(const Editor& e, int32_t t);
// Inserts position (a render vertex, with its surface normal) as a new point: into
// triangle t (k < 0), or onto its side k (from corner k to k + 1) and the triangle beyond
// it when k is 0, 1 or 2. None at maxPoints points or within a thousandth of a mean edge of
// one of t's corners.
Edit insertEdit(const Editor& e, int32_t t, int k, const Vector3& position, const Vector3& normal);

// Moves point p to position (a render vertex, with its surface normal): a new point takes
// its place in each of its triangles, so that the edit can be undone like the others. None
// for a pinned point or where position lies within a thousandth of a mean edge of p.
Edit moveEdit(const Editor& e, int32_t p, const Vector3& position, const Vector3& normal);

// The candidate render vertex nearest to point, if it lies within reach of it; else −1.
int32_t nearestCandidate(const Editor& e, const Vector3& point, float reach);

// How well a live triangle keeps a shape: the smallest of quality / shape.quality,
// (1 + cos) / (1 + shape.foldCosine) over its neighbours and the cosine to each corner's
// normal / shape.cornerCosine. It keeps the shape at 1 or more.
float shapeScore(const Editor& e, int32_t t, const Shape& shape);

// The smallest score of the live triangles at the given points (a point an edit would
// insert has none before the edit).
float localScore(const Editor& e, const std::vector<int32_t>& corners, const Shape& shape);

// How far the live triangles at some points fall short of a shape: how many score below 1,
// and the sum of their shortfalls (1 − score, at most 1 each).
struct Shortfall {
    int32_t broken = 0;
    float deficit = 0.0f;
};
Shortfall localShortfall(const Editor& e, const std::vector<int32_t>& corners, const Shape& shape);

// The points of the edit's triangles (removed and added, the new point included), sorted
// and each once.
void editCorners(std::vector<int32_t>& corners, const Editor& e, const Edit& edit);

// The live triangles within the given number (1 or more) of rings of the point the editor
// inserted last, sorted: ring 0 its triangles, ring n + 1 the triangles at the points of
// ring n.
void triangleRings(std::vector<int32_t>& triangles, const Editor& e, int rings);

// Forgets the dead triangles (edits leave them behind for undoing): the live ones are
// placed again in their order, so slots change.
void dropDead(Editor& e);
// The same with the live triangles placed in the order of slots (each live slot once).
void placeInOrder(Editor& e, const std::vector<int32_t>& slots);

// The editor's triangles listed (their slots) as a control mesh, points renumbered in order
// of first use (compactTriangles); pointOf (K) receives each point's point in the editor.
void cageOf(ControlCage& cage, std::vector<int32_t>& pointOf, const Editor& e,
            const std::vector<int32_t>& triangles);

// The live triangles as a control mesh (cageOf); slot (L) receives the editor's triangle
// of each triangle, pointOf (K) the editor's point of each point.
void compactCage(ControlCage& cage, std::vector<int32_t>& slot, std::vector<int32_t>& pointOf,
                 const Editor& e);

// Sorts list and removes its repeats.
void sortUnique(std::vector<int32_t>& list);
