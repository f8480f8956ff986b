#include "platform/win32/dialog.h"

#include "platform/shell/window_system.h"
#include "platform/win32/error.h"
#include "platform/win32/keyboard.h"
#include "platform/win32/message_box.h"
#include "platform/win32/resource.h"
#include "platform/win32/templates.h"
#include "platform/win32/window_internal.h"

using namespace win32_detail;

namespace {

constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_WINDOW_NOT_DIALOG = 1420;

// The id of the template's default push button; IDOK when it has none.
int DefaultButtonId(const DialogTemplate& t) {
    for (const DialogItem& item : t.items)
        if (item.classAtom == kButtonClassAtom && (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return item.id;
    return IDOK;
}

// What the dialog manager does with keys before the dialog sees them.
bool TranslateDialogKey(HWND dialog, const MSG& m, int defaultButton) {
    if (m.hwnd != dialog || m.message != WM_KEYDOWN) return false;
    if (m.wParam == static_cast<WPARAM>(VK_ESCAPE)) {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return true;
    }
    if (m.wParam == static_cast<WPARAM>(VK_RETURN)) {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(defaultButton), BN_CLICKED),
                     0);
        return true;
    }
    return false;
}

bool IsInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || message == WM_COMMAND ||
           message == WM_SYSCOMMAND;
}

}  // namespace

namespace win32_detail {

LRESULT DialogWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowObject* w = FindWindowObject(dialog);
    if (!w) return 0;
    DLGPROC proc = w->dialogProc;
    INT_PTR handled = proc ? proc(dialog, message, wParam, lParam) : FALSE;
    if (handled) return handled;
    switch (message) {
        case WM_CLOSE:
            // The close box cancels, as Esc does; the dialog procedure decides.
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(dialog, WM_CLOSE, 0, 0);
            return 0;
        case WM_PAINT: return DefWindowProcA(dialog, message, wParam, lParam);
        default: return 0;
    }
}

}  // namespace win32_detail

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC dialogProc,
                        LPARAM param) {
    HRSRC found = FindResourceA(instance, templateName, RT_DIALOG);
    if (!found) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    DialogTemplate t;
    if (!ParseDialogTemplate(LockResource(LoadResource(instance, found)),
                             SizeofResource(instance, found), &t)) {
        SetLastError(ERROR_INVALID_DATA);
        return -1;
    }

    auto object = std::make_unique<WindowObject>();
    object->className = "#32770";
    object->proc = DialogWindowProc;
    object->instance = instance;
    object->title = t.title;
    object->style = t.style & ~WS_VISIBLE;
    object->exStyle = t.exStyle;
    object->width = t.cx;
    object->height = t.cy;
    object->owner = owner;
    object->queue = CurrentQueue();
    object->isDialog = true;
    object->dialogProc = dialogProc;
    HWND dialog = AddWindowObject(std::move(object));
    WindowSystem* system = GetWindowSystem();
    if (!system->CreateNativeDialog(dialog, owner, t, instance)) {
        RemoveWindowObject(dialog);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return -1;
    }

    SendMessageA(dialog, WM_INITDIALOG, 0, param);
    bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (ownerWasEnabled) EnableWindow(owner, FALSE);
    if (WindowObject* w = FindWindowObject(dialog); w && !w->dialogEnded) ShowWindow(dialog, SW_SHOW);

    // The modal loop: runs until EndDialog, the dialog's destruction or WM_QUIT.
    int defaultButton = DefaultButtonId(t);
    bool quit = false;
    int quitCode = 0;
    for (unsigned turn = 0;;) {
        WindowObject* w = FindWindowObject(dialog);
        if (!w || w->dialogEnded) break;
        MSG m;
        if (!PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            system->WaitForEvents(dialog, turn++);
            continue;
        }
        if (m.message == WM_QUIT) {
            quit = true;
            quitCode = static_cast<int>(m.wParam);
            break;
        }
        if (TranslateDialogKey(dialog, m, defaultButton)) continue;
        // The owner is disabled: its input is dropped, everything else is handled.
        if (owner && m.hwnd == owner && IsInput(m.message)) continue;
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }

    INT_PTR result = 0;
    if (WindowObject* w = FindWindowObject(dialog)) {
        result = w->dialogEnded ? w->dialogResult : 0;
        DestroyWindow(dialog);
    }
    if (ownerWasEnabled && IsWindow(owner)) EnableWindow(owner, TRUE);
    if (quit) PostQuitMessage(quitCode);
    return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    WindowObject* w = FindWindowObject(dialog);
    if (!w || !w->isDialog) {
        SetLastError(ERROR_WINDOW_NOT_DIALOG);
        return FALSE;
    }
    w->dialogEnded = true;
    w->dialogResult = result;
    // Hidden at once; destroyed when the modal loop sees the end.
    ShowWindow(dialog, SW_HIDE);
    return TRUE;
}
