// The frame pacer's state: unsigned 32-bit, the period in milliseconds as
// 16.16 fixed point. The program runs with a period of 0 (the display's
// refresh paces the frames through Present); tests set others.
#pragma once

#include "platform/win32/types.h"

constexpr int pacingEnabled = 1;

struct FramePacerState {
    DWORD framePeriod;        // 16.16 milliseconds
    DWORD periodAccumulator;  // low 16 bits: the fraction carried to the next frame
    DWORD lastFrameTime;      // timeGetTime when the previous frame was released
};

FramePacerState GetFramePacerState();
void SetFramePacerStateForTesting(const FramePacerState& state);
