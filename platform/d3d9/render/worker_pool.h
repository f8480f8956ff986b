// The renderer's worker threads. Run(fn) calls fn(i) once for every worker
// index i in [0, Count()), index 0 on the calling thread, and returns when
// all calls have returned.
#pragma once

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
    void Run(const std::function<void(int)>& fn);

    // The count a pool made with 0 would have.
    static int DefaultCount();

private:
    void Loop(int index);

    int count_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable start_, done_;
    const std::function<void(int)>* job_ = nullptr;
    unsigned long generation_ = 0;
    int pending_ = 0;
    bool stop_ = false;
};

}  // namespace render
