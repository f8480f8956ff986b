#include <cstdio>

#include "platform/win32/keyboard.h"
#include "scene/text_overlay.h"
#include "sound/sound_set.h"
#include "vehicle/vehicle_state.h"

VehicleState vehicle;

const float gearRatios[5] = {3.428f, 2.166f, 1.576f, 1.172f, 0.941f};
const float gearPull[5] = {3.0f, 2.3f, 1.5f, 1.0f, 0.4f};

float GearTopSpeed(int gear) {
    // 9000 rpm is 540000 revolutions an hour.
    return wheelTravelPerTurn / (gearRatios[gear] * finalDrive) * 540000.0f;
}

static bool Held(int key) { return GetKeyState(key) < 0; }

void VehicleState::StepDrivetrain() {
    float gearTopSpeed[5];
    for (int i = 0; i < 5; ++i) gearTopSpeed[i] = GearTopSpeed(i);

    if (Held(kThrottleKey)) {
        targetRpm = targetRpm + (9500.0f - targetRpm) * 0.00005f * gearPull[gear] * 100.0f;
        if (targetRpm > 9200.0f && gear < 4) {
            targetRpm = targetRpm - 3500.0f;
            gear = gear + 1;
        }
        throttleOn = true;
        // From the present engine speed, through the gear just chosen.
        targetSpeed = engineRpm * 60.0f / (finalDrive * gearRatios[gear]) * wheelTravelPerTurn;
    } else {
        targetRpm = targetRpm - 20.0f;
        if (targetRpm < 1100.0f) targetRpm = 1500.0f;
        targetSpeed = targetSpeed - 0.2f;
        if (targetSpeed < 0.0f) targetSpeed = 0.0f;
        throttleOn = false;
    }

    if (Held(kBrakeKey)) {
        targetRpm = targetRpm - 30.0f;
        targetSpeed = targetSpeed - targetSpeed * 0.008333334f;
        brakeOn = true;
    } else {
        brakeOn = false;
    }

    // The box only shifts down here: off the throttle, braking or off the
    // course it takes the lowest gear still faster than the car.
    if (!throttleOn || brakeOn || offCourse) {
        for (int i = 0; i < 5; ++i)
            if (gearTopSpeed[i] > speed) {
                gear = i;
                break;
            }
    }

    if (gear != prevGear && soundSet) soundSet->TriggerShiftSound();
    prevGear = gear;

    // 0.10442652 is 60 x wheelTravelPerTurn; an infinite value at a
    // standstill is shown as such.
    effectiveRatio = engineRpm / (targetSpeed * finalDrive) * 0.10442652f;
    engineRpm = engineRpm + (targetRpm - engineRpm) * 0.033333335f;
    speed = speed + (targetSpeed - speed) * 0.016666668f;
}

void VehicleState::AddEngineLine() const {
    char line[128];
    std::snprintf(line, sizeof line, "%3.2fr.p.m.,Gear[%d],GRaito%2.2f/%2.2f", double(engineRpm), gear + 1,
                  double(gearRatios[gear]), double(effectiveRatio));
    textOverlay.AddText(0, 432, line);
}
