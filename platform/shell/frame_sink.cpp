#include "platform/shell/frame_sink.h"

#include <atomic>

namespace {
std::atomic<FrameSink*> currentSink{nullptr};
}

void SetFrameSink(FrameSink* sink) { currentSink.store(sink); }
FrameSink* GetFrameSink() { return currentSink.load(); }
