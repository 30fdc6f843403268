// A pool of worker threads that runs the blocks of one loop on all cores: the per-frame
// update, the binding, the hinting samples and the amplification fan out through it.
//
// A loop is cut into blocks of a fixed size that does not depend on the thread count; the
// calling thread and the pool's workers take blocks in increasing order until none is
// left, and the call returns when every block is done. Every block writes only results of
// its own items, so what a loop computes never depends on the thread count or on which
// thread ran a block. A pool of one thread runs the loop on the calling thread, in one
// call over the whole range: the single-threaded code path unchanged.
//
// One loop runs on the workers at a time: a loop started on a pool that is running one
// (from another thread, or from inside a block) runs on its caller's thread alone, in one
// call over its whole range (worker 0 of that loop), with the same results.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

struct WorkerThreads; // the threads and their hand-over, defined with the pool

struct WorkerPool {
    int32_t threadCount = 1;                // the calling thread included
    std::unique_ptr<WorkerThreads> threads; // threadCount − 1 workers; null for one thread
    WorkerPool();
    ~WorkerPool(); // stops and joins the workers
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
};

// The most threads the tools' --threads accepts.
constexpr int32_t maxThreadCount = 1024;

// The thread count of this machine (std::thread::hardware_concurrency, 1 when unknown).
int32_t machineThreadCount();

// Stops the pool's workers and starts threadCount − 1 new ones (threadCount ≥ 1).
void startWorkers(WorkerPool& pool, int32_t threadCount);

// The process-wide pool the programs use, started at its first use with
// machineThreadCount() threads, or with the count given to setSharedThreadCount before.
WorkerPool& sharedWorkers();
// Restarts the shared pool with threadCount threads (≥ 1): the tools' --threads.
void setSharedThreadCount(int32_t threadCount);

// One loop as the pool runs it: run(context, begin, end, worker) for the items
// [begin, end) of one block; worker (0 .. threadCount − 1) names the thread, for scratch
// of its own. A plain function and its context: no allocation per loop.
struct BlockLoop {
    void (*run)(void* context, int64_t begin, int64_t end, int32_t worker);
    void* context;
};

// Runs loop over the items [0, count) in blocks of blockSize (the last one shorter). With
// one thread, or one block, calls it once over [0, count) on the calling thread (worker 0).
// A block must not throw (an exception on a worker ends the program): allocate before.
void runBlocks(WorkerPool& pool, int64_t count, int64_t blockSize, const BlockLoop& loop);

// runBlocks with a callable f(begin, end, worker).
template <class F> void parallelFor(WorkerPool& pool, int64_t count, int64_t blockSize, F&& f) {
    using Callable = std::remove_reference_t<F>;
    const BlockLoop loop = {[](void* context, int64_t begin, int64_t end, int32_t worker) {
                                (*static_cast<Callable*>(context))(begin, end, worker);
                            },
                            const_cast<void*>(static_cast<const void*>(&f))};
    runBlocks(pool, count, blockSize, loop);
}
