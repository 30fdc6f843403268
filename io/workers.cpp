#include "io/workers.h"

#include <atomic>
#include <cassert>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// The workers sleep on wake until a new loop is posted (generation changes); each then
// takes blocks from nextBlock until none is left and reports on done when it is through.
struct WorkerThreads {
    std::mutex mutex;
    std::condition_variable wake, done;
    std::vector<std::thread> threads;
    uint64_t generation = 0; // loops posted so far
    bool stopping = false;
    // The loop being run, valid while busy > 0.
    BlockLoop loop = {nullptr, nullptr};
    int64_t count = 0, blockSize = 1, blockCount = 0;
    std::atomic<int64_t> nextBlock{0};
    int32_t busy = 0; // workers not yet through the current loop
};

namespace {

void takeBlocks(WorkerThreads& w, const BlockLoop& loop, int64_t count, int64_t blockSize,
                int64_t blockCount, int32_t worker) {
    for (int64_t b; (b = w.nextBlock.fetch_add(1, std::memory_order_relaxed)) < blockCount;) {
        const int64_t begin = b * blockSize;
        const int64_t end = count - begin < blockSize ? count : begin + blockSize;
        loop.run(loop.context, begin, end, worker);
    }
}

void workerMain(WorkerThreads& w, int32_t worker) {
    uint64_t seen = 0;
    for (;;) {
        std::unique_lock<std::mutex> lock(w.mutex);
        w.wake.wait(lock, [&] { return w.stopping || w.generation != seen; });
        if (w.stopping)
            return;
        seen = w.generation;
        const BlockLoop loop = w.loop;
        const int64_t count = w.count, blockSize = w.blockSize, blockCount = w.blockCount;
        lock.unlock();
        takeBlocks(w, loop, count, blockSize, blockCount, worker);
        lock.lock();
        if (--w.busy == 0)
            w.done.notify_one();
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
    WorkerThreads& w = *pool.threads;
    {
        std::lock_guard<std::mutex> lock(w.mutex);
        w.loop = loop;
        w.count = count;
        w.blockSize = blockSize;
        w.blockCount = blockCount;
        w.nextBlock.store(0, std::memory_order_relaxed);
        w.busy = static_cast<int32_t>(w.threads.size());
        ++w.generation;
    }
    w.wake.notify_all();
    takeBlocks(w, loop, count, blockSize, blockCount, 0);
    std::unique_lock<std::mutex> lock(w.mutex);
    w.done.wait(lock, [&] { return w.busy == 0; });
}
