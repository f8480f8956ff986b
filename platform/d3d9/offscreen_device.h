// A software device for programs that only make, fill and read resources —
// tools, tests, benchmarks, fuzz harnesses. Nothing is presented, so it
// needs no window; a back-buffer size of 0 takes the device's default.
#pragma once

#include "platform/d3d9/d3d9.h"

// A new device (the caller releases it), or null when none can be made.
IDirect3DDevice9* CreateOffscreenDevice(UINT backBufferWidth = 0, UINT backBufferHeight = 0);

// One device for the whole process, made on first use and never released.
IDirect3DDevice9* SharedOffscreenDevice();
