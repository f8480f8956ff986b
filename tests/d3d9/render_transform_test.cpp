// Untransformed geometry: lighting, fog, clipping at the near plane and the
// guard band, and the same frame whatever the number of worker threads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <random>

#include "tests/d3d9/render_scene.h"

using namespace render_test;

namespace {

struct Vec3 {
    double x, y, z;
};
Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// Projects a world point through world, view and projection and the
// viewport of `scene` to pixel coordinates.
void Project(const Scene& scene, Vec3 p, double& sx, double& sy) {
    const D3DMATRIX m = Multiply(Multiply(scene.state.world, scene.state.view), scene.state.projection);
    double c[4];
    for (int j = 0; j < 4; ++j) c[j] = p.x * m.m[0][j] + p.y * m.m[1][j] + p.z * m.m[2][j] + m.m[3][j];
    sx = (1 + c[0] / c[3]) * scene.Width() / 2;
    sy = (1 - c[1] / c[3]) * scene.Height() / 2;
}

// A cube of half size `h` with one normal per face, each face clockwise
// when seen from outside.
void CubeMesh(float h, std::vector<PosNormal>& vertices, std::vector<uint16_t>& indices) {
    const Vec3 normals[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (const Vec3& n : normals) {
        const Vec3 a = std::fabs(n.y) < 0.5 ? Vec3{0, 1, 0} : Vec3{1, 0, 0};
        const Vec3 u = Cross(a, n), v = Cross(u, n);  // u x v = -n
        const uint16_t base = uint16_t(vertices.size());
        const double corners[4][2] = {{-1, -1}, {-1, 1}, {1, 1}, {1, -1}};
        for (const auto& k : corners)
            vertices.push_back({float(h * (n.x + k[0] * u.x + k[1] * v.x)), float(h * (n.y + k[0] * u.y + k[1] * v.y)),
                                float(h * (n.z + k[0] * u.z + k[1] * v.z)), float(n.x), float(n.y), float(n.z)});
        for (uint16_t i : {0, 1, 2, 0, 2, 3}) indices.push_back(uint16_t(base + i));
    }
}

// The program's light and an adjusted material: ambient = diffuse, diffuse
// alpha 128.
void ProgramLight(Scene& scene, float r, float g, float b) {
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {0.125f, 0.125f, 0.125f, 0};
    light.Specular = {0.3f, 0.3f, 0.3f, 0};
    light.Ambient = {0.5f, 0.5f, 0.5f, 0};
    light.Direction = {0.8f, -1.0f, 0.0f};
    scene.state.lights[0] = light;
    scene.state.lightCount = 1;
    scene.state.material.Diffuse = {r, g, b, 128.0f};
    scene.state.material.Ambient = scene.state.material.Diffuse;
    scene.state.material.Specular = scene.state.material.Diffuse;
    scene.state.material.Power = 10;
}

TEST(RenderTransform, LitCubeScaledByATenth) {
    Scene scene(160, 120);
    scene.SetLayout(Layout::PosNormal);
    ProgramLight(scene, 0.6f, 0.4f, 0.2f);
    const float eye[3] = {-3, 4, -5}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    scene.state.view = LookAt(eye, at, up);
    scene.state.projection = Perspective(1.0f, 160.0f / 120.0f, 1.0f, 100.0f);
    // A cube of half size 10 under a world scale of 0.1: normals come out
    // ten times longer, so every N.L is ten times the cosine.
    scene.state.world = Identity();
    scene.state.world._11 = scene.state.world._22 = scene.state.world._33 = 0.1f;
    std::vector<PosNormal> vertices;
    std::vector<uint16_t> indices;
    CubeMesh(10, vertices, indices);
    scene.Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000);
    scene.DrawIndexed(vertices, indices, 12);

    const double len = std::sqrt(0.8 * 0.8 + 1.0);
    const Vec3 toLight{-0.8 / len, 1.0 / len, 0};
    struct Face {
        Vec3 normal;
    } faces[] = {{{-1, 0, 0}}, {{0, 1, 0}}, {{0, 0, -1}}};
    for (const Face& f : faces) {
        const double nl = 10 * (f.normal.x * toLight.x + f.normal.y * toLight.y + f.normal.z * toLight.z);
        auto lit = [&](double c) { return std::min(1.0, 0.5 * c + 0.125 * c * std::max(0.0, nl)); };
        double sx, sy;
        Project(scene, {10 * f.normal.x, 10 * f.normal.y, 10 * f.normal.z}, sx, sy);
        EXPECT_EQ(scene.Pixel16(int(std::lround(sx)), int(std::lround(sy))), Rgb565(lit(0.6), lit(0.4), lit(0.2)))
            << f.normal.x << "," << f.normal.y << "," << f.normal.z;
    }
    scene.Dump("lit_cube");
    // The hidden faces draw nothing over the visible ones; the whole frame:
    EXPECT_EQ(scene.Checksum(), 0x4008eb612137fa37u) << std::hex << scene.Checksum();
}

// Table (pixel) and vertex fog over walls at fixed depths.
TEST(RenderTransform, LinearFogReachesTheFogColourAt1200) {
    for (DWORD tableMode : {DWORD(D3DFOG_LINEAR), DWORD(D3DFOG_NONE)}) {
        Scene scene(64, 70);
        scene.SetLayout(Layout::PosColor);
        scene.state.renderStates[D3DRS_LIGHTING] = FALSE;
        scene.state.renderStates[D3DRS_FOGENABLE] = TRUE;
        scene.state.renderStates[D3DRS_FOGCOLOR] = 0xFF909080;
        scene.state.renderStates[D3DRS_FOGSTART] = FloatBits(0);
        scene.state.renderStates[D3DRS_FOGEND] = FloatBits(1200);
        scene.state.renderStates[D3DRS_FOGVERTEXMODE] = D3DFOG_LINEAR;
        scene.state.renderStates[D3DRS_FOGTABLEMODE] = tableMode;
        scene.state.renderStates[D3DRS_CULLMODE] = D3DCULL_NONE;
        scene.state.projection = Perspective(1.0f, 64.0f / 70.0f, 0.5f, 2000.0f);
        const double ys = scene.state.projection._22, xs = scene.state.projection._11;
        const double depths[7] = {1, 300, 600, 900, 1199, 1200, 1500};
        scene.Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000);
        for (int i = 0; i < 7; ++i) {
            // A white wall at depth d over rows 10 i .. 10 i + 10.
            const double d = depths[i];
            const double top = (1 - 2 * (10.0 * i - 0.5) / 70) * d / ys, bottom = (1 - 2 * (10.0 * i + 9.5) / 70) * d / ys;
            const float x = float(2 * d / xs);
            const std::vector<PosColor> wall{{-x, float(top), float(d), 0xFFFFFFFF}, {x, float(top), float(d), 0xFFFFFFFF},
                                             {x, float(bottom), float(d), 0xFFFFFFFF}, {-x, float(top), float(d), 0xFFFFFFFF},
                                             {x, float(bottom), float(d), 0xFFFFFFFF}, {-x, float(bottom), float(d), 0xFFFFFFFF}};
            scene.Draw(D3DPT_TRIANGLELIST, wall, 2);
            const double f = std::clamp((1200 - d) / 1200, 0.0, 1.0);
            const double r = f + (1 - f) * 0x90 / 255.0, b = f + (1 - f) * 0x80 / 255.0;
            for (double v : {r * 31, r * 63, b * 31}) ASSERT_GT(std::fabs(v - std::floor(v) - 0.5), 0.001);
            for (int y = 10 * i; y < 10 * i + 10; ++y)
                for (int px = 0; px < 64; ++px)
                    ASSERT_EQ(scene.Pixel16(px, y), Rgb565(r, r, b)) << "depth " << d << " row " << y << " table " << tableMode;
        }
        EXPECT_EQ(scene.Pixel16(5, 55), 0x9490);  // the fog colour itself
    }
}

TEST(RenderTransform, FoggedFloorFromNearTo1500) {
    Scene scene(64, 120);
    scene.SetLayout(Layout::PosColor);
    scene.state.renderStates[D3DRS_LIGHTING] = FALSE;
    scene.state.renderStates[D3DRS_CULLMODE] = D3DCULL_NONE;
    scene.state.renderStates[D3DRS_FOGENABLE] = TRUE;
    scene.state.renderStates[D3DRS_FOGCOLOR] = 0xFF909080;
    scene.state.renderStates[D3DRS_FOGEND] = FloatBits(1200);
    scene.state.renderStates[D3DRS_FOGSTART] = FloatBits(0);
    scene.state.renderStates[D3DRS_FOGTABLEMODE] = D3DFOG_LINEAR;
    // Camera 50 above the floor, looking along +z through a narrow field
    // of view, so that many rows lie between depths 1200 and 1500.
    const float eye[3] = {0, 50, 0}, at[3] = {0, 50, 1}, up[3] = {0, 1, 0};
    scene.state.view = LookAt(eye, at, up);
    scene.state.projection = Perspective(0.19933730f, 64.0f / 120.0f, 0.5f, 4000.0f);
    const std::vector<PosColor> floor{{-3000, 0, 0.6f, 0xFFFFFFFF}, {3000, 0, 0.6f, 0xFFFFFFFF}, {3000, 0, 1500, 0xFFFFFFFF},
                                      {-3000, 0, 0.6f, 0xFFFFFFFF}, {3000, 0, 1500, 0xFFFFFFFF}, {-3000, 0, 1500, 0xFFFFFFFF}};
    scene.Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000);
    scene.Draw(D3DPT_TRIANGLELIST, floor, 2);
    const double m22 = scene.state.projection._22;
    int fogRows = 0, litRows = 0;
    for (int y = 61; y < 120; ++y) {
        // The floor's distance at the centre of row y.
        const double ndc = 1 - 2.0 * y / 120;
        const double w = -50 * m22 / ndc;
        if (w > 1500.5) {
            EXPECT_EQ(scene.Pixel16(32, y), 0) << y;
        } else if (w >= 1201 && w < 1499) {
            ++fogRows;
            for (int x = 0; x < 64; ++x) ASSERT_EQ(scene.Pixel16(x, y), 0x9490) << x << "," << y;
        } else if (w < 1190) {
            ++litRows;
            const double f = 1 - w / 1200, r = f + (1 - f) * 0x90 / 255.0;
            const int red = scene.Pixel16(32, y) >> 11;
            EXPECT_NEAR(red, r * 31, 0.51) << "row " << y << " w " << w;
        }
    }
    scene.Dump("fogged_floor");
    EXPECT_GE(fogRows, 4);
    EXPECT_GE(litRows, 20);
}

TEST(RenderTransform, NearPlaneAndGuardBandClippingLeaveNoCracks) {
    // A floor mesh from behind the camera to z = 100, drawn additively:
    // every pixel below its far edge exactly once.
    Scene scene(80, 60, D3DFMT_X8R8G8B8, false);
    scene.SetLayout(Layout::PosColor);
    scene.state.renderStates[D3DRS_LIGHTING] = FALSE;
    scene.state.renderStates[D3DRS_ZENABLE] = FALSE;
    scene.state.renderStates[D3DRS_CULLMODE] = D3DCULL_NONE;
    scene.state.renderStates[D3DRS_ALPHABLENDENABLE] = TRUE;
    scene.state.renderStates[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    scene.state.renderStates[D3DRS_DESTBLEND] = D3DBLEND_ONE;
    const float eye[3] = {0, 3, 0}, at[3] = {0, 3, 1}, up[3] = {0, 1, 0};
    scene.state.view = LookAt(eye, at, up);
    scene.state.projection = Perspective(1.3f, 80.0f / 60.0f, 0.25f, 1000.0f);
    std::vector<PosColor> vertices;
    std::vector<uint16_t> indices;
    const int n = 12;
    std::mt19937 random(3);
    std::uniform_real_distribution<float> jitter(-3, 3);
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            float x = -200 + 400.0f * i / n, z = -50 + 150.0f * j / n;
            if (i > 0 && i < n && j > 0 && j < n) x += jitter(random), z += jitter(random);
            vertices.push_back({x, 0, z, 0xFF010101});
        }
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const uint16_t a = uint16_t(j * (n + 1) + i), b = uint16_t(a + 1), c = uint16_t(a + n + 1), d = uint16_t(c + 1);
            for (uint16_t k : {a, b, d, a, d, c}) indices.push_back(k);
        }
    scene.Clear(D3DCLEAR_TARGET, 0);
    scene.DrawIndexed(vertices, indices, UINT(indices.size() / 3));
    const double m22 = scene.state.projection._22;
    const double farRow = (1 + 3 * m22 / 100) * 60 / 2;  // where w = 100
    for (int y = 0; y < 60; ++y) {
        if (std::fabs(y - farRow) < 1) continue;
        for (int x = 0; x < 80; ++x)
            ASSERT_EQ(scene.Pixel32(x, y) & 0xFF, y > farRow ? 1u : 0u) << x << "," << y;
    }
}

// How the height field reaches the renderer; every form gives the same frame.
enum class MeshForm {
    Indexed16,   // 16-bit indices into the grid
    Expanded,    // no indices: three vertices per triangle
    Scattered,   // 32-bit indices into a buffer whose other vertices are NaN
    BaseVertex,  // 16-bit indices off by the base vertex, NaN vertices before
};

// A small version of the benchmark's scene: a lit, fogged, textured,
// blended height field plus overlay quads.
uint64_t RenderTerrain(const char* threads, MeshForm form = MeshForm::Indexed16) {
    setenv("VINTREL_RENDER_THREADS", threads, 1);
    Scene scene(320, 240);
    unsetenv("VINTREL_RENDER_THREADS");
    scene.SetLayout(Layout::PosNormalTex);
    scene.ModulateStage0();
    ProgramLight(scene, 0.8f, 0.9f, 0.7f);
    scene.state.material.Diffuse.a = 0.75f;
    DWORD* rs = scene.state.renderStates;
    rs[D3DRS_ALPHABLENDENABLE] = TRUE;
    rs[D3DRS_SRCBLEND] = D3DBLEND_SRCALPHA;
    rs[D3DRS_DESTBLEND] = D3DBLEND_INVSRCALPHA;
    rs[D3DRS_DITHERENABLE] = TRUE;
    rs[D3DRS_FOGENABLE] = TRUE;
    rs[D3DRS_FOGCOLOR] = 0xFF909080;
    rs[D3DRS_FOGEND] = FloatBits(120);
    rs[D3DRS_FOGTABLEMODE] = D3DFOG_LINEAR;
    for (DWORD s : {D3DSAMP_MINFILTER, D3DSAMP_MAGFILTER, D3DSAMP_MIPFILTER}) scene.state.samplerStates[0][s] = D3DTEXF_LINEAR;
    std::mt19937 random(9);
    const Texture texture = MakeArgbTexture(64, 64, 7, [&](UINT, UINT, UINT) { return DWORD(random()) | 0xC0000000u; });
    scene.BindTexture(0, texture);
    const float eye[3] = {0, 12, -20}, at[3] = {0, 0, 30}, up[3] = {0, 1, 0};
    scene.state.view = LookAt(eye, at, up);
    scene.state.projection = Perspective(1.3f, 320.0f / 240.0f, 0.5f, 500.0f);
    const int n = 48;
    std::vector<PosNormalTex> vertices;
    std::vector<uint16_t> indices;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const float x = -60 + 120.0f * i / n, z = -30 + 150.0f * j / n;
            const float h = 3 * std::sin(x * 0.2f) * std::cos(z * 0.13f);
            vertices.push_back({x, h, z, -0.6f * std::cos(x * 0.2f) * std::cos(z * 0.13f), 1, 0.39f * std::sin(x * 0.2f) * std::sin(z * 0.13f), x * 0.1f, z * 0.1f});
        }
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const uint16_t a = uint16_t(j * (n + 1) + i), b = uint16_t(a + 1), c = uint16_t(a + n + 1), d = uint16_t(c + 1);
            for (uint16_t k : {a, c, d, a, d, b}) indices.push_back(k);
        }
    scene.Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF336699);
    const UINT triangles = UINT(indices.size() / 3);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const PosNormalTex garbage{nan, nan, nan, nan, nan, nan, nan, nan};
    switch (form) {
        case MeshForm::Indexed16: scene.DrawIndexed(vertices, indices, triangles); break;
        case MeshForm::Expanded: {
            std::vector<PosNormalTex> corners;
            for (uint16_t k : indices) corners.push_back(vertices[k]);
            scene.Draw(D3DPT_TRIANGLELIST, corners, triangles);
            break;
        }
        case MeshForm::Scattered: {
            // Far enough apart that the renderer cannot take the vertices as
            // one run.
            const uint32_t spread = 13;
            std::vector<PosNormalTex> sparse(vertices.size() * spread, garbage);
            std::vector<uint32_t> wide;
            for (size_t i = 0; i < vertices.size(); ++i) sparse[i * spread] = vertices[i];
            for (uint16_t k : indices) wide.push_back(k * spread);
            scene.DrawIndexed(sparse, wide, triangles);
            break;
        }
        case MeshForm::BaseVertex: {
            const INT base = 5;
            std::vector<PosNormalTex> shifted(base, garbage);
            shifted.insert(shifted.end(), vertices.begin(), vertices.end());
            scene.state.stream0 = {reinterpret_cast<const BYTE*>(shifted.data()), UINT(shifted.size() * sizeof(PosNormalTex)), 32};
            scene.state.indices = {indices.data(), UINT(indices.size() * 2), D3DFMT_INDEX16};
            scene.renderer.DrawIndexedPrimitive(scene.state, D3DPT_TRIANGLELIST, base, 0, UINT(vertices.size()), 0, triangles);
            break;
        }
    }
    scene.SetLayout(Layout::ScreenColorTex);
    rs[D3DRS_LIGHTING] = FALSE;
    rs[D3DRS_FOGENABLE] = FALSE;
    for (int i = 0; i < 60; ++i) {
        const float x = float(i % 20) * 16 - 0.5f, y = float(i / 20) * 20 + 4.5f;
        scene.Draw(D3DPT_TRIANGLELIST, Quad(x, y, x + 12, y + 16, 0xA0FFFFFF, 0, 0, 0, 0.5f, 0.5f), 2);
    }
    scene.Dump((std::string("terrain_") + threads).c_str());
    return scene.Checksum();
}

TEST(RenderTransform, SameFrameWhateverTheThreadCount) {
    const uint64_t one = RenderTerrain("1");
    for (const char* threads : {"2", "3", "5"}) EXPECT_EQ(RenderTerrain(threads), one) << threads << " threads";
    EXPECT_EQ(one, 0xd8edfe1d02006526u) << std::hex << one;
}

// Vertices are transformed once per draw and lit only where a visible
// triangle uses them: whatever the index layout, none of that may show.
TEST(RenderTransform, SameFrameWhateverTheIndexLayout) {
    for (const char* threads : {"1", "2"}) {
        const uint64_t indexed = RenderTerrain(threads, MeshForm::Indexed16);
        EXPECT_EQ(RenderTerrain(threads, MeshForm::Expanded), indexed) << threads << " threads";
        EXPECT_EQ(RenderTerrain(threads, MeshForm::Scattered), indexed) << threads << " threads";
        EXPECT_EQ(RenderTerrain(threads, MeshForm::BaseVertex), indexed) << threads << " threads";
    }
}

}  // namespace
