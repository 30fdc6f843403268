#include "face/sample_index.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Largest number of samples in a leaf.
constexpr int32_t leafSize = 8;
// Margins by which a subtree's box must lie beyond the current bound before it is
// skipped: the float distance of a sample can undershoot its true distance by a few units
// of rounding (relative) and, for tiny differences, by underflow of the squares
// (absolute, below 1e-22). Both margins exceed these by orders of magnitude.
constexpr double pruneRelativeMargin = 1e-5;
constexpr double pruneAbsoluteMargin = 1e-18;
// Deepest stack a query can need: median splits halve the slot range at every level.
constexpr int32_t maxDepth = 64;

bool isFinite(const Vector3& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

float coordinate(const Vector3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

// Nodes of a subtree over count samples (leaves hold at most leafSize).
int32_t countNodes(int32_t count) {
    if (count <= leafSize)
        return 1;
    const int32_t half = count / 2;
    return 1 + countNodes(half) + countNodes(count - half);
}

struct Builder {
    const Vector3* positions;
    int32_t* samples;
    SampleIndexNode* nodes;
    int32_t nodeCount;

    // Builds the subtree over slots [begin, end) and returns its node.
    int32_t build(int32_t begin, int32_t end) {
        const int32_t node = nodeCount++;
        SampleIndexNode& n = nodes[node];
        n.begin = begin;
        n.end = end;
        n.left = n.right = -1;
        for (int axis = 0; axis < 3; ++axis) {
            n.lower[axis] = std::numeric_limits<float>::infinity();
            n.upper[axis] = -std::numeric_limits<float>::infinity();
        }
        for (int32_t slot = begin; slot < end; ++slot)
            for (int axis = 0; axis < 3; ++axis) {
                const float c = coordinate(positions[samples[slot]], axis);
                n.lower[axis] = std::min(n.lower[axis], c);
                n.upper[axis] = std::max(n.upper[axis], c);
            }
        if (end - begin <= leafSize)
            return node;

        // Median split across the widest side of the box.
        int axis = 0;
        for (int a = 1; a < 3; ++a)
            if (n.upper[a] - n.lower[a] > n.upper[axis] - n.lower[axis])
                axis = a;
        const int32_t middle = begin + (end - begin) / 2;
        const Vector3* p = positions;
        std::nth_element(samples + begin, samples + middle, samples + end,
                         [p, axis](int32_t i, int32_t j) {
                             return coordinate(p[i], axis) < coordinate(p[j], axis);
                         });
        const int32_t left = build(begin, middle);
        const int32_t right = build(middle, end);
        nodes[node].left = left;
        nodes[node].right = right;
        return node;
    }
};

// Squared distance from P to the node's box, in double precision.
double boxDistance2(const SampleIndexNode& n, const Vector3& P) {
    const double c[3] = {P.x, P.y, P.z};
    double sum = 0.0;
    for (int axis = 0; axis < 3; ++axis) {
        double gap = 0.0;
        if (c[axis] < n.lower[axis])
            gap = n.lower[axis] - c[axis];
        else if (c[axis] > n.upper[axis])
            gap = c[axis] - n.upper[axis];
        sum += gap * gap;
    }
    return sum;
}

} // namespace

void buildSampleIndex(SampleIndex& index, const Vector3* positions, int32_t count) {
    int32_t finite = 0;
    for (int32_t i = 0; i < count; ++i)
        if (isFinite(positions[i]))
            ++finite;
    index.slotCount = finite;
    index.samples.reset(new int32_t[finite]);
    index.points.reset(new Vector3[finite]);
    int32_t slot = 0;
    for (int32_t i = 0; i < count; ++i)
        if (isFinite(positions[i]))
            index.samples[slot++] = i;

    index.nodeCount = finite > 0 ? countNodes(finite) : 0;
    index.nodes.reset(new SampleIndexNode[index.nodeCount]);
    if (finite > 0) {
        Builder builder{positions, index.samples.get(), index.nodes.get(), 0};
        builder.build(0, finite);
    }
    for (int32_t s = 0; s < finite; ++s)
        index.points[s] = positions[index.samples[s]];
}

int32_t findNearestSampleIndexed(float& distance, const SampleIndex& index,
                                 const Vector3* sampleNormals, const Vector3& P,
                                 const Vector3& N, int32_t freeSampleLimit, float maxDistance,
                                 float minDot) {
    float best = std::numeric_limits<float>::infinity();
    int32_t result = -1;
    // A point that is not finite is at a non-finite distance from every sample.
    if (index.nodeCount > 0 && isFinite(P)) {
        int32_t stack[maxDepth];
        int32_t top = 0;
        stack[top++] = 0;
        while (top > 0) {
            const SampleIndexNode& n = index.nodes[stack[--top]];
            const double bound =
                static_cast<double>(std::min(best, maxDistance)) * (1.0 + pruneRelativeMargin) +
                pruneAbsoluteMargin;
            if (boxDistance2(n, P) > bound * bound)
                continue;
            if (n.left < 0) {
                for (int32_t slot = n.begin; slot < n.end; ++slot) {
                    const float d = sampleDistance(P, index.points[slot]);
                    if (!(d < maxDistance) || d > best)
                        continue;
                    const int32_t sample = index.samples[slot];
                    if (d == best && sample > result)
                        continue;
                    if (!sampleNormalAccepted(sample, sampleNormals, N, freeSampleLimit, minDot))
                        continue;
                    best = d;
                    result = sample;
                }
                continue;
            }
            // Visit the nearer child first: push it last.
            const double dl = boxDistance2(index.nodes[n.left], P);
            const double dr = boxDistance2(index.nodes[n.right], P);
            if (dl <= dr) {
                stack[top++] = n.right;
                stack[top++] = n.left;
            } else {
                stack[top++] = n.left;
                stack[top++] = n.right;
            }
        }
    }
    distance = best;
    return result;
}
