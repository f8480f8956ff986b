#include "platform/win32/debug.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {
std::mutex hookMutex;
DebugOutputHook hook = nullptr;
void* hookContext = nullptr;

bool DebugToStderr() {
    static const bool enabled = [] {
        const char* v = std::getenv("VINTREL_DEBUG");
        return v && std::strcmp(v, "1") == 0;
    }();
    return enabled;
}
}  // namespace

void OutputDebugStringA(LPCSTR text) {
    if (!text) return;
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        if (hook) hook(text, hookContext);
    }
    if (DebugToStderr()) std::fputs(text, stderr);
}

DebugOutputHook SetDebugOutputHookForTesting(DebugOutputHook newHook, void* context) {
    std::lock_guard<std::mutex> lock(hookMutex);
    DebugOutputHook previous = hook;
    hook = newHook;
    hookContext = context;
    return previous;
}
