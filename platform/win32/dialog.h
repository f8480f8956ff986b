// Modal dialogs built from dialog templates in the module's resources.
#pragma once

#include "platform/win32/types.h"

using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

// Dialog styles.
constexpr DWORD DS_SETFONT = 0x00000040;
constexpr DWORD DS_MODALFRAME = 0x00000080;
// Static control styles.
constexpr DWORD SS_LEFT = 0x00000000;
constexpr DWORD SS_ICON = 0x00000003;
constexpr DWORD SS_TYPEMASK = 0x0000001F;
constexpr DWORD SS_NOPREFIX = 0x00000080;
// Button styles.
constexpr DWORD BS_PUSHBUTTON = 0x00000000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x00000001;
constexpr DWORD BS_TYPEMASK = 0x0000000F;
// Button notification (high word of a WM_COMMAND wParam).
constexpr WORD BN_CLICKED = 0;

// Makes the dialog from its template, sends it WM_INITDIALOG with `param`,
// disables the owner and runs a message loop of its own until the dialog
// procedure calls EndDialog; returns that result (-1 when the dialog could
// not be made). In the loop Esc and the close box become WM_COMMAND IDCANCEL
// and Enter the default button. A WM_QUIT taken in the loop ends the dialog
// (result 0) and is posted again for the outer loop.
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC dialogProc,
                        LPARAM param);
// Ends the modal loop of the dialog with the result; false for a window
// that is not a dialog.
BOOL EndDialog(HWND dialog, INT_PTR result);
