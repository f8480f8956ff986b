#include "platform/win32/window.h"

#include <strings.h>

#include <algorithm>
#include <map>
#include <vector>

#include "platform/shell/window_system.h"
#include "platform/win32/error.h"
#include "platform/win32/keyboard.h"
#include "platform/win32/resource.h"
#include "platform/win32/templates.h"
#include "platform/win32/window_internal.h"

namespace win32_detail {
namespace {

constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;

struct WindowClass {
    ATOM atom = 0;
    std::string name;
    UINT style = 0;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HICON smallIcon = nullptr;
    LPCSTR menuName = nullptr;  // an id, or points into menuNameText
    std::string menuNameText;
};

std::mutex registryMutex;
std::vector<WindowClass> classes;
ATOM nextAtom = 0xC000;
std::map<ULONG_PTR, std::unique_ptr<WindowObject>> windows;  // ordered: creation order
ULONG_PTR nextHandle = 0x10010;

const WindowClass* FindClass(LPCSTR name) {
    if (!name) return nullptr;
    for (const WindowClass& c : classes) {
        if (IS_INTRESOURCE(name) ? c.atom == LOWORD(reinterpret_cast<ULONG_PTR>(name))
                                 : strcasecmp(c.name.c_str(), name) == 0)
            return &c;
    }
    return nullptr;
}

// What the frame, caption and menu bar take when the window system cannot say.
void ClientFromOuter(const WindowObject& w, bool hasMenu, int* width, int* height) {
    int frame = (w.style & WS_THICKFRAME) ? 4 : ((w.style & WS_CAPTION) ? 3 : 0);
    int caption = (w.style & WS_CAPTION) == WS_CAPTION ? 19 : 0;
    int menu = hasMenu ? 19 : 0;
    *width = std::max(0, w.width - 2 * frame);
    *height = std::max(0, w.height - 2 * frame - caption - menu);
}

}  // namespace

std::shared_ptr<MessageQueue> CurrentQueue() {
    thread_local std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
    return queue;
}

WindowObject* FindWindowObject(HWND window) {
    std::lock_guard<std::mutex> lock(registryMutex);
    auto it = windows.find(reinterpret_cast<ULONG_PTR>(window));
    return it == windows.end() ? nullptr : it->second.get();
}

HWND AddWindowObject(std::unique_ptr<WindowObject> object) {
    std::lock_guard<std::mutex> lock(registryMutex);
    ULONG_PTR id = nextHandle;
    nextHandle += 4;
    HWND handle = reinterpret_cast<HWND>(id);
    object->handle = handle;
    windows[id] = std::move(object);
    return handle;
}

void RemoveWindowObject(HWND window) {
    std::lock_guard<std::mutex> lock(registryMutex);
    windows.erase(reinterpret_cast<ULONG_PTR>(window));
}

std::deque<HWND> AllWindows() {
    std::lock_guard<std::mutex> lock(registryMutex);
    std::deque<HWND> all;
    for (auto& [id, w] : windows) all.push_back(w->handle);
    return all;
}

}  // namespace win32_detail

using namespace win32_detail;

ATOM RegisterClassExA(const WNDCLASSEXA* wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXA) || !wc->lpfnWndProc || !wc->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> lock(registryMutex);
    if (FindClass(wc->lpszClassName)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WindowClass c;
    c.atom = nextAtom++;
    c.name = IS_INTRESOURCE(wc->lpszClassName) ? "" : wc->lpszClassName;
    c.style = wc->style;
    c.proc = wc->lpfnWndProc;
    c.instance = wc->hInstance;
    c.icon = wc->hIcon;
    c.smallIcon = wc->hIconSm;
    if (wc->lpszMenuName && !IS_INTRESOURCE(wc->lpszMenuName)) c.menuNameText = wc->lpszMenuName;
    c.menuName = wc->lpszMenuName;
    classes.push_back(std::move(c));
    WindowClass& added = classes.back();
    if (!added.menuNameText.empty()) added.menuName = added.menuNameText.c_str();
    return added.atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
    std::lock_guard<std::mutex> lock(registryMutex);
    const WindowClass* c = FindClass(className);
    if (!c) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    classes.erase(classes.begin() + (c - classes.data()));
    return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU, HINSTANCE instance, LPVOID param) {
    (void)x, (void)y;  // the window system places the window
    WindowClass cls;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        const WindowClass* found = FindClass(className);
        if (!found) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        cls = *found;
        if (!cls.menuNameText.empty()) cls.menuName = cls.menuNameText.c_str();
    }
    auto object = std::make_unique<WindowObject>();
    object->className = cls.name;
    object->proc = cls.proc;
    object->classStyle = cls.style;
    object->instance = instance ? instance : cls.instance;
    object->title = windowName ? windowName : "";
    object->style = style & ~WS_VISIBLE;
    object->exStyle = exStyle;
    object->width = width == CW_USEDEFAULT ? 640 : std::max(0, width);
    object->height = (width == CW_USEDEFAULT || height == CW_USEDEFAULT) ? 480 : std::max(0, height);
    object->owner = parent;
    object->queue = CurrentQueue();

    NativeWindowDescription description;
    description.title = object->title;
    description.style = object->style;
    description.width = object->width;
    description.height = object->height;
    description.icon = cls.icon;
    description.smallIcon = cls.smallIcon ? cls.smallIcon : cls.icon;
    if (cls.menuName) {
        // The class menu, from the module's menu resources.
        HRSRC menu = FindResourceA(cls.instance, cls.menuName, RT_MENU);
        if (menu) {
            const void* bytes = LockResource(LoadResource(cls.instance, menu));
            ParseMenuTemplate(bytes, SizeofResource(cls.instance, menu), &description.menu);
        }
    }

    HWND handle = AddWindowObject(std::move(object));
    if (!GetWindowSystem()->CreateNativeWindow(handle, description)) {
        RemoveWindowObject(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!SendMessageA(handle, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(param)) ||
        SendMessageA(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(param)) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    if (style & WS_VISIBLE) ShowWindow(handle, SW_SHOW);
    return handle;
}

BOOL ShowWindow(HWND window, int showCommand) {
    WindowObject* w = FindWindowObject(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    bool wasVisible = w->visible;
    bool show = showCommand != SW_HIDE;
    if (show == wasVisible) return wasVisible;
    w->visible = show;
    if (show) {
        w->style |= WS_VISIBLE;
        w->needsPaint = true;  // a window coming into view has everything to paint
    } else {
        w->style &= ~WS_VISIBLE;
    }
    GetWindowSystem()->ShowNativeWindow(window, show);
    SendMessageA(window, WM_SHOWWINDOW, show, 0);
    return wasVisible;
}

BOOL UpdateWindow(HWND window) {
    WindowObject* w = FindWindowObject(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (w->visible && w->needsPaint) SendMessageA(window, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL DestroyWindow(HWND window) {
    WindowObject* w = FindWindowObject(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (w->destroying) return TRUE;
    w->destroying = true;
    // Owned windows (an open dialog) go first.
    for (HWND other : AllWindows()) {
        WindowObject* o = FindWindowObject(other);
        if (o && o->owner == window) DestroyWindow(other);
    }
    if ((w = FindWindowObject(window)) != nullptr && w->visible) {
        w->visible = false;
        GetWindowSystem()->ShowNativeWindow(window, false);
    }
    SendMessageA(window, WM_DESTROY, 0, 0);
    SendMessageA(window, WM_NCDESTROY, 0, 0);
    GetWindowSystem()->DestroyNativeWindow(window);
    RemoveWindowObject(window);
    return TRUE;
}

BOOL IsWindow(HWND window) { return FindWindowObject(window) != nullptr; }

BOOL IsWindowVisible(HWND window) {
    WindowObject* w = FindWindowObject(window);
    return w && w->visible;
}

BOOL EnableWindow(HWND window, BOOL enable) {
    WindowObject* w = FindWindowObject(window);
    if (!w) return FALSE;
    bool wasDisabled = !w->enabled;
    w->enabled = enable != FALSE;
    if (enable) {
        w->style &= ~WS_DISABLED;
    } else {
        w->style |= WS_DISABLED;
    }
    GetWindowSystem()->EnableNativeWindow(window, enable != FALSE);
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND window) {
    WindowObject* w = FindWindowObject(window);
    return w && w->enabled;
}

int GetWindowTextA(HWND window, LPSTR buffer, int size) {
    WindowObject* w = FindWindowObject(window);
    if (!w || !buffer || size <= 0) return 0;
    std::size_t n = std::min(w->title.size(), std::size_t(size - 1));
    w->title.copy(buffer, n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

BOOL GetWindowRect(HWND window, LPRECT rect) {
    WindowObject* w = FindWindowObject(window);
    if (!w || !rect) return FALSE;
    *rect = RECT{0, 0, w->width, w->height};
    return TRUE;
}

BOOL GetClientRect(HWND window, LPRECT rect) {
    WindowObject* w = FindWindowObject(window);
    if (!w || !rect) return FALSE;
    int width = 0, height = 0;
    if (!GetWindowSystem()->GetClientSize(window, &width, &height))
        ClientFromOuter(*w, false, &width, &height);
    *rect = RECT{0, 0, width, height};
    return TRUE;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCCREATE: return TRUE;
        case WM_CLOSE: DestroyWindow(window); return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(window, WM_CLOSE, 0, 0);
            return 0;
        case WM_SYSKEYDOWN:
            if (wParam == VK_F4 && (lParam & (1 << 29)))  // Alt+F4
                SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(window, &ps);
            EndPaint(window, &ps);
            return 0;
        }
        case WM_ERASEBKGND: return 1;
        default: return 0;
    }
}

BOOL InvalidateRect(HWND window, const RECT*, BOOL) {
    if (!window) {
        for (HWND w : AllWindows())
            if (WindowObject* o = FindWindowObject(w)) o->needsPaint = true;
        return TRUE;
    }
    WindowObject* w = FindWindowObject(window);
    if (!w) return FALSE;
    w->needsPaint = true;
    return TRUE;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    WindowObject* w = FindWindowObject(window);
    if (!w || !paint) return nullptr;
    w->needsPaint = false;  // validated: no further WM_PAINT until invalidated again
    *paint = PAINTSTRUCT{};
    // The program draws through the device, not through GDI; the context is a token.
    paint->hdc = reinterpret_cast<HDC>(window);
    GetClientRect(window, &paint->rcPaint);
    return paint->hdc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT*) { return IsWindow(window); }

void ResetWindowsForTesting() {
    for (HWND w : AllWindows())
        if (IsWindow(w)) DestroyWindow(w);
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        classes.clear();
    }
    std::shared_ptr<MessageQueue> q = CurrentQueue();
    std::lock_guard<std::mutex> lock(q->mutex);
    q->posted.clear();
    q->quitPosted = false;
    q->quitCode = 0;
}
