// The window system behind the Windows window functions: one small
// interface with two backends, a real display (GTK 3, its own library) and
// headless. The window functions keep the Windows semantics (handles,
// classes, the queue, the default procedures); a backend only makes the
// native windows and turns what happens to them into posted messages:
//   menu item chosen       -> WM_COMMAND (low word the id, high word 0)
//   close box              -> WM_SYSCOMMAND SC_CLOSE
//   key pressed / released -> WM_KEYDOWN / WM_KEYUP (WM_SYS* with Alt)
//   focus lost             -> WM_KILLFOCUS (every key is then released)
//   area needs repainting  -> InvalidateRect, hence WM_PAINT
//   dialog button clicked  -> WM_COMMAND with the button's id, to the dialog
#pragma once

#include <string>
#include <vector>

#include "platform/shell/frame_sink.h"
#include "platform/win32/templates.h"
#include "platform/win32/types.h"

struct NativeWindowDescription {
    std::string title;
    DWORD style = 0;
    int width = 0;  // outer size: frame and menu bar included
    int height = 0;
    std::vector<MenuItem> menu;  // empty: no menu bar
    HICON icon = nullptr;
    HICON smallIcon = nullptr;
};

class WindowSystem : public FrameSink {
public:
    virtual const char* Name() const = 0;

    virtual bool CreateNativeWindow(HWND window, const NativeWindowDescription& description) = 0;
    virtual void ShowNativeWindow(HWND window, bool show) = 0;
    virtual void EnableNativeWindow(HWND window, bool enable) = 0;
    virtual void DestroyNativeWindow(HWND window) = 0;
    // The client area: the outer size less frame, caption and menu bar.
    virtual bool GetClientSize(HWND window, int* width, int* height) = 0;

    // A dialog built from its template, shown modal over its owner.
    virtual bool CreateNativeDialog(HWND dialog, HWND owner, const DialogTemplate& dialogTemplate,
                                    HINSTANCE instance) = 0;

    // Takes what the display has pending and posts the messages for it.
    // Never blocks.
    virtual void PollEvents() = 0;
    // A modal loop found its queue empty: wait a little for something to
    // happen. `turn` counts the waits of the current modal loop from 0.
    virtual void WaitForEvents(HWND modalDialog, unsigned turn) = 0;

    virtual int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) = 0;
};

// Installs the window system (and with it the frame sink and the message
// box handler); null goes back to the built-in headless one. The caller
// keeps ownership and installs it before creating windows.
void InstallWindowSystem(WindowSystem* system);
// The installed window system; the built-in headless one when none is.
WindowSystem* GetWindowSystem();

// Posts a key message for a key going down or up to the window, with the
// flags Windows puts in lParam (bit 29 Alt, bit 30 previously down, bit 31
// going up), as WM_SYSKEY* while Alt is held. A down while down is a repeat.
void PostKeyEvent(HWND window, int virtualKey, bool down, bool altHeld);
// Posts WM_KILLFOCUS: the window lost the keyboard, so every key counts as
// up again, for the program (when it takes the message) and for the flags
// of the next key messages.
void PostFocusLost(HWND window);
