#include "tools/import/cage_order.h"

#include "face/face_model.h"
#include "face/sample_index.h"
#include "face/workers.h"

#include <algorithm>
#include <numeric>

namespace {

// Orders found and tried again at most: each pass moves the triangles that the vertices
// took against their facing; two or three passes settle every head of the corpus.
constexpr int maxFacingPasses = 8;
// Vertices per block of the workers.
constexpr int64_t facingBlock = 1024;

} // namespace

void facingOrder(std::vector<int32_t>& order, int32_t& marked, const FaceModel& model,
                 const Vector3* positions, const Vector3* normals, int32_t N) {
    const int32_t L = model.controlTriangleCount;
    const int32_t perTriangle = 3 * samplesPerSubPatch;
    order.resize(size_t(L));
    std::iota(order.begin(), order.end(), 0);
    marked = 0;
    if (L <= freeTriangleCount || N == 0)
        return;
    // Per triangle, the vertices that took it against their facing though a surface facing
    // them lies within reach (taken), and those that have no other (depending).
    std::vector<int32_t> taken(size_t(L), 0), depending(size_t(L), 0);
    std::vector<uint8_t> isMarked(size_t(L), 0);
    std::vector<Vector3> samplePositions(size_t(L) * size_t(perTriangle)),
        sampleNormals(samplePositions.size());
    std::vector<int32_t> wrong(static_cast<size_t>(N));
    for (int pass = 0; pass < maxFacingPasses; ++pass) {
        // The samples as the model would hold them with its triangles in order.
        for (int32_t k = 0; k < L; ++k) {
            const size_t from = size_t(order[size_t(k)]) * size_t(perTriangle);
            std::copy(model.samplePositions.get() + from,
                      model.samplePositions.get() + from + perTriangle,
                      samplePositions.begin() + long(k) * perTriangle);
            std::copy(model.sampleNormals.get() + from,
                      model.sampleNormals.get() + from + perTriangle,
                      sampleNormals.begin() + long(k) * perTriangle);
        }
        // The first pass takes every sample as free: each vertex's nearest surface whatever
        // the order, so that every triangle a vertex might take against its facing is found
        // at once; the later ones take the rule as it is, with the triangles in the new order.
        const int32_t freeLimit =
            pass == 0 ? int32_t(samplePositions.size()) : hintingFreeSampleLimit;
        SampleIndex index;
        buildSampleIndex(index, samplePositions.data(), int32_t(samplePositions.size()), N);
        parallelFor(sharedWorkers(), N, facingBlock, [&](int64_t begin, int64_t end, int32_t) {
            int32_t hint = -1;
            for (int64_t i = begin; i < end; ++i) {
                float distance;
                const int32_t s = findNearestSampleIndexed(
                    distance, hint, index, sampleNormals.data(), positions[i], normals[i],
                    freeLimit, maxAttachDistance, minNormalDot);
                wrong[size_t(i)] = -1;
                if (s < 0 || s >= freeLimit ||
                    dot(sampleNormals[size_t(s)], normals[i]) > minNormalDot)
                    continue;
                // Taken against its facing: is there a surface facing it within reach?
                const int32_t own = findNearestSampleIndexed(
                    distance, hint, index, sampleNormals.data(), positions[i], normals[i], 0,
                    maxAttachDistance, minNormalDot);
                wrong[size_t(i)] = 2 * order[size_t(s / perTriangle)] + (own >= 0 ? 1 : 0);
            }
        });
        for (int32_t w : wrong)
            if (w >= 0)
                ++(w % 2 ? taken : depending)[size_t(w / 2)];
        bool anew = false;
        for (int32_t t = 0; t < L; ++t)
            if (!isMarked[size_t(t)] && taken[size_t(t)] > depending[size_t(t)]) {
                isMarked[size_t(t)] = 1;
                anew = true;
            }
        if (!anew)
            break;
        // The unmarked triangles first, in their first order; then the marked ones, those
        // fewest vertices took first.
        std::vector<int32_t> next, late;
        for (int32_t t = 0; t < L; ++t)
            (isMarked[size_t(t)] ? late : next).push_back(t);
        std::stable_sort(late.begin(), late.end(),
                         [&](int32_t a, int32_t b) { return taken[size_t(a)] < taken[size_t(b)]; });
        next.insert(next.end(), late.begin(), late.end());
        order.swap(next);
    }
    marked = int32_t(std::count(isMarked.begin(), isMarked.end(), 1));
}
