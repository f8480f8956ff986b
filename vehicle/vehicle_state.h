// The one car: its state record, the drivetrain (throttle, brake, engine,
// five-speed automatic box, road speed), the motion on the ground plane and
// the ground contact. Everything advances by fixed amounts per drawn frame;
// keys are sampled once a frame as levels.
#pragma once

#include <cstdint>

class Model;

struct VehicleState {
    float posX = 96.94f;
    float posZ = -266.825f;
    float posY = 0.0f;
    float heading = -88.96f;  // radians, never wrapped; forward is (-sin, 0, -cos)
    float engineRpm = 1000.0f;
    float targetRpm = 0.0f;
    int32_t gear = 0;  // 0..4: first to fifth
    int32_t prevGear = 0;
    float speed = 0.0f;        // km/h
    float targetSpeed = 0.0f;  // km/h
    float stepLength = 0.0f;   // world units this frame
    float steer = 0.0f;        // yaw change per frame, radians
    float effectiveRatio = 0.0f;
    bool throttleOn = false;
    bool brakeOn = false;
    bool offCourse = false;
    bool prevOffCourse = false;
    float sideTiltTarget = 0.0f;
    float sideTilt = 0.0f;
    float noseTiltTarget = 0.0f;
    float noseTilt = 0.0f;

    // Throttle G, brake F, gear choice and shift sound, engine and road
    // speed smoothing.
    void StepDrivetrain();
    // Steering with the arrow keys, heading and position.
    void StepMotion();
    // Three rays down onto the course: height, tilt targets, off-course flag,
    // drag, this frame's shake and the ray-pick overlay line; then the tilt
    // smoothing. Keeps the probe results for AddProbeLine.
    void ProbeGround(const Model& course);
    // The probe line of the overlay ("Y L…,R…,C…/Rot Pitch…,Bank…").
    void AddProbeLine() const;
    // The engine line ("…r.p.m.,Gear[…],GRaito…/…").
    void AddEngineLine() const;
    // The position line ("POS X…,Y…,Z…/Rot…").
    void AddPositionLine() const;
    // Starts the off-course loop on the frame the car leaves the course and
    // stops it on the frame it comes back; then remembers the flag.
    void UpdateOffCourseSound();

    // Results of the last ProbeGround, for the overlay of the same frame.
    // `shake` is the random lift of the drawn car and the chase camera.
    float shake = 0.0f;
    float probeHeight[3] = {0, 0, 0};  // L, R, front
    int32_t probeSubset[3] = {-1, -1, -1};
};

// The program's car.
extern VehicleState vehicle;

// Drivetrain constants.
extern const float gearRatios[5];
extern const float gearPull[5];
constexpr float finalDrive = 7.714f;
constexpr float wheelTravelPerTurn = 0.0017404420f;
// Road speed of each gear at 9000 rpm.
float GearTopSpeed(int gear);

// The group of the course mesh that is road.
constexpr int32_t kRoadSubset = 14;

// Casts one ray straight down from 15 units above (x, y, z) at the course's
// groups in ascending order; returns the first group hit, or -1, and the
// ground height there in `height` (0 on a miss).
int32_t PickGroundHeight(const Model& course, float x, float y, float z, float* height);

// The virtual keys of the controls.
constexpr int kThrottleKey = 'G';
constexpr int kBrakeKey = 'F';
