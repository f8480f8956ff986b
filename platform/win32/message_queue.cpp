// The per-thread message queue. Order of what PeekMessageA hands out:
// posted messages first (input included, in the order it happened), then
// WM_QUIT once PostQuitMessage was called, then WM_PAINT for a window that
// needs repainting; sent messages never queue.
#include <algorithm>
#include <chrono>

#include "platform/shell/window_system.h"
#include "platform/win32/keyboard.h"
#include "platform/win32/window.h"
#include "platform/win32/window_internal.h"

using namespace win32_detail;

namespace {

// Message times come from the steady clock directly, so that a test clock
// replacing timeGetTime sees only the program's own readings.
DWORD MessageTime() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

bool InRange(UINT message, UINT low, UINT high) {
    if (low == 0 && high == 0) return true;
    return message >= low && message <= high;
}

bool ForWindow(HWND messageWindow, HWND filter) {
    if (!filter) return true;
    if (filter == reinterpret_cast<HWND>(-1)) return messageWindow == nullptr;
    return messageWindow == filter;
}

// Taking a message from the queue is what changes the key state.
void OnMessageTaken(const MSG& m) {
    switch (m.message) {
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYDOWN:
        case WM_SYSKEYUP: UpdateKeyStateFromMessage(m.message, m.wParam); break;
        case WM_KILLFOCUS: ReleaseAllKeys(); break;
        default: break;
    }
}

}  // namespace

BOOL PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT removeMessage) {
    if (!message) return FALSE;
    GetWindowSystem()->PollEvents();
    std::shared_ptr<MessageQueue> q = CurrentQueue();
    bool remove = (removeMessage & PM_REMOVE) != 0;
    {
        std::unique_lock<std::mutex> lock(q->mutex);
        for (auto it = q->posted.begin(); it != q->posted.end(); ++it) {
            if (!ForWindow(it->hwnd, window) || !InRange(it->message, filterMin, filterMax)) continue;
            *message = *it;
            if (remove) {
                q->posted.erase(it);
                lock.unlock();
                OnMessageTaken(*message);
            }
            return TRUE;
        }
        if (q->quitPosted && (!window || window == reinterpret_cast<HWND>(-1)) &&
            InRange(WM_QUIT, filterMin, filterMax)) {
            *message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q->quitCode), 0, MessageTime(), {}};
            if (remove) q->quitPosted = false;
            return TRUE;
        }
    }
    if (InRange(WM_PAINT, filterMin, filterMax)) {
        for (HWND w : AllWindows()) {
            WindowObject* o = FindWindowObject(w);
            if (!o || !o->visible || !o->needsPaint || o->queue != q || !ForWindow(w, window))
                continue;
            // WM_PAINT stays until the window is validated (BeginPaint).
            *message = MSG{w, WM_PAINT, 0, 0, MessageTime(), {}};
            return TRUE;
        }
    }
    return FALSE;
}

BOOL GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax) {
    if (!message) return -1;
    for (unsigned turn = 0;; ++turn) {
        if (PeekMessageA(message, window, filterMin, filterMax, PM_REMOVE))
            return message->message != WM_QUIT;
        GetWindowSystem()->WaitForEvents(nullptr, turn);
    }
}

BOOL TranslateMessage(const MSG* message) {
    if (!message) return FALSE;
    UINT m = message->message;
    if (m != WM_KEYDOWN && m != WM_SYSKEYDOWN) return m == WM_KEYUP || m == WM_SYSKEYUP;
    int vk = static_cast<int>(message->wParam);
    int c = CharacterForKey(vk, GetKeyState(VK_SHIFT) < 0);
    if (c && GetKeyState(VK_CONTROL) < 0 && vk >= 'A' && vk <= 'Z') c &= 0x1F;  // Ctrl+letter
    if (c) {
        PostMessageA(message->hwnd, m == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR, static_cast<WPARAM>(c),
                     message->lParam);
    }
    return TRUE;
}

LRESULT DispatchMessageA(const MSG* message) {
    if (!message || !message->hwnd) return 0;
    return SendMessageA(message->hwnd, message->message, message->wParam, message->lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<MessageQueue> q;
    if (!window) {
        q = CurrentQueue();
    } else if (WindowObject* w = FindWindowObject(window)) {
        q = w->queue;
    } else {
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(q->mutex);
    q->posted.push_back(MSG{window, message, wParam, lParam, MessageTime(), {}});
    return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowObject* w = FindWindowObject(window);
    if (!w || !w->proc) return 0;
    WNDPROC proc = w->proc;
    return proc(window, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) {
    std::shared_ptr<MessageQueue> q = CurrentQueue();
    std::lock_guard<std::mutex> lock(q->mutex);
    q->quitPosted = true;
    q->quitCode = exitCode;
}
