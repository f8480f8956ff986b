// Random states and hostile vertex values: the renderer must neither crash
// nor touch memory outside its views (run under the sanitizers).
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "tests/d3d9/render_scene.h"

using namespace render_test;

namespace {

float Hostile(std::mt19937& r) {
    switch (r() % 8) {
        case 0: return std::numeric_limits<float>::quiet_NaN();
        case 1: return std::numeric_limits<float>::infinity();
        case 2: return -1e30f;
        case 3: return 0.0f;
        default: return std::uniform_real_distribution<float>(-200, 200)(r);
    }
}

TEST(RenderRobust, RandomStatesAndVerticesStayInBounds) {
    std::mt19937 r(42);  // 32-bit results
    const Texture dxt = [] {
        Texture t;
        t.format = D3DFMT_DXT5;
        t.levels.push_back(std::vector<BYTE>(16 * 4, 0x5A));
        t.widths = {8};
        t.heights = {8};
        t.pitches = {32};
        return t;
    }();
    const Texture argb = MakeArgbTexture(16, 8, 4, [](UINT l, UINT x, UINT y) { return 0x80000000u | ((l * 0x111111u) ^ (x * y)); });
    for (int round = 0; round < 300; ++round) {
        Scene scene(37, 23, (round & 1) ? D3DFMT_R5G6B5 : D3DFMT_X8R8G8B8, round % 3 != 0);
        const bool transformed = r() & 1;
        scene.SetLayout(transformed ? Layout::ScreenColorTex : Layout::PosNormalTex);
        DWORD* rs = scene.state.renderStates;
        rs[D3DRS_CULLMODE] = 1 + r() % 3;
        rs[D3DRS_ZFUNC] = 1 + r() % 8;
        rs[D3DRS_ALPHABLENDENABLE] = r() & 1;
        rs[D3DRS_SRCBLEND] = 1 + r() % 15;
        rs[D3DRS_DESTBLEND] = 1 + r() % 15;
        rs[D3DRS_BLENDOP] = 1 + r() % 5;
        rs[D3DRS_DITHERENABLE] = r() & 1;
        rs[D3DRS_FOGENABLE] = r() & 1;
        rs[D3DRS_FOGTABLEMODE] = r() % 4;
        rs[D3DRS_FOGVERTEXMODE] = r() % 4;
        rs[D3DRS_FOGEND] = FloatBits(Hostile(r));
        rs[D3DRS_FOGDENSITY] = FloatBits(Hostile(r));
        rs[D3DRS_ALPHATESTENABLE] = r() & 1;
        rs[D3DRS_ALPHAFUNC] = 1 + r() % 8;
        rs[D3DRS_SHADEMODE] = 1 + r() % 2;
        rs[D3DRS_SPECULARENABLE] = r() & 1;
        rs[D3DRS_NORMALIZENORMALS] = r() & 1;
        rs[D3DRS_COLORWRITEENABLE] = r() % 16;
        for (int s = 0; s < 2; ++s) {
            DWORD* ts = scene.state.stageStates[s];
            ts[D3DTSS_COLOROP] = 1 + r() % 26;
            ts[D3DTSS_ALPHAOP] = 1 + r() % 26;
            ts[D3DTSS_COLORARG1] = r() % 64;
            ts[D3DTSS_COLORARG2] = r() % 64;
            ts[D3DTSS_ALPHAARG1] = r() % 64;
            ts[D3DTSS_TEXCOORDINDEX] = r() % 9 | ((r() % 4) << 16);
            DWORD* ss = scene.state.samplerStates[s];
            ss[D3DSAMP_ADDRESSU] = r() % 6;
            ss[D3DSAMP_ADDRESSV] = r() % 6;
            ss[D3DSAMP_MINFILTER] = r() % 4;
            ss[D3DSAMP_MAGFILTER] = r() % 4;
            ss[D3DSAMP_MIPFILTER] = r() % 3;
            ss[D3DSAMP_MAXMIPLEVEL] = r() % 6;
            ss[D3DSAMP_MIPMAPLODBIAS] = FloatBits(Hostile(r));
            if (r() & 1) scene.BindTexture(s, (r() & 1) ? dxt : argb);
        }
        D3DLIGHT9 light{};
        light.Type = D3DLIGHTTYPE(1 + r() % 3);
        light.Diffuse = {1, 1, 1, 1};
        light.Position = {Hostile(r), Hostile(r), Hostile(r)};
        light.Direction = {Hostile(r), Hostile(r), Hostile(r)};
        light.Range = Hostile(r);
        light.Attenuation0 = Hostile(r);
        light.Falloff = Hostile(r);
        light.Phi = Hostile(r);
        scene.state.lights[0] = light;
        scene.state.lightCount = 1;
        scene.state.projection = Perspective(1.0f, 1.5f, 0.5f, 100.0f);
        scene.state.view._43 = 20;
        if (round % 7 == 0) scene.state.view._11 = Hostile(r);
        scene.state.viewport = {DWORD(r() % 40), DWORD(r() % 30), DWORD(r() % 60), DWORD(r() % 40), 0, 1};
        const int count = 3 * (1 + r() % 20);
        if (transformed) {
            std::vector<ScreenVertex> v(count);
            for (ScreenVertex& p : v) p = {Hostile(r), Hostile(r), Hostile(r), Hostile(r), DWORD(r()), Hostile(r), Hostile(r)};
            scene.Draw(D3DPRIMITIVETYPE(4 + r() % 3), v, UINT(count / 3));
        } else {
            std::vector<PosNormalTex> v(count);
            for (PosNormalTex& p : v) p = {Hostile(r), Hostile(r), Hostile(r), Hostile(r), Hostile(r), Hostile(r), Hostile(r), Hostile(r)};
            std::vector<uint32_t> indices(count);
            for (uint32_t& i : indices) i = r() % (count + 2);  // some past the end
            if (r() & 1)
                scene.DrawIndexed(v, indices, UINT(count / 3) + r() % 3);
            else
                scene.Draw(D3DPRIMITIVETYPE(4 + r() % 3), v, UINT(count / 3));
        }
    }
}

}  // namespace
