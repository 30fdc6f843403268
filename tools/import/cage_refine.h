// The refinement of the automatic control mesh: rounds of fitting the editor's control mesh
// to the render surface, binding render vertices to it and making render vertices control
// points where the binding amplifies moves or leaves vertices behind.
#pragma once

#include "tools/import/cage_editor.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The share of the vertices bound that a control mesh may leave unattached before it counts
// against the mesh (the aim is 98 % attached): in the choice of the best round, in how many
// the settling may let go, and in the choice between settled attempts.
constexpr float maxLooseShare = 0.02f;

// The render vertices the refinement binds or fits to: all of them, or an even sample of a
// large mesh (evenSample), with the normals the model file's reader gives them (N each).
struct BoundVertices {
    std::vector<Vector3> positions, normals;
};

// Where bound vertices hang on a control mesh, for judging an edit by the vertices around
// it: the attached ones per triangle of the mesh (entries first[t] .. first[t + 1] − 1), and
// that triangle of each editor slot.
struct Lists {
    std::vector<int32_t> first, entries;
};
struct Hanging {
    Lists vertices;                 // per triangle of the control mesh (L)
    std::vector<int32_t> compactOf; // per editor triangle: its triangle in the mesh, or −1
};
// h for model, the editor's live triangles (slot, L: the editor's triangle of each) bound.
class FaceModel;
void findHanging(Hanging& h, const FaceModel& model, const std::vector<int32_t>& slot,
                 const Editor& e);

// Marks the points of the triangles at points c (after an edit there) as touched.
void touchAround(std::vector<uint8_t>& touched, const Editor& e, const int32_t c[3]);

// Puts the editor's live triangles in the facing order (cage_order.h) over vertices: cage,
// slot and pointOf are those live triangles as compactCage gives them, and model is cage
// bound to vertices. Where the order changes them, the editor's triangles are placed in it,
// cage, slot and pointOf made again from the editor, and true returned (model, bound to the
// old cage, is then to be bound again); else nothing changes.
bool placeInFacingOrder(Editor& e, ControlCage& cage, std::vector<int32_t>& slot,
                        std::vector<int32_t>& pointOf, const FaceModel& model,
                        const BoundVertices& vertices);

// Refines the editor's control mesh (repaired: every live triangle keeps the rules; its
// candidates are bound's vertices) in rounds: at most 24, and at most as many as bind
// 200,000 vertices in all, or 3 where the render mesh (renderVertexCount vertices) is too
// large to be bound whole (more than maxBoundVertices). Each round fits the points to
// fitted's vertices (fitCage: fully in the first round, a step after each round's edits),
// binds bound's vertices and measures their amplification for moves of 0.1 and of 1
// (measureExcess). Where one exceeds targetAmplification or targetUnitAmplification, stays
// unattached or hangs farther than half maxAttachDistance from its surface point, a render
// vertex nearby becomes a control point, kept only where the vertices around it, bound
// again locally, are no worse and one is better; up to e.maxPoints points. The rounds stop
// when every vertex meets the aims, the points run out, no edit is made or the repair that
// follows undoes them, or four rounds in a row do not beat the best. The misfits beyond an
// aim and hanging far come first and share a budget of trials per round, which often leaves
// none for the unattached; with looseTrials, a round that leaves more than 2 % of the
// vertices unattached gives those a budget of their own. best receives the round with the
// smallest excess over the aims (with unattached vertices beyond 2 % counted against it),
// bestNormals (its K) the render surface's normal at each of its points.
void refineCage(ControlCage& best, std::vector<Vector3>& bestNormals, Editor& e, CageReport& report,
                const BoundVertices& bound, const BoundVertices& fitted, size_t renderVertexCount,
                bool looseTrials);
