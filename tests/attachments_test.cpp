// Geometry attachments: the sample grids, the weight, the strict distance bound, the
// normal rule beyond sub-patch 365, ties, and degenerate frames.
#include "face/attachments.h"
#include "face/face_model.h"
#include "face/sample_index.h"
#include "geometry/projection.h"
#include "tests/support/synthetic_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// A flat control mesh in the plane z = 0 (normals +z): cellCount cells of a strip along x,
// two triangles each, and farCells more cells far away at x = 1000. With the default 61
// cells, triangles 0..121 are near the origin, so sub-patch 365 is the last one near the
// origin and 366 the first one far away. vertexCount render vertices wait at the origin
// for computeAttachments.
std::unique_ptr<FaceModel> flatModel(int32_t vertexCount, int32_t cellCount = 61,
                                     int32_t farCells = 2, float cellSize = 1.0f) {
    std::vector<Vector3> points;
    std::vector<Triangle> triangles;
    auto addCells = [&](float x0, int32_t cells) {
        const int32_t base = static_cast<int32_t>(points.size());
        for (int32_t i = 0; i <= cells; ++i) {
            points.push_back({cellSize * (x0 + static_cast<float>(i)), 0, 0});
            points.push_back({cellSize * (x0 + static_cast<float>(i)), cellSize, 0});
        }
        for (int32_t i = 0; i < cells; ++i) {
            const int32_t a = base + 2 * i, b = a + 2, c = a + 1, d = a + 3;
            triangles.push_back({{a, b, d}});
            triangles.push_back({{a, d, c}});
        }
    };
    addCells(0, cellCount);
    if (farCells > 0)
        addCells(1000, farCells);
    const std::vector<Vector3> positions(vertexCount), normals(vertexCount, {0, 0, 1});
    ModelData data;
    setModel(data, points.data(), static_cast<int32_t>(points.size()), triangles.data(),
             static_cast<int32_t>(triangles.size()), positions.data(), normals.data(), vertexCount,
             nullptr, 0);
    return makeFaceModel(data);
}

const Vector3 up = {0, 0, 1};

} // namespace

TEST(HintingSamples, LevelTenParametersAndPositions) {
    PatchParameter parameters[samplesPerSubPatch];
    fillParameterGrid(parameters, hintingLevel);
    // Rows of 11, 10, 9, ... cells: row 1 starts at index 11, row 2 holds indices 21 .. 29;
    // index 10 ends row 0 on the outer edge u + v = 1.
    const float worked[][3] = {{0, 0.0454545f, 0.0454545f},
                               {10, 0.9545455f, 0.0454545f},
                               {11, 0.0454545f, 0.1363636f},
                               {23, 0.2272727f, 0.2272727f},
                               {65, 0.0454545f, 0.9545455f}};
    for (const auto& w : worked) {
        EXPECT_NEAR(parameters[int(w[0])].u, w[1], 1e-7f) << w[0];
        EXPECT_NEAR(parameters[int(w[0])].v, w[2], 1e-7f) << w[0];
    }

    // Every sample of the model is its sub-patch evaluated at its parameters.
    ModelData data;
    makeSyntheticModel(data, {2, 2, 1, 1}); // control cells, render cells
    const auto model = makeFaceModel(data);
    ASSERT_EQ(model->sampleCount, 24 * samplesPerSubPatch);
    Vector3 p[10];
    for (int32_t i = 0; i < model->sampleCount; i += 7) {
        model->subPatchNet(p, i / samplesPerSubPatch);
        const PatchParameter& q = model->sampleParameters[i % samplesPerSubPatch];
        Vector3 point, normal;
        evaluateSubPatchNormal(point, normal, p, q.u, q.v, 1.0f - q.u - q.v);
        EXPECT_TRUE(point == model->samplePositions[i]) << i;
        EXPECT_TRUE(normal == model->sampleNormals[i]) << i;
    }
}

TEST(AttachmentWeight, FallsFromOneToZeroAtTheBound) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float worked[][2] = {
        {0.0f, 1.0f}, {0.5f, 0.9368f}, {-0.5f, 0.9368f}, {std::nextafter(1.0f, 0.0f), 0.7351f},
        {1.0f, 0.0f}, {3.0f, 0.0f},    {-1.0f, 0.0f},    {nan, 0.0f}};
    for (const auto& w : worked)
        EXPECT_NEAR(attachmentWeight(w[0]), w[1], w[1] == 0 || w[1] == 1 ? 0.0f : 1e-4f) << w[0];
}

TEST(Attachments, DistanceBoundIsStrict) {
    // Samples of a flat patch lie exactly in z = 0, so a vertex straight above one at
    // height h is exactly h from it, and every other sample is farther.
    const auto model = flatModel(4);
    const Vector3 S = model->samplePositions[5 * samplesPerSubPatch + 12];
    ASSERT_EQ(S.z, 0.0f);
    const float below = std::nextafter(0.5f, 0.0f);
    const Vector3 positions[4] = {{S.x, S.y, 0.5f}, {S.x, S.y, below}, S, {S.x, S.y, 0.25f}};
    const Vector3 normals[4] = {up, up, up, up};
    model->computeAttachments(positions, normals);
    const Attachment* a = model->attachments.get();
    EXPECT_EQ(a[0].subPatch, -1);
    EXPECT_EQ(a[0].weight, 0.0f);
    EXPECT_EQ(a[1].subPatch, 5);
    EXPECT_NEAR(a[1].weight, 0.7351f, 1e-4f);
    // On the sample itself: weight 1 up to the rounding of the projection.
    EXPECT_EQ(a[2].subPatch, 5);
    EXPECT_NEAR(a[2].weight, 1.0f, 1e-6f);
    EXPECT_NEAR(a[3].weight, 0.9368f, 1e-4f);
    // Straight above the sample the start is already the foot point: parameters kept,
    // offset along the normal only.
    EXPECT_EQ(a[3].u, model->sampleParameters[12].u);
    EXPECT_EQ(a[3].v, model->sampleParameters[12].v);
    EXPECT_NEAR(a[3].offset[2], 0.25f, 1e-6f);
    EXPECT_NEAR(a[3].offset[0], 0.0f, 1e-6f);
    EXPECT_NEAR(a[3].normalCoords[2], 1.0f, 1e-6f);
}

TEST(Attachments, NormalRuleStartsAtSubPatch366) {
    const auto model = flatModel(4);
    ASSERT_EQ(model->controlTriangleCount, 126);
    const Vector3 s365 = model->samplePositions[365 * samplesPerSubPatch + 12];
    const Vector3 s366 = model->samplePositions[366 * samplesPerSubPatch + 12];
    ASSERT_LT(s365.x, 100.0f);
    ASSERT_GT(s366.x, 900.0f);
    // Sample normals are exactly +z, so (x, 0, 0.25) gives a dot product of exactly 0.25.
    ASSERT_TRUE(model->sampleNormals[366 * samplesPerSubPatch + 12] == up);
    const Vector3 down = {0, 0, -1};
    const Vector3 quarter = {std::sqrt(1.0f - 0.0625f), 0, 0.25f};
    const Vector3 aboveQuarter = {std::sqrt(1.0f - 0.0625f), 0, std::nextafter(0.25f, 1.0f)};
    const Vector3 lift = {0, 0, 0.01f};
    const Vector3 positions[4] = {s365 + lift, s366 + lift, s366 + lift, s366 + lift};
    const Vector3 normals[4] = {down, down, quarter, aboveQuarter};
    for (const SampleSearch search : {SampleSearch::indexed, SampleSearch::exhaustive}) {
        model->computeAttachments(positions, normals, search);
        const Attachment* a = model->attachments.get();
        EXPECT_EQ(a[0].subPatch, 365) << "free sub-patch, any normal";
        EXPECT_EQ(a[1].subPatch, -1) << "normal facing away";
        EXPECT_EQ(a[2].subPatch, -1) << "dot product exactly 0.25";
        EXPECT_EQ(a[3].subPatch, 366) << "dot product just above 0.25";
    }
    float d;
    EXPECT_EQ(model->findNearestSample(d, positions[3], normals[3], hintingFreeSampleLimit),
              366 * samplesPerSubPatch + 12);
    EXPECT_EQ(d, 0.01f);
}

TEST(Attachments, EqualDistancesTakeTheLowerIndex) {
    auto model = flatModel(0);
    // Park every sample far away, then make ties: two samples mirrored about P, and a
    // bundle of identical samples scattered over the index range (so over many leaves).
    const Vector3 far = {5000, 5000, 5000};
    for (int32_t i = 0; i < model->sampleCount; ++i)
        model->samplePositions[i] = far + Vector3{float(i % 97), float(i % 89), 0};
    const Vector3 P = {1, 2, 3};
    model->samplePositions[900] = P + Vector3{0.25f, 0, 0};
    model->samplePositions[300] = P - Vector3{0.25f, 0, 0};
    const Vector3 Q = {-7, 1, 0.5f};
    for (const int32_t i : {20000, 20001, 7000, 15000, 123, 24155, 24156})
        model->samplePositions[i] = Q;
    SampleIndex index;
    buildSampleIndex(index, model->samplePositions.get(), model->sampleCount, 7);
    const struct {
        Vector3 X;
        int32_t sample;
        float distance;
    } ties[] = {{P, 300, 0.25f}, {Q, 123, 0.0f}};
    for (const auto& t : ties) {
        float d1, d2;
        EXPECT_EQ(model->findNearestSample(d1, t.X, up, hintingFreeSampleLimit), t.sample);
        EXPECT_EQ(findNearestSampleIndexed(d2, index, model->sampleNormals.get(), t.X, up,
                                           hintingFreeSampleLimit, maxAttachDistance, minNormalDot),
                  t.sample);
        EXPECT_EQ(d1, t.distance);
        EXPECT_EQ(d2, t.distance);
    }
}

TEST(Attachments, DegenerateFrameLeavesTheVertexUnattached) {
    // Sub-patch 0 collapsed onto a line: finite samples along it, but t1 × t2 = 0.
    const Vector3 P = {0.5f, 0.05f, 0.02f};
    auto model = flatModel(1);
    model->computeAttachments(&P, &up);
    ASSERT_EQ(model->attachments[0].subPatch, 0);
    for (ArrayHolder<Vector3>* net :
         {&model->b300, &model->b210, &model->b201, &model->b120, &model->b030, &model->b111,
          &model->b102, &model->b021, &model->b012, &model->b003}) {
        Vector3& p = (*net)[0];
        p = {p.x, 0.05f, 0};
    }
    model->computeAttachments(&P, &up);
    float d;
    ASSERT_GE(model->findNearestSample(d, P, up, hintingFreeSampleLimit), 0);
    EXPECT_EQ(model->attachments[0].subPatch, -1);
    EXPECT_EQ(model->attachments[0].weight, 0.0f);
    EXPECT_TRUE(model->attachments[0].restPosition == P);
}

TEST(Attachments, ProjectionLeavingTheSubTriangleFallsBackToTheSample) {
    // Cells of 10 units, so that the projection's absolute tolerance lets it move. Sample 50
    // of sub-patch 30 lies on the strip's border edge y = 0 (w = 0), sample 12 inside.
    const auto model = flatModel(2, 10, 0, 10.0f);
    const Vector3 border = model->samplePositions[30 * samplesPerSubPatch + 50];
    ASSERT_EQ(border.y, 0.0f);
    const Vector3 outside = border + Vector3{0.1f, -0.2f, 0.05f};
    const Vector3 inside =
        model->samplePositions[30 * samplesPerSubPatch + 12] + Vector3{0.1f, 0.15f, 0.05f};
    const Vector3 positions[2] = {outside, inside}, normals[2] = {up, up};
    model->computeAttachments(positions, normals);
    float d0, d1;
    ASSERT_EQ(model->findNearestSample(d0, outside, up, hintingFreeSampleLimit),
              30 * samplesPerSubPatch + 50);
    ASSERT_EQ(model->findNearestSample(d1, inside, up, hintingFreeSampleLimit),
              30 * samplesPerSubPatch + 12);

    // Beyond the border the foot point is outside the sub-triangle: the sample's parameters
    // are kept, and the projected distance (the height 0.05 above the plane) gives the
    // weight instead of the sample's distance.
    const Attachment& a = model->attachments[0];
    EXPECT_EQ(a.subPatch, 30);
    EXPECT_EQ(a.u, model->sampleParameters[50].u);
    EXPECT_EQ(a.v, model->sampleParameters[50].v);
    EXPECT_GT(d0, 0.2f);
    // The iteration stops with f < 0.01, a few hundredths from the foot point: |d| lies
    // between the height and 0.06, far below the sample's distance.
    EXPECT_LE(a.weight, attachmentWeight(0.05f / 0.5f) + 1e-6f);
    EXPECT_GT(a.weight, attachmentWeight(0.06f / 0.5f));

    // Inside, the projected parameters are kept, and the sample's distance gives the weight.
    const Attachment& b = model->attachments[1];
    EXPECT_EQ(b.subPatch, 30);
    EXPECT_NE(b.u, model->sampleParameters[12].u);
    EXPECT_EQ(b.weight, attachmentWeight(d1 / 0.5f));
    Vector3 Q;
    SubPatchFrame frame;
    model->evaluateFrame(Q, frame, b.subPatch, b.u, b.v);
    EXPECT_NEAR(Q.x, inside.x, 0.03f);
    EXPECT_NEAR(Q.y, inside.y, 0.03f);
    EXPECT_NEAR(b.offset[2], 0.05f, 1e-3f);
}

TEST(Attachments, ProjectionEndingExactlyOnTheBorderEdgeIsKept) {
    // The sub-triangle includes its border edge u + v = 1: a projection that ends exactly
    // there keeps its parameters. Points beside sample 50 of sub-patch 30 (on the border
    // y = 0) are moved outwards until the projection from the sample's parameters ends near
    // u + v = 1 (bracketed, then bisected). The iteration's rounding lets the sum take only
    // every few millionth there, so the floats of y around that place, for one offset
    // along the border after another, are tried until a sum is 1 exactly.
    const auto model = flatModel(1, 10, 0, 10.0f);
    const int32_t s = 30, sample = s * samplesPerSubPatch + 50;
    const PatchParameter start = model->sampleParameters[50];
    Vector3 p[10];
    model->subPatchNet(p, s);
    float u, v, d;
    Vector3 X;
    auto sumAt = [&](float x, float y) {
        X = model->samplePositions[sample] + Vector3{x, y, 0.05f};
        u = start.u;
        v = start.v;
        projectToSubPatch(u, v, d, X, p);
        return u + v;
    };
    bool found = false;
    for (int32_t k = 0; k < 400 && !found; ++k) {
        const float x = 0.02f + 0.001f * static_cast<float>(k);
        float inside = 0.0f, outside = 0.0f;
        while (sumAt(x, outside) < 1.0f && outside > -0.1f)
            outside -= 1e-3f;
        for (int i = 0; i < 40; ++i) {
            const float middle = 0.5f * (inside + outside);
            (sumAt(x, middle) < 1.0f ? inside : outside) = middle;
        }
        float y = inside;
        for (int i = 0; i < 200; ++i)
            y = std::nextafter(y, 1.0f);
        for (int i = 0; i < 400 && !found; ++i, y = std::nextafter(y, -1.0f))
            found = sumAt(x, y) == 1.0f && u >= 0.0f && v >= 0.0f;
    }
    ASSERT_TRUE(found);
    float best;
    ASSERT_EQ(model->findNearestSample(best, X, up, hintingFreeSampleLimit), sample);
    ASSERT_LE(d * d, best * best);

    model->computeAttachments(&X, &up);
    EXPECT_EQ(model->attachments[0].subPatch, s);
    EXPECT_EQ(model->attachments[0].u, u);
    EXPECT_EQ(model->attachments[0].v, v);
}
