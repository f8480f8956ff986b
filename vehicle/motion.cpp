#include <cmath>
#include <cstdio>

#include "platform/win32/keyboard.h"
#include "scene/text_overlay.h"
#include "vehicle/vehicle_state.h"

void VehicleState::StepMotion() {
    bool rightHeld = GetKeyState(VK_RIGHT) < 0;
    if (rightHeld) {
        // Back through the centre twice as fast.
        float step = steer < 0.0f ? 0.0012f : 0.0006f;
        steer = steer + step;
        if (steer > 0.012f) steer = 0.012f;
    }
    if (GetKeyState(VK_LEFT) < 0) {
        float step = steer > 0.0f ? 0.0012f : 0.0006f;
        steer = steer - step;
        if (steer < -0.012f) steer = -0.012f;
    } else if (!rightHeld) {
        steer = steer - steer * 0.05f;
    }

    stepLength = speed * 0.014285714f;
    // Above 105 km/h the steering authority falls with speed.
    if (stepLength > 1.5f)
        heading = heading + (2.4f - stepLength) * steer;
    else
        heading = heading + steer;

    posX = posX - float(std::sin(double(heading))) * stepLength;
    posZ = posZ - float(std::cos(double(heading))) * stepLength;
}

void VehicleState::AddPositionLine() const {
    char line[128];
    std::snprintf(line, sizeof line, "POS X%5.2f,Y%5.2f,Z%5.2f/Rot%5.2f", double(posX), double(posY), double(posZ),
                  double(heading + 90.0f));
    textOverlay.AddText(0, 448, line);
}
