#include "face/workers.h"

#include <atomic>
#include <cassert>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// The workers sleep on wake until a new loop is posted (generation changes). Blocks are
// claimed from claim, which holds the loop's generation in its upper 32 bits and the next
// block in its lower 32: a worker that wakes late, after its loop was finished by the
// others, sees another generation and claims nothing, so the calling thread never waits for
// a worker that did not start (on a loaded machine a worker may wake milliseconds late).
// The calling thread returns when blocksDone reaches the block count.
struct WorkerThreads {
    std::mutex mutex;
    std::condition_variable wake, done;
    std::vector<std::thread> threads;
    uint32_t generation = 0; // loops posted so far (wrapping)
    bool stopping = false;
    // The loop being run.
    BlockLoop loop = {nullptr, nullptr};
    int64_t count = 0, blockSize = 1, blockCount = 0;
    std::atomic<uint64_t> claim{0};
    std::atomic<int64_t> blocksDone{0};
    std::atomic<bool> running{false}; // a loop is being run
};

namespace {

// Runs the blocks of loop generation g that are left, one claim at a time.
void takeBlocks(WorkerThreads& w, uint32_t g, const BlockLoop& loop, int64_t count,
                int64_t blockSize, int64_t blockCount, int32_t worker) {
    uint64_t c = w.claim.load(std::memory_order_relaxed);
    for (;;) {
        if (uint32_t(c >> 32) != g || int64_t(c & 0xffffffffu) >= blockCount)
            return;
        if (!w.claim.compare_exchange_weak(c, c + 1, std::memory_order_relaxed))
            continue; // c now holds the current value
        const int64_t begin = int64_t(c & 0xffffffffu) * blockSize;
        const int64_t end = count - begin < blockSize ? count : begin + blockSize;
        loop.run(loop.context, begin, end, worker);
        // The last block done wakes the calling thread; the release makes the block's
        // results visible to it.
        if (w.blocksDone.fetch_add(1, std::memory_order_acq_rel) + 1 == blockCount) {
            std::lock_guard<std::mutex> lock(w.mutex);
            w.done.notify_one();
        }
        c = w.claim.load(std::memory_order_relaxed);
    }
}

void workerMain(WorkerThreads& w, int32_t worker) {
    uint32_t seen = 0;
    for (;;) {
        std::unique_lock<std::mutex> lock(w.mutex);
        w.wake.wait(lock, [&] { return w.stopping || w.generation != seen; });
        if (w.stopping)
            return;
        seen = w.generation;
        const BlockLoop loop = w.loop;
        const int64_t count = w.count, blockSize = w.blockSize, blockCount = w.blockCount;
        lock.unlock();
        takeBlocks(w, seen, loop, count, blockSize, blockCount, worker);
    }
}

void stopWorkers(WorkerPool& pool) {
    if (!pool.threads)
        return;
    {
        std::lock_guard<std::mutex> lock(pool.threads->mutex);
        pool.threads->stopping = true;
    }
    pool.threads->wake.notify_all();
    for (std::thread& t : pool.threads->threads)
        t.join();
    pool.threads.reset();
    pool.threadCount = 1;
}

} // namespace

WorkerPool::WorkerPool() = default;
WorkerPool::~WorkerPool() { stopWorkers(*this); }

int32_t machineThreadCount() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int32_t>(n);
}

void startWorkers(WorkerPool& pool, int32_t threadCount) {
    assert(threadCount >= 1);
    stopWorkers(pool);
    if (threadCount == 1)
        return;
    pool.threads.reset(new WorkerThreads);
    for (int32_t worker = 1; worker < threadCount; ++worker)
        pool.threads->threads.emplace_back(workerMain, std::ref(*pool.threads), worker);
    pool.threadCount = threadCount;
}

namespace {

// The process-wide pool, started at its first use.
struct SharedPool {
    WorkerPool pool;
    bool started = false;
};
SharedPool& sharedPool() {
    static SharedPool shared;
    return shared;
}

} // namespace

WorkerPool& sharedWorkers() {
    SharedPool& shared = sharedPool();
    if (!shared.started) {
        startWorkers(shared.pool, machineThreadCount());
        shared.started = true;
    }
    return shared.pool;
}

void setSharedThreadCount(int32_t threadCount) {
    SharedPool& shared = sharedPool();
    startWorkers(shared.pool, threadCount);
    shared.started = true;
}

void runBlocks(WorkerPool& pool, int64_t count, int64_t blockSize, const BlockLoop& loop) {
    assert(blockSize >= 1);
    if (count <= 0)
        return;
    const int64_t blockCount = (count + blockSize - 1) / blockSize;
    if (pool.threadCount == 1 || blockCount == 1) {
        loop.run(loop.context, 0, count, 0);
        return;
    }
    assert(blockCount <= INT32_MAX);
    WorkerThreads& w = *pool.threads;
    // A loop posted while another runs (from another thread, or from inside a block) runs
    // on its caller's thread alone.
    if (w.running.exchange(true, std::memory_order_acquire)) {
        loop.run(loop.context, 0, count, 0);
        return;
    }
    uint32_t g;
    {
        std::lock_guard<std::mutex> lock(w.mutex);
        g = ++w.generation;
        w.loop = loop;
        w.count = count;
        w.blockSize = blockSize;
        w.blockCount = blockCount;
        w.blocksDone.store(0, std::memory_order_relaxed);
        w.claim.store(uint64_t(g) << 32, std::memory_order_relaxed);
    }
    w.wake.notify_all();
    takeBlocks(w, g, loop, count, blockSize, blockCount, 0);
    std::unique_lock<std::mutex> lock(w.mutex);
    w.done.wait(lock, [&] { return w.blocksDone.load(std::memory_order_acquire) == blockCount; });
    w.running.store(false, std::memory_order_release);
}
