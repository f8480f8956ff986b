// The course as the program sees it: loaded by the mesh library, probed by
// the same downward rays the car casts, and checked for anything that could
// take a probe away from the road.
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "course.h"
#include "geometry/geometry.h"
#include "tests/data/data_support.h"

using namespace datatest;

namespace {
constexpr DWORD kRoadSubset = 14;

// The car's ground probe: the first subset, in ascending order, that a ray
// from 15 units above the point straight down meets, and the height there.
int PickGroundHeight(const ModelFile& model, float x, float y, float z, float* height) {
    *height = 0;
    const Vector3 origin{x, y + 15.0f, z}, down{0, -1, 0};
    for (DWORD s = 0; s < model.materialCount; ++s) {
        BOOL hit = FALSE;
        DWORD face = 0;
        FLOAT u = 0, v = 0;
        DataBuffer* all = nullptr;
        IntersectRayWithMeshGroup(model.mesh, s, &origin, &down, &hit, &face, &u, &v, nullptr, &all, nullptr);
        if (all) all->Release();
        if (!hit) continue;
        IDirect3DIndexBuffer9* ib = nullptr;
        IDirect3DVertexBuffer9* vb = nullptr;
        model.mesh->GetIndexBufferObject(&ib);
        model.mesh->GetVertexBufferObject(&vb);
        void* indexBytes = nullptr;
        void* vertexBytes = nullptr;
        ib->Lock(6 * face, 6, &indexBytes, D3DLOCK_READONLY);
        vb->Lock(0, 0, &vertexBytes, D3DLOCK_READONLY);
        const DWORD stride = GetFvfVertexSize(model.mesh->GetVertexFormat());
        const WORD* i = static_cast<const WORD*>(indexBytes);
        auto yOf = [&](WORD k) {
            return reinterpret_cast<const float*>(static_cast<const BYTE*>(vertexBytes) + size_t(k) * stride)[1];
        };
        const float y0 = yOf(i[0]), y1 = yOf(i[1]), y2 = yOf(i[2]);
        ib->Unlock();
        vb->Unlock();
        ib->Release();
        vb->Release();
        *height = y0 + u * (y1 - y0) + v * (y2 - y0);
        return int(s);
    }
    return -1;
}

class DataCourse : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        course = std::make_unique<ModelFile>(DataPath("ct01.x"), device);
        ASSERT_EQ(course->result, S_OK);
    }
    void TearDown() override {
        course.reset();
        DeviceTest::TearDown();
    }
    std::unique_ptr<ModelFile> course;
};

TEST_F(DataCourse, LoadsWithSixteenBitIndicesAndItsBudget) {
    EXPECT_GE(course->materialCount, 16u);
    EXPECT_EQ(course->mesh->GetCreationOptions() & OPT_32BIT_INDICES, 0u);
    EXPECT_GE(course->mesh->GetFaceCount(), 30000u);
    EXPECT_LE(course->mesh->GetFaceCount(), 80000u);
    EXPECT_LT(course->mesh->GetVertexCount(), 65534u);
    // Lit meshes bring normals, textured ones coordinates.
    EXPECT_EQ(course->mesh->GetVertexFormat(), DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));

    // The road and most of the ground are textured, in every format the
    // texture library reads; several materials are flat colours.
    EXPECT_EQ(course->Texture(kRoadSubset), "road.dds");
    std::map<std::string, int> extensions;
    int untextured = 0;
    for (DWORD k = 0; k < course->materialCount; ++k) {
        const std::string name = course->Texture(k);
        if (name.empty()) {
            ++untextured;
            continue;
        }
        ++extensions[name.substr(name.rfind('.') + 1)];
        // Ambient comes from the lighting set-up, not from the file.
        EXPECT_EQ(course->Entry(k).material.Ambient.r, 0.0f);
    }
    for (const char* ext : {"dds", "bmp", "tga", "png", "jpg", "ppm"}) EXPECT_GT(extensions[ext], 0) << ext;
    EXPECT_GE(untextured, 2);

    // Every subset has faces: the attribute table covers them all.
    DWORD ranges = 0;
    ASSERT_EQ(course->mesh->CopyAttributeTable(nullptr, &ranges), S_OK);
    std::vector<AttributeRange> table(ranges);
    ASSERT_EQ(course->mesh->CopyAttributeTable(table.data(), &ranges), S_OK);
    std::vector<bool> seen(course->materialCount);
    for (const AttributeRange& r : table)
        if (r.AttribId < seen.size() && r.FaceCount > 0) seen[r.AttribId] = true;
    for (DWORD k = 0; k < course->materialCount; ++k) EXPECT_TRUE(seen[k]) << "subset " << k;
}

TEST_F(DataCourse, StartPoseProbesOnTheRoad) {
    // The car starts at height 0, facing along the start straight.
    const float x = assets::kStartX, z = assets::kStartZ, h = assets::kStartHeading, y = 0;
    float hL = 0, hR = 0, hC = 0;
    EXPECT_EQ(PickGroundHeight(*course, x - 2 * std::cos(h), y, z + 2 * std::sin(h), &hL), int(kRoadSubset));
    EXPECT_EQ(PickGroundHeight(*course, x + 2 * std::cos(h), y, z - 2 * std::sin(h), &hR), int(kRoadSubset));
    EXPECT_EQ(PickGroundHeight(*course, x - 4 * std::sin(h), y, z - 4 * std::cos(h), &hC), int(kRoadSubset));
    // Level across, and the straight barely climbs over 4 units.
    EXPECT_NEAR(hL, 0.0f, 0.05f);
    EXPECT_NEAR(hR, 0.0f, 0.05f);
    EXPECT_NEAR(hC, 0.0f, 0.2f);

    // Straight ahead the centre line runs on along the heading for a while.
    assets::CentreLine line = assets::BuildCentreLine();
    const float fx = -std::sin(h), fz = -std::cos(h);
    for (size_t i = 1; i < 20; ++i) {
        const float dx = line.points[i].x - x, dz = line.points[i].y - z;
        const float along = dx * fx + dz * fz, aside = dx * fz - dz * fx;
        EXPECT_GT(along, 0.0f);
        EXPECT_LT(std::abs(aside), 0.5f) << "sample " << i;
    }
}

TEST_F(DataCourse, EveryPointNearTheCentreLineProbesAsRoad) {
    assets::CentreLine line = assets::BuildCentreLine();
    const size_t n = line.points.size();
    ASSERT_GT(n, 100u);
    // Half-width of the road ribbon, with the probe band inside it.
    ASSERT_GE(2 * assets::kRoadHalfWidth, 14.0f);

    size_t probes = 0, misses = 0;
    std::string firstMiss;
    for (float s = 0; s < line.length; s += 2.0f) {
        const float where = s / line.step;
        const size_t i = size_t(where) % n, k = (i + 1) % n;
        const float t = where - std::floor(where);
        const float px = line.points[i].x + (line.points[k].x - line.points[i].x) * t;
        const float pz = line.points[i].y + (line.points[k].y - line.points[i].y) * t;
        const float py = line.heights[i] + (line.heights[k] - line.heights[i]) * t;
        // Across the polyline segment the road is built on.
        float ex = line.points[k].x - line.points[i].x, ez = line.points[k].y - line.points[i].y;
        const float len = std::hypot(ex, ez);
        ex /= len, ez /= len;
        for (float across = -5.0f; across <= 5.0f; across += 2.5f) {
            const float x = px - ez * across, z = pz + ex * across;
            float height = 0;
            const int subset = PickGroundHeight(*course, x, py, z, &height);
            ++probes;
            if (subset != int(kRoadSubset) || std::abs(height - py) > 0.5f) {
                if (misses++ == 0)
                    firstMiss = "at s=" + std::to_string(s) + " across=" + std::to_string(across) + ": subset " +
                                std::to_string(subset) + " height " + std::to_string(height) + " (road " +
                                std::to_string(py) + ")";
            }
        }
    }
    EXPECT_EQ(misses, 0u) << firstMiss;
    EXPECT_GT(probes, size_t(line.length / 2.0f) * 5 - 5);
}
// Whether two triangles' interiors overlap seen from above (x, z): no edge
// of either separates them. Touching along a shared edge does not count.
bool OverlapFromAbove(const float ax[3], const float az[3], const float bx[3], const float bz[3]) {
    const float* xs[2] = {ax, bx};
    const float* zs[2] = {az, bz};
    for (int t = 0; t < 2; ++t)
        for (int e = 0; e < 3; ++e) {
            const int f = (e + 1) % 3;
            float nx = -(zs[t][f] - zs[t][e]), nz = xs[t][f] - xs[t][e];
            const float len = std::hypot(nx, nz);
            if (len == 0) continue;
            nx /= len, nz /= len;
            float lo[2] = {1e30f, 1e30f}, hi[2] = {-1e30f, -1e30f};
            for (int s = 0; s < 2; ++s)
                for (int k = 0; k < 3; ++k) {
                    const float d = xs[s][k] * nx + zs[s][k] * nz;
                    lo[s] = std::min(lo[s], d), hi[s] = std::max(hi[s], d);
                }
            if (hi[0] <= lo[1] + 0.01f || hi[1] <= lo[0] + 0.01f) return false;
        }
    return true;
}

TEST_F(DataCourse, NothingElseLiesOverOrUnderTheRoad) {
    // A probe takes the first subset its ray meets in ascending order, so a
    // face of a lower subset anywhere above or below the road would win
    // over it; a face of a higher subset matters where a ray that starts
    // 15 units above the road can reach it.
    const std::vector<ModelFile::Triangle> all = course->Triangles();
    const float cell = 16;
    auto key = [](int x, int z) { return (uint64_t(uint32_t(x)) << 32) | uint32_t(z); };
    auto range = [&](const ModelFile::Triangle& t, int& x0, int& x1, int& z0, int& z1) {
        x0 = int(std::floor(std::min({t.x[0], t.x[1], t.x[2]}) / cell));
        x1 = int(std::floor(std::max({t.x[0], t.x[1], t.x[2]}) / cell));
        z0 = int(std::floor(std::min({t.z[0], t.z[1], t.z[2]}) / cell));
        z1 = int(std::floor(std::max({t.z[0], t.z[1], t.z[2]}) / cell));
    };
    std::unordered_map<uint64_t, std::vector<size_t>> roadCells;
    size_t roadFaces = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].subset != kRoadSubset) continue;
        ++roadFaces;
        int x0, x1, z0, z1;
        range(all[i], x0, x1, z0, z1);
        for (int x = x0; x <= x1; ++x)
            for (int z = z0; z <= z1; ++z) roadCells[key(x, z)].push_back(i);
    }
    ASSERT_GT(roadFaces, 1000u);

    size_t lower = 0, withinReach = 0;
    std::string example;
    for (const ModelFile::Triangle& t : all) {
        if (t.subset == kRoadSubset) continue;
        int x0, x1, z0, z1;
        range(t, x0, x1, z0, z1);
        const float bottom = std::min({t.y[0], t.y[1], t.y[2]});
        bool found = false;
        for (int x = x0; x <= x1 && !found; ++x)
            for (int z = z0; z <= z1 && !found; ++z) {
                auto it = roadCells.find(key(x, z));
                if (it == roadCells.end()) continue;
                for (size_t r : it->second) {
                    const ModelFile::Triangle& road = all[r];
                    const bool reachable = bottom < std::max({road.y[0], road.y[1], road.y[2]}) + 16.0f;
                    if (t.subset > kRoadSubset && !reachable) continue;
                    if (!OverlapFromAbove(t.x, t.z, road.x, road.z)) continue;
                    found = true;
                    (t.subset < kRoadSubset ? lower : withinReach)++;
                    if (example.empty())
                        example = "subset " + std::to_string(t.subset) + " near (" + std::to_string(t.x[0]) + ", " +
                                  std::to_string(t.z[0]) + ")";
                    break;
                }
            }
    }
    EXPECT_EQ(lower, 0u) << example;
    EXPECT_EQ(withinReach, 0u) << example;
}
}  // namespace
