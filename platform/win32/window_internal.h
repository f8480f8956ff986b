// Shared by the window, queue and dialog parts of the platform layer; not
// for callers.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/win32/dialog.h"
#include "platform/win32/window.h"

namespace win32_detail {

// One thread's queue of posted messages, its quit flag.
struct MessageQueue {
    std::mutex mutex;
    std::deque<MSG> posted;
    bool quitPosted = false;
    int quitCode = 0;
};

std::shared_ptr<MessageQueue> CurrentQueue();

struct WindowObject {
    HWND handle = nullptr;
    std::string className;
    WNDPROC proc = nullptr;
    UINT classStyle = 0;
    HINSTANCE instance = nullptr;
    std::string title;
    DWORD style = 0;
    DWORD exStyle = 0;
    int width = 0, height = 0;
    HWND owner = nullptr;
    bool visible = false;
    bool enabled = true;
    bool needsPaint = false;
    bool destroying = false;
    std::shared_ptr<MessageQueue> queue;
    // Dialogs only.
    bool isDialog = false;
    DLGPROC dialogProc = nullptr;
    bool dialogEnded = false;
    INT_PTR dialogResult = 0;
};

// The window object of a handle, or null. The pointer stays valid until the
// window is destroyed; do not keep it across calls into window procedures.
WindowObject* FindWindowObject(HWND window);
// Makes a window object without telling the window system; returns its handle.
HWND AddWindowObject(std::unique_ptr<WindowObject> object);
// Forgets the object (after WM_NCDESTROY).
void RemoveWindowObject(HWND window);
// Handles of every window, in creation order.
std::deque<HWND> AllWindows();

// The procedure of every dialog window: the dialog procedure first, then the
// default dialog behaviour.
LRESULT DialogWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace win32_detail
