// Time: the multimedia millisecond clock and sleeping.
#pragma once

#include "platform/win32/types.h"

// Milliseconds since an arbitrary start, wrapping at 2^32 (about 49.7 days).
DWORD timeGetTime();
void Sleep(DWORD milliseconds);

// Tests replace the clock and the sleep to drive time by hand; null
// restores the real ones. A replaced Sleep does not wait.
using TimeSource = DWORD (*)();
using SleepHandler = void (*)(DWORD milliseconds);
void SetTimeSourceForTesting(TimeSource source, SleepHandler sleeper);
