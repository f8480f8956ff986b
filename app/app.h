// The application shell: process entry, the main window and its menu
// commands, the About box, the device and the message loop.
#pragma once

#include "platform/win32/windows.h"

// Display settings; nothing changes them.
constexpr int windowWidth = 640;   // outer window width and back-buffer width
constexpr int windowHeight = 480;  // outer window height and back-buffer height
constexpr BOOL windowed = TRUE;

// Loads the title and class name, registers the class, opens the window and
// the device, runs the scene setup and then the message loop: every waiting
// message is handled before a frame is drawn. Returns the wParam of WM_QUIT
// (0 after File -> Exit or the close box), or 1 when the window or the
// device cannot be made or a Present fails; the reason goes to stderr.
int WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand);

ATOM RegisterMainWindowClass(HINSTANCE instance);
// Opens and shows the main window, creates the Direct3D object, the device
// and its viewport. FALSE (with the reason on stderr) when a step fails.
BOOL CreateMainWindowAndDevice(HINSTANCE instance, int showCommand);
LRESULT MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The main window (null before it is made).
HWND GetMainWindow();
