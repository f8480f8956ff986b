// Debugger output. Messages go to stderr when VINTREL_DEBUG=1, and to the
// hook a test installs (which then sees every message, debug or not).
#pragma once

#include "platform/win32/types.h"

void OutputDebugStringA(LPCSTR text);

using DebugOutputHook = void (*)(const char* text, void* context);
// Installs (or with null, removes) the hook; returns the previous one.
DebugOutputHook SetDebugOutputHookForTesting(DebugOutputHook hook, void* context);
