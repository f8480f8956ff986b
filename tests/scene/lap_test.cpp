// The shipped lap script drives the whole course in the program and never
// leaves the road.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "drive_run.h"
#include "resources/resources.h"
#include "vehicle/vehicle_state.h"

namespace {

TEST(SceneLap, ScriptedLapStaysOnTheRoadAllTheWay) {
    RegisterProgramResources();
    std::ifstream file(VINTREL_SOURCE_DIR "/tools/drive/lap.keys");
    ASSERT_TRUE(file);
    std::stringstream text;
    text << file.rdbuf();
    DriveOptions options;
    options.dataDir = VINTREL_DATA_DIR;
    std::string error;
    ASSERT_TRUE(ParseDriveScript(text.str(), &options.script, &error)) << error;
    options.frames = options.script.lastFrame + 1;

    const float startX = vehicle.posX, startZ = vehicle.posZ;
    std::uint64_t offFrames = 0, firstOff = 0, missed = 0;
    float farthest = 0, topSpeed = 0;
    options.afterFrame = [&](std::uint64_t frame, const CapturedFrame&) {
        if (vehicle.offCourse && offFrames++ == 0) firstOff = frame;
        if (vehicle.probeSubset[0] != 14 || vehicle.probeSubset[1] != 14 || vehicle.probeSubset[2] != 14) ++missed;
        farthest = std::max(farthest, std::hypot(vehicle.posX - startX, vehicle.posZ - startZ));
        topSpeed = std::max(topSpeed, vehicle.speed);
    };
    DriveResult result = RunDrive(options);
    ASSERT_EQ(result.frames, options.frames);
    EXPECT_EQ(offFrames, 0u) << "first off the road on frame " << firstOff;
    EXPECT_EQ(missed, 0u);
    // A lap: far out round the course and back across the start line.
    EXPECT_GT(farthest, 1000.0f);
    EXPECT_LT(std::hypot(vehicle.posX - startX, vehicle.posZ - startZ), 40.0f);
    EXPECT_GT(topSpeed, 100.0f);
}

}  // namespace
