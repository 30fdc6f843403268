// Mending the editor's control mesh (cage_editor.h): triangles that break a rule or fall
// short of the aims get the edit that mends them best, and what no edit mends is dropped.
#pragma once

#include "tools/import/cage_editor.h"

#include <cstdint>

// Mends one live triangle t that falls short of a shape: of the flips and collapses of its
// edges, the insertions of the render vertices nearest its sides' middles and its centre
// (within the point budget) and, when drops allows it and t lies on a border, dropping it:
// the cheapest edit after which every triangle around keeps the shape, else the one that
// lowers the shortfall around the most without breaking more triangles. No edit may break
// more rules than were broken. Without drops a collapse may only take a point that hardly
// shapes the surface. report counts the edit made; returns whether one was.
bool mendTriangle(Editor& e, CageReport& report, int32_t t, const Shape& shape, bool drops);

// Edits until every live triangle keeps the shape, or no edit helps any more, in at most
// the given passes over the triangles (those short of it, the worst first).
void mend(Editor& e, CageReport& report, const Shape& shape, bool drops, int passes);

// Mends every triangle that breaks a rule (dropping allowed); what no edit mends is dropped,
// the worst first, until every live triangle keeps the rules.
void repair(Editor& e, CageReport& report);

// Flips edges where that raises the smaller quality of the two triangles by a tenth, the
// surface stays (the diagonals lie within maxShapeFlipDeviation mean edges of each other)
// and every triangle around keeps the rules.
void improveShapes(Editor& e, CageReport& report);

// Inserts a point (insertion, an edit that adds one) and mends the triangles around it that
// break a rule (edits that keep the new point); undoes it all, report included, unless every
// triangle around keeps the rules then. The point kept is pinned: no collapse takes it.
bool insertMended(Editor& e, CageReport& report, const Edit& insertion);
