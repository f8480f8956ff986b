// The worker pool hands every piece out exactly once, returns only when all
// are done, and copes with callers that outrun its workers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/d3d9/render/worker_pool.h"

using render::WorkerPool;

TEST(RenderPool, EveryPieceRunsOnceAndIsDoneOnReturn) {
    for (int threads : {1, 2, 4}) {
        WorkerPool pool(threads);
        for (int pieces : {0, 1, 2, 3, 17, 64}) {
            // Many jobs in a row: a worker waking late must not run a stale one.
            for (int round = 0; round < 200; ++round) {
                std::vector<std::atomic<int>> hits(size_t(pieces) + 1);
                pool.Run(pieces, [&](int p) { hits[size_t(p)].fetch_add(1); });
                for (int p = 0; p < pieces; ++p) ASSERT_EQ(hits[size_t(p)].load(), 1) << threads << " " << pieces;
                ASSERT_EQ(hits[size_t(pieces)].load(), 0);
            }
        }
    }
}

TEST(RenderPool, WaitsForPiecesStillRunningOnAWorker) {
    WorkerPool pool(2);
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> finished{0};
        pool.Run(4, [&](int p) {
            if (p % 2) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            finished.fetch_add(1);
        });
        ASSERT_EQ(finished.load(), 4);
    }
}
