// The renderer's worker threads. Run(pieces, fn) calls fn(p) exactly once
// for every piece p in [0, pieces), on whichever threads are free to take
// them, and returns when all calls have returned. The calling thread takes
// pieces too and never waits for a worker to wake up: a worker that is slow
// to be scheduled finds the pieces gone and goes back to sleep, so a loaded
// machine costs the caller at most the pieces already in progress. Workers
// spin for a short while after each job before they sleep, so the next job
// of the frame finds them awake (unless there are more threads than
// processors).
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace render {

class WorkerPool {
public:
    // count 0: VINTREL_RENDER_THREADS when set to a positive number, else one
    // per processor.
    explicit WorkerPool(int count = 0);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int Count() const { return count_; }
    void Run(int pieces, const std::function<void(int)>& fn);

    // The count a pool made with 0 would have.
    static int DefaultCount();

private:
    void Loop();
    void Take(const std::function<void(int)>& fn, int pieces);

    int count_;
    int spinChecks_ = 0;  // pauses before a thread waits; none when oversubscribed
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable start_, done_;
    // The job on offer; null once its caller has taken the last piece.
    const std::function<void(int)>* job_ = nullptr;
    int pieces_ = 0;
    std::atomic<int> next_{0};  // the next piece to hand out
    // Changed under the mutex; read without it by the short spins that
    // come before sleeping.
    std::atomic<int> active_{0};  // workers inside the current job
    std::atomic<unsigned long> generation_{0};
    bool stop_ = false;
};

}  // namespace render
