// Texture stage operations, light types, specular, flat shading and fog
// rules for pre-transformed vertices.
#include <gtest/gtest.h>

#include "tests/d3d9/render_scene.h"

using namespace render_test;

namespace {

struct StageScene : Scene {
    StageScene() : Scene(8, 8) {
        SetLayout(Layout::ScreenColorTex);
        state.renderStates[D3DRS_LIGHTING] = FALSE;
        state.renderStates[D3DRS_ZENABLE] = FALSE;
        // A 1x1 texture of (0x40, 0x80, 0xC0), alpha 0x80.
        texture = MakeArgbTexture(1, 1, 1, [](UINT, UINT, UINT) { return 0x804080C0u; });
    }
    WORD DrawWith(DWORD colorOp, DWORD arg1, DWORD arg2, DWORD diffuse, bool bound = true) {
        DWORD* ts = state.stageStates[0];
        ts[D3DTSS_COLOROP] = colorOp;
        ts[D3DTSS_COLORARG1] = arg1;
        ts[D3DTSS_COLORARG2] = arg2;
        ts[D3DTSS_ALPHAOP] = D3DTOP_SELECTARG1;
        ts[D3DTSS_ALPHAARG1] = D3DTA_DIFFUSE;
        state.textures[0] = TextureView{};
        if (bound) BindTexture(0, texture);
        Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 7.5f, 7.5f, diffuse), 2);
        return Pixel16(3, 3);
    }
    Texture texture;
};

TEST(RenderStage, ColourOperations) {
    const double t[3] = {0x40 / 255.0, 0x80 / 255.0, 0xC0 / 255.0};
    const double d[3] = {0x80 / 255.0, 0x20 / 255.0, 0xFF / 255.0};
    const DWORD diffuse = 0xFF8020FF;
    auto each = [&](auto f) { return Rgb565(f(t[0], d[0]), f(t[1], d[1]), f(t[2], d[2])); };
    StageScene s;
    EXPECT_EQ(s.DrawWith(D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, diffuse), each([](double a, double) { return a; }));
    EXPECT_EQ(s.DrawWith(D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE, diffuse), each([](double, double b) { return b; }));
    EXPECT_EQ(s.DrawWith(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, diffuse), each([](double a, double b) { return a * b; }));
    EXPECT_EQ(s.DrawWith(D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_DIFFUSE, diffuse),
              each([](double a, double b) { return std::min(1.0, 2 * a * b); }));
    EXPECT_EQ(s.DrawWith(D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_DIFFUSE, diffuse),
              each([](double a, double b) { return std::min(1.0, a + b); }));
    // Complemented texture argument.
    EXPECT_EQ(s.DrawWith(D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT, D3DTA_DIFFUSE, diffuse),
              each([](double a, double) { return 1 - a; }));
    // Texture factor and alpha replicate: the texture's alpha 0x80 on rgb.
    EXPECT_EQ(s.DrawWith(D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE, D3DTA_DIFFUSE, diffuse),
              Rgb565(128 / 255.0, 128 / 255.0, 128 / 255.0));
    s.state.renderStates[D3DRS_TEXTUREFACTOR] = 0xFF102030;
    EXPECT_EQ(s.DrawWith(D3DTOP_SELECTARG1, D3DTA_TFACTOR, D3DTA_DIFFUSE, diffuse), Rgb565(0x10 / 255.0, 0x20 / 255.0, 0x30 / 255.0));
    // No texture bound: TEXTURE reads opaque white, so MODULATE gives diffuse.
    EXPECT_EQ(s.DrawWith(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, diffuse, false), each([](double, double b) { return b; }));
    // Stage 0 disabled: the diffuse colour.
    EXPECT_EQ(s.DrawWith(D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_DIFFUSE, diffuse), each([](double, double b) { return b; }));
    // A second stage adding the texture again to the first's result.
    s.state.stageStates[1][D3DTSS_COLOROP] = D3DTOP_ADD;
    s.state.stageStates[1][D3DTSS_COLORARG1] = D3DTA_CURRENT;
    s.state.stageStates[1][D3DTSS_COLORARG2] = D3DTA_DIFFUSE;
    EXPECT_EQ(s.DrawWith(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, diffuse),
              each([](double a, double b) { return std::min(1.0, a * b + b); }));
}

// One triangle of untransformed vertices facing the camera, lit.
struct LightScene : Scene {
    LightScene() : Scene(16, 16) {
        SetLayout(Layout::PosNormal);
        state.renderStates[D3DRS_ZENABLE] = FALSE;
        state.renderStates[D3DRS_CULLMODE] = D3DCULL_NONE;
        state.material.Diffuse = {1, 0.5f, 0.25f, 1};
        state.projection = Perspective(1.0f, 1.0f, 0.5f, 100.0f);
    }
    // Lighting is per vertex: a triangle at z = 10 facing the camera, its
    // vertices 3 from the axis, so all three see a light on the axis alike.
    WORD Draw(const D3DLIGHT9& light) {
        state.lights[0] = light;
        state.lightCount = 1;
        const std::vector<PosNormal> wall{{0, 3, 10, 0, 0, -1}, {2.5980762f, -1.5f, 10, 0, 0, -1},
                                          {-2.5980762f, -1.5f, 10, 0, 0, -1}};
        Clear(D3DCLEAR_TARGET, 0);
        Scene::Draw(D3DPT_TRIANGLELIST, wall, 1);
        return Pixel16(8, 8);
    }
};

TEST(RenderStage, PointAndSpotLightsAttenuate) {
    LightScene scene;
    D3DLIGHT9 point{};
    point.Type = D3DLIGHT_POINT;
    point.Diffuse = {1, 1, 1, 1};
    point.Position = {0, 0, 6};  // 4 in front of the wall's centre
    point.Range = 100;
    point.Attenuation0 = 0;
    point.Attenuation1 = 0.125f;
    point.Attenuation2 = 0;
    // Each vertex is 5 from the light at a cosine of 0.8: 0.8 / (0.125 * 5) = 1.28.
    EXPECT_EQ(scene.Draw(point), Rgb565(1, 0.5 * 1.28, 0.25 * 1.28));
    point.Attenuation1 = 1;  // 0.8 / 5 = 0.16
    EXPECT_EQ(scene.Draw(point), Rgb565(0.16, 0.08, 0.04));
    // Out of range: only the (zero) ambient terms.
    point.Range = 3;
    EXPECT_EQ(scene.Draw(point), 0);
    // A spot pointing at the wall with a wide cone lights it; turned away, not.
    D3DLIGHT9 spot = point;
    spot.Type = D3DLIGHT_SPOT;
    spot.Range = 100;
    spot.Attenuation1 = 0.125f;
    spot.Direction = {0, 0, 1};
    spot.Theta = 1.4f;  // inner cone: cos 0.7 < 0.8, so the vertices are fully lit
    spot.Phi = 2.0f;
    spot.Falloff = 1;
    EXPECT_EQ(scene.Draw(spot), Rgb565(1, 0.5 * 1.28, 0.25 * 1.28));
    // Between the cones: (0.8 - cos 0.75) / (cos 0.5 - cos 0.75) of it.
    spot.Theta = 1.0f;
    spot.Phi = 1.5f;
    const double k = (0.8 - std::cos(0.75)) / (std::cos(0.5) - std::cos(0.75));
    EXPECT_EQ(scene.Draw(spot), Rgb565(std::min(1.0, 1.28 * k), 0.5 * 1.28 * k, 0.25 * 1.28 * k));
    spot.Direction = {0, 0, -1};
    EXPECT_EQ(scene.Draw(spot), 0);
    // A directional light's direction need not be unit length; the light's
    // ambient adds material ambient times it.
    D3DLIGHT9 sun{};
    sun.Type = D3DLIGHT_DIRECTIONAL;
    sun.Diffuse = {0.5f, 0.5f, 0.5f, 0};
    sun.Direction = {0, 0, 7};
    scene.state.material.Ambient = {0.2f, 0.2f, 0.2f, 0};
    sun.Ambient = {1, 1, 1, 0};
    EXPECT_EQ(scene.Draw(sun), Rgb565(0.2 + 0.5, 0.2 + 0.25, 0.2 + 0.125));
    // Normals from world and view: a world scale of 2 halves them.
    scene.state.world = Identity();
    scene.state.world._11 = scene.state.world._22 = scene.state.world._33 = 2;
    scene.state.world._43 = -10;  // keep the triangle at z = 10
    EXPECT_EQ(scene.Draw(sun), Rgb565(0.2 + 0.25, 0.2 + 0.125, 0.2 + 0.0625));
    scene.state.renderStates[D3DRS_NORMALIZENORMALS] = TRUE;
    EXPECT_EQ(scene.Draw(sun), Rgb565(0.2 + 0.5, 0.2 + 0.25, 0.2 + 0.125));
    scene.state.renderStates[D3DRS_NORMALIZENORMALS] = FALSE;
    scene.state.world = Identity();
    // Global ambient and emissive add too; everything clamps at 1.
    scene.state.renderStates[D3DRS_AMBIENT] = 0xFF808080;
    scene.state.material.Emissive = {0.5f, 0, 0, 0};
    const double g = 128 / 255.0;
    EXPECT_EQ(scene.Draw(sun), Rgb565(1.0, 0.2 * (1 + g) + 0.25, 0.2 * (1 + g) + 0.125));
}

TEST(RenderStage, SpecularWhenEnabled) {
    LightScene scene;
    scene.state.material.Specular = {0, 0, 1, 0};
    scene.state.material.Power = 1;
    scene.state.material.Diffuse = {0, 0, 0, 1};
    D3DLIGHT9 sun{};
    sun.Type = D3DLIGHT_DIRECTIONAL;
    sun.Specular = {1, 1, 1, 0};
    sun.Direction = {0, 0, 1};  // from the camera, so the half vector is the view vector
    EXPECT_EQ(scene.Draw(sun), 0);
    scene.state.renderStates[D3DRS_SPECULARENABLE] = TRUE;
    const WORD p = scene.Draw(sun);
    EXPECT_EQ(p >> 5, 0);
    EXPECT_GE(p & 31, 30);
}

TEST(RenderStage, CameraSpaceNormalCoordinatesFollowNormalizeNormalsLitOrNot) {
    // Texel (x, y) of a 4x4 texture is red x, green y; the generated (u, v)
    // is the camera-space normal's (x, y). A world scale of 0.5 doubles the
    // normal (0.15, 0.2, 0) to (0.3, 0.4, 0): texel (1, 1); normalised it
    // is (0.6, 0.8, 0): texel (2, 3). Lighting has no say in it.
    const Texture texture = MakeArgbTexture(4, 4, 1, [](UINT, UINT x, UINT y) {
        return 0xFF000000u | (x * 0x40u + 0x20u) << 16 | (y * 0x40u + 0x20u) << 8;
    });
    auto texel = [](int x, int y) { return Rgb565((x * 0x40 + 0x20) / 255.0, (y * 0x40 + 0x20) / 255.0, 0); };
    for (DWORD lighting : {FALSE, TRUE})
        for (DWORD normalize : {FALSE, TRUE}) {
            LightScene scene;
            scene.state.renderStates[D3DRS_LIGHTING] = lighting;
            scene.state.renderStates[D3DRS_NORMALIZENORMALS] = normalize;
            scene.state.world = Identity();
            scene.state.world._11 = scene.state.world._22 = scene.state.world._33 = 0.5f;
            scene.state.world._43 = 5;  // the triangle at z = 10
            DWORD* ts = scene.state.stageStates[0];
            ts[D3DTSS_COLOROP] = D3DTOP_SELECTARG1;
            ts[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
            ts[D3DTSS_TEXCOORDINDEX] = D3DTSS_TCI_CAMERASPACENORMAL;
            scene.BindTexture(0, texture);
            scene.state.lightCount = 0;
            const std::vector<PosNormal> wall{{0, 6, 10, 0.15f, 0.2f, 0}, {5.196152f, -3, 10, 0.15f, 0.2f, 0},
                                              {-5.196152f, -3, 10, 0.15f, 0.2f, 0}};
            scene.Clear(D3DCLEAR_TARGET, 0);
            scene.Scene::Draw(D3DPT_TRIANGLELIST, wall, 1);
            EXPECT_EQ(scene.Pixel16(8, 8), normalize ? texel(2, 3) : texel(1, 1))
                << "lighting " << lighting << " normalize " << normalize;
        }
}

TEST(RenderStage, FlatShadingUsesTheFirstVertex) {
    Scene scene(16, 16);
    scene.SetLayout(Layout::ScreenColorTex);
    scene.state.renderStates[D3DRS_LIGHTING] = FALSE;
    scene.state.renderStates[D3DRS_SHADEMODE] = D3DSHADE_FLAT;
    const std::vector<ScreenVertex> tri{{0, 0, 0, 1, 0xFFFF0000, 0, 0}, {16, 0, 0, 1, 0xFF00FF00, 0, 0},
                                        {0, 16, 0, 1, 0xFF0000FF, 0, 0}};
    scene.Draw(D3DPT_TRIANGLELIST, tri, 1);
    EXPECT_EQ(scene.Pixel16(1, 1), 0xF800);
    EXPECT_EQ(scene.Pixel16(10, 3), 0xF800);
    EXPECT_EQ(scene.Pixel16(2, 12), 0xF800);
    scene.state.renderStates[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    scene.Draw(D3DPT_TRIANGLELIST, tri, 1);
    EXPECT_NE(scene.Pixel16(10, 3), 0xF800);
}

TEST(RenderStage, VertexFogSkipsPreTransformedVerticesTableFogDoesNot) {
    Scene scene(8, 8);
    scene.SetLayout(Layout::ScreenColorTex);
    scene.state.renderStates[D3DRS_LIGHTING] = FALSE;
    scene.state.renderStates[D3DRS_ZENABLE] = FALSE;
    scene.state.renderStates[D3DRS_FOGENABLE] = TRUE;
    scene.state.renderStates[D3DRS_FOGCOLOR] = 0xFF0000FF;
    scene.state.renderStates[D3DRS_FOGSTART] = FloatBits(0);
    scene.state.renderStates[D3DRS_FOGEND] = FloatBits(4);
    scene.state.renderStates[D3DRS_FOGVERTEXMODE] = D3DFOG_LINEAR;
    // rhw 0.5: w = 2, halfway to the fog end.
    std::vector<ScreenVertex> quad = Quad(-0.5f, -0.5f, 7.5f, 7.5f, 0xFFFF0000);
    for (ScreenVertex& v : quad) v.rhw = 0.5f;
    scene.Draw(D3DPT_TRIANGLELIST, quad, 2);
    EXPECT_EQ(scene.Pixel16(3, 3), 0xF800);
    scene.state.renderStates[D3DRS_FOGTABLEMODE] = D3DFOG_LINEAR;
    scene.Draw(D3DPT_TRIANGLELIST, quad, 2);
    EXPECT_EQ(scene.Pixel16(3, 3), Rgb565(0.5, 0, 0.5));
}

}  // namespace
