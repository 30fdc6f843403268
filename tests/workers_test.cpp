// The pool of workers, and everything that fans out over it (the binding with its hinting
// samples, the update, the amplification) on 2, 3 and 7 threads against one thread, bit for
// bit, on the default model and on a synthetic one whose counts are no multiple of any
// block size. These tests also run in the ThreadSanitizer tree (face-thread-tests).
#include "face/amplification.h"
#include "face/face_model.h"
#include "face/workers.h"
#include "io/model_file.h"
#include "tests/support/synthetic_model.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

const int32_t threadCounts[] = {2, 3, 7};

template <class T> bool sameBytes(const T* a, const T* b, int64_t count) {
    return std::memcmp(a, b, sizeof(T) * size_t(count)) == 0;
}

// A synthetic face of 12,221 render vertices (odd), 24,000 render triangles, 378 control
// points and 680 control triangles: no count is a multiple of a block size (all powers of
// two), and every step of the update has several blocks. A few render triangles are
// made degenerate, so that vertex 0 belongs to none (a zero normal) and vertex 1 is listed
// twice in some.
void makeOddModel(ModelData& data) {
    SyntheticModelShape shape;
    shape.controlCellsX = 20;
    shape.controlCellsY = 17;
    shape.renderCellsX = 120;
    shape.renderCellsY = 100;
    shape.controlJitter = 0.1f;
    shape.seed = 11;
    makeSyntheticModel(data, shape);
    for (int32_t t = 0; t < data.renderTriangleCount; ++t)
        for (int32_t& index : data.renderTriangles[t].index)
            if (index == 0)
                index = 1;
}

// The same face with its render triangles shuffled: far from the vertex order, so that the
// render normals cannot be summed block by block of vertices.
void makeShuffledModel(ModelData& data) {
    makeOddModel(data);
    Random random(3);
    for (int32_t t = data.renderTriangleCount - 1; t > 0; --t)
        std::swap(data.renderTriangles[t], data.renderTriangles[int32_t(random.next() % (t + 1))]);
}

} // namespace

TEST(WorkerPool, EveryItemOnceInBlocksOfTheGivenSize) {
    // Counts around the block size, and one far above it; the pool is restarted with each
    // thread count and reused for many loops in a row.
    const int64_t blockSize = 64;
    WorkerPool pool;
    for (const int32_t threads : {1, 2, 3, 7}) {
        startWorkers(pool, threads);
        ASSERT_EQ(pool.threadCount, threads);
        for (const int64_t count :
             {int64_t(0), int64_t(1), blockSize - 1, blockSize, blockSize + 1, int64_t(100003)}) {
            for (int round = 0; round < 20; ++round) {
                std::vector<std::atomic<int32_t>> seen(size_t(count) + 1);
                std::atomic<int32_t> calls{0}, badBlocks{0}, badWorkers{0};
                parallelFor(pool, count, blockSize,
                            [&](int64_t begin, int64_t end, int32_t worker) {
                                ++calls;
                                // One thread (or one block): one call over everything; else block
                                // by block, each starting on a multiple of the block size.
                                const bool whole = threads == 1 || count <= blockSize;
                                if (whole ? (begin != 0 || end != count)
                                          : (begin % blockSize != 0 || end - begin > blockSize ||
                                             (end - begin < blockSize && end != count)))
                                    ++badBlocks;
                                if (worker < 0 || worker >= threads)
                                    ++badWorkers;
                                for (int64_t i = begin; i < end; ++i)
                                    ++seen[size_t(i)];
                            });
                const int64_t blocks = (count + blockSize - 1) / blockSize;
                EXPECT_EQ(calls, count == 0 ? 0 : threads == 1 ? 1 : blocks);
                EXPECT_EQ(badBlocks, 0);
                EXPECT_EQ(badWorkers, 0);
                for (int64_t i = 0; i < count; ++i)
                    ASSERT_EQ(seen[size_t(i)], 1) << threads << " threads, item " << i;
                EXPECT_EQ(seen[size_t(count)], 0);
            }
        }
    }
    startWorkers(pool, 1);
    EXPECT_EQ(pool.threadCount, 1);
    EXPECT_FALSE(pool.threads);
}

TEST(WorkerPool, EveryThreadTakesPartInALongLoop) {
    // Blocks that wait until every thread has started one: the loop can only finish if the
    // workers really run beside the calling thread.
    WorkerPool pool;
    startWorkers(pool, 3);
    std::atomic<int32_t> started{0};
    std::vector<std::atomic<int32_t>> byWorker(3);
    parallelFor(pool, 3, 1, [&](int64_t, int64_t, int32_t worker) {
        ++byWorker[size_t(worker)];
        ++started;
        while (started < 3) {
        }
    });
    for (const auto& n : byWorker)
        EXPECT_EQ(n, 1);
}

TEST(WorkerPool, LoopsStartedWhileOneRunsRunOnTheirCallersThread) {
    // A loop inside a block, and loops from two threads at once on one pool: each covers
    // its items once (an inner or second loop in one call, on its caller's thread).
    WorkerPool pool;
    startWorkers(pool, 3);
    const int64_t outer = 40, inner = 1000;
    std::vector<std::atomic<int32_t>> seen(size_t(outer * inner));
    parallelFor(pool, outer, 1, [&](int64_t begin, int64_t end, int32_t) {
        for (int64_t o = begin; o < end; ++o)
            parallelFor(pool, inner, 10, [&](int64_t b, int64_t e, int32_t) {
                for (int64_t i = b; i < e; ++i)
                    ++seen[size_t(o * inner + i)];
            });
    });
    for (const auto& n : seen)
        ASSERT_EQ(n, 1);
    std::vector<std::atomic<int32_t>> first(100000), second(100000);
    const auto count = [&](std::vector<std::atomic<int32_t>>& items) {
        for (int round = 0; round < 50; ++round)
            parallelFor(pool, int64_t(items.size()), 64, [&](int64_t b, int64_t e, int32_t) {
                for (int64_t i = b; i < e; ++i)
                    ++items[size_t(i)];
            });
    };
    std::thread other(count, std::ref(second));
    count(first);
    other.join();
    for (size_t i = 0; i < first.size(); ++i)
        ASSERT_TRUE(first[i] == 50 && second[i] == 50) << i;
}

// The binding, the update after moves and the amplification of each model on every thread
// count against one thread.
TEST(WorkerPool, ManyThreadsGiveTheOneThreadResultsBitForBit) {
    ModelData defaultModel, oddModel, shuffledModel;
    std::string error;
    ASSERT_TRUE(readModelFile(defaultModel, FACE_SOURCE_DIR "/data/retarget.model", error))
        << error;
    makeOddModel(oddModel);
    makeShuffledModel(shuffledModel);
    WorkerPool one;
    for (const ModelData* data : {&defaultModel, &oddModel, &shuffledModel}) {
        const int32_t K = data->controlPointCount, N = data->renderVertexCount;
        const int32_t subPatches = 3 * data->controlTriangleCount;
        // Two frames: the first pose moves a few points, the second most of them.
        std::vector<std::vector<Vector3>> poses(
            2, std::vector<Vector3>(data->controlPoints.get(), data->controlPoints.get() + K));
        Random random(5);
        for (int32_t c = 0; c < K; ++c)
            if (c % 17 == 3 || c % 3 != 0)
                poses[c % 17 == 3 ? 0 : 1][size_t(c)] =
                    data->controlPoints[c] + Vector3{random.range(-0.3f, 0.3f),
                                                     random.range(-0.3f, 0.3f),
                                                     random.range(-0.5f, 0.5f)};

        const auto expected = makeFaceModel(*data, SampleSearch::indexed, one);
        std::vector<std::vector<Vector3>> expectedPositions, expectedNormals;
        for (const auto& pose : poses) {
            expected->update(expected->renderPositions.get(), expected->renderNormals.get(),
                             pose.data(), one);
            expectedPositions.emplace_back(expected->renderPositions.get(),
                                           expected->renderPositions.get() + N);
            expectedNormals.emplace_back(expected->renderNormals.get(),
                                         expected->renderNormals.get() + N);
        }
        std::vector<float> expectedAmplification(static_cast<size_t>(N)),
            amplification(static_cast<size_t>(N));
        std::vector<int32_t> expectedWorst(static_cast<size_t>(N)), worst(static_cast<size_t>(N));
        computeAmplification(expectedAmplification.data(), expectedWorst.data(), *expected,
                             data->controlPoints.get(), smallAmplificationStep, one);

        for (const int32_t threads : threadCounts) {
            SCOPED_TRACE(std::to_string(N) + " render vertices, " + std::to_string(threads) +
                         " threads");
            WorkerPool pool;
            startWorkers(pool, threads);
            const auto model = makeFaceModel(*data, SampleSearch::indexed, pool);
            EXPECT_TRUE(sameBytes(model->samplePositions.get(), expected->samplePositions.get(),
                                  model->sampleCount));
            EXPECT_TRUE(sameBytes(model->sampleNormals.get(), expected->sampleNormals.get(),
                                  model->sampleCount));
            EXPECT_TRUE(sameBytes(model->attachments.get(), expected->attachments.get(), N));
            for (size_t p = 0; p < poses.size(); ++p) {
                model->update(model->renderPositions.get(), model->renderNormals.get(),
                              poses[p].data(), pool);
                EXPECT_TRUE(
                    sameBytes(model->renderPositions.get(), expectedPositions[p].data(), N));
                EXPECT_TRUE(sameBytes(model->renderNormals.get(), expectedNormals[p].data(), N));
            }
            // After the last frame: the control-mesh normals and the sub-patches.
            EXPECT_TRUE(sameBytes(model->controlNormals.get(), expected->controlNormals.get(), K));
            EXPECT_TRUE(
                sameBytes(model->edgeNormals.get(), expected->edgeNormals.get(), model->edgeCount));
            for (const auto b :
                 {&FaceModel::b300, &FaceModel::b210, &FaceModel::b201, &FaceModel::b120,
                  &FaceModel::b030, &FaceModel::b111, &FaceModel::b102, &FaceModel::b021,
                  &FaceModel::b012, &FaceModel::b003})
                EXPECT_TRUE(sameBytes((*model.*b).get(), (*expected.*b).get(), subPatches));
            computeAmplification(amplification.data(), worst.data(), *model,
                                 data->controlPoints.get(), smallAmplificationStep, pool);
            EXPECT_TRUE(sameBytes(amplification.data(), expectedAmplification.data(), N));
            EXPECT_TRUE(sameBytes(worst.data(), expectedWorst.data(), N));
        }
        // The vertex that lost its triangles keeps a zero normal on every thread count.
        if (data != &defaultModel) {
            EXPECT_EQ(dot(expectedNormals[1][0], expectedNormals[1][0]), 0.0f);
        }
    }
}

// The exhaustive search on several threads binds as the index does on one.
TEST(WorkerPool, ExhaustiveBindingOnThreadsEqualsTheIndexOnOne) {
    ModelData data;
    SyntheticModelShape shape;
    shape.renderCellsX = 40;
    shape.renderCellsY = 36;
    makeSyntheticModel(data, shape);
    WorkerPool one, three;
    startWorkers(three, 3);
    const auto indexed = makeFaceModel(data, SampleSearch::indexed, one);
    const auto exhaustive = makeFaceModel(data, SampleSearch::exhaustive, three);
    EXPECT_TRUE(sameBytes(exhaustive->attachments.get(), indexed->attachments.get(),
                          data.renderVertexCount));
}
