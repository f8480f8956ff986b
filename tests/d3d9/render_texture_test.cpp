// Texturing: one-to-one mapping, formats and block decoding, addressing,
// bilinear filtering and mip selection.
#include <gtest/gtest.h>

#include <random>

#include "platform/d3d9/render/texture_decode.h"
#include "tests/d3d9/render_scene.h"

using namespace render_test;

namespace {

WORD From8888(DWORD argb) {
    return Rgb565(((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0);
}

struct TexturedScene : Scene {
    TexturedScene(UINT w, UINT h) : Scene(w, h) {
        SetLayout(Layout::ScreenColorTex);
        ModulateStage0();
        state.renderStates[D3DRS_LIGHTING] = FALSE;
        state.renderStates[D3DRS_ZENABLE] = FALSE;
    }
    void Filter(DWORD min, DWORD mag, DWORD mip) {
        state.samplerStates[0][D3DSAMP_MINFILTER] = min;
        state.samplerStates[0][D3DSAMP_MAGFILTER] = mag;
        state.samplerStates[0][D3DSAMP_MIPFILTER] = mip;
    }
};

TEST(RenderTexture, HalfPixelOffsetQuadMapsTexelsOneToOne) {
    std::mt19937 random(5);
    const Texture texture = MakeArgbTexture(64, 32, 1, [&](UINT, UINT, UINT) { return DWORD(random()) | 0xFF000000u; });
    for (DWORD filter : {DWORD(D3DTEXF_POINT), DWORD(D3DTEXF_LINEAR)}) {
        TexturedScene scene(64, 32);
        scene.Filter(filter, filter, D3DTEXF_NONE);
        scene.BindTexture(0, texture);
        scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 63.5f, 31.5f, 0xFFFFFFFF), 2);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 64; ++x) {
                DWORD texel;
                std::memcpy(&texel, &texture.levels[0][(size_t(y) * 64 + x) * 4], 4);
                ASSERT_EQ(scene.Pixel16(x, y), From8888(texel)) << x << "," << y << " filter " << filter;
            }
    }
}

TEST(RenderTexture, BilinearBetweenTexelsAndAddressModes) {
    // 2x1 texture: black, white. Sampled at u = 0.5 (between the centres):
    // half grey; the modes differ at u = 0.0 (between texel 1 wrapped and 0).
    const Texture texture = MakeArgbTexture(2, 1, 1, [](UINT, UINT x, UINT) { return x ? 0xFFFFFFFFu : 0xFF000000u; });
    struct Case {
        DWORD address;
        double atZero;  // value sampled at u = 0
    } cases[] = {{D3DTADDRESS_WRAP, 0.5}, {D3DTADDRESS_CLAMP, 0.0}, {D3DTADDRESS_MIRROR, 0.0}};
    for (const Case& c : cases) {
        TexturedScene scene(4, 1);
        scene.Filter(D3DTEXF_LINEAR, D3DTEXF_LINEAR, D3DTEXF_NONE);
        scene.state.samplerStates[0][D3DSAMP_ADDRESSU] = c.address;
        scene.BindTexture(0, texture);
        // Pixel x samples u = 0.5 * x - 0.25... : a quad 4 pixels wide for
        // u from -0.25 to 1.75 puts pixel centres at u = 0, 0.5, 1, 1.5.
        scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 3.5f, 0.5f, 0xFFFFFFFF, 0, -0.25f, 0, 1.75f, 1), 2);
        EXPECT_EQ(scene.Pixel16(0, 0), Rgb565(c.atZero, c.atZero, c.atZero)) << c.address;
        EXPECT_EQ(scene.Pixel16(1, 0), Rgb565(0.5, 0.5, 0.5)) << c.address;
    }
    // Point sampling with CLAMP beyond the edge, MIRROR and WRAP beyond it.
    const Texture ramp = MakeArgbTexture(4, 1, 1, [](UINT, UINT x, UINT) { return 0xFF000000u | (x * 0x40u) << 16; });
    struct PointCase {
        DWORD address;
        int texel[8];  // texel read by pixels u = (i + 0.5) / 4 - 1 for i in 0..7
    } points[] = {{D3DTADDRESS_WRAP, {0, 1, 2, 3, 0, 1, 2, 3}},
                  {D3DTADDRESS_CLAMP, {0, 0, 0, 0, 0, 1, 2, 3}},
                  {D3DTADDRESS_MIRROR, {3, 2, 1, 0, 0, 1, 2, 3}}};
    for (const PointCase& c : points) {
        TexturedScene scene(8, 1);
        scene.state.samplerStates[0][D3DSAMP_ADDRESSU] = c.address;
        scene.BindTexture(0, ramp);
        scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 7.5f, 0.5f, 0xFFFFFFFF, 0, -1, 0, 1, 1), 2);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(scene.Pixel16(i, 0), Rgb565(c.texel[i] * 0x40 / 255.0, 0, 0)) << c.address << " pixel " << i;
    }
}

TEST(RenderTexture, BlockAndPackedFormatsDecodeByTheirRules) {
    using render::DecodeDxtBlock;
    uint32_t out[16];
    // DXT1, four-colour mode: c0 = pure red (0xF800) > c1 = pure blue (0x001F).
    const BYTE fourColour[8] = {0x00, 0xF8, 0x1F, 0x00, 0b11100100, 0, 0, 0};
    DecodeDxtBlock(D3DFMT_DXT1, fourColour, out);
    EXPECT_EQ(out[0], 0xFFFF0000u);
    EXPECT_EQ(out[1], 0xFF0000FFu);
    EXPECT_EQ(out[2], 0xFFAA0055u);  // 2/3 red + 1/3 blue
    EXPECT_EQ(out[3], 0xFF5500AAu);
    // DXT1, three-colour mode (c0 <= c1): index 2 is the mean, 3 transparent black.
    const BYTE threeColour[8] = {0x1F, 0x00, 0x00, 0xF8, 0b11100100, 0, 0, 0};
    DecodeDxtBlock(D3DFMT_DXT1, threeColour, out);
    EXPECT_EQ(out[2], 0xFF800080u);
    EXPECT_EQ(out[3], 0x00000000u);
    // DXT3: explicit 4-bit alphas; the colour block never has three-colour mode.
    BYTE dxt3[16] = {0x10, 0xF2};
    std::memcpy(dxt3 + 8, threeColour, 8);
    DecodeDxtBlock(D3DFMT_DXT3, dxt3, out);
    EXPECT_EQ(out[0] >> 24, 0x00u);
    EXPECT_EQ(out[1] >> 24, 0x11u);
    EXPECT_EQ(out[2] >> 24, 0x22u);
    EXPECT_EQ(out[3] >> 24, 0xFFu);
    EXPECT_EQ(out[3] & 0xFFFFFF, 0xAA0055u);  // 1/3 blue + 2/3 red
    // DXT5, a0 = 255 > a1 = 0: six interpolated steps. Indices 2, 7, 0, 1.
    BYTE dxt5[16] = {255, 0, 0x3A, 0x02};
    std::memcpy(dxt5 + 8, fourColour, 8);
    DecodeDxtBlock(D3DFMT_DXT5, dxt5, out);
    EXPECT_EQ(out[0] >> 24, 219u);  // (6 * 255 + 0 + 3) / 7
    EXPECT_EQ(out[1] >> 24, 36u);   // (1 * 255 + 6 * 0 + 3) / 7
    EXPECT_EQ(out[2] >> 24, 255u);
    EXPECT_EQ(out[3] >> 24, 0u);
    EXPECT_EQ(out[3] & 0xFFFFFF, 0x5500AAu);
    // a0 = 0 <= a1 = 255: four steps, then 0 and 255. Indices 6, 7, 3, 1.
    BYTE dxt5b[16] = {0, 255, 0xFE, 0x02};
    std::memcpy(dxt5b + 8, fourColour, 8);
    DecodeDxtBlock(D3DFMT_DXT5, dxt5b, out);
    EXPECT_EQ(out[0] >> 24, 0u);
    EXPECT_EQ(out[1] >> 24, 255u);
    EXPECT_EQ(out[2] >> 24, 102u);  // (3 * 0 + 2 * 255 + 2) / 5
    EXPECT_EQ(out[3] >> 24, 255u);

    // Packed formats through one level.
    struct Case {
        D3DFORMAT format;
        uint32_t bits;
        uint32_t argb;
    } cases[] = {
        {D3DFMT_R5G6B5, 0xF81F, 0xFFFF00FF},   {D3DFMT_A4R4G4B4, 0x8F0F, 0x88FF00FF},
        {D3DFMT_A1R5G5B5, 0x7C00, 0x00FF0000}, {D3DFMT_L8, 0x80, 0xFF808080},
        {D3DFMT_A8, 0x40, 0x40000000},         {D3DFMT_A8L8, 0x20F0, 0x20F0F0F0},
        {D3DFMT_X8R8G8B8, 0x00123456, 0xFF123456}, {D3DFMT_V8U8, 0x807F, 0xFFFF00FF},
        {D3DFMT_R3G3B2, 0xE3, 0xFFFF00FF},     {D3DFMT_A2R10G10B10, 0xC00FFC00, 0xFF00FF00},
    };
    for (const Case& c : cases) {
        BYTE bits[4];
        std::memcpy(bits, &c.bits, 4);
        const SurfaceView level{c.format, 1, 1, 4, bits};
        uint32_t texel = 0;
        render::DecodeLevel(level, &texel);
        EXPECT_EQ(texel, c.argb) << c.format;
    }
}

TEST(RenderTexture, DxtTextureDrawsThroughTheDecodedCopyAndSeesRewrites) {
    // A 4x4 DXT1 texture, one block: rows of colours 0, 1, 2, 3.
    Texture t;
    t.format = D3DFMT_DXT1;
    t.levels.push_back({0x00, 0xF8, 0x1F, 0x00, 0x00, 0x55, 0xAA, 0xFF});
    t.widths = {4};
    t.heights = {4};
    t.pitches = {8};
    TexturedScene scene(4, 4);
    scene.BindTexture(0, t);
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFF), 2);
    EXPECT_EQ(scene.Pixel16(2, 0), From8888(0xFFFF0000));
    EXPECT_EQ(scene.Pixel16(2, 1), From8888(0xFF0000FF));
    EXPECT_EQ(scene.Pixel16(2, 2), From8888(0xFFAA0055));
    // Rewriting the texture's bytes in place is seen by the next draw.
    t.levels[0][0] = 0xE0;
    t.levels[0][1] = 0x07;  // c0 = pure green
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFF), 2);
    EXPECT_EQ(scene.Pixel16(2, 0), 0x07E0);
}

TEST(RenderTexture, EveryFormatTheDeviceTakesIsSampled) {
    // The signed four-byte formats: U, V (and W) read as red, green (and
    // blue), negative values as 0; Q is alpha, a format without it reads 1.
    struct Case {
        D3DFORMAT format;
        BYTE bits[4];
        WORD pixel;
    } cases[] = {
        {D3DFMT_Q8W8V8U8, {0x7F, 0x80, 0x7F, 0x7F}, 0xF81F},  // U 1, V -1, W 1, Q 1
        {D3DFMT_V16U16, {0xFF, 0x7F, 0x00, 0x80}, 0xF81F},    // U 1, V -1: blue reads 1
        {D3DFMT_V8U8, {0x7F, 0x80}, 0xF81F},
    };
    for (const Case& c : cases) {
        Texture t;
        t.format = c.format;
        t.levels.push_back(std::vector<BYTE>(c.bits, c.bits + 4));
        t.widths = {1};
        t.heights = {1};
        t.pitches = {4};
        TexturedScene scene(2, 2);
        scene.BindTexture(0, t);
        scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 1.5f, 1.5f, 0xFFFFFFFF), 2);
        EXPECT_EQ(scene.Pixel16(1, 1), c.pixel) << c.format;
    }
    // Q scales the colour through the diffuse alpha blend: a Q of 0 is an
    // alpha of 0, which blending shows as the cleared target.
    Texture q;
    q.format = D3DFMT_Q8W8V8U8;
    q.levels.push_back({0x7F, 0x7F, 0x7F, 0x00});
    q.widths = {1};
    q.heights = {1};
    q.pitches = {4};
    TexturedScene scene(2, 2);
    scene.state.renderStates[D3DRS_ALPHABLENDENABLE] = TRUE;
    scene.state.renderStates[D3DRS_SRCBLEND] = D3DBLEND_SRCALPHA;
    scene.state.renderStates[D3DRS_DESTBLEND] = D3DBLEND_INVSRCALPHA;
    scene.BindTexture(0, q);
    scene.Clear(D3DCLEAR_TARGET, 0xFF000000);
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 1.5f, 1.5f, 0xFFFFFFFF), 2);
    EXPECT_EQ(scene.Pixel16(1, 1), 0);
}

// Level l of a mip chain in one solid colour each.
const DWORD kLevelColours[7] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF, 0xFFFFFFFF};

TEST(RenderTexture, MipLevelFromTheScreenScale) {
    const Texture texture = MakeArgbTexture(64, 64, 7, [](UINT l, UINT, UINT) { return kLevelColours[l]; });
    // A 64-texel texture over s pixels: rho = 64 / s, lambda = log2(rho).
    struct Case {
        float size;
        DWORD mip;
        double level;  // expected level, fractional for a trilinear blend
    } cases[] = {{64, D3DTEXF_POINT, 0},  {128, D3DTEXF_POINT, 0}, {32, D3DTEXF_POINT, 1},
                 {16, D3DTEXF_POINT, 2},  {8, D3DTEXF_POINT, 3},   {1, D3DTEXF_POINT, 6},
                 {16, D3DTEXF_NONE, 0},   {16, D3DTEXF_LINEAR, 2}, {26.9086853f, D3DTEXF_LINEAR, 1.25}};
    for (const Case& c : cases) {
        TexturedScene scene(130, 130);
        scene.Filter(D3DTEXF_POINT, D3DTEXF_POINT, c.mip);
        scene.BindTexture(0, texture);
        scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, c.size - 0.5f, c.size - 0.5f, 0xFFFFFFFF), 2);
        const int base = int(c.level);
        const double f = c.level - base;
        const DWORD c0 = kLevelColours[base], c1 = kLevelColours[std::min(base + 1, 6)];
        auto channel = [&](int shift) {
            return (1 - f) * ((c0 >> shift) & 0xFF) / 255.0 + f * ((c1 >> shift) & 0xFF) / 255.0;
        };
        EXPECT_EQ(scene.Pixel16(0, 0), Rgb565(channel(16), channel(8), channel(0))) << c.size << " mip " << c.mip;
    }
}

TEST(RenderTexture, MaxMipLevelClampsTheLevelItDoesNotShiftIt) {
    // MAXMIPLEVEL names the most detailed level allowed; the level of detail
    // still counts from level 0, so a level coarser than it is used as is.
    const Texture texture = MakeArgbTexture(64, 64, 7, [](UINT l, UINT, UINT) { return kLevelColours[l]; });
    struct Case {
        float size;  // 64 texels over this many pixels: lambda = log2(64 / size)
        DWORD mip;
        double level;
    } cases[] = {{128, D3DTEXF_POINT, 2},  {64, D3DTEXF_POINT, 2},  {32, D3DTEXF_POINT, 2},
                 {8, D3DTEXF_POINT, 3},    {2, D3DTEXF_POINT, 5},   {1, D3DTEXF_POINT, 6},
                 {16, D3DTEXF_LINEAR, 2},  {8, D3DTEXF_LINEAR, 3},  {6.7271713f, D3DTEXF_LINEAR, 3.25},
                 {32, D3DTEXF_NONE, 2},    {4, D3DTEXF_NONE, 2}};
    for (const Case& c : cases) {
        TexturedScene scene(130, 130);
        scene.Filter(D3DTEXF_POINT, D3DTEXF_POINT, c.mip);
        scene.state.samplerStates[0][D3DSAMP_MAXMIPLEVEL] = 2;
        scene.BindTexture(0, texture);
        scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, c.size - 0.5f, c.size - 0.5f, 0xFFFFFFFF), 2);
        const int base = int(c.level);
        const double f = c.level - base;
        const DWORD c0 = kLevelColours[base], c1 = kLevelColours[std::min(base + 1, 6)];
        auto channel = [&](int shift) {
            return (1 - f) * ((c0 >> shift) & 0xFF) / 255.0 + f * ((c1 >> shift) & 0xFF) / 255.0;
        };
        EXPECT_EQ(scene.Pixel16(0, 0), Rgb565(channel(16), channel(8), channel(0))) << c.size << " mip " << c.mip;
    }
}

TEST(RenderTexture, MipLevelsRiseAlongARecedingPlane) {
    // A floor seen from above at a grazing angle: further rows use smaller
    // levels, never a larger one than the row below them.
    const Texture texture = MakeArgbTexture(64, 64, 7, [](UINT l, UINT, UINT) { return kLevelColours[l]; });
    Scene scene(64, 64);
    scene.SetLayout(Layout::PosNormalTex);
    scene.ModulateStage0();
    scene.state.renderStates[D3DRS_LIGHTING] = FALSE;
    scene.state.samplerStates[0][D3DSAMP_MIPFILTER] = D3DTEXF_POINT;
    scene.BindTexture(0, texture);
    const float eye[3] = {0, 2, 0}, at[3] = {0, 0, 10}, up[3] = {0, 1, 0};
    scene.state.view = LookAt(eye, at, up);
    scene.state.projection = Perspective(1.2f, 1.0f, 0.5f, 1000.0f);
    scene.state.renderStates[D3DRS_CULLMODE] = D3DCULL_NONE;
    // Four texels per world unit.
    const std::vector<PosNormalTex> floor{{-40, 0, 0.5f, 0, 1, 0, 0, 0}, {40, 0, 0.5f, 0, 1, 0, 5, 0},
                                          {40, 0, 400, 0, 1, 0, 5, 25}, {-40, 0, 400, 0, 1, 0, 0, 25}};
    const std::vector<uint16_t> indices{0, 3, 2, 0, 2, 1};
    scene.Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0);
    scene.DrawIndexed(floor, indices, 2);
    auto levelAt = [&](int x, int y) {
        for (int l = 0; l < 7; ++l)
            if (scene.Pixel16(x, y) == From8888(kLevelColours[l])) return l;
        return -1;
    };
    int previous = -1, distinct = 0;
    for (int y = 63; y >= 0; --y) {
        const int l = levelAt(32, y);
        if (l < 0) break;  // above the horizon
        EXPECT_GE(l, previous) << "row " << y;
        if (l != previous) ++distinct;
        previous = l;
    }
    EXPECT_GE(distinct, 4);
    // The bottom row is near: the texture is magnified there.
    EXPECT_EQ(levelAt(32, 63), 0);
}

}  // namespace
