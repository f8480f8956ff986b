#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "geometry/geometry.h"
#include "scene/model.h"
#include "tests/vehicle/vehicle_test_support.h"
#include "vehicle/vehicle_state.h"

using vehicletest::DeviceTest;
using vehicletest::OverlayLines;
using vehicletest::Sounds;

namespace {

constexpr float kAtanHalf = 0.46364761f;     // atan(2 / 4)
constexpr float kAtanQuarter = 0.24497866f;  // atan(1 / 4)

// A shake is a whole number 0..999 of steps: 0.00002 on the road (or with
// no hit), 0.00025 off the course.
bool IsShake(float shake, float step) {
    for (int k = 0; k < 1000; ++k)
        if (shake == static_cast<float>(k) * step) return true;
    return false;
}

struct Triangle {
    float corner[3][3];
    DWORD group;
};

// Two triangles over x0..x1, z0..z1 on the plane y = a + b x + c z, so a
// pick anywhere inside has an exact expected height.
void Quad(std::vector<Triangle>& out, float x0, float x1, float z0, float z1, DWORD group, float a, float b = 0,
          float c = 0) {
    auto y = [&](float x, float z) { return a + b * x + c * z; };
    const float p[4][3] = {{x0, y(x0, z0), z0}, {x1, y(x1, z0), z0}, {x1, y(x1, z1), z1}, {x0, y(x0, z1), z1}};
    out.push_back({{{p[0][0], p[0][1], p[0][2]}, {p[1][0], p[1][1], p[1][2]}, {p[2][0], p[2][1], p[2][2]}}, group});
    out.push_back({{{p[0][0], p[0][1], p[0][2]}, {p[2][0], p[2][1], p[2][2]}, {p[3][0], p[3][1], p[3][2]}}, group});
}

class GroundProbeTest : public DeviceTest {
protected:
    // A course model of the given triangles with `groups` materials. The
    // triangles' corners are placed from vertex `firstVertex` on (unused
    // vertices before them), so a 32-bit course can use indices past 65535.
    void MakeCourse(const std::vector<Triangle>& triangles, DWORD groups = 21, DWORD options = 0,
                    DWORD firstVertex = 0) {
        const DWORD faces = static_cast<DWORD>(triangles.size());
        const DWORD vertices = firstVertex + 3 * faces;
        Mesh* mesh = nullptr;
        ASSERT_EQ(CreateMeshFvf(faces, vertices, options | OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, D3DFVF_XYZ, device,
                                &mesh),
                  S_OK);
        float* xyz = nullptr;
        ASSERT_EQ(mesh->LockVertices(0, reinterpret_cast<void**>(&xyz)), S_OK);
        for (DWORD f = 0; f < faces; ++f)
            std::memcpy(xyz + 3 * (firstVertex + 3 * f), triangles[f].corner, sizeof triangles[f].corner);
        mesh->UnlockVertices();
        void* indices = nullptr;
        ASSERT_EQ(mesh->LockIndices(0, &indices), S_OK);
        for (DWORD i = 0; i < 3 * faces; ++i) {
            if (options & OPT_32BIT_INDICES) static_cast<DWORD*>(indices)[i] = firstVertex + i;
            else static_cast<WORD*>(indices)[i] = static_cast<WORD>(firstVertex + i);
        }
        mesh->UnlockIndices();
        DWORD* attributes = nullptr;
        ASSERT_EQ(mesh->LockAttributes(0, &attributes), S_OK);
        for (DWORD f = 0; f < faces; ++f) attributes[f] = triangles[f].group;
        mesh->UnlockAttributes();
        ASSERT_EQ(mesh->OptimizeMeshInPlace(OPTIMIZE_ATTRIBUTE_SORT | OPTIMIZE_IGNORE_VERTICES, nullptr, nullptr,
                                            nullptr, nullptr),
                  S_OK);
        course.mesh = mesh;
        course.materialCount = groups;
    }
    void TearDown() override {
        if (course.mesh) course.mesh->Release();
        course.mesh = nullptr;
        course.materialCount = 0;
        DeviceTest::TearDown();
    }

    // The car at (x, posY, z) facing `heading`, at rest.
    static VehicleState CarAt(float x, float z, float heading = 0.0f, float posY = 0.0f) {
        VehicleState car;
        car.posX = x, car.posZ = z, car.heading = heading, car.posY = posY;
        return car;
    }

    std::string Probe(VehicleState& car) {
        textOverlay.ClearOverlay();
        car.ProbeGround(course);
        car.AddProbeLine();
        auto lines = OverlayLines();
        textOverlay.ClearOverlay();
        EXPECT_EQ(lines.size(), 2u);
        return lines[400] + " | " + lines[464];
    }

    Model course;
};

TEST_F(GroundProbeTest, LevelRoad) {
    std::vector<Triangle> t;
    Quad(t, -50, 50, -50, 50, kRoadSubset, 2.0f);
    MakeCourse(t);
    VehicleState car = CarAt(0, 0);
    car.speed = car.targetSpeed = 40.0f;
    car.targetRpm = 5000.0f;
    car.sideTilt = 0.5f;
    car.noseTilt = -0.2f;
    EXPECT_EQ(Probe(car), "Raypick:Collision Hit,Mesh=14 | Y L2.00,R2.00,C2.00/Rot Pitch0.45,Bank-0.18");
    EXPECT_FLOAT_EQ(car.posY, 2.0f);
    EXPECT_FALSE(car.offCourse);
    EXPECT_FLOAT_EQ(car.targetSpeed, 40.0f) << "no drag on the road";
    EXPECT_FLOAT_EQ(car.targetRpm, 5000.0f);
    EXPECT_EQ(car.sideTiltTarget, 0.0f);
    EXPECT_EQ(car.noseTiltTarget, 0.0f);
    // Level ground: each tilt loses a tenth of its value a frame.
    EXPECT_FLOAT_EQ(car.sideTilt, 0.45f);
    EXPECT_FLOAT_EQ(car.noseTilt, -0.18f);

    // A fresh shake every frame, small on the road, even at rest.
    float low = 1.0f, high = 0.0f;
    for (int i = 0; i < 300; ++i) {
        car.ProbeGround(course);
        low = std::min(low, car.shake);
        high = std::max(high, car.shake);
        ASSERT_TRUE(IsShake(car.shake, 0.00002f)) << car.shake;
    }
    EXPECT_LT(low, 0.002f);
    EXPECT_GT(high, 0.018f);
    EXPECT_FALSE(car.offCourse);
}

TEST_F(GroundProbeTest, SlopeGivesHeightTiltsAndProbePlaces) {
    // y = 0.5 x - 0.25 z: rising to the right and ahead (ahead is -z at
    // heading 0).
    std::vector<Triangle> t;
    Quad(t, -50, 50, -50, 50, kRoadSubset, 0.0f, 0.5f, -0.25f);
    MakeCourse(t);
    VehicleState car = CarAt(0, 0);
    EXPECT_EQ(Probe(car), "Raypick:Collision Hit,Mesh=14 | Y L-1.00,R1.00,C1.00/Rot Pitch0.05,Bank0.02");
    EXPECT_NEAR(car.posY, 0.0f, 1e-6);
    EXPECT_NEAR(car.sideTiltTarget, kAtanHalf, 1e-6);
    EXPECT_NEAR(car.noseTiltTarget, kAtanQuarter, 1e-6);
    EXPECT_NEAR(car.sideTilt, kAtanHalf * 0.1f, 1e-6);
    EXPECT_NEAR(car.noseTilt, kAtanQuarter * 0.1f, 1e-6);

    // Facing -x: L is at +z, R at -z, the front probe 4 units along -x.
    VehicleState turned = CarAt(0, 0, 1.5707964f);
    turned.ProbeGround(course);
    EXPECT_NEAR(turned.probeHeight[0], -0.5f, 1e-5);
    EXPECT_NEAR(turned.probeHeight[1], 0.5f, 1e-5);
    EXPECT_NEAR(turned.probeHeight[2], -2.0f, 1e-5);
    EXPECT_NEAR(turned.sideTiltTarget, kAtanQuarter, 1e-5);
    EXPECT_NEAR(turned.noseTiltTarget, -kAtanHalf, 1e-5);

    // The probes start from the previous frame's height: from 20 above the
    // ground the rays begin 5 above it and still reach it.
    VehicleState high = CarAt(10, 0, 0.0f, 20.0f);
    high.ProbeGround(course);
    EXPECT_NEAR(high.posY, 5.0f, 1e-5);
}

TEST_F(GroundProbeTest, OneProbeOffTheRoadDragsAndShakes) {
    // Road beside the car, another group 3 units ahead.
    std::vector<Triangle> t;
    Quad(t, -50, 50, -3, 50, kRoadSubset, 0.0f);
    Quad(t, -50, 50, -50, -3, 3, 0.0f);
    MakeCourse(t);
    VehicleState car = CarAt(0, 0);
    car.speed = 40.0f;
    car.targetSpeed = 40.0f;
    car.targetRpm = 5000.0f;
    EXPECT_EQ(Probe(car), "Raypick:Collision Hit,Mesh=14 | Y L0.00,R0.00,C0.00/Rot Pitch0.00,Bank0.00");
    EXPECT_EQ(car.probeSubset[2], 3);
    EXPECT_TRUE(car.offCourse);
    EXPECT_FLOAT_EQ(car.targetSpeed, 40.0f - 40.0f * 0.0033333334f);  // a three-hundredth
    EXPECT_FLOAT_EQ(car.targetRpm, 4975.0f);                            // a two-hundredth

    // The second, larger shake: up to 0.24975.
    float high = 0.0f;
    for (int i = 0; i < 300; ++i) {
        car.ProbeGround(course);
        ASSERT_TRUE(IsShake(car.shake, 0.00025f)) << car.shake;
        high = std::max(high, car.shake);
    }
    EXPECT_GT(high, 0.2f);

    // Not above 30 km/h: no drag, still off the course.
    VehicleState slow = CarAt(0, 0);
    slow.speed = 30.0f;
    slow.targetSpeed = 30.0f;
    slow.targetRpm = 3000.0f;
    slow.ProbeGround(course);
    EXPECT_TRUE(slow.offCourse);
    EXPECT_EQ(slow.targetSpeed, 30.0f);
    EXPECT_EQ(slow.targetRpm, 3000.0f);

    // Back onto the road the flag clears.
    VehicleState back = CarAt(0, 20);
    back.offCourse = true;
    back.ProbeGround(course);
    EXPECT_FALSE(back.offCourse);
}

TEST_F(GroundProbeTest, LowerGroupNumberWinsOverTheNearerRoad) {
    std::vector<Triangle> t;
    Quad(t, -50, 50, -50, 50, kRoadSubset, 0.0f);
    Quad(t, -50, 50, -50, 50, 3, -1.0f);  // under the road
    MakeCourse(t);
    float height = 99.0f;
    EXPECT_EQ(PickGroundHeight(course, 0, 0, 0, &height), 3);
    EXPECT_FLOAT_EQ(height, -1.0f);
    VehicleState car = CarAt(0, 0);
    EXPECT_EQ(Probe(car), "Raypick:Collision Hit,Mesh=3 | Y L-1.00,R-1.00,C-1.00/Rot Pitch0.00,Bank0.00");
    EXPECT_TRUE(car.offCourse);
    EXPECT_FLOAT_EQ(car.posY, -1.0f);
}

TEST_F(GroundProbeTest, LeftProbeMissesRightHits) {
    std::vector<Triangle> t;
    Quad(t, -1, 50, -50, 50, kRoadSubset, 2.0f);
    MakeCourse(t);
    VehicleState car = CarAt(0, 0);
    EXPECT_EQ(Probe(car), "Raypick:Collision Hit,Mesh=-1 | Y L0.00,R2.00,C2.00/Rot Pitch0.05,Bank0.02");
    EXPECT_FLOAT_EQ(car.posY, 1.0f) << "a miss counts as height 0";
    EXPECT_TRUE(car.offCourse);
    EXPECT_NEAR(car.sideTiltTarget, kAtanHalf, 1e-6);
    EXPECT_NEAR(car.noseTiltTarget, kAtanQuarter, 1e-6);
}

TEST_F(GroundProbeTest, AllProbesMissKeepHeightAndFlag) {
    std::vector<Triangle> t;
    Quad(t, -50, 50, -50, 50, kRoadSubset, 20.0f);  // more than 15 above the car
    Quad(t, 100, 150, -50, 50, 3, 0.0f);
    MakeCourse(t);
    for (bool off : {false, true}) {
        VehicleState car = CarAt(0, 0, 0.0f, 0.0f);
        car.posY = 4.0f;  // 20 is 16 above: the rays start under the road
        car.offCourse = off;
        car.sideTilt = 0.3f;
        car.noseTilt = 0.1f;
        car.sideTiltTarget = car.noseTiltTarget = 0.7f;
        EXPECT_EQ(Probe(car), "Raypick:Collision NoHit. | Y L0.00,R0.00,C0.00/Rot Pitch0.27,Bank0.09");
        EXPECT_EQ(car.posY, 4.0f);
        EXPECT_EQ(car.offCourse, off);
        EXPECT_EQ(car.sideTiltTarget, 0.0f);
        EXPECT_EQ(car.noseTiltTarget, 0.0f);
        EXPECT_TRUE(IsShake(car.shake, 0.00002f)) << car.shake;
    }
    // Off the mesh altogether.
    VehicleState away = CarAt(500, 500, 0.0f, 0.0f);
    EXPECT_EQ(Probe(away), "Raypick:Collision NoHit. | Y L0.00,R0.00,C0.00/Rot Pitch0.00,Bank0.00");

    // A model without materials makes every probe a miss.
    course.materialCount = 0;
    float height = 5.0f;
    EXPECT_EQ(PickGroundHeight(course, 125, 0, 0, &height), -1);
    EXPECT_EQ(height, 0.0f);
    Model empty;
    EXPECT_EQ(PickGroundHeight(empty, 0, 0, 0, &height), -1);
}

TEST_F(GroundProbeTest, ThirtyTwoBitIndicesGiveTheRightHeights) {
    // Faces in several groups so the road face is not face 0, and corners
    // past 65535 so no index fits in 16 bits.
    std::vector<Triangle> t;
    Quad(t, 200, 210, 200, 210, 2, 7.0f);
    Quad(t, 300, 310, 300, 310, 5, -7.0f);
    Quad(t, -50, 50, -50, 50, kRoadSubset, 3.0f, 0.1f, 0.05f);
    Quad(t, -50, 50, 60, 90, 16, 1.0f);
    MakeCourse(t, 21, OPT_32BIT_INDICES, 70000);
    ASSERT_TRUE(course.mesh->GetCreationOptions() & OPT_32BIT_INDICES);
    VehicleState car = CarAt(0, 0);
    car.ProbeGround(course);
    EXPECT_EQ(car.probeSubset[0], kRoadSubset);
    EXPECT_NEAR(car.probeHeight[0], 2.8f, 1e-5);
    EXPECT_NEAR(car.probeHeight[1], 3.2f, 1e-5);
    EXPECT_NEAR(car.probeHeight[2], 2.8f, 1e-5);  // 4 ahead is z = -4
    EXPECT_NEAR(car.posY, 3.0f, 1e-5);
    EXPECT_FALSE(car.offCourse);
    float height = 0.0f;
    EXPECT_EQ(PickGroundHeight(course, 205, 0, 205, &height), 2);
    EXPECT_FLOAT_EQ(height, 7.0f);
    EXPECT_EQ(PickGroundHeight(course, 305, -5, 305, &height), 5);
    EXPECT_FLOAT_EQ(height, -7.0f);
    EXPECT_EQ(PickGroundHeight(course, 0, 0, 70, &height), 16);
    EXPECT_FLOAT_EQ(height, 1.0f);
}

TEST_F(GroundProbeTest, OffCourseSoundStartsAndStopsOnTheEdges) {
    Sounds sounds;
    ASSERT_TRUE(sounds.ok) << "the data set's sounds in " << VINTREL_DATA_DIR;
    std::vector<Triangle> t;
    Quad(t, -50, 50, -50, 50, kRoadSubset, 0.0f);
    Quad(t, 60, 100, -50, 50, 1, 0.0f);
    MakeCourse(t);
    VehicleState car = CarAt(0, 0);
    auto frame = [&](float x) {
        car.posX = x;
        car.ProbeGround(course);
        car.UpdateOffCourseSound();
        EXPECT_EQ(car.prevOffCourse, car.offCourse);
        return sounds.Calls();
    };
    using Calls = std::vector<std::string>;
    EXPECT_EQ(frame(0), Calls{});
    EXPECT_EQ(frame(80), (Calls{"#4 Stop()", "#4 Play(0, 0, 1)"}));
    EXPECT_EQ(frame(80), Calls{}) << "the loop keeps playing";
    EXPECT_EQ(frame(500), Calls{}) << "no hit keeps the flag, so the sound";
    EXPECT_TRUE(car.offCourse);
    EXPECT_EQ(frame(0), Calls{"#4 Stop()"});
    EXPECT_EQ(frame(0), Calls{});
    EXPECT_EQ(frame(80), (Calls{"#4 Stop()", "#4 Play(0, 0, 1)"}));
}

// The course of the data set, loaded once as the program loads it.
class CourseTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS p = SmallBackBuffer();
        d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, DummyWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p,
                          &device);
        const auto previous = std::filesystem::current_path();
        std::filesystem::current_path(VINTREL_DATA_DIR);
        course = new Model;
        loaded = course->LoadModel(device, "ct01.x");
        std::filesystem::current_path(previous);
    }
    static void TearDownTestSuite() {
        delete course;
        if (device) device->Release();
        if (d3d) d3d->Release();
    }
    void SetUp() override {
        ASSERT_EQ(loaded, 1) << "ct01.x of the data set in " << VINTREL_DATA_DIR;
        textOverlay.ClearOverlay();
    }
    void TearDown() override { textOverlay.ClearOverlay(); }

    // The expected pick, worked out over every face in double precision:
    // the first group in ascending order whose faces the vertical ray meets,
    // the highest of its hits below the ray's start. `ambiguous` when a
    // point lies so near a face's edge that rounding could decide.
    struct Expected {
        int group = -1;
        double height = 0;
        bool ambiguous = false;
    };
    static Expected Oracle(double x, double y, double z) {
        static std::vector<float> xyz;
        static std::vector<DWORD> indices, attributes;
        Mesh* mesh = course->mesh;
        if (xyz.empty()) {
            BYTE* v = nullptr;
            mesh->LockVertices(D3DLOCK_READONLY, reinterpret_cast<void**>(&v));
            for (DWORD i = 0; i < mesh->GetVertexCount(); ++i) {
                const float* p = reinterpret_cast<const float*>(v + size_t{i} * mesh->GetVertexStride());
                xyz.insert(xyz.end(), p, p + 3);
            }
            mesh->UnlockVertices();
            void* ib = nullptr;
            mesh->LockIndices(D3DLOCK_READONLY, &ib);
            const bool wide = mesh->GetCreationOptions() & OPT_32BIT_INDICES;
            for (DWORD i = 0; i < 3 * mesh->GetFaceCount(); ++i)
                indices.push_back(wide ? static_cast<DWORD*>(ib)[i] : static_cast<WORD*>(ib)[i]);
            mesh->UnlockIndices();
            DWORD* a = nullptr;
            mesh->LockAttributes(D3DLOCK_READONLY, &a);
            attributes.assign(a, a + mesh->GetFaceCount());
            mesh->UnlockAttributes();
        }
        const double top = y + 15.0;
        std::vector<Expected> best(course->materialCount);
        for (size_t f = 0; f < attributes.size(); ++f) {
            if (attributes[f] >= course->materialCount) continue;
            const float* p[3];
            for (int k = 0; k < 3; ++k) p[k] = &xyz[3 * indices[3 * f + k]];
            const double ax = p[1][0] - p[0][0], az = p[1][2] - p[0][2];
            const double bx = p[2][0] - p[0][0], bz = p[2][2] - p[0][2];
            const double det = ax * bz - az * bx;
            if (std::fabs(det) < 1e-12) continue;  // seen edge-on
            const double px = x - p[0][0], pz = z - p[0][2];
            const double u = (px * bz - pz * bx) / det, v = (ax * pz - az * px) / det;
            const double margin = std::min({u, v, 1.0 - u - v});
            const double h = p[0][1] + u * (p[1][1] - p[0][1]) + v * (p[2][1] - p[0][1]);
            Expected& e = best[attributes[f]];
            if (std::fabs(margin) < 1e-4 || (margin > 0 && std::fabs(h - top) < 1e-3)) e.ambiguous = true;
            if (margin < 0 || h > top) continue;
            if (e.group < 0 || h > e.height) e.group = static_cast<int>(attributes[f]), e.height = h;
        }
        bool ambiguous = false;
        for (const Expected& e : best) {
            ambiguous = ambiguous || e.ambiguous;
            if (e.group >= 0) return {e.group, e.height, ambiguous};
        }
        return {-1, 0.0, ambiguous};
    }

    static IDirect3D9* d3d;
    static IDirect3DDevice9* device;
    static Model* course;
    static int loaded;
};
IDirect3D9* CourseTest::d3d = nullptr;
IDirect3DDevice9* CourseTest::device = nullptr;
Model* CourseTest::course = nullptr;
int CourseTest::loaded = 0;

TEST_F(CourseTest, PicksMatchEveryFaceWorkedOutByHand) {
    ASSERT_EQ(course->materialCount, 21u);
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> across(-1400.0f, 1200.0f), along(-1650.0f, 450.0f), up(-30.0f, 100.0f);
    int checked = 0, hits = 0, road = 0;
    for (int i = 0; i < 150; ++i) {
        const float x = across(random), y = up(random), z = along(random);
        const Expected e = Oracle(x, y, z);
        if (e.ambiguous) continue;
        ++checked;
        float height = -99.0f;
        const int group = PickGroundHeight(*course, x, y, z, &height);
        ASSERT_EQ(group, e.group) << x << "," << y << "," << z;
        EXPECT_NEAR(height, e.height, 2e-3) << x << "," << y << "," << z;
        hits += group >= 0;
        road += group == kRoadSubset;
    }
    EXPECT_GE(checked, 140);
    EXPECT_GE(hits, 50);
    // Along the start straight the road is found too.
    for (int i = 0; i < 20; ++i) {
        const float x = 96.94f + 0.7f * i, z = -266.825f;
        const Expected e = Oracle(x, 0, z);
        if (e.ambiguous) continue;
        float height = 0;
        EXPECT_EQ(PickGroundHeight(*course, x, 0, z, &height), e.group);
        EXPECT_NEAR(height, e.height, 2e-3);
        road += e.group == kRoadSubset;
    }
    EXPECT_GE(road, 10);
}

TEST_F(CourseTest, EveryNamedTextureOfTheCourseLoads) {
    // Groups 5, 9, 17 and 20 are plain colours; the others name DDS, JPEG,
    // PPM, BMP, TGA and PNG files of the data set.
    for (DWORD i = 0; i < course->materialCount; ++i) {
        const bool plain = i == 5 || i == 9 || i == 17 || i == 20;
        EXPECT_EQ(course->textures[i] == nullptr, plain) << "group " << i;
        EXPECT_EQ(course->materials[i].Diffuse.a, 128.0f);
        EXPECT_EQ(course->materials[i].Power, 10.0f);
    }
}

TEST_F(CourseTest, StartIsOnTheRoad) {
    VehicleState car;
    car.ProbeGround(*course);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(car.probeSubset[k], kRoadSubset) << "probe " << k;
    EXPECT_FALSE(car.offCourse);
    EXPECT_TRUE(IsShake(car.shake, 0.00002f)) << car.shake;
    EXPECT_FLOAT_EQ(car.posY, (car.probeHeight[0] + car.probeHeight[1]) * 0.5f);
    EXPECT_LT(std::fabs(car.posY), 0.5f);
    const float c = std::cos(car.heading), s = std::sin(car.heading);
    const Expected left = Oracle(96.94f - 2 * c, 0, -266.825f + 2 * s);
    const Expected front = Oracle(96.94f - 4 * s, 0, -266.825f - 4 * c);
    // The probes may sit on the road's edges; the surface is continuous
    // there, so the height is the same from either face.
    EXPECT_EQ(left.group, kRoadSubset);
    EXPECT_EQ(front.group, kRoadSubset);
    EXPECT_NEAR(car.probeHeight[0], left.height, 2e-3);
    EXPECT_NEAR(car.probeHeight[2], front.height, 2e-3);
    EXPECT_EQ(OverlayLines()[400], "Raypick:Collision Hit,Mesh=14");
}

TEST_F(CourseTest, FullThrottleFromTheStartFollowsTheStraightUntilItRunsWide) {
    vehicletest::Keys keys;
    keys.Press('G');
    VehicleState car;
    int frame = 0;
    float targetSpeed = 0.0f, targetRpm = 0.0f;
    for (; frame < 3000; ++frame) {
        car.StepDrivetrain();
        car.StepMotion();
        targetSpeed = car.targetSpeed, targetRpm = car.targetRpm;
        car.ProbeGround(*course);
        textOverlay.ClearOverlay();
        if (car.offCourse) break;
        ASSERT_EQ(car.probeSubset[0], kRoadSubset) << "frame " << frame;
        ASSERT_EQ(car.probeSubset[1], kRoadSubset) << "frame " << frame;
        ASSERT_EQ(car.probeSubset[2], kRoadSubset) << "frame " << frame;
        ASSERT_EQ(car.posY, (car.probeHeight[1] + car.probeHeight[0]) * 0.5f);
        ASSERT_EQ(car.targetSpeed, targetSpeed) << "no drag on the road";
    }
    // The heading never changes without the arrows, so the car runs
    // straight down the start straight, through second and third, and
    // leaves the road where it bends.
    ASSERT_LT(frame, 3000);
    EXPECT_GT(frame, 600);
    EXPECT_GE(car.gear, 2);
    ASSERT_GT(car.speed, 30.0f);
    EXPECT_FLOAT_EQ(car.targetSpeed, targetSpeed - targetSpeed * 0.0033333334f);
    EXPECT_FLOAT_EQ(car.targetRpm, targetRpm - targetRpm * 0.005f);
    // Off the course the box chooses from road speed although the
    // throttle is held.
    const float speed = car.speed;
    car.StepDrivetrain();
    int expected = 0;
    while (expected < 4 && !(GearTopSpeed(expected) > speed)) ++expected;
    EXPECT_EQ(car.gear, expected);
}

TEST_F(CourseTest, DrivingOntoTheGrassDragsTheCar) {
    // (0, 0) lies on group 8, away from the road.
    VehicleState car;
    car.posX = 0.0f, car.posZ = 0.0f;
    car.speed = 50.0f, car.targetSpeed = 50.0f, car.targetRpm = 6000.0f;
    car.ProbeGround(*course);
    EXPECT_EQ(car.probeSubset[0], 8);
    EXPECT_TRUE(car.offCourse);
    EXPECT_FLOAT_EQ(car.targetSpeed, 50.0f - 50.0f * 0.0033333334f);
    EXPECT_FLOAT_EQ(car.targetRpm, 5970.0f);
    EXPECT_NEAR(car.posY, 12.6f, 0.5f);
    EXPECT_EQ(OverlayLines()[400], "Raypick:Collision Hit,Mesh=8");
}

}  // namespace
