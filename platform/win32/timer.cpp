#include "platform/win32/timer.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::atomic<TimeSource> timeSource{nullptr};
std::atomic<SleepHandler> sleepHandler{nullptr};
}  // namespace

DWORD timeGetTime() {
    if (TimeSource source = timeSource.load()) return source();
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    // Truncation to 32 bits is the wrap.
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void Sleep(DWORD milliseconds) {
    if (SleepHandler handler = sleepHandler.load()) {
        handler(milliseconds);
        return;
    }
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SetTimeSourceForTesting(TimeSource source, SleepHandler sleeper) {
    timeSource.store(source);
    sleepHandler.store(sleeper);
}
