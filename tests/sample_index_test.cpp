// The k-d tree over the hinting samples against the exhaustive search: the same sample and
// the same distance bits for every query, and identical attachments.
#include "face/face_model.h"
#include "face/sample_index.h"
#include "tests/support/synthetic_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

struct Query {
    Vector3 P, N;
};

Vector3 randomUnit(Random& random) {
    for (;;) {
        const Vector3 v = {random.range(-1, 1), random.range(-1, 1), random.range(-1, 1)};
        if (length(v) > 0.1f && length(v) < 1.0f)
            return normalize(v);
    }
}

// Queries that probe the rules: points up to 2 from a sample with random normals, points
// exactly on samples (zero distances, and ties where neighbouring sub-patches share a sample
// position), midpoints of nearby samples (near-ties), points at 0.5 ± a few ulps from a
// sample, and points that are not finite.
std::vector<Query> makeQueries(const FaceModel& model, Random& random, int32_t count) {
    std::vector<Query> queries;
    auto sample = [&]() {
        return static_cast<int32_t>(random.next() % static_cast<uint32_t>(model.sampleCount));
    };
    for (int32_t q = 0; q < count; ++q) {
        const Vector3 N = randomUnit(random);
        const Vector3 up = {0, 0, 1};
        switch (q % 4) {
        case 0:
            queries.push_back(
                {model.samplePositions[sample()] + random.range(0, 2) * randomUnit(random), N});
            break;
        case 1:
            queries.push_back({model.samplePositions[sample()], q / 4 % 2 ? N : up});
            break;
        case 2: {
            const int32_t i = sample();
            const int32_t j =
                std::min(i + 1 + static_cast<int32_t>(random.next() % 12), model.sampleCount - 1);
            queries.push_back({0.5f * (model.samplePositions[i] + model.samplePositions[j]), N});
            break;
        }
        default: {
            const Vector3 S = model.samplePositions[sample()];
            const Vector3 d = randomUnit(random);
            float r = 0.5f;
            for (int k = static_cast<int>(random.next() % 7); k > 0; --k)
                r = std::nextafter(r, q / 4 % 2 ? 1.0f : 0.0f);
            queries.push_back({S + r * d, up});
            break;
        }
        }
    }
    const float inf = std::numeric_limits<float>::infinity();
    queries.push_back({{inf, 0, 0}, {0, 0, 1}});
    queries.push_back({{std::numeric_limits<float>::quiet_NaN(), 0, 0}, {0, 0, 1}});
    return queries;
}

void expectSameSearchOf(const FaceModel& model, const std::vector<Query>& queries,
                        int64_t searches) {
    SampleIndex index;
    buildSampleIndex(index, model.samplePositions.get(), model.sampleCount, searches);
    int found = 0;
    for (size_t q = 0; q < queries.size(); ++q) {
        float exhaustiveDistance, indexedDistance;
        const int32_t exhaustive = model.findNearestSample(exhaustiveDistance, queries[q].P,
                                                           queries[q].N, hintingFreeSampleLimit);
        const int32_t indexed = findNearestSampleIndexed(
            indexedDistance, index, model.sampleNormals.get(), queries[q].P, queries[q].N,
            hintingFreeSampleLimit, maxAttachDistance, minNormalDot);
        ASSERT_EQ(indexed, exhaustive) << "query " << q;
        ASSERT_EQ(std::memcmp(&indexedDistance, &exhaustiveDistance, sizeof(float)), 0)
            << "query " << q;
        found += exhaustive >= 0;
    }
    // Most queries find a sample, some do not.
    EXPECT_GT(found, static_cast<int>(queries.size()) / 2);
    EXPECT_LT(found, static_cast<int>(queries.size()));
}

// The index built for as many searches as samples (small leaves) and for one (the largest).
void expectSameSearch(const FaceModel& model, const std::vector<Query>& queries) {
    for (const int64_t searches : {int64_t(model.sampleCount), int64_t(1)}) {
        SCOPED_TRACE("built for " + std::to_string(searches) + " searches");
        expectSameSearchOf(model, queries, searches);
    }
}

} // namespace

// Each model is also bound both ways, its render normals scattered so that the normal rule
// refuses some samples: the attachments agree byte for byte (unattached ones zero in both).
TEST(SampleIndex, SeededRandomModelsGiveTheExhaustiveResult) {
    for (const uint32_t seed : {1u, 2u, 3u, 4u}) {
        Random random(seed * 7919u);
        SyntheticModelShape shape;
        // 9 × 9 cells: 162 triangles, 486 sub-patches, so the normal rule applies too.
        shape.controlCellsX = shape.controlCellsY = 9;
        shape.renderCellsX = shape.renderCellsY = 24;
        shape.width = random.range(6, 14);
        shape.height = random.range(6, 14);
        shape.amplitude = random.range(0.2f, 2.0f);
        shape.controlJitter = random.range(0.0f, 0.3f);
        shape.renderNoise = 0.6f;
        shape.seed = seed;
        ModelData data;
        makeSyntheticModel(data, shape);
        for (int32_t i = 0; i < data.renderVertexCount; i += 3)
            data.renderNormals[i] = randomUnit(random);
        const auto model = makeFaceModel(data, SampleSearch::indexed);
        expectSameSearch(*model, makeQueries(*model, random, 1500));
        const auto exhaustive = makeFaceModel(data, SampleSearch::exhaustive);
        EXPECT_EQ(std::memcmp(model->attachments.get(), exhaustive->attachments.get(),
                              sizeof(Attachment) * static_cast<size_t>(data.renderVertexCount)),
                  0);
    }
}

// An empty index is the empty control mesh's (a face model test).
TEST(SampleIndex, NonFiniteSamplesAreLeftOut) {
    float d;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Vector3 positions[4] = {{nan, 0, 0}, {0.1f, 0, 0}, {0, 0, 1e30f}, {0.1f, 0, 0}};
    const Vector3 normals[4] = {{0, 0, 1}, {0, 0, -1}, {0, 0, 1}, {0, 0, 1}};
    SampleIndex index;
    buildSampleIndex(index, positions, 4, 3);
    EXPECT_EQ(index.pointCount, 3);
    // Sample 1 is refused by its normal (limit 0: every sample obeys the normal rule).
    EXPECT_EQ(findNearestSampleIndexed(d, index, normals, {0, 0, 0}, {0, 0, 1}, 0, 0.5f, 0.25f), 3);
    EXPECT_EQ(d, 0.1f);
    EXPECT_EQ(findNearestSampleIndexed(d, index, normals, {0, 0, 0}, {0, 0, 1}, 2, 0.5f, 0.25f), 1);
}
