#include "platform/shell/window_system.h"

#include <atomic>
#include <bitset>

#include "platform/shell/headless.h"
#include "platform/win32/message_box.h"
#include "platform/win32/window.h"

namespace {

std::atomic<WindowSystem*> installed{nullptr};

HeadlessWindowSystem& BuiltIn() {
    static HeadlessWindowSystem system;
    return system;
}

int ShowThroughWindowSystem(HWND owner, const char* text, const char* caption, UINT type) {
    return GetWindowSystem()->ShowMessageBox(owner, text, caption, type);
}

// Keys as posted (not as taken), for the previous-state bit.
thread_local std::bitset<256> postedDown;

}  // namespace

void InstallWindowSystem(WindowSystem* system) {
    installed.store(system);
    SetFrameSink(system ? system : &BuiltIn());
    SetMessageBoxHandler(system ? ShowThroughWindowSystem : nullptr);
}

WindowSystem* GetWindowSystem() {
    WindowSystem* system = installed.load();
    return system ? system : &BuiltIn();
}

void PostKeyEvent(HWND window, int virtualKey, bool down, bool altHeld) {
    if (virtualKey < 0 || virtualKey > 255) return;
    bool wasDown = postedDown[virtualKey];
    postedDown[virtualKey] = down;
    // Repeat count 1; bit 29 context (Alt), 30 previous state, 31 transition.
    LPARAM lParam = 1 | (altHeld ? (1 << 29) : 0) | (wasDown ? (1 << 30) : 0);
    if (!down) lParam |= static_cast<LPARAM>(0x80000000u);
    bool system = altHeld || virtualKey == 0x12;  // VK_MENU itself
    UINT message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
    PostMessageA(window, message, static_cast<WPARAM>(virtualKey), lParam);
}

void PostFocusLost(HWND window) {
    postedDown.reset();
    PostMessageA(window, WM_KILLFOCUS, 0, 0);
}
