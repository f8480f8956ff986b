#include <gtest/gtest.h>

#include <cmath>

#include "tests/vehicle/vehicle_test_support.h"
#include "vehicle/vehicle_state.h"

using vehicletest::Keys;
using vehicletest::OverlayLines;
using vehicletest::Sounds;

namespace {

const std::vector<std::string> kShiftSound = {"#3 Stop()", "#3 Play(0, 0, 0)"};

std::string EngineLine(const VehicleState& car) {
    textOverlay.ClearOverlay();
    car.AddEngineLine();
    auto lines = OverlayLines();
    textOverlay.ClearOverlay();
    EXPECT_EQ(lines.size(), 1u);
    return lines[432];
}

TEST(Drivetrain, FirstFrameWithoutThrottleIdles) {
    Keys keys;
    VehicleState car;
    car.StepDrivetrain();
    // -20 is below the idle floor, so the target jumps to 1500.
    EXPECT_FLOAT_EQ(car.targetRpm, 1500.0f);
    EXPECT_FLOAT_EQ(car.engineRpm, 1016.6667f);
    EXPECT_FLOAT_EQ(car.targetSpeed, 0.0f);
    EXPECT_FLOAT_EQ(car.speed, 0.0f);
    EXPECT_FALSE(car.throttleOn);
    EXPECT_FALSE(car.brakeOn);
    EXPECT_EQ(car.gear, 0);
    // At a standstill the ratio is 1000 / 0 and is shown as it falls.
    EXPECT_TRUE(std::isinf(car.effectiveRatio));
    EXPECT_EQ(EngineLine(car), "1016.67r.p.m.,Gear[1],GRaito3.43/inf");
}

TEST(Drivetrain, FirstFrameWithThrottle) {
    Keys keys;
    keys.Press('G');
    VehicleState car;
    car.StepDrivetrain();
    EXPECT_FLOAT_EQ(car.targetRpm, 142.5f);  // 9500 x 0.015
    // From the engine speed as it stood (1000), in first gear.
    EXPECT_NEAR(car.targetSpeed, 3.9490293f, 2e-6);
    EXPECT_TRUE(car.throttleOn);
    EXPECT_NEAR(car.effectiveRatio, 3.428f, 2e-6);  // first gear computed back
    EXPECT_NEAR(car.engineRpm, 971.41667f, 1e-3);
    EXPECT_NEAR(car.speed, 0.065817159f, 1e-7);
    EXPECT_EQ(EngineLine(car), "971.42r.p.m.,Gear[1],GRaito3.43/3.43");
}

TEST(Drivetrain, GearTopSpeeds) {
    const float expected[5] = {35.541264f, 56.249055f, 77.306759f, 103.955164f, 129.474445f};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(GearTopSpeed(i), expected[i], 2e-4) << "gear " << i + 1;
}

TEST(Drivetrain, UpshiftsPastTheShiftPointWithTheShiftSound) {
    Sounds sounds;
    ASSERT_TRUE(sounds.ok) << "the data set's sounds in " << VINTREL_DATA_DIR;
    Keys keys;
    keys.Press('G');
    VehicleState car;
    // In first gear the target closes 1.5 % of its distance to 9500 a frame
    // and first passes 9200 on frame 229 (9201.7).
    for (int frame = 1; frame <= 228; ++frame) {
        car.StepDrivetrain();
        ASSERT_EQ(car.gear, 0) << "frame " << frame;
    }
    EXPECT_NEAR(car.targetRpm, 9197.18f, 0.05f);
    EXPECT_TRUE(sounds.Calls().empty());
    const float engine = car.engineRpm;
    car.StepDrivetrain();
    EXPECT_EQ(car.gear, 1);
    EXPECT_EQ(car.prevGear, 1);
    EXPECT_NEAR(car.targetRpm, 5701.72f, 0.05f);
    EXPECT_EQ(sounds.Calls(), kShiftSound);
    // The new target speed comes from the unchanged engine speed in second.
    EXPECT_NEAR(car.targetSpeed, engine * 60.0f / (7.714f * 2.166f) * 0.0017404420f, 1e-4);
    car.StepDrivetrain();
    EXPECT_TRUE(sounds.Calls().empty()) << "the sound plays on the change only";

    int upshifts = 1;
    for (int frame = 0; frame < 20000; ++frame) {
        const int before = car.gear;
        car.StepDrivetrain();
        const auto calls = sounds.Calls();
        if (car.gear != before) {
            ++upshifts;
            EXPECT_EQ(car.gear, before + 1) << "one upshift a frame at most";
            EXPECT_EQ(calls, kShiftSound);
        } else {
            EXPECT_TRUE(calls.empty());
        }
    }
    EXPECT_EQ(upshifts, 4);
    EXPECT_EQ(car.gear, 4) << "fifth never shifts up";
    EXPECT_GT(car.targetRpm, 9200.0f);
    EXPECT_LT(car.targetRpm, 9500.0f);
    // With the throttle held the shown ratio is fifth's.
    EXPECT_NEAR(car.effectiveRatio, 0.941f, 1e-3);
    EXPECT_NEAR(car.speed, GearTopSpeed(4) * car.engineRpm / 9000.0f, 0.5f);
}

TEST(Drivetrain, ReleasingTheThrottleStepsDownThroughTheGears) {
    Sounds sounds;
    ASSERT_TRUE(sounds.ok);
    Keys keys;
    keys.Press('G');
    VehicleState car;
    for (int frame = 0; frame < 4000; ++frame) car.StepDrivetrain();
    ASSERT_GE(car.gear, 3);
    sounds.Calls();
    keys.Release('G');
    std::vector<int> gears;
    for (int frame = 0; frame < 4000; ++frame) {
        const float speed = car.speed;
        const int before = car.gear;
        car.StepDrivetrain();
        // The lowest gear whose top speed is above the speed as it stood.
        int expected = 0;
        while (expected < 4 && !(GearTopSpeed(expected) > speed)) ++expected;
        ASSERT_EQ(car.gear, expected) << "frame " << frame << " speed " << speed;
        EXPECT_EQ(sounds.Calls(), car.gear != before ? kShiftSound : std::vector<std::string>{});
        if (car.gear != before) gears.push_back(car.gear);
    }
    // Road speed falls steadily, so every gear on the way is used in turn.
    std::vector<int> expectedGears;
    for (int g = gears.empty() ? 0 : gears.front(); g >= 0; --g) expectedGears.push_back(g);
    EXPECT_EQ(gears, expectedGears);
    EXPECT_EQ(car.gear, 0);
    EXPECT_FLOAT_EQ(car.targetSpeed, 0.0f);
    // Idle saw-tooth: down in 20s from 1500, back up below 1100.
    EXPECT_GE(car.targetRpm, 1100.0f);
    EXPECT_LE(car.targetRpm, 1500.0f);
}

TEST(Drivetrain, IdleTargetRunsDownAndJumpsBack) {
    Keys keys;
    VehicleState car;
    car.targetRpm = 1120.0f;
    car.StepDrivetrain();
    EXPECT_FLOAT_EQ(car.targetRpm, 1100.0f) << "1100 itself is not below the floor";
    car.StepDrivetrain();
    EXPECT_FLOAT_EQ(car.targetRpm, 1500.0f);
    car.targetSpeed = 0.1f;
    car.StepDrivetrain();
    EXPECT_FLOAT_EQ(car.targetSpeed, 0.0f) << "never below zero";
}

TEST(Drivetrain, BrakeCutsTargetsAndChoosesTheGearEveryFrame) {
    Keys keys;
    keys.Press('G');
    keys.Press('F');
    VehicleState car;
    car.targetRpm = 3000, car.speed = 60, car.targetSpeed = 60, car.engineRpm = 5000;
    car.StepDrivetrain();
    EXPECT_TRUE(car.brakeOn);
    EXPECT_TRUE(car.throttleOn);
    EXPECT_FLOAT_EQ(car.targetRpm, 3000.0f + 6500.0f * 0.015f - 30.0f);
    // Throttle first (from 5000 rpm in first), then the brake's 1/120.
    const float fromThrottle = 5000.0f * 60.0f / (7.714f * 3.428f) * 0.0017404420f;
    EXPECT_NEAR(car.targetSpeed, fromThrottle - fromThrottle * 0.008333334f, 1e-4);
    EXPECT_EQ(car.gear, 2);  // 60 km/h: first and second are too slow

    // Brake alone from rest: the idle rule lifts the target to 1500 first.
    keys.Release('G');
    VehicleState still;
    still.StepDrivetrain();
    EXPECT_FLOAT_EQ(still.targetRpm, 1470.0f);
    EXPECT_FLOAT_EQ(still.targetSpeed, 0.0f);
    EXPECT_TRUE(still.brakeOn);
    EXPECT_FALSE(still.throttleOn);
}

TEST(Drivetrain, GearChoiceOffCourseAndBeyondTheTopGear) {
    Keys keys;
    keys.Press('G');
    // Off the course the box chooses from road speed even on the throttle,
    // up as well as down.
    VehicleState off;
    off.offCourse = true;
    off.speed = 80.0f;
    off.StepDrivetrain();
    EXPECT_EQ(off.gear, 3);  // fourth: third tops out at 77.3
    off.speed = 10.0f;
    off.StepDrivetrain();
    EXPECT_EQ(off.gear, 0);

    // Faster than fifth's top speed no gear qualifies and the gear stays.
    keys.Release('G');
    VehicleState fast;
    fast.gear = fast.prevGear = 3;
    fast.speed = 140.0f;
    fast.StepDrivetrain();
    EXPECT_EQ(fast.gear, 3);
    // Exactly at a top speed that gear is not "faster than the car".
    VehicleState edge;
    edge.speed = GearTopSpeed(0);
    edge.StepDrivetrain();
    EXPECT_EQ(edge.gear, 1);
}

TEST(Steering, LimitsDecayAndReturnThroughTheCentre) {
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
    const float past = car.steer;
    car.StepMotion();
    EXPECT_NEAR(car.steer, past - 0.0006f, 1e-7) << "on the left side the step is 0.0006";
    for (int i = 0; i < 40; ++i) car.StepMotion();
    EXPECT_FLOAT_EQ(car.steer, -0.012f);
    keys.Release(VK_LEFT);
    car.StepMotion();
    EXPECT_FLOAT_EQ(car.steer, -0.012f + 0.012f * 0.05f);
    for (int i = 0; i < 500; ++i) car.StepMotion();
    EXPECT_NE(car.steer, 0.0f) << "the return never reaches zero by itself";
    EXPECT_LT(std::fabs(car.steer), 1e-12f);
}

TEST(Steering, AuthorityAndTurningOnTheSpot) {
    Keys keys;
    // At a standstill the car turns on the spot.
    VehicleState still;
    still.steer = 0.01f;
    keys.Press(VK_RIGHT);
    const float heading = still.heading;
    still.StepMotion();
    EXPECT_FLOAT_EQ(still.steer, 0.0106f);
    EXPECT_FLOAT_EQ(still.heading, heading + 0.0106f);
    EXPECT_FLOAT_EQ(still.posX, 96.94f);
    EXPECT_FLOAT_EQ(still.posZ, -266.825f);
    keys.Release(VK_RIGHT);

    // Above 1.5 units a frame (105 km/h) the authority falls with speed.
    VehicleState fast;
    fast.steer = 0.01f;
    fast.speed = 130.0f;
    fast.heading = 0;
    fast.StepMotion();  // no arrow: the wheel returns by 5 % first
    EXPECT_NEAR(fast.heading, (2.4f - 130.0f / 70.0f) * 0.0095f, 1e-8);
    // Exactly 1.5 a frame still has full authority.
    VehicleState edge;
    edge.steer = 0.01f;
    // (a road speed whose step is exactly 1.5 in 32-bit floats)
    float speed = 104.99f;
    while (speed * 0.014285714f < 1.5f) speed = std::nextafter(speed, 200.0f);
    ASSERT_EQ(speed * 0.014285714f, 1.5f);
    edge.speed = speed;
    edge.heading = 0;
    edge.StepMotion();
    ASSERT_EQ(edge.stepLength, 1.5f);
    EXPECT_FLOAT_EQ(edge.heading, 0.0095f);
    // Just above it the reduced rule applies.
    VehicleState above;
    above.steer = 0.01f;
    above.speed = std::nextafter(speed, 200.0f);
    above.heading = 0;
    above.StepMotion();
    ASSERT_GT(above.stepLength, 1.5f);
    EXPECT_NEAR(above.heading, 0.9f * 0.0095f, 1e-7);
    VehicleState slow;
    slow.steer = 0.01f;
    slow.speed = 100.0f;
    slow.heading = 0;
    slow.StepMotion();
    EXPECT_FLOAT_EQ(slow.heading, 0.0095f);
}

TEST(Steering, BothArrowsSettleSlightlyLeft) {
    Keys keys;
    keys.Press(VK_RIGHT);
    keys.Press(VK_LEFT);
    VehicleState car;
    car.StepMotion();
    EXPECT_FLOAT_EQ(car.steer, -0.0006f) << "right to 0.0006, then back by 0.0012";
    for (int i = 0; i < 50; ++i) car.StepMotion();
    EXPECT_FLOAT_EQ(car.steer, -0.0006f);
}

TEST(Motion, MovesAlongTheNewHeadingAndPrintsThePosition) {
    Keys keys;
    VehicleState car;
    textOverlay.ClearOverlay();
    car.AddPositionLine();
    EXPECT_EQ(OverlayLines()[448], "POS X96.94,Y 0.00,Z-266.83/Rot 1.04");
    textOverlay.ClearOverlay();

    car.speed = 70.0f;  // one unit a frame
    car.heading = 0.5f;
    car.steer = 0.02f;  // outside the key range; decays to 0.019 first
    const float x = car.posX, z = car.posZ;
    car.StepMotion();
    EXPECT_NEAR(car.stepLength, 1.0f, 1e-6);
    EXPECT_FLOAT_EQ(car.heading, 0.519f);
    EXPECT_NEAR(car.posX, x - std::sin(0.519f), 1e-5);
    EXPECT_NEAR(car.posZ, z - std::cos(0.519f), 1e-5);
}

}  // namespace
