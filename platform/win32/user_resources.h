// The user-interface resources: strings, accelerator tables, icons and
// cursors, read from the module's resources (see resource.h).
#pragma once

#include <vector>

#include "platform/win32/types.h"
#include "platform/win32/window.h"

// Stock icons and cursors (with a null instance).
#define IDI_APPLICATION MAKEINTRESOURCEA(32512)
#define IDC_ARROW MAKEINTRESOURCEA(32512)

// Copies string `id` (UTF-8) into the buffer, truncated to size - 1 bytes
// at a character boundary and terminated; returns the bytes copied, 0 when
// there is no such string.
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);

// Accelerator flags.
constexpr BYTE FVIRTKEY = 0x01;
constexpr BYTE FNOINVERT = 0x02;
constexpr BYTE FSHIFT = 0x04;
constexpr BYTE FCONTROL = 0x08;
constexpr BYTE FALT = 0x10;

struct ACCEL {
    BYTE fVirt;
    WORD key;  // a virtual key with FVIRTKEY, otherwise a character
    WORD cmd;
};

HACCEL LoadAcceleratorsA(HINSTANCE instance, LPCSTR tableName);
// The entries of a loaded table (empty for an unknown handle).
std::vector<ACCEL> GetAcceleratorEntries(HACCEL table);
// When the message is a key or character message matching an entry, sends
// WM_COMMAND (low word the command, high word 1) to the window and returns
// nonzero. Character entries match WM_CHAR, or WM_SYSCHAR when they have
// FALT; virtual-key entries match key-down messages with the same Shift,
// Ctrl and Alt state.
int TranslateAcceleratorA(HWND window, HACCEL table, LPMSG message);

// An icon group of the module, or a stock icon. Icon handles stay valid for
// the whole run; loading the same icon twice gives the same handle.
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);

// One image of an icon decoded to straight RGBA, row 0 at the top.
struct IconImage {
    int width = 0;
    int height = 0;
    int bitCount = 0;
    std::vector<BYTE> rgba;
};
// The images of an icon in the order of its group directory; empty for a
// stock icon or an unknown handle. Images that cannot be decoded are left out.
std::vector<IconImage> GetIconImages(HICON icon);
// The image closest to the size (smallest not smaller, else the largest),
// the deepest among equals; false when the icon has none.
bool GetIconImage(HICON icon, int size, IconImage* image);
