#include "face/sample_index.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace {

// Largest number of samples in a leaf.
constexpr int32_t leafSize = 8;
// Margins by which a subtree's box must lie beyond the current bound before it is
// skipped: the float distance of a sample can undershoot its true distance by a few units
// of rounding (relative) and, for tiny differences, by underflow of the squares
// (absolute, below 1e-22). Both margins exceed these by orders of magnitude.
constexpr double pruneRelativeMargin = 1e-5;
constexpr double pruneAbsoluteMargin = 1e-18;
// Deepest stack a query can need: one entry per level plus one. Splits follow the 30 bits
// of the Morton codes, then halve runs of equal codes, so no path is longer than
// 30 + 31 levels.
constexpr int32_t maxDepth = 64;

bool isFinite(const Vector3& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

float coordinate(const Vector3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

// Spreads the low 10 bits of x to every third bit.
uint32_t spreadBits(uint32_t x) {
    x &= 0x3ff;
    x = (x | x << 16) & 0x30000ff;
    x = (x | x << 8) & 0x300f00f;
    x = (x | x << 4) & 0x30c30c3;
    x = (x | x << 2) & 0x9249249;
    return x;
}

// Sorts keys by their upper 32 bits, least significant byte first, stable.
void radixSortUpper(std::vector<uint64_t>& keys) {
    std::vector<uint64_t> buffer(keys.size());
    for (int shift = 32; shift < 64; shift += 8) {
        size_t counts[257] = {};
        for (const uint64_t k : keys)
            ++counts[((k >> shift) & 0xff) + 1];
        for (int digit = 0; digit < 256; ++digit)
            counts[digit + 1] += counts[digit];
        for (const uint64_t k : keys)
            buffer[counts[(k >> shift) & 0xff]++] = k;
        keys.swap(buffer);
    }
}

// Where to split slots [begin, end) of Morton-sorted codes: at the first slot whose code
// has the highest bit in which the range's first and last codes differ, so that both
// halves are cells of the Morton grid; in the middle when all codes are equal (or when the
// cell split would leave a side empty, which sorted codes never do).
int32_t splitSlot(const uint32_t* codes, int32_t begin, int32_t end) {
    const uint32_t first = codes[begin], last = codes[end - 1];
    if (first == last)
        return begin + (end - begin) / 2;
    uint32_t bit = 1u << 31;
    while (((first ^ last) & bit) == 0)
        bit >>= 1;
    // First slot with the bit set: codes in the range share the bits above it.
    int32_t lo = begin, hi = end - 1;
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        if (codes[mid] & bit)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

// Builds the tree over the slots' points and Morton codes: leaves hold at most leafSize
// samples, and each box is the exact bound of the node's points. With nodes null it only
// counts the nodes.
struct Builder {
    const Vector3* points;
    const uint32_t* codes;
    SampleIndexNode* nodes;
    int32_t nodeCount;

    // Builds the subtree over slots [begin, end) and returns its node.
    int32_t build(int32_t begin, int32_t end) {
        const int32_t node = nodeCount++;
        if (end - begin <= leafSize) {
            if (nodes) {
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
                        const float c = coordinate(points[slot], axis);
                        n.lower[axis] = std::min(n.lower[axis], c);
                        n.upper[axis] = std::max(n.upper[axis], c);
                    }
            }
            return node;
        }
        const int32_t middle = splitSlot(codes, begin, end);
        const int32_t left = build(begin, middle);
        const int32_t right = build(middle, end);
        if (nodes) {
            SampleIndexNode& m = nodes[node];
            m.begin = begin;
            m.end = end;
            m.left = left;
            m.right = right;
            for (int a = 0; a < 3; ++a) {
                m.lower[a] = std::min(nodes[left].lower[a], nodes[right].lower[a]);
                m.upper[a] = std::max(nodes[left].upper[a], nodes[right].upper[a]);
            }
        }
        return node;
    }
};

// Squared distance from P to the node's box. Each step rounds once in float, so the
// value is within a relative 1e-6 of the true one (underflow only makes it smaller, and
// overflow only happens for boxes far beyond any bound), well inside the pruning margin.
float boxDistance2(const SampleIndexNode& n, const Vector3& P) {
    const float gx = std::max(std::max(n.lower[0] - P.x, P.x - n.upper[0]), 0.0f);
    const float gy = std::max(std::max(n.lower[1] - P.y, P.y - n.upper[1]), 0.0f);
    const float gz = std::max(std::max(n.lower[2] - P.z, P.z - n.upper[2]), 0.0f);
    return gx * gx + gy * gy + gz * gz;
}

} // namespace

void buildSampleIndex(SampleIndex& index, const Vector3* positions, int32_t count) {
    // Bounding box of the finite samples.
    int32_t finite = 0;
    double lower[3] = {0, 0, 0}, upper[3] = {0, 0, 0};
    for (int32_t i = 0; i < count; ++i) {
        if (!isFinite(positions[i]))
            continue;
        for (int axis = 0; axis < 3; ++axis) {
            const double c = coordinate(positions[i], axis);
            lower[axis] = finite == 0 ? c : std::min(lower[axis], c);
            upper[axis] = finite == 0 ? c : std::max(upper[axis], c);
        }
        ++finite;
    }

    // Scratch of the build: each finite sample's Morton code over the box (10 bits per
    // axis) above its index, sorted by code, so that neighbouring slots are neighbours in
    // space. Samples of one cell keep their index order.
    std::vector<uint64_t> keys;
    keys.reserve(static_cast<size_t>(finite));
    const double cells = 1023.0;
    double scale[3];
    for (int axis = 0; axis < 3; ++axis)
        scale[axis] = upper[axis] > lower[axis] ? cells / (upper[axis] - lower[axis]) : 0.0;
    for (int32_t i = 0; i < count; ++i) {
        if (!isFinite(positions[i]))
            continue;
        uint32_t code = 0;
        for (int axis = 0; axis < 3; ++axis) {
            const double q = (coordinate(positions[i], axis) - lower[axis]) * scale[axis];
            code |= spreadBits(static_cast<uint32_t>(std::min(std::max(q, 0.0), cells))) << axis;
        }
        keys.push_back(static_cast<uint64_t>(code) << 32 | static_cast<uint32_t>(i));
    }
    radixSortUpper(keys);

    index.slotCount = finite;
    index.samples.reset(new int32_t[finite]);
    index.points.reset(new Vector3[finite]);
    std::vector<uint32_t> codes(static_cast<size_t>(finite));
    for (int32_t slot = 0; slot < finite; ++slot) {
        const uint64_t key = keys[static_cast<size_t>(slot)];
        const int32_t sample = static_cast<int32_t>(key & 0xffffffffu);
        index.samples[slot] = sample;
        index.points[slot] = positions[sample];
        codes[static_cast<size_t>(slot)] = static_cast<uint32_t>(key >> 32);
    }
    index.nodeCount = 0;
    if (finite > 0) {
        Builder counter{index.points.get(), codes.data(), nullptr, 0};
        counter.build(0, finite);
        index.nodeCount = counter.nodeCount;
    }
    index.nodes.reset(new SampleIndexNode[index.nodeCount]);
    if (finite > 0) {
        Builder builder{index.points.get(), codes.data(), index.nodes.get(), 0};
        builder.build(0, finite);
    }
}

int32_t findNearestSampleIndexed(float& distance, SampleIndex& index, const Vector3* sampleNormals,
                                 const Vector3& P, const Vector3& N, int32_t freeSampleLimit,
                                 float maxDistance, float minDot) {
    float best = std::numeric_limits<float>::infinity();
    int32_t result = -1, resultSlot = -1;
    // Takes the sample in slot when the rules accept it and (distance, index) is smaller.
    auto consider = [&](int32_t slot) {
        const float d = sampleDistance(P, index.points[slot]);
        if (!(d < maxDistance) || d > best)
            return;
        const int32_t sample = index.samples[slot];
        if (d == best && sample > result)
            return;
        if (!sampleNormalAccepted(sample, sampleNormals, N, freeSampleLimit, minDot))
            return;
        best = d;
        result = sample;
        resultSlot = slot;
    };
    // A point that is not finite is at a non-finite distance from every sample.
    if (index.nodeCount > 0 && isFinite(P)) {
        // The last query's answer is usually near this one: as a first candidate it
        // tightens the bound before the descent.
        if (index.lastSlot >= 0)
            consider(index.lastSlot);
        struct Pending {
            int32_t node;
            float distance2; // squared distance from P to the node's box
        };
        // The squared pruning bound: boxes farther than the current best (or the maximal
        // distance), widened by the margins, cannot hold a sample the rules would take.
        auto bound2 = [&]() {
            const double bound =
                static_cast<double>(std::min(best, maxDistance)) * (1.0 + pruneRelativeMargin) +
                pruneAbsoluteMargin;
            return bound * bound;
        };
        Pending stack[maxDepth];
        int32_t top = 0;
        stack[top++] = {0, boxDistance2(index.nodes[0], P)};
        while (top > 0) {
            const Pending pending = stack[--top];
            if (pending.distance2 > bound2())
                continue;
            const SampleIndexNode& n = index.nodes[pending.node];
            if (n.left < 0) {
                for (int32_t slot = n.begin; slot < n.end; ++slot)
                    consider(slot);
                continue;
            }
            // Visit the nearer child first (push it last); drop children beyond the bound.
            const double limit = bound2();
            Pending near = {n.left, boxDistance2(index.nodes[n.left], P)};
            Pending far = {n.right, boxDistance2(index.nodes[n.right], P)};
            if (far.distance2 < near.distance2)
                std::swap(near, far);
            if (far.distance2 <= limit)
                stack[top++] = far;
            if (near.distance2 <= limit)
                stack[top++] = near;
        }
        if (resultSlot >= 0)
            index.lastSlot = resultSlot;
    }
    distance = best;
    return result;
}
