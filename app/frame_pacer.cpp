// The fixed-point frame pacer. Each frame is released `framePeriod`
// milliseconds (16.16) after the previous one's deadline: whole milliseconds
// per frame, the fraction carried from frame to frame, so 16.5 ms gives 16
// and 17 in turn. It sleeps while at least 4 ms remain and spins the last
// 3 ms for an exact release time.
#include "app/frame_pacer.h"
#include "platform/win32/timer.h"
#include "scene/scene.h"

namespace {
DWORD framePeriod = 0;  // the program never changes it: Present paces the frames
DWORD periodAccumulator = 0;
DWORD lastFrameTime = 0;
}  // namespace

void Scene::PaceFrame() {
    if (pacingEnabled == 0) return;
    DWORD now = timeGetTime();
    periodAccumulator = (periodAccumulator & 0xFFFF) + framePeriod;
    DWORD interval = periodAccumulator >> 16;
    DWORD elapsed = now - lastFrameTime;  // unsigned: the clock's wrap is harmless
    if (elapsed >= interval) {
        lastFrameTime = now;
        return;
    }
    DWORD remaining = interval - elapsed;
    if (remaining >= 4) Sleep(remaining - 3);
    while (timeGetTime() - lastFrameTime < interval) {
    }
    // The deadline, not the time of waking, so lateness does not add up.
    lastFrameTime += interval;
}

FramePacerState GetFramePacerState() { return {framePeriod, periodAccumulator, lastFrameTime}; }

void SetFramePacerStateForTesting(const FramePacerState& state) {
    framePeriod = state.framePeriod;
    periodAccumulator = state.periodAccumulator;
    lastFrameTime = state.lastFrameTime;
}
