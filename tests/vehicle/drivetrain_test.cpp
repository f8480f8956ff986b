#include <gtest/gtest.h>

#include <cmath>

#include "platform/win32/keyboard.h"
#include "platform/win32/window.h"
#include "vehicle/vehicle_state.h"

namespace {

class Keys {
public:
    Keys() { ResetKeyStateForTesting(); }
    ~Keys() { ResetKeyStateForTesting(); }
    void Press(int key) { UpdateKeyStateFromMessage(WM_KEYDOWN, WPARAM(key)); }
    void Release(int key) { UpdateKeyStateFromMessage(WM_KEYUP, WPARAM(key)); }
};

TEST(Drivetrain, FirstFrameWithoutThrottleIdles) {
    Keys keys;
    VehicleState car;
    car.StepDrivetrain();
    // -20 is below the idle floor, so the target jumps to 1500.
    EXPECT_FLOAT_EQ(car.targetRpm, 1500.0f);
    EXPECT_FLOAT_EQ(car.engineRpm, 1000.0f + 500.0f * 0.033333335f);
    EXPECT_FLOAT_EQ(car.targetSpeed, 0.0f);
    EXPECT_FALSE(car.throttleOn);
    EXPECT_EQ(car.gear, 0);
    EXPECT_TRUE(std::isinf(car.effectiveRatio));  // 1000 / 0, shown as it falls
}

TEST(Drivetrain, FirstFrameWithThrottle) {
    Keys keys;
    keys.Press('G');
    VehicleState car;
    car.StepDrivetrain();
    EXPECT_FLOAT_EQ(car.targetRpm, 142.5f);
    // From engineRpm 1000 in first gear.
    EXPECT_NEAR(car.targetSpeed, 1000.0f * 60.0f / (7.714f * 3.428f) * 0.0017404420f, 1e-5);
    EXPECT_NEAR(car.targetSpeed, 3.95f, 0.01f);
    EXPECT_TRUE(car.throttleOn);
    EXPECT_NEAR(car.speed, car.targetSpeed * 0.016666668f, 1e-6);
}

TEST(Drivetrain, UpshiftsPastTheShiftPointAndCreepsInFifth) {
    Keys keys;
    keys.Press('G');
    VehicleState car;
    int upshifts = 0;
    for (int frame = 0; frame < 20000; ++frame) {
        int before = car.gear;
        float engine = car.engineRpm;
        car.StepDrivetrain();
        if (car.gear != before) {
            ++upshifts;
            EXPECT_EQ(car.gear, before + 1) << "one upshift per frame at most";
            EXPECT_LE(car.targetRpm, 9500.0f - 3500.0f + 1.0f);
            // The new target speed comes from the unchanged engine speed.
            EXPECT_NEAR(car.targetSpeed, engine * 60.0f / (finalDrive * gearRatios[car.gear]) * wheelTravelPerTurn, 1e-3);
        }
    }
    EXPECT_EQ(upshifts, 4);
    EXPECT_EQ(car.gear, 4);
    EXPECT_GT(car.targetRpm, 9200.0f);
    EXPECT_LT(car.targetRpm, 9500.0f);
    EXPECT_NEAR(car.speed, GearTopSpeed(4) * car.engineRpm / 9000.0f, 0.5f);
    EXPECT_NEAR(GearTopSpeed(4), 129.47f, 0.01f);
    EXPECT_NEAR(GearTopSpeed(0), 35.54f, 0.01f);
}

TEST(Drivetrain, ReleasingTheThrottleStepsDownThroughTheGears) {
    Keys keys;
    keys.Press('G');
    VehicleState car;
    for (int frame = 0; frame < 4000; ++frame) car.StepDrivetrain();
    ASSERT_GE(car.gear, 3);
    keys.Release('G');
    int previous = car.gear;
    bool sawEachStep = true;
    for (int frame = 0; frame < 4000; ++frame) {
        float speed = car.speed;
        car.StepDrivetrain();
        // The lowest gear whose top speed is above the speed as it stood.
        int expected = 0;
        while (expected < 4 && !(GearTopSpeed(expected) > speed)) ++expected;
        EXPECT_EQ(car.gear, expected);
        if (car.gear < previous - 1) sawEachStep = false;
        previous = car.gear;
    }
    EXPECT_TRUE(sawEachStep);
    EXPECT_EQ(car.gear, 0);
    EXPECT_FLOAT_EQ(car.targetSpeed, 0.0f);
    // Idle saw-tooth between just under 1100 and 1500.
    EXPECT_GE(car.targetRpm, 1080.0f);
    EXPECT_LE(car.targetRpm, 1500.0f);
}

TEST(Drivetrain, BrakeCutsTargetsAndChoosesTheGearEveryFrame) {
    Keys keys;
    keys.Press('G');
    keys.Press('F');
    VehicleState car;
    car.targetRpm = 3000, car.speed = 60, car.targetSpeed = 60, car.engineRpm = 5000;
    car.StepDrivetrain();
    EXPECT_TRUE(car.brakeOn);
    float raised = 3000.0f + (9500.0f - 3000.0f) * 0.00005f * 3.0f * 100.0f;
    EXPECT_FLOAT_EQ(car.targetRpm, raised - 30.0f);
    EXPECT_EQ(car.gear, 2);  // 60 km/h: first and second are too slow
}

TEST(Steering, LimitsDecayAndAuthority) {
    Keys keys;
    VehicleState car;
    keys.Press(VK_RIGHT);
    int frames = 0;
    while (car.steer < 0.012f && frames < 100) car.StepMotion(), ++frames;
    EXPECT_NEAR(frames, 20, 1);  // the last step is cut by the limit
    EXPECT_FLOAT_EQ(car.steer, 0.012f);
    car.StepMotion();
    EXPECT_FLOAT_EQ(car.steer, 0.012f);
    keys.Release(VK_RIGHT);
    keys.Press(VK_LEFT);
    frames = 0;
    while (car.steer > 0.0f && frames < 100) car.StepMotion(), ++frames;
    EXPECT_NEAR(frames, 10, 1);  // 0.0012 a frame back through the centre
    keys.Release(VK_LEFT);
    car.steer = 0.01f;
    car.StepMotion();
    EXPECT_FLOAT_EQ(car.steer, 0.01f - 0.01f * 0.05f);

    // At a standstill the car turns on the spot.
    VehicleState still;
    still.steer = 0.01f;
    keys.Press(VK_RIGHT);
    float heading = still.heading;
    still.StepMotion();
    EXPECT_FLOAT_EQ(still.heading, heading + still.steer);
    EXPECT_FLOAT_EQ(still.posX, 96.94f);
    EXPECT_FLOAT_EQ(still.posZ, -266.825f);

    // Above 1.5 units a frame the authority falls with speed.
    keys.Release(VK_RIGHT);
    VehicleState fast;
    fast.steer = 0.01f;
    fast.speed = 130.0f;
    fast.heading = 0;
    fast.StepMotion();  // no arrow: the wheel returns by 5 % first
    EXPECT_NEAR(fast.heading, (2.4f - 130.0f * 0.014285714f) * fast.steer, 1e-7);
    VehicleState slow;
    slow.steer = 0.01f;
    slow.speed = 100.0f;
    slow.heading = 0;
    slow.StepMotion();
    EXPECT_FLOAT_EQ(slow.heading, slow.steer);
}

TEST(Steering, BothArrowsSettleSlightlyLeft) {
    Keys keys;
    keys.Press(VK_RIGHT);
    keys.Press(VK_LEFT);
    VehicleState car;
    for (int i = 0; i < 50; ++i) car.StepMotion();
    EXPECT_FLOAT_EQ(car.steer, -0.0006f);
}

TEST(Motion, MovesAlongTheHeading) {
    Keys keys;
    VehicleState car;
    car.speed = 70.0f;  // one unit a frame
    car.heading = 0.5f;
    float x = car.posX, z = car.posZ;
    car.StepMotion();
    EXPECT_NEAR(car.stepLength, 1.0f, 1e-6);
    EXPECT_NEAR(car.posX, x - std::sin(0.5f), 1e-5);
    EXPECT_NEAR(car.posZ, z - std::cos(0.5f), 1e-5);
}

}  // namespace
