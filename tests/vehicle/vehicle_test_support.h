// Shared pieces of the vehicle tests: held keys, the overlay read back as
// text, and a software device.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/dsound/sound_output.h"
#include "platform/win32/message_box.h"
#include "platform/win32/keyboard.h"
#include "platform/win32/window.h"
#include "scene/text_overlay.h"
#include "sound/sound_set.h"
#include "tests/support/software_device_test.h"

namespace vehicletest {

// Keys as the frame sees them; everything released on both ends.
class Keys {
public:
    Keys() { ResetKeyStateForTesting(); }
    ~Keys() { ResetKeyStateForTesting(); }
    Keys(const Keys&) = delete;
    Keys& operator=(const Keys&) = delete;
    void Press(int key) { UpdateKeyStateFromMessage(WM_KEYDOWN, WPARAM(key)); }
    void Release(int key) { UpdateKeyStateFromMessage(WM_KEYUP, WPARAM(key)); }
};

// The overlay's lines by their y, decoded from the glyph quads' font cells
// (8 pixels a character, 32 cells a row of the font).
inline std::map<int, std::string> OverlayLines() {
    std::map<int, std::string> lines;
    for (const ScreenQuad& quad : textOverlay.Glyphs()) {
        const ScreenVertex& corner = quad.vertices[0];
        const int column = static_cast<int>(corner.u / 0.03125f + 0.5f);
        const int row = static_cast<int>(corner.v / 0.25f + 0.5f);
        const int y = static_cast<int>(corner.y + 0.5f);
        lines[y] += static_cast<char>(row * 32 + column + 32);
    }
    return lines;
}

// The program's sound set made from the data set's sounds on a capture
// device, installed as `soundSet` with its call journal running. Its
// buffers: #1 engine, #2 music, #3 shift, #4 off course.
class Sounds {
public:
    Sounds() {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(VINTREL_DATA_DIR);
        SelectSoundOutput(SoundOutputMode::Capture);
        EnableSoundJournal(true);
        oldHandler_ = SetMessageBoxHandler([](HWND, const char*, const char*, UINT) { return IDOK; });
        ok = set_.InitSound(reinterpret_cast<HWND>(0x1234)) == 1 && set_.shiftBuffer && set_.offCourseBuffer;
        TakeSoundJournal();
        soundSet = &set_;
    }
    ~Sounds() {
        soundSet = nullptr;
        SetMessageBoxHandler(oldHandler_);
        EnableSoundJournal(false);
        SelectSoundOutput(SoundOutputMode::Automatic);
        std::filesystem::current_path(previous_);
    }
    Sounds(const Sounds&) = delete;
    Sounds& operator=(const Sounds&) = delete;
    std::vector<std::string> Calls() { return TakeSoundJournal(); }

    bool ok = false;

private:
    std::filesystem::path previous_;
    MessageBoxHandler oldHandler_ = nullptr;
    SoundSet set_;
};

// A software device with the overlay cleared on both ends.
class DeviceTest : public SoftwareDeviceTest {
protected:
    void SetUp() override {
        SoftwareDeviceTest::SetUp();
        textOverlay.ClearOverlay();
    }
    void TearDown() override {
        textOverlay.ClearOverlay();
        SoftwareDeviceTest::TearDown();
    }
};

}  // namespace vehicletest
