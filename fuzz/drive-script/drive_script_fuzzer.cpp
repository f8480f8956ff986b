// Reads arbitrary text as a drive-tool key script and as --keys text, and
// checks what a successful parse promises.
#include <cstdint>
#include <string>

#include "drive_script.h"

namespace {

void Check(const DriveScript& s) {
    if (s.empty != s.keys.empty()) __builtin_trap();
    for (const auto& [frame, keys] : s.keys) {
        // Every change lies within the ranges or right after the last one.
        if (frame > s.lastFrame + 1) __builtin_trap();
        for (int key : keys)
            if (!DriveKeyCode(key == 0x25 ? "Left" : key == 0x27 ? "Right" : std::string(1, char(key))))
                __builtin_trap();
    }
    // Nothing is held after the last range.
    if (!s.keys.empty() && !s.keys.rbegin()->second.empty()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    DriveScript script;
    if (ParseDriveScript(text, &script, &error))
        Check(script);
    else if (error.empty())
        __builtin_trap();
    DriveScript keys;
    error.clear();
    if (ParseDriveKeys(text, &keys, &error))
        Check(keys);
    else if (error.empty())
        __builtin_trap();
    return 0;
}
