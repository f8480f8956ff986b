// The one Direct3D 9 device of the program, made by the shell and used by
// every part that draws.
#pragma once

#include "platform/d3d9/d3d9.h"

// Null until the shell has made it.
IDirect3DDevice9* GetDevice();
IDirect3D9* GetDirect3D();
// The parameters the device was created with, as CreateDevice left them.
const D3DPRESENT_PARAMETERS& GetPresentParameters();

// Tests make the Direct3D object with their own function; null restores
// Direct3DCreate9.
using Direct3DCreateFunction = IDirect3D9* (*)(UINT sdkVersion);
void SetDirect3DCreateForTesting(Direct3DCreateFunction create);
