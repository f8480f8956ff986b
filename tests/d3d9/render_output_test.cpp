// Clear, dithering, blending, depth and the 32-bit target.
#include <gtest/gtest.h>

#include "tests/d3d9/render_scene.h"

using namespace render_test;

namespace {

const int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

int Dithered(double v, int bits, int x, int y) {
    const int top = (1 << bits) - 1;
    return std::min(top, int(std::floor(v * top + (kBayer[y & 3][x & 3] + 0.5) / 16.0)));
}

TEST(RenderOutput, ClearRoundsTheColourAndIgnoresDither) {
    for (DWORD dither : {FALSE, TRUE}) {
        Scene scene(640, 480);
        scene.state.renderStates[D3DRS_DITHERENABLE] = dither;
        scene.Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFA0A0F0, 0.5f);
        // R 160 -> 19, G 160 -> 40, B 240 -> 29.
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) ASSERT_EQ(scene.Pixel16(x, y), 0x9D1D) << x << "," << y;
        EXPECT_EQ(scene.Depth(17, 300), 32768);  // round(0.5 * 65535)
    }
}

TEST(RenderOutput, ClearRectanglesStayInsideTheViewport) {
    Scene scene(16, 16);
    scene.Clear(D3DCLEAR_TARGET, 0xFF000000);
    scene.state.viewport = {4, 4, 8, 8, 0, 1};
    const D3DRECT rects[2] = {{0, 0, 6, 6}, {10, 10, 40, 40}};
    scene.renderer.Clear(scene.state, 2, rects, D3DCLEAR_TARGET, 0xFFFFFFFF, 1, 0);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool inFirst = x >= 4 && x < 6 && y >= 4 && y < 6;
            const bool inSecond = x >= 10 && x < 12 && y >= 10 && y < 12;
            EXPECT_EQ(scene.Pixel16(x, y), inFirst || inSecond ? 0xFFFF : 0) << x << "," << y;
        }
}

TEST(RenderOutput, FlatColourWithAndWithoutDither) {
    // The colour of the clear test drawn as a quad: rounded without
    // dither, thresholded by the 4x4 pattern with it.
    for (DWORD dither : {FALSE, TRUE}) {
        Scene scene(64, 32);
        scene.SetLayout(Layout::ScreenColorTex);
        scene.state.renderStates[D3DRS_LIGHTING] = FALSE;
        scene.state.renderStates[D3DRS_DITHERENABLE] = dither;
        scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 63.5f, 31.5f, 0xFFA0A0F0), 2);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 64; ++x) {
                WORD expected = 0x9D1D;
                if (dither)
                    expected = WORD((Dithered(160 / 255.0, 5, x, y) << 11) | (Dithered(160 / 255.0, 6, x, y) << 5) |
                                    Dithered(240 / 255.0, 5, x, y));
                ASSERT_EQ(scene.Pixel16(x, y), expected) << x << "," << y << " dither " << dither;
            }
    }
    // The pattern really varies: red 19.45 steps up where B >= 9.
    EXPECT_EQ(Dithered(160 / 255.0, 5, 0, 0), 19);
    EXPECT_EQ(Dithered(160 / 255.0, 5, 2, 2), 19);
    EXPECT_EQ(Dithered(160 / 255.0, 5, 0, 1), 20);
}

TEST(RenderOutput, SourceAlphaBlendReadsTheTargetBack) {
    Scene scene(8, 8);
    scene.SetLayout(Layout::ScreenColorTex);
    scene.state.renderStates[D3DRS_LIGHTING] = FALSE;
    scene.ModulateStage0();
    scene.Clear(D3DCLEAR_TARGET, 0xFF0000FF);  // blue: 0x001F
    scene.state.renderStates[D3DRS_ALPHABLENDENABLE] = TRUE;
    scene.state.renderStates[D3DRS_SRCBLEND] = D3DBLEND_SRCALPHA;
    scene.state.renderStates[D3DRS_DESTBLEND] = D3DBLEND_INVSRCALPHA;
    // Half-transparent red over the left half, opaque green over the right.
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 3.5f, 7.5f, 0x80FF0000), 2);
    scene.Draw(D3DPT_TRIANGLELIST, Quad(3.5f, -0.5f, 7.5f, 7.5f, 0xFF00FF00), 2);
    const double a = 128 / 255.0;
    EXPECT_EQ(scene.Pixel16(1, 1), Rgb565(a, 0, 1 - a));
    EXPECT_EQ(scene.Pixel16(5, 5), 0x07E0);
    // Over the blended red, a second pass with DESTCOLOR x ZERO squares it.
    scene.state.renderStates[D3DRS_SRCBLEND] = D3DBLEND_DESTCOLOR;
    scene.state.renderStates[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 3.5f, 7.5f, 0xFFFFFFFF), 2);
    const WORD before = Rgb565(a, 0, 1 - a);
    const double r = (before >> 11) / 31.0, b = (before & 31) / 31.0;
    EXPECT_EQ(scene.Pixel16(2, 2), Rgb565(r, 0, b));
    // ONE x ONE adds and saturates; SRCCOLOR x INVSRCCOLOR mixes per channel.
    scene.Clear(D3DCLEAR_TARGET, 0xFF808080);
    scene.state.renderStates[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    scene.state.renderStates[D3DRS_DESTBLEND] = D3DBLEND_ONE;
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 7.5f, 7.5f, 0xFFC00000), 2);
    const double grey = Round(128 / 255.0, 5) / 31.0, greyG = Round(128 / 255.0, 6) / 63.0;
    EXPECT_EQ(scene.Pixel16(4, 4), Rgb565(1.0, greyG, grey));
    scene.Clear(D3DCLEAR_TARGET, 0xFF808080);
    scene.state.renderStates[D3DRS_SRCBLEND] = D3DBLEND_SRCCOLOR;
    scene.state.renderStates[D3DRS_DESTBLEND] = D3DBLEND_INVSRCCOLOR;
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 7.5f, 7.5f, 0xFF40C000), 2);
    const double s = 64 / 255.0, t = 192 / 255.0;
    EXPECT_EQ(scene.Pixel16(4, 4), Rgb565(s * s + grey * (1 - s), t * t + greyG * (1 - t), grey));
}

TEST(RenderOutput, MinAndMaxBlendIgnoreTheBlendFactors) {
    // Over (1, 0.5, 0), a source of (0.6, 0.2, 1) at alpha 0.25 keeps the
    // larger or smaller channel, with the default ONE x ZERO factors (which
    // would otherwise make the source win outright) and with source alpha.
    const double src[3] = {0x99 / 255.0, 0x33 / 255.0, 1.0}, dst[3] = {1.0, 32 / 63.0, 0.0};
    for (DWORD op : {DWORD(D3DBLENDOP_MAX), DWORD(D3DBLENDOP_MIN)})
        for (DWORD factors : {0, 1}) {
            Scene scene(8, 8);
            scene.SetLayout(Layout::ScreenColorTex);
            DWORD* rs = scene.state.renderStates;
            rs[D3DRS_LIGHTING] = FALSE;
            rs[D3DRS_ZENABLE] = FALSE;
            scene.state.stageStates[0][D3DTSS_ALPHAARG1] = D3DTA_DIFFUSE;
            scene.Clear(D3DCLEAR_TARGET, 0xFFFF8000);
            rs[D3DRS_ALPHABLENDENABLE] = TRUE;
            rs[D3DRS_BLENDOP] = op;
            if (factors) rs[D3DRS_SRCBLEND] = D3DBLEND_SRCALPHA, rs[D3DRS_DESTBLEND] = D3DBLEND_INVSRCALPHA;
            scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 7.5f, 7.5f, 0x409933FF), 2);
            auto pick = [op](double s, double d) { return op == D3DBLENDOP_MAX ? std::max(s, d) : std::min(s, d); };
            EXPECT_EQ(scene.Pixel16(3, 3), Rgb565(pick(src[0], dst[0]), pick(src[1], dst[1]), pick(src[2], dst[2])))
                << "op " << op << " factors " << factors;
        }
}

TEST(RenderOutput, DepthOrderAndDepthWrites) {
    Scene scene(8, 8);
    scene.SetLayout(Layout::ScreenColorTex);
    scene.state.renderStates[D3DRS_LIGHTING] = FALSE;
    scene.Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f);
    // Near red first, then far green: green only shows where red is not.
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 3.5f, 7.5f, 0xFFFF0000, 0.25f), 2);
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 7.5f, 7.5f, 0xFF00FF00, 0.75f), 2);
    EXPECT_EQ(scene.Pixel16(1, 1), 0xF800);
    EXPECT_EQ(scene.Pixel16(6, 1), 0x07E0);
    EXPECT_EQ(scene.Depth(1, 1), 16384);  // round(0.25 * 65535)
    EXPECT_EQ(scene.Depth(6, 1), 49151);  // round(0.75 * 65535)
    // The same geometry again passes LESSEQUAL.
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 3.5f, 7.5f, 0xFF0000FF, 0.25f), 2);
    EXPECT_EQ(scene.Pixel16(1, 1), 0x001F);
    // Without depth writes a nearer quad draws but leaves depth alone.
    scene.state.renderStates[D3DRS_ZWRITEENABLE] = FALSE;
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 7.5f, 7.5f, 0xFFFFFFFF, 0.1f), 2);
    EXPECT_EQ(scene.Pixel16(6, 6), 0xFFFF);
    EXPECT_EQ(scene.Depth(6, 6), 49151);
    // LESS rejects equal depth; a failing pixel writes nothing.
    scene.state.renderStates[D3DRS_ZWRITEENABLE] = TRUE;
    scene.state.renderStates[D3DRS_ZFUNC] = D3DCMP_LESS;
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 7.5f, 7.5f, 0xFF000000, 0.75f), 2);
    EXPECT_EQ(scene.Pixel16(6, 6), 0xFFFF);
    // Alpha-0 pixels are still written, depth included, with the alpha test off.
    scene.ModulateStage0();
    scene.state.renderStates[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    scene.state.renderStates[D3DRS_ALPHABLENDENABLE] = TRUE;
    scene.state.renderStates[D3DRS_SRCBLEND] = D3DBLEND_SRCALPHA;
    scene.state.renderStates[D3DRS_DESTBLEND] = D3DBLEND_INVSRCALPHA;
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 7.5f, 7.5f, 0x00FF0000, 0.0f), 2);
    EXPECT_EQ(scene.Pixel16(6, 6), 0xFFFF);
    EXPECT_EQ(scene.Depth(6, 6), 0);
    // With the alpha test on, they are dropped before the depth test.
    scene.Clear(D3DCLEAR_ZBUFFER, 0, 1.0f);
    scene.state.renderStates[D3DRS_ALPHATESTENABLE] = TRUE;
    scene.state.renderStates[D3DRS_ALPHAFUNC] = D3DCMP_GREATER;
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 7.5f, 7.5f, 0x00FF0000, 0.0f), 2);
    EXPECT_EQ(scene.Depth(6, 6), 0xFFFF);
}

TEST(RenderOutput, PreTransformedDepthOutsideTheRangeDrawsNothing) {
    Scene scene(8, 8);
    scene.SetLayout(Layout::ScreenColorTex);
    scene.state.renderStates[D3DRS_ZENABLE] = FALSE;
    scene.Clear(D3DCLEAR_TARGET, 0xFF000000);
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 7.5f, 7.5f, 0xFFFFFFFF, 1.5f), 2);
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 7.5f, 7.5f, 0xFFFFFFFF, -0.25f), 2);
    EXPECT_EQ(scene.Pixel16(3, 3), 0);
}

TEST(RenderOutput, X8R8G8B8TargetAndColourWriteMask) {
    Scene scene(8, 8, D3DFMT_X8R8G8B8);
    scene.SetLayout(Layout::ScreenColorTex);
    scene.Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00123456);
    EXPECT_EQ(scene.Pixel32(0, 0), 0xFF123456u);
    scene.state.renderStates[D3DRS_DITHERENABLE] = TRUE;  // no dither on 8-bit channels
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 7.5f, 7.5f, 0xFFA0A0F0), 2);
    EXPECT_EQ(scene.Pixel32(3, 3), 0xFFA0A0F0u);
    scene.state.renderStates[D3DRS_COLORWRITEENABLE] = D3DCOLORWRITEENABLE_GREEN;
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 7.5f, 7.5f, 0xFF112233), 2);
    EXPECT_EQ(scene.Pixel32(3, 3), 0xFFA022F0u);
}

}  // namespace

// The program's usual 3D state: lit, fogged, trilinear, blended over a
// dithered 565 target. An alpha test that passes every pixel sends the
// same drawing down the generic per-pixel path.
void SetUsualState(Scene& scene, bool alphaTest) {
    scene.SetLayout(Layout::PosNormalTex);
    scene.ModulateStage0();
    DWORD* rs = scene.state.renderStates;
    rs[D3DRS_LIGHTING] = TRUE;
    rs[D3DRS_ALPHABLENDENABLE] = TRUE;
    rs[D3DRS_SRCBLEND] = D3DBLEND_SRCALPHA;
    rs[D3DRS_DESTBLEND] = D3DBLEND_INVSRCALPHA;
    rs[D3DRS_DITHERENABLE] = TRUE;
    rs[D3DRS_FOGENABLE] = TRUE;
    rs[D3DRS_FOGTABLEMODE] = D3DFOG_LINEAR;
    rs[D3DRS_FOGCOLOR] = 0xFF907050;
    rs[D3DRS_FOGSTART] = FloatBits(2);
    rs[D3DRS_FOGEND] = FloatBits(40);
    rs[D3DRS_ALPHATESTENABLE] = alphaTest;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    for (DWORD s : {D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER})
        scene.state.samplerStates[0][s] = D3DTEXF_LINEAR;
    D3DLIGHT9& light = scene.state.lights[0];
    light = D3DLIGHT9{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {0.6f, 0.5f, 0.4f, 0};
    light.Ambient = {0.3f, 0.3f, 0.3f, 0};
    light.Direction = {0.5f, -1.0f, 0.3f};
    scene.state.lightCount = 1;
    scene.state.material = D3DMATERIAL9{};
    scene.state.material.Diffuse = {0.9f, 0.8f, 0.7f, 0.75f};
    scene.state.material.Ambient = {1, 1, 1, 1};
    scene.state.world = Identity();
    const float eye[3] = {0, 6, -4}, at[3] = {0, 0, 12}, up[3] = {0, 1, 0};
    scene.state.view = LookAt(eye, at, up);
    scene.state.projection = Perspective(1.0f, 1.5f, 0.5f, 100.0f);
}

// Two triangles per cell of a grid of (n + 1) x (n + 1) vertices, row by row.
std::vector<WORD> GridIndices(int n) {
    std::vector<WORD> idx;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const WORD a = WORD(j * (n + 1) + i), b = WORD(a + 1), c = WORD(a + n + 1), d = WORD(c + 1);
            for (WORD k : {a, c, d, a, d, b}) idx.push_back(k);
        }
    return idx;
}

// 32 x 32 with mips, every texel's alpha between 0x40 and 0xFF.
Texture NoisyTexture() {
    return MakeArgbTexture(32, 32, 6, [](UINT l, UINT x, UINT y) {
        const DWORD n = (x * 37 + y * 91 + l * 53) * 2654435761u;
        return ((n >> 24) | 0x40u) << 24 | (n & 0x00FFFFFFu);
    });
}

// The usual 3D state (lit, one trilinear texture modulated by the diffuse
// colour, linear fog, source-alpha blending, dithering) drawn twice: once
// as it is and once with an always-passing alpha test, which takes the
// generic pixel path with its late depth test. Both must give the same
// colour and depth bits, whatever path the first one takes. An untextured
// sheet, then screen-space quads without fog or mip levels follow, as in
// the program's 2D pass.
TEST(RenderOutput, UsualStateMatchesTheGenericPath) {
    // 95 pixels wide, the target's rows do not start on four-byte
    // boundaries and its pixels are read one by one.
    // With MAXMIPLEVEL 2, the two most detailed levels are out of both
    // paths' level choices.
    for (const auto& [widthCase, maxMipLevelCase] : {std::pair{96, 0u}, std::pair{95, 0u}, std::pair{96, 2u}}) {
        const int width = widthCase;
        const DWORD maxMipLevel = maxMipLevelCase;
        SCOPED_TRACE(width);
        SCOPED_TRACE(maxMipLevel);
        auto draw = [width, maxMipLevel](bool alphaTest, std::vector<WORD>& colour, std::vector<WORD>& depth) {
            Scene scene(UINT(width), 64);
            SetUsualState(scene, alphaTest);
            scene.state.samplerStates[0][D3DSAMP_MAXMIPLEVEL] = maxMipLevel;
            DWORD* rs = scene.state.renderStates;
            const Texture texture = NoisyTexture();
            scene.BindTexture(0, texture);
            scene.Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF336699);
            // Two wavy sheets of quads, the second crossing the first.
            for (int sheet = 0; sheet < 2; ++sheet) {
                std::vector<PosNormalTex> v;
                const int n = 12;
                for (int j = 0; j <= n; ++j)
                    for (int i = 0; i <= n; ++i) {
                        const float x = -8 + 16.0f * i / n, z = 1 + 30.0f * j / n;
                        const float h = std::sin(x * 0.7f + sheet) * 0.8f + (sheet ? 0.6f - z * 0.04f : 0.0f);
                        v.push_back({x, h, z, 0.3f * std::cos(x), 0.9f, 0.2f, x * 0.37f + sheet, z * 0.29f});
                    }
                const std::vector<WORD> idx = GridIndices(n);
                scene.DrawIndexed(v, idx, UINT(idx.size() / 3));
            }
            // A third sheet with no texture: the lit, fogged, half-transparent
            // diffuse colour alone.
            {
                scene.SetLayout(Layout::PosNormal);
                scene.state.textures[0] = TextureView{};
                std::vector<PosNormal> v;
                const int n = 10;
                for (int j = 0; j <= n; ++j)
                    for (int i = 0; i <= n; ++i) {
                        const float x = -9 + 18.0f * i / n, z = 2 + 28.0f * j / n;
                        v.push_back(
                            {x, std::cos(x * 0.9f + z * 0.2f) * 0.7f + 0.2f, z, 0.4f * std::sin(x), 0.9f, -0.1f});
                    }
                const std::vector<WORD> idx = GridIndices(n);
                scene.DrawIndexed(v, idx, UINT(idx.size() / 3));
                scene.BindTexture(0, texture);
            }
            // Screen-space quads over them, as the 2D pass draws them: no fog,
            // one level, depths inside and outside [0, 1].
            rs[D3DRS_LIGHTING] = FALSE;
            rs[D3DRS_FOGENABLE] = FALSE;
            scene.state.samplerStates[0][D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
            scene.SetLayout(Layout::ScreenColorTex);
            for (int q = 0; q < 6; ++q) {
                const float x = 3.5f + float(q) * 15.3f, z = q == 5 ? 1.5f : float(q) * 0.19f;
                scene.Draw(D3DPT_TRIANGLELIST,
                           Quad(x, 5.25f + float(q), x + 13.0f, 50.5f, 0x90FFE0C0u - DWORD(q) * 0x10000000u, z,
                                0.1f * float(q), 0, 0.1f * float(q) + 0.9f, 2.3f),
                           2);
            }
            // Narrow quads across the right and bottom edges of a smaller
            // viewport: nothing is drawn past it.
            scene.state.viewport = {0, 0, 80, 56, 0.0f, 1.0f};
            scene.Draw(D3DPT_TRIANGLELIST, Quad(69.5f, 20.25f, 89.5f, 40.5f, 0xC0FFFFFFu, 0.3f, 0, 0, 1, 1), 2);
            scene.Draw(D3DPT_TRIANGLELIST, Quad(20.5f, 50.25f, 34.5f, 63.5f, 0xC0FFFFFFu, 0.3f, 0, 0, 1, 1), 2);
            colour.clear();
            depth.clear();
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < width; ++x)
                    colour.push_back(scene.Pixel16(x, y)), depth.push_back(scene.Depth(x, y));
        };
        std::vector<WORD> colourA, depthA, colourB, depthB;
        draw(false, colourA, depthA);
        draw(true, colourB, depthB);
        ASSERT_EQ(colourA.size(), colourB.size());
        int drawn = 0;
        for (size_t i = 0; i < colourA.size(); ++i) {
            ASSERT_EQ(colourA[i], colourB[i]) << "pixel " << i;
            ASSERT_EQ(depthA[i], depthB[i]) << "pixel " << i;
            drawn += depthA[i] != 0xFFFF;
        }
        EXPECT_GT(drawn, width * 64 / 3);  // the sheets cover much of the frame
        // The narrow quads stop at the viewport's edges.
        EXPECT_EQ(depthA[30 * width + 79], WORD(0.3f * 65535 + 0.5f));
        EXPECT_NE(depthA[30 * width + 80], WORD(0.3f * 65535 + 0.5f));
        EXPECT_EQ(depthA[55 * width + 25], WORD(0.3f * 65535 + 0.5f));
        EXPECT_NE(depthA[56 * width + 25], WORD(0.3f * 65535 + 0.5f));
    }
}

// Pixels a draw covers more than once, blended each time: every triangle of
// a sheet of small ones twice in a row, then the whole sheet again, in one
// draw. Equal depths pass, so each pixel is blended four times, each time
// over the one before, as the generic path draws them.
TEST(RenderOutput, PixelsCoveredAgainInOneDrawBlendInOrder) {
    auto draw = [](bool alphaTest, int repeats, std::vector<WORD>& colour, std::vector<WORD>& depth) {
        Scene scene(96, 64);
        SetUsualState(scene, alphaTest);
        const Texture texture = NoisyTexture();
        scene.BindTexture(0, texture);
        scene.Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF336699);
        std::vector<PosNormalTex> v;
        std::vector<WORD> once, idx;
        const int n = 24;
        for (int j = 0; j <= n; ++j)
            for (int i = 0; i <= n; ++i) {
                const float x = -8 + 16.0f * i / n, z = 1 + 30.0f * j / n;
                v.push_back({x, std::sin(x * 0.7f) * 0.8f, z, 0.3f * std::cos(x), 0.9f, 0.2f, x * 0.37f, z * 0.29f});
            }
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const WORD a = WORD(j * (n + 1) + i), b = WORD(a + 1), c = WORD(a + n + 1), d = WORD(c + 1);
                for (int r = 0; r < repeats; ++r) once.insert(once.end(), {a, c, d});
                for (int r = 0; r < repeats; ++r) once.insert(once.end(), {a, d, b});
            }
        for (int r = 0; r < repeats; ++r) idx.insert(idx.end(), once.begin(), once.end());
        scene.DrawIndexed(v, idx, UINT(idx.size() / 3));
        colour.clear();
        depth.clear();
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 96; ++x) colour.push_back(scene.Pixel16(x, y)), depth.push_back(scene.Depth(x, y));
    };
    std::vector<WORD> colourA, depthA, colourB, depthB, colourOnce, depthOnce;
    draw(false, 2, colourA, depthA);
    draw(true, 2, colourB, depthB);
    draw(false, 1, colourOnce, depthOnce);
    int drawn = 0, blendedOver = 0;
    for (size_t i = 0; i < colourA.size(); ++i) {
        ASSERT_EQ(colourA[i], colourB[i]) << "pixel " << i;
        ASSERT_EQ(depthA[i], depthB[i]) << "pixel " << i;
        drawn += depthA[i] != 0xFFFF;
        blendedOver += colourA[i] != colourOnce[i];
    }
    EXPECT_GT(drawn, 96 * 64 / 3);
    EXPECT_GT(blendedOver, drawn / 2);  // drawing again changed most pixels
}
