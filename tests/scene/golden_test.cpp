// Golden frames: the start position in the chase view and from the
// driver's seat, exactly as the software device draws them with one render
// thread. Runs in a process of its own, so the car's shake starts from the
// same point of its random sequence every time.
//
// When the course, the car or the device changes the pictures on purpose,
// VINTREL_PRINT_GOLDEN=1 prints the new sums of the math variant in use
// (and saves the frames as PNG in the build folder) for pasting below:
//   VINTREL_PRINT_GOLDEN=1 ctest --test-dir build/release -R SceneGolden -V
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "drive_run.h"
#include "geometry/math_dispatch.h"
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

// The pictures follow the math library's variant: the car's and the
// camera's matrices round differently with the SSE2 forms and with the
// portable ones (builds without SIMD code, other processors, or
// DisablePSGP set).
struct GoldenSums {
    std::uint64_t chaseView, driversEye;
};
constexpr GoldenSums kSse2Sums = {0xe80ba4dcca26bf2eull, 0x0f5d2c83ae54031aull};
constexpr GoldenSums kPortableSums = {0xb68abf1b59470701ull, 0x4216cd83115fb2dbull};

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
    const DWORD variant = GetMathVariantState();
    if (print)
        std::printf("math variant %lu: {0x%016llxull, 0x%016llxull}\n", (unsigned long)variant, (unsigned long long)sums[0],
                    (unsigned long long)sums[2]);
    EXPECT_NE(sums[0], sums[2]);
    if (variant != MATH_STATE_SSE2 && variant != MATH_STATE_PORTABLE)
        GTEST_SKIP() << "no golden frames kept for math variant " << variant;
    const GoldenSums& want = variant == MATH_STATE_SSE2 ? kSse2Sums : kPortableSums;
    EXPECT_EQ(sums[0], want.chaseView) << std::hex << sums[0];
    EXPECT_EQ(sums[2], want.driversEye) << std::hex << sums[2];
}

}  // namespace
