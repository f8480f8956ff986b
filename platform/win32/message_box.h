// Message boxes. The window system installs the handler that shows them;
// until one is installed a message box is written to stderr and answered
// with its default button.
#pragma once

#include "platform/win32/types.h"

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_TYPEMASK = 0x0000000F;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

using MessageBoxHandler = int (*)(HWND owner, const char* text, const char* caption, UINT type);
// Installs (or with null, removes) the handler; returns the previous one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
// The answer a box of this type gives when nobody is there to click.
int DefaultMessageBoxAnswer(UINT type);
