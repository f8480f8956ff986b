#include "platform/d3d9/render/worker_pool.h"

#include <cstdlib>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace render {

namespace {

// How long a thread spins before it sleeps: a frame's jobs follow one
// another within microseconds, and waking a sleeping thread takes tens of
// them, long enough for the caller to have taken every piece itself.
constexpr int kSpinChecks = 2000;

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

}  // namespace

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
    // With more threads than processors a spinning thread would only keep
    // a busy one off its processor.
    const unsigned processors = std::thread::hardware_concurrency();
    spinChecks_ = processors != 0 && unsigned(count_) <= processors ? kSpinChecks : 0;
    for (int i = 1; i < count_; ++i) threads_.emplace_back([this] { Loop(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    start_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void WorkerPool::Take(const std::function<void(int)>& fn, int pieces) {
    for (int p = next_.fetch_add(1, std::memory_order_relaxed); p < pieces;
         p = next_.fetch_add(1, std::memory_order_relaxed))
        fn(p);
}

void WorkerPool::Run(int pieces, const std::function<void(int)>& fn) {
    if (pieces <= 0) return;
    if (count_ == 1 || pieces == 1) {
        for (int p = 0; p < pieces; ++p) fn(p);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &fn;
        pieces_ = pieces;
        next_.store(0, std::memory_order_relaxed);
        ++generation_;
    }
    start_.notify_all();
    Take(fn, pieces);
    // Withdraw the offer, then wait only for workers already inside it.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = nullptr;
    }
    for (int spin = 0; spin < spinChecks_ && active_.load(std::memory_order_acquire) != 0; ++spin) Pause();
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return active_.load(std::memory_order_relaxed) == 0; });
}

void WorkerPool::Loop() {
    unsigned long seen = 0;
    for (;;) {
        const std::function<void(int)>* job;
        int pieces;
        for (int spin = 0; spin < spinChecks_ && generation_.load(std::memory_order_acquire) == seen; ++spin) Pause();
        {
            std::unique_lock<std::mutex> lock(mutex_);
            start_.wait(lock, [&] { return stop_ || generation_.load(std::memory_order_relaxed) != seen; });
            if (stop_) return;
            seen = generation_.load(std::memory_order_relaxed);
            if (!job_) continue;  // woke too late: the caller has finished it
            job = job_;
            pieces = pieces_;
            ++active_;
        }
        Take(*job, pieces);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (active_.fetch_sub(1, std::memory_order_release) == 1) done_.notify_one();
        }
    }
}

}  // namespace render
