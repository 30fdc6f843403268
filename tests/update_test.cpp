// Per-frame deformation: rest reproduction, weights, rigid motions and locality in the
// reference order, and the fast update against the reference order bit for bit.
#include "face/amplification.h"
#include "face/face_model.h"
#include "io/model_file.h"
#include "tests/support/synthetic_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <vector>

namespace {

std::unique_ptr<FaceModel> bumpyModel(ModelData& data, uint32_t seed = 1) {
    // Control and render cells, width, height, amplitude, control jitter, render noise.
    SyntheticModelShape shape{6, 7, 40, 48, 8, 10, 1.0f, 0.1f, 0.3f};
    shape.seed = seed;
    makeSyntheticModel(data, shape);
    return makeFaceModel(data);
}

} // namespace

TEST(Update, RigidMotionsBlendRestAndCarriedPositionsByWeight) {
    ModelData data;
    auto model = bumpyModel(data, 3);
    // The identity (the rest pose), then a rotation about z by 30 degrees and a translation:
    // an attached vertex lands at rest + w·(motion(rest) − rest). Every fifth weight lowered.
    for (int32_t i = 0; i < model->renderVertexCount; i += 5)
        model->attachments[i].weight *= 0.4f;
    const float c = std::cos(0.5235988f), s = std::sin(0.5235988f);
    for (const bool rotate : {false, true}) {
        auto motion = [&](const Vector3& p) {
            return rotate ? Vector3{c * p.x - s * p.y, s * p.x + c * p.y, p.z} + Vector3{3, -2, 1}
                          : p;
        };
        std::vector<Vector3> moved(data.controlPoints.get(),
                                   data.controlPoints.get() + data.controlPointCount);
        for (Vector3& p : moved)
            p = motion(p);
        int attached = 0, unattached = 0;
        Vector3* positions = model->renderPositions.get();
        model->updateReference(positions, model->renderNormals.get(), moved.data());
        const float tolerance = 1e-4f; // 2e-5 of the model's half-height
        for (int32_t i = 0; i < model->renderVertexCount; ++i) {
            const Attachment& a = model->attachments[i];
            if (a.subPatch < 0) {
                ++unattached;
                EXPECT_TRUE(positions[i] == a.restPosition) << i;
            } else {
                ++attached;
                const Vector3 blend =
                    a.restPosition + a.weight * (motion(a.restPosition) - a.restPosition);
                EXPECT_LE(length(positions[i] - blend), tolerance) << i;
            }
        }
        // The render grid reaches beyond the control mesh, so both kinds occur.
        EXPECT_GT(attached, 1000);
        EXPECT_GT(unattached, 10);
    }
}

TEST(Update, MovingOneControlPointMovesOnlyDependentSubPatches) {
    ModelData data;
    auto model = bumpyModel(data);
    std::vector<Vector3> points(data.controlPoints.get(),
                                data.controlPoints.get() + data.controlPointCount);
    Vector3* positions = model->renderPositions.get();
    model->updateReference(positions, model->renderNormals.get(), points.data());
    const std::vector<Vector3> before(positions, positions + model->renderVertexCount);

    const int32_t moved = 3 * 7 + 3; // an interior control point
    points[moved] = points[moved] + Vector3{0.2f, -0.1f, 0.7f};
    model->updateReference(positions, model->renderNormals.get(), points.data());

    // Its triangles change face normals, so the normals of their corners and the normals
    // of their edges change: every triangle with a corner in that ring depends on it.
    std::set<int32_t> ring;
    for (int32_t t = 0; t < model->controlTriangleCount; ++t) {
        const int32_t* i = model->controlTriangles[t].index;
        if (i[0] == moved || i[1] == moved || i[2] == moved)
            ring.insert({i[0], i[1], i[2]});
    }
    int changed = 0, kept = 0;
    for (int32_t v = 0; v < model->renderVertexCount; ++v) {
        const int32_t s = model->attachments[v].subPatch;
        const int32_t* c = s >= 0 ? model->controlTriangles[s / 3].index : nullptr;
        const bool dependent = c && (ring.count(c[0]) || ring.count(c[1]) || ring.count(c[2]));
        if (dependent) {
            changed += !(positions[v] == before[v]);
        } else {
            ++kept;
            EXPECT_TRUE(positions[v] == before[v]) << v;
        }
    }
    EXPECT_GT(changed, 100);
    EXPECT_GT(kept, 100);
}

TEST(Update, VectorisedUpdateEqualsTheReferenceOrderBitForBit) {
    for (const uint32_t seed : {1u, 2u, 5u}) {
        ModelData data;
        auto fast = bumpyModel(data, seed);
        auto reference = makeFaceModel(data);
        WorkerPool oneThread; // the one-thread code (workers_test.cpp compares the others)
        Random random(seed);
        std::vector<Vector3> points(data.controlPoints.get(),
                                    data.controlPoints.get() + data.controlPointCount);
        // Some weights below 1, as the fallback and the distance give them, and some
        // vertices unattached.
        for (int32_t i = 0; i < fast->renderVertexCount; i += 5)
            fast->attachments[i].weight = reference->attachments[i].weight = 0.37f;
        for (int32_t i = 3; i < fast->renderVertexCount; i += 7)
            fast->attachments[i].subPatch = reference->attachments[i].subPatch = -1;
        // Vertex 0 loses its triangles to degenerate ones: its normal sum stays zero, too
        // short to normalise.
        for (FaceModel* model : {fast.get(), reference.get()})
            for (int32_t t = 0; t < model->renderTriangleCount; ++t) {
                int32_t* index = model->renderTriangles[t].index;
                if (index[0] == 0 || index[1] == 0 || index[2] == 0)
                    index[0] = index[1] = index[2] = 1;
            }
        for (int frame = 0; frame < 3; ++frame) {
            for (Vector3& p : points)
                p = p + Vector3{random.range(-0.2f, 0.2f), random.range(-0.2f, 0.2f),
                                random.range(-0.4f, 0.4f)};
            fast->update(fast->renderPositions.get(), fast->renderNormals.get(), points.data(),
                         oneThread);
            reference->updateReference(reference->renderPositions.get(),
                                       reference->renderNormals.get(), points.data());
            auto same = [&](const Vector3* x, const Vector3* y, int32_t count) {
                return std::memcmp(x, y, sizeof(Vector3) * static_cast<size_t>(count)) == 0;
            };
            for (const auto b :
                 {&FaceModel::b300, &FaceModel::b210, &FaceModel::b201, &FaceModel::b120,
                  &FaceModel::b030, &FaceModel::b111, &FaceModel::b102, &FaceModel::b021,
                  &FaceModel::b012, &FaceModel::b003})
                ASSERT_TRUE(
                    same((*fast.*b).get(), (*reference.*b).get(), 3 * fast->controlTriangleCount));
            const int32_t n = fast->renderVertexCount;
            EXPECT_TRUE(same(fast->renderPositions.get(), reference->renderPositions.get(), n));
            EXPECT_TRUE(same(fast->renderNormals.get(), reference->renderNormals.get(), n));
            EXPECT_EQ(dot(fast->renderNormals[0], fast->renderNormals[0]), 0.0f);
        }
    }
}

// The amplification, made from local rebuilds, against finite differences of whole updates:
// every control point of the default face moved 0.1 along each axis in turn. The positions
// are the update's own, so the two agree to the last bit (the requirement is 1 %).
TEST(Amplification, EqualsFiniteDifferencesOfTheUpdate) {
    ModelData data;
    std::string error;
    ASSERT_TRUE(readModelFile(data, FACE_SOURCE_DIR "/data/retarget.model", error)) << error;
    auto model = makeFaceModel(data);
    const int32_t K = data.controlPointCount, N = model->renderVertexCount;
    std::vector<float> amplification(N), expected(N, 0.0f);
    std::vector<int32_t> worst(N);
    computeAmplification(amplification.data(), worst.data(), *model, data.controlPoints.get(),
                         0.1f);

    std::vector<Vector3> rest(N), moved(N), normals(N);
    std::vector<Vector3> points(data.controlPoints.get(), data.controlPoints.get() + K);
    model->update(rest.data(), normals.data(), points.data());
    for (int32_t c = 0; c < K; ++c)
        for (int axis = 0; axis < 3; ++axis) {
            (&points[c].x)[axis] += 0.1f;
            model->update(moved.data(), normals.data(), points.data());
            points[c] = data.controlPoints[c];
            for (int32_t i = 0; i < N; ++i)
                expected[i] = std::max(expected[i], length(moved[i] - rest[i]) / 0.1f);
        }
    for (int32_t i = 0; i < N; ++i)
        ASSERT_EQ(amplification[i], expected[i]) << "render vertex " << i;

    // The default face follows its control points closely: nothing above 1.5.
    const AmplificationSummary summary =
        summarizeAmplification(amplification.data(), worst.data(), N);
    EXPECT_GT(summary.largest, 1.0f);
    EXPECT_LT(summary.largest, 1.5f);
    EXPECT_EQ(amplification[summary.renderVertex], summary.largest);
    EXPECT_EQ(summary.aboveOneAndHalf, 0);
}
