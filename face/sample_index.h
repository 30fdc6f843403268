// Spatial index over the hinting samples, answering the nearest-sample query of the
// binding with exactly the result of the exhaustive search: a bounding-box hierarchy over
// the samples sorted along a Morton curve (each node splits its range where the Morton
// cell splits, so the boxes are compact), searched depth first, nearer child first.
//
// Exactness: every candidate's distance is computed by sampleDistance, the expression of
// the exhaustive search, and the same acceptance rules apply (distance < maxDistance
// strictly; beyond freeSampleLimit a normal dot product > minNormalDot strictly); among
// accepted samples the minimal (distance, index) pair wins, which is what the exhaustive
// scan's strict "d < best" in index order returns. Subtrees are skipped only when their
// box is farther than the current bound by a margin that covers float rounding of the
// distance, so no sample the exhaustive search could take is ever skipped. Samples that
// are not finite can never be taken and are left out of the tree.
#pragma once

#include "geometry/vector.h"

#include <cstdint>

// The distance the nearest-sample searches compare: |P − S| in 32-bit floats.
inline float sampleDistance(const Vector3& P, const Vector3& S) { return length(P - S); }

// The normal rule: samples from freeSampleLimit on are taken only when their normal's dot
// product with the vertex normal N exceeds minDot (strictly).
inline bool sampleNormalAccepted(int32_t sample, const Vector3* sampleNormals, const Vector3& N,
                                 int32_t freeSampleLimit, float minDot) {
    return sample < freeSampleLimit || dot(sampleNormals[sample], N) > minDot;
}

struct SampleIndexNode {
    float lower[3], upper[3]; // bounding box of the node's samples
    int32_t begin, end;       // its samples: slots begin .. end − 1
    int32_t left, right;      // child nodes, −1 for a leaf
};

struct SampleIndex {
    int32_t nodeCount = 0;
    ArrayHolder<SampleIndexNode> nodes; // node 0 is the root (when slotCount > 0)
    int32_t slotCount = 0;              // finite samples
    ArrayHolder<Vector3> points;        // slotCount sample positions in tree order
    ArrayHolder<int32_t> samples;       // slotCount sample indices in tree order
    int32_t lastSlot = -1; // slot found by the last query, the next query's first candidate
};

// Builds the index over positions[0..count−1].
void buildSampleIndex(SampleIndex& index, const Vector3* positions, int32_t count);

// The nearest sample to P with vertex normal N under the rules above (sampleNormals holds
// the normals of the samples the index was built from). Returns its index and its
// distance, or −1 and +∞. The search starts from the last query's answer (which makes
// queries for neighbouring points fast and never changes a result) and records its own.
int32_t findNearestSampleIndexed(float& distance, SampleIndex& index, const Vector3* sampleNormals,
                                 const Vector3& P, const Vector3& N, int32_t freeSampleLimit,
                                 float maxDistance, float minDot);
