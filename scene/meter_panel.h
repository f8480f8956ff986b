// The speed meter's moving parts: two needles on each gauge (the smoothed
// value and, faint, where it is heading) and the gear digit, all cut from
// the dial texture.
#pragma once

#include "scene/screen_quad.h"

class MeterPanel {
public:
    // Keeps a copy of the dial texture pointer (no reference of its own).
    explicit MeterPanel(IDirect3DTexture9* dialTexture);

    // Sets the four gauge values and the gear digit (gear index 0..4).
    void SetValues(float speed, float targetSpeed, float rpm, float targetRpm, int gear);
    // Draws the faint speed needle, the speed needle, the faint engine
    // needle, the engine needle and the gear digit.
    void DrawMeterPanel();

    // A needle turned to `value` on a gauge of `scale` degrees per unit
    // about (cx, cy): zero points straight down, larger values clockwise.
    ScreenQuad Needle(float value, float scale, float cx, float cy, D3DCOLOR colour) const;

    IDirect3DTexture9* texture;
    ScreenQuad needleTemplates[4];
    ScreenQuad gearDigit;
    float meterSpeed = 0, meterTargetSpeed = 0, meterRpm = 0, meterTargetRpm = 0;
};

extern MeterPanel* meterPanel;
