#include "platform/d3d9/render/worker_pool.h"

#include <cstdlib>

namespace render {

int WorkerPool::DefaultCount() {
    if (const char* env = std::getenv("VINTREL_RENDER_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && n > 0) return n > 64 ? 64 : int(n);
    }
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : (n > 64 ? 64 : int(n));
}

WorkerPool::WorkerPool(int count) : count_(count > 0 ? count : DefaultCount()) {
    for (int i = 1; i < count_; ++i) threads_.emplace_back([this, i] { Loop(i); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    start_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void WorkerPool::Run(const std::function<void(int)>& fn) {
    if (count_ == 1) {
        fn(0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &fn;
        pending_ = count_ - 1;
        ++generation_;
    }
    start_.notify_all();
    fn(0);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
    job_ = nullptr;
}

void WorkerPool::Loop(int index) {
    unsigned long seen = 0;
    for (;;) {
        const std::function<void(int)>* job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            start_.wait(lock, [&] { return stop_ || generation_ != seen; });
            if (stop_) return;
            seen = generation_;
            job = job_;
        }
        (*job)(index);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (--pending_ == 0) done_.notify_one();
        }
    }
}

}  // namespace render
