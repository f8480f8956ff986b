// The device's complaints about invalid calls, written with
// OutputDebugStringA unless DebugSetMute has muted them.
#pragma once

#include "platform/d3d9/d3d9.h"

// Writes "Direct3D9: <method>: <what>" and returns D3DERR_INVALIDCALL, so a
// method can `return InvalidCall("LockRect", "surface is already locked");`.
HRESULT InvalidCall(const char* method, const char* what);
// The same message for another failure code, which it returns.
HRESULT ReportFailure(HRESULT result, const char* method, const char* what);
bool DebugMessagesMuted();
