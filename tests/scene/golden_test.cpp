// Golden frames: the start position in the chase view and from the
// driver's seat, exactly as the software device draws them with one render
// thread. Runs in a process of its own, so the car's shake starts from the
// same point of its random sequence every time.
//
// When the course, the car or the device changes the pictures on purpose,
// VINTREL_PRINT_GOLDEN=1 prints the new sums (and saves the frames as PNG in
// the build folder) for pasting below:
//   VINTREL_PRINT_GOLDEN=1 ctest --test-dir build/release -R SceneGolden -V
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "drive_run.h"
#include "resources/resources.h"

namespace {

// FNV-1a over the picture's 0x00RRGGBB words.
std::uint64_t Checksum(const CapturedFrame& picture) {
    std::uint64_t h = 14695981039346656037ull;
    for (std::uint32_t word : picture.xrgb)
        for (int shift = 0; shift < 32; shift += 8) {
            h ^= (word >> shift) & 0xFF;
            h *= 1099511628211ull;
        }
    return h;
}

constexpr std::uint64_t kChaseViewSum = 0xe80ba4dcca26bf2eull;
constexpr std::uint64_t kDriversEyeSum = 0x0f5d2c83ae54031aull;

TEST(SceneGolden, StartPositionInBothViews) {
    setenv("VINTREL_RENDER_THREADS", "1", 1);
    RegisterProgramResources();
    DriveOptions options;
    options.dataDir = VINTREL_DATA_DIR;
    options.frames = 3;
    // V on frame 1 switches views; frame 2 is the first with the driver's
    // field of view.
    ASSERT_TRUE(ParseDriveKeys("1-1 V", &options.script, nullptr));
    std::uint64_t sums[3] = {};
    options.afterFrame = [&](std::uint64_t frame, const CapturedFrame& picture) {
        ASSERT_EQ(picture.width, 640u);
        ASSERT_EQ(picture.height, 480u);
        sums[frame] = Checksum(picture);
    };
    const bool print = std::getenv("VINTREL_PRINT_GOLDEN") != nullptr;
    if (print) options.shots = {{0, VINTREL_BINARY_DIR "/golden-chase.png"}, {2, VINTREL_BINARY_DIR "/golden-drivers-eye.png"}};
    DriveResult result = RunDrive(options);
    ASSERT_EQ(result.frames, 3u);
    if (print) {
        std::printf("constexpr std::uint64_t kChaseViewSum = 0x%016llxull;\n", (unsigned long long)sums[0]);
        std::printf("constexpr std::uint64_t kDriversEyeSum = 0x%016llxull;\n", (unsigned long long)sums[2]);
    }
    EXPECT_EQ(sums[0], kChaseViewSum) << std::hex << sums[0];
    EXPECT_EQ(sums[2], kDriversEyeSum) << std::hex << sums[2];
    EXPECT_NE(sums[0], sums[2]);
}

}  // namespace
