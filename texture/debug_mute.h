// Silencing the Direct3D debug runtime while the library probes a device
// with calls that are expected to fail.
#pragma once

#include "platform/win32/types.h"

// On first use looks up "DebugSetMute" in d3d9.dll and d3d9d.dll when they
// are already loaded; unless the registry value "DebugDoNotMute" under
// HKEY_LOCAL_MACHINE "Software\Microsoft\Direct3D" is non-zero, each entry
// found is called with `mute`.
void DebugMute(BOOL mute);
