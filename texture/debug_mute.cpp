// Debug-runtime muting around device probes.
#include "texture/debug_mute.h"

#include "platform/win32/module.h"
#include "platform/win32/registry.h"

namespace {
using DebugSetMuteFunction = void (*)(BOOL);

struct MuteEntries {
    DebugSetMuteFunction entries[2] = {};
    bool doNotMute = false;

    MuteEntries() {
        const char* const modules[2] = {"d3d9.dll", "d3d9d.dll"};
        for (int i = 0; i < 2; ++i) {
            // Only modules that are already loaded: muting must not load one.
            if (HMODULE module = GetModuleHandleA(modules[i])) {
                entries[i] = reinterpret_cast<DebugSetMuteFunction>(GetProcAddress(module, "DebugSetMute"));
            }
        }
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Direct3D", 0, KEY_READ, &key) ==
            ERROR_SUCCESS) {
            DWORD type = 0, value = 0, size = sizeof(value);
            if (RegQueryValueExA(key, "DebugDoNotMute", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
                    ERROR_SUCCESS &&
                type == REG_DWORD && size == sizeof(value)) {
                doNotMute = value != 0;
            }
            RegCloseKey(key);
        }
    }
};
}  // namespace

void DebugMute(BOOL mute) {
    static const MuteEntries muteEntries;
    if (muteEntries.doNotMute) return;
    for (DebugSetMuteFunction entry : muteEntries.entries) {
        if (entry) entry(mute);
    }
}
