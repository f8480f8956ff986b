// The shell's program-wide state, shared by its files.
#pragma once

#include "platform/d3d9/d3d9.h"
#include "platform/win32/windows.h"

extern HINSTANCE instanceHandle;
extern HWND mainWindow;
extern char windowTitle[100];
extern char windowClassName[100];
extern IDirect3D9* direct3D;
extern IDirect3DDevice9* device;
extern D3DPRESENT_PARAMETERS presentParameters;
