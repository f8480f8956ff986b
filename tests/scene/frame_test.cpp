// The whole program in-process on the headless shell: the order of the
// overlay lines, both camera views and their keys, and a data folder with
// nothing in it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/device.h"
#include "drive_run.h"
#include "geometry/math.h"
#include "platform/win32/keyboard.h"
#include "platform/win32/window.h"
#include "resources/resources.h"
#include "scene/scene.h"
#include "scene/text_overlay.h"
#include "vehicle/vehicle_state.h"

namespace {

struct Line {
    std::uint64_t frame;
    float x, y;
    std::string text;
};

struct Eye {
    float x, y, z;
};

class SceneRun : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterProgramResources();
        Reset();
    }
    void TearDown() override { Reset(); }

    static void Reset() {
        ResetWindowsForTesting();
        ResetKeyStateForTesting();
        ResetSceneForTesting();
    }

    // Runs `frames` frames with the keys; `after` sees each frame's end.
    DriveResult Drive(const std::string& keys, std::uint64_t frames,
                      std::function<void(std::uint64_t)> after = nullptr, std::string dir = VINTREL_DATA_DIR) {
        DriveOptions options;
        options.dataDir = dir;
        std::string error;
        EXPECT_TRUE(ParseDriveKeys(keys, &options.script, &error)) << error;
        options.frames = frames;
        options.afterFrame = [after](std::uint64_t frame, const CapturedFrame&) {
            if (after) after(frame);
        };
        DriveResult result = RunDrive(options);
        EXPECT_TRUE(result.errors.empty()) << result.errors.front();
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.frames, frames);
        return result;
    }

    static D3DMATRIX Transform(D3DTRANSFORMSTATETYPE state) {
        D3DMATRIX m{};
        GetDevice()->GetTransform(state, &m);
        return m;
    }
    // The vertical field of view of the projection set this frame, degrees.
    // (atan2 keeps fields of view past 180 degrees, where the cotangent turns negative.)
    static float FovDegrees() { return 2.0f * std::atan2(1.0f, Transform(D3DTS_PROJECTION)._22) * 57.2957795f; }
    // The camera position the view matrix was built from: the translation
    // of its inverse, the camera's own placement. Inverted rather than
    // transposed because the portable math's normalisation leaves the axes
    // a few millionths off unit length, which far from the origin would
    // move a transposed answer by more than the tests allow.
    static Eye ViewEye() {
        const D3DMATRIX v = Transform(D3DTS_VIEW);
        Matrix view, camera;
        std::memcpy(view.m, v.m, sizeof view.m);
        if (!InvertMatrix(&camera, nullptr, &view)) return {NAN, NAN, NAN};
        return {camera.m[3][0], camera.m[3][1], camera.m[3][2]};
    }
    // The direction the view looks along.
    static Eye ViewForward() {
        D3DMATRIX m = Transform(D3DTS_VIEW);
        return {m._13, m._23, m._33};
    }
};

TEST_F(SceneRun, FifteenOverlayLinesInTheirOrderEveryFrame) {
    std::vector<Line> seen;
    std::uint64_t frame = 0;
    textOverlay.SetLineObserver(nullptr);
    DriveOptions options;
    options.dataDir = VINTREL_DATA_DIR;
    options.frames = 2;
    options.afterFrame = [&](std::uint64_t f, const CapturedFrame&) { frame = f + 1; };
    // RunDrive leaves the observer alone unless it prints.
    textOverlay.SetLineObserver([&](float x, float y, const char* text) { seen.push_back({frame, x, y, text}); });
    DriveResult result = RunDrive(options);
    textOverlay.SetLineObserver(nullptr);
    ASSERT_EQ(result.frames, 2u);
    ASSERT_EQ(seen.size(), 30u);

    const std::vector<std::pair<float, std::string>> fixed = {
        {16, "Vintrel Test #02/Nov 1,2003"}, {32, "CursorLR: Handle."},     {48, "Q,W     : Camera rot."},
        {64, "A,Z     : Camera move."},     {80, "S,X     : Perspective view."}, {96, "G,F     : Acc,Brk."},
        {112, "E       : Reset."},          {128, "V       : View Change."}};
    for (std::uint64_t f = 0; f < 2; ++f) {
        SCOPED_TRACE(f);
        const Line* l = &seen[f * 15];
        for (std::size_t i = 0; i < fixed.size(); ++i) {
            EXPECT_EQ(l[i].frame, f);
            EXPECT_EQ(l[i].x, 0.0f);
            EXPECT_EQ(l[i].y, fixed[i].first);
            EXPECT_EQ(l[i].text, fixed[i].second);
        }
        EXPECT_EQ(l[8].x, 512.0f);
        EXPECT_EQ(l[8].y, 0.0f);
        EXPECT_EQ(l[8].text.size(), 16u) << "the car caption is 16 characters";
        EXPECT_EQ(l[9].x, 0.0f);
        EXPECT_EQ(l[9].y, 0.0f);
        EXPECT_LE(l[9].text.size(), 64u) << "the credits line must end before the caption";
        // The live lines: ray pick, view, engine, position, probe.
        const float ys[5] = {400, 416, 432, 448, 464};
        const char* starts[5] = {"Raypick:Collision ", "View:Behind", "", "POS X", "Y L"};
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(l[10 + i].x, 0.0f);
            EXPECT_EQ(l[10 + i].y, ys[i]);
            EXPECT_EQ(l[10 + i].text.rfind(starts[i], 0), 0u) << l[10 + i].text;
        }
        EXPECT_NE(l[12].text.find("r.p.m.,Gear[1],GRaito3.43/"), std::string::npos) << l[12].text;
    }
    // The start is on the road: all three probes on the road group.
    EXPECT_EQ(seen[10].text, "Raypick:Collision Hit,Mesh=14");
}

TEST_F(SceneRun, ChaseCameraSitsBehindAndAboveAndAMovesItBackAndUp) {
    std::vector<Eye> eyes, expected;
    std::vector<Eye> forward;
    Drive("3-12 A", 13, [&](std::uint64_t f) {
        eyes.push_back(ViewEye());
        forward.push_back(ViewForward());
        // The car stands still (no throttle), so the lagging heading equals it.
        float extra = f >= 3 ? 0.1f * float(f - 2) : 0.0f;
        float d = 12.0f + extra;
        expected.push_back({vehicle.posX + d * std::sin(vehicle.heading),
                            vehicle.posY + vehicle.shake + 4.5f + extra,
                            vehicle.posZ + d * std::cos(vehicle.heading)});
        EXPECT_NEAR(FovDegrees(), 80.0f, 1e-3f);
    });
    ASSERT_EQ(eyes.size(), 13u);
    for (std::size_t f = 0; f < eyes.size(); ++f) {
        SCOPED_TRACE(f);
        EXPECT_NEAR(eyes[f].x, expected[f].x, 2e-3f);
        EXPECT_NEAR(eyes[f].y, expected[f].y, 2e-3f);
        EXPECT_NEAR(eyes[f].z, expected[f].z, 2e-3f);
    }
    // It looks along the car's direction of travel, (-sin, 0, -cos) of the
    // heading, and down towards the point 4.5 above the car.
    EXPECT_NEAR(forward[0].x, -std::sin(vehicle.heading) * 12.0f / std::hypot(12.0f, vehicle.shake), 1e-3f);
    EXPECT_NEAR(forward[0].z, -std::cos(vehicle.heading) * 12.0f / std::hypot(12.0f, vehicle.shake), 1e-3f);
    EXPECT_NEAR(camera.cameraDistance, 1.0f, 1e-5f);
}

TEST_F(SceneRun, VTogglesOncePerPressAndTheProjectionFollowsAFrameLater) {
    std::vector<int> modes;
    std::vector<float> fovs;
    // Held from the first frame (which never toggles), released, then held
    // for several frames twice.
    Drive("0-2 V;5-9 V;12-12 V", 15, [&](std::uint64_t) {
        modes.push_back(camera.viewMode);
        fovs.push_back(FovDegrees());
        if (camera.viewMode == 1) {
            // Half a unit behind a point 3.5 above the car.
            Eye eye = ViewEye();
            EXPECT_NEAR(eye.x, vehicle.posX + 0.5f * std::sin(vehicle.heading), 1e-3f);
            EXPECT_NEAR(eye.y, vehicle.posY + 3.5f + 0.15f * vehicle.shake, 1e-3f);
            EXPECT_NEAR(eye.z, vehicle.posZ + 0.5f * std::cos(vehicle.heading), 1e-3f);
        }
    });
    const std::vector<int> wantModes = {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0};
    EXPECT_EQ(modes, wantModes);
    for (std::size_t f = 0; f < fovs.size(); ++f) {
        SCOPED_TRACE(f);
        // The projection of frame f is built with the mode frame f-1 left.
        int before = f == 0 ? 0 : wantModes[f - 1];
        EXPECT_NEAR(fovs[f], before ? 100.0f : 80.0f, 1e-3f);
    }
}

TEST_F(SceneRun, FieldOfViewOffsetStopsAtItsLimitsInBothViews) {
    std::vector<float> fovs;
    camera.fovOffset = -59.85f;
    Drive("0-3 X", 4, [&](std::uint64_t) { fovs.push_back(FovDegrees()); });
    EXPECT_EQ(camera.fovOffset, -60.0f);
    EXPECT_NEAR(fovs.back(), 20.0f, 1e-3f);

    Reset();
    fovs.clear();
    camera.fovOffset = 179.85f;
    Drive("0-3 S", 4, [&](std::uint64_t) { fovs.push_back(FovDegrees()); });
    EXPECT_EQ(camera.fovOffset, 180.0f);
    EXPECT_NEAR(fovs.back(), 260.0f, 1e-2f);

    // The driver's eye adds 20 degrees: 40 at the lower limit.
    Reset();
    fovs.clear();
    camera.fovOffset = -60.0f;
    Drive("1-1 V;0-4 X", 5, [&](std::uint64_t) { fovs.push_back(FovDegrees()); });
    EXPECT_EQ(camera.viewMode, 1);
    EXPECT_NEAR(fovs.back(), 40.0f, 1e-3f);
}

TEST_F(SceneRun, EResetsTheCameraAndLeavesTheCar) {
    auto drive = [&](const std::string& keys) {
        Reset();
        Drive(keys, 40);
        return std::vector<float>{vehicle.posX, vehicle.posZ, vehicle.heading, vehicle.speed};
    };
    std::vector<float> plain = drive("0-39 G Left");
    // E wins over the other camera keys held on the same frame.
    std::vector<float> reset = drive("0-39 G Left;0-38 A S Q;39-39 E A S Q");
    EXPECT_EQ(camera.cameraYaw, 0.0f);
    EXPECT_EQ(camera.cameraDistance, 0.0f);
    EXPECT_EQ(camera.fovOffset, 0.0f);
    EXPECT_EQ(plain, reset) << "E does not touch the car";

    std::vector<float> moved = drive("0-39 G Left;0-38 A S Q W Z X");
    EXPECT_EQ(camera.cameraYaw, 0.0f) << "Q and W cancel";
    EXPECT_NEAR(camera.cameraDistance, 0.0f, 1e-6f);
    drive("0-9 Q A S");
    EXPECT_NEAR(camera.cameraYaw, 0.1f, 1e-5f);
    EXPECT_NEAR(camera.cameraDistance, 1.0f, 1e-5f);
    EXPECT_NEAR(camera.fovOffset, 1.0f, 1e-5f);
}

TEST_F(SceneRun, CameraSwingsRoundBehindTheTurningCarByAFixedShareAFrame) {
    // Turning on the spot; from frame 15 on in the driver's eye.
    float lag = -88.96f;  // the first frame starts from the car's heading
    int checked = 0;
    Drive("0-29 Right;15-15 V", 30, [&](std::uint64_t f) {
        float share = f >= 15 ? 0.41666666f : 0.33333334f;
        float want = lag + (vehicle.heading - lag) * share;
        EXPECT_FLOAT_EQ(camera.cameraLagHeading, want) << "frame " << f;
        lag = camera.cameraLagHeading;
        ++checked;
    });
    EXPECT_EQ(checked, 30);
    EXPECT_GT(std::fabs(vehicle.heading - -88.96f), 0.2f);
    EXPECT_NE(camera.cameraLagHeading, vehicle.heading) << "the camera trails the turning car";
}

TEST_F(SceneRun, TheCarIsDrawnInTheChaseViewOnlyFromTheDriversSeatItIsNot) {
    // The same three frames (chase view, the switch, driver's eye) in an
    // empty folder and in one with the car alone: only the car can differ.
    auto frames = [&](bool withCar) {
        std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("vintrel-car-" + std::to_string(getpid()) + (withCar ? "-car" : "-none"));
        std::filesystem::create_directories(dir);
        if (withCar) std::filesystem::copy_file(std::filesystem::path(VINTREL_DATA_DIR) / "car.x", dir / "car.x");
        std::vector<std::vector<std::uint32_t>> pictures;
        DriveOptions options;
        options.dataDir = dir.string();
        options.frames = 3;
        EXPECT_TRUE(ParseDriveKeys("1-1 V", &options.script, nullptr));
        options.afterFrame = [&](std::uint64_t, const CapturedFrame& picture) { pictures.push_back(picture.xrgb); };
        Reset();
        RunDrive(options);
        std::filesystem::remove_all(dir);
        return pictures;
    };
    auto none = frames(false), car = frames(true);
    ASSERT_EQ(none.size(), 3u);
    ASSERT_EQ(car.size(), 3u);
    int differing = 0;
    for (std::size_t i = 0; i < none[0].size(); ++i) differing += none[0][i] != car[0][i];
    EXPECT_GT(differing, 500) << "the chase view shows the car";
    EXPECT_TRUE(none[2] == car[2]) << "the driver's eye does not draw the car";
}

TEST_F(SceneRun, AnEmptyFolderStillRunsAndDrawsTheOverlayUntextured) {
    std::filesystem::path empty = std::filesystem::temp_directory_path() / ("vintrel-empty-" + std::to_string(getpid()));
    std::filesystem::create_directories(empty);
    CapturedFrame last;
    DriveOptions options;
    options.dataDir = empty.string();
    options.frames = 5;
    ParseDriveKeys("0-4 G Right V", &options.script, nullptr);
    options.afterFrame = [&](std::uint64_t, const CapturedFrame& picture) { last = picture; };
    DriveResult result = RunDrive(options);
    std::filesystem::remove_all(empty);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.frames, 5u);
    // Only the sounds complain, in message boxes captioned "Error".
    ASSERT_FALSE(result.messageBoxes.empty());
    for (const auto& box : result.messageBoxes) EXPECT_EQ(box.caption, "Error");
    // No course: every probe misses and the car keeps its height.
    EXPECT_EQ(vehicle.posY, 0.0f);
    EXPECT_FALSE(vehicle.offCourse);
    // Without textures the dial and the glyphs are opaque white; elsewhere
    // the cleared background shows, as no mesh was drawn.
    ASSERT_EQ(last.width, 640u);
    EXPECT_EQ(last.xrgb[420 * 640 + 400], 0xFFFFFFu);
    EXPECT_EQ(last.xrgb[200 * 640 + 320], last.xrgb[300 * 640 + 200]);
}

}  // namespace
