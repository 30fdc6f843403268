// Nearest-sample search of the binding through a k-d tree (nanoflann) over the hinting
// samples, returning exactly the sample and distance of the exhaustive search.
//
// The tree only prunes: its squared distances, in double, decide which samples are looked
// at. Every sample looked at is judged by the exhaustive search's own rules on its float
// distance sampleDistance: distance < maxDistance strictly, beyond freeSampleLimit a normal
// dot product > minDot strictly, and among those the minimal (distance, index) pair, which
// is what the exhaustive scan's strict "d < best" in index order returns. The search bound
// shrinks to the best sample taken so far, widened by a margin far above the float
// rounding of the distance, so no sample the exhaustive search could take is skipped.
// Samples that are not finite can never be taken and are left out of the tree.
#pragma once

#include "geometry/vector.h"

#include <cstdint>
#include <memory>

// The distance the nearest-sample searches compare: |P − S| in 32-bit floats.
inline float sampleDistance(const Vector3& P, const Vector3& S) { return length(P - S); }

// The normal rule: samples from freeSampleLimit on are taken only when their normal's dot
// product with the vertex normal N exceeds minDot (strictly).
inline bool sampleNormalAccepted(int32_t sample, const Vector3* sampleNormals, const Vector3& N,
                                 int32_t freeSampleLimit, float minDot) {
    return sample < freeSampleLimit || dot(sampleNormals[sample], N) > minDot;
}

struct SampleTree; // the nanoflann tree, defined with the search
struct SampleTreeDeleter {
    void operator()(SampleTree* tree) const;
};

struct SampleIndex {
    int32_t pointCount = 0;                              // finite samples
    ArrayHolder<Vector3> points;                         // their positions
    ArrayHolder<int32_t> samples;                        // their sample indices
    std::unique_ptr<SampleTree, SampleTreeDeleter> tree; // over points
    int32_t lastPoint = -1; // answer of the last query, the next query's first candidate
                            // (of the search that keeps its hint here)
};

// Builds the index over positions[0..count−1] for about searches searches (which shapes the
// tree for speed alone: any count gives the same results).
void buildSampleIndex(SampleIndex& index, const Vector3* positions, int32_t count,
                      int64_t searches);

// The nearest sample to P with vertex normal N under the rules above (sampleNormals holds
// the normals of the samples the index was built from). Returns its index and its
// distance, or −1 and +∞. The search starts from the last query's answer (which makes
// queries for neighbouring points fast and never changes a result) and records its own.
int32_t findNearestSampleIndexed(float& distance, SampleIndex& index, const Vector3* sampleNormals,
                                 const Vector3& P, const Vector3& N, int32_t freeSampleLimit,
                                 float maxDistance, float minDot);

// The same search with the start hint kept by the caller (a point of the index, or −1)
// instead of in the index, which it only reads: threads share one index, each with a hint
// of its own. Records the answer in hint.
int32_t findNearestSampleIndexed(float& distance, int32_t& hint, const SampleIndex& index,
                                 const Vector3* sampleNormals, const Vector3& P, const Vector3& N,
                                 int32_t freeSampleLimit, float maxDistance, float minDot);
