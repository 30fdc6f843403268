// The red wire reference cube, compiled once into a display list and replayed, through a
// small cache of display lists keyed by shape kind and parameter values.
#pragma once

#include <cstdint>
#include <memory>

// Shape kinds of the cache; the wire cube is the only one used.
constexpr int32_t shapeKindWireCube = 1;
constexpr int32_t shapeKindCount = 2;

struct ShapeListEntry {
    uint32_t list;                        // compiled display list
    std::unique_ptr<ShapeListEntry> next; // next older entry of the same kind
    int32_t count;                        // number of parameter values
    std::unique_ptr<double[]> params;     // the values the list was compiled for
};

// Per kind, a singly linked list of entries, newest first. Entries are never removed.
struct ShapeListCache {
    std::unique_ptr<ShapeListEntry> heads[shapeKindCount];
};

// The program-wide cache.
ShapeListCache& shapeListCache();

// The list of the first entry of that kind whose count and values all compare equal (as
// doubles, in order) with params[0..count−1], or 0.
uint32_t lookupShapeList(const ShapeListCache& cache, int32_t kind, const double* params,
                         int32_t count);

// Takes ownership of params, makes an entry with a new list name (glGenLists(1)) at the
// front of the kind's list and returns that name; 0 when the entry cannot be allocated.
uint32_t insertShapeList(ShapeListCache& cache, int32_t kind, std::unique_ptr<double[]> params,
                         int32_t count);

// Draws the cube of edge length s centred at the origin with the current colour and state;
// the first call for an edge length compiles its list while drawing, later calls replay it.
void drawWireCube(double s);

// The six faces of the box (each pair is put in order first), one primitive of the given
// type per face, each corner with its face's normal.
void drawBoxFaces(double x0, double x1, double y0, double y1, double z0, double z1,
                  uint32_t primitive);
