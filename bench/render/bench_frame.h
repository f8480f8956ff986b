// One frame of the benchmark scene through our renderer, with the device's
// default states plus the program's. Shared by the benchmark and by the
// test that keeps the scene's frames exact.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/render/bench_scene.h"
#include "platform/d3d9/render/renderer.h"

namespace bench {

struct Frame {
    static constexpr BufferVersion kVertexBuffer{1, 1}, kIndexBuffer{2, 1};
    const Scene& scene;
    std::vector<BYTE> target, depth;
    DrawState state;
    std::unique_ptr<Renderer> renderer;

    explicit Frame(const Scene& s) : scene(s) {
        target.resize(size_t(kWidth) * kHeight * 2);
        depth.resize(size_t(kWidth) * kHeight * 2);
        renderer = std::make_unique<Renderer>();
        // As the device draws: small draws held back and drawn together,
        // flushed when the frame is presented.
        renderer->SetDeferSmallDraws(true);
        state.target = {D3DFMT_R5G6B5, UINT(kWidth), UINT(kHeight), kWidth * 2, target.data()};
        state.depth = {D3DFMT_D16, UINT(kWidth), UINT(kHeight), kWidth * 2, depth.data()};
        state.viewport = {0, 0, UINT(kWidth), UINT(kHeight), 0, 1};
        DWORD* rs = state.renderStates;
        auto f = [](float v) { DWORD d; std::memcpy(&d, &v, 4); return d; };
        rs[D3DRS_ZENABLE] = D3DZB_TRUE;
        rs[D3DRS_ZWRITEENABLE] = TRUE;
        rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
        rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
        rs[D3DRS_CULLMODE] = D3DCULL_CCW;
        rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
        rs[D3DRS_COLORVERTEX] = TRUE;
        rs[D3DRS_LOCALVIEWER] = TRUE;
        rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
        rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
        rs[D3DRS_COLORWRITEENABLE] = 0xF;
        rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
        rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
        rs[D3DRS_ALPHABLENDENABLE] = TRUE;
        rs[D3DRS_SRCBLEND] = D3DBLEND_SRCALPHA;
        rs[D3DRS_DESTBLEND] = D3DBLEND_INVSRCALPHA;
        rs[D3DRS_DITHERENABLE] = TRUE;
        rs[D3DRS_FOGCOLOR] = s.fogColor;
        rs[D3DRS_FOGSTART] = f(s.fogStart);
        rs[D3DRS_FOGEND] = f(s.fogEnd);
        rs[D3DRS_FOGDENSITY] = f(0.4f);
        rs[D3DRS_FOGVERTEXMODE] = D3DFOG_LINEAR;
        rs[D3DRS_FOGTABLEMODE] = D3DFOG_LINEAR;
        for (UINT t = 0; t < kTextureStages; ++t) {
            DWORD* ts = state.stageStates[t];
            ts[D3DTSS_COLOROP] = ts[D3DTSS_ALPHAOP] = t == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
            ts[D3DTSS_COLORARG1] = ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
            ts[D3DTSS_COLORARG2] = ts[D3DTSS_ALPHAARG2] = D3DTA_DIFFUSE;
            ts[D3DTSS_TEXCOORDINDEX] = t;
            DWORD* ss = state.samplerStates[t];
            ss[D3DSAMP_ADDRESSU] = ss[D3DSAMP_ADDRESSV] = ss[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
            ss[D3DSAMP_MAGFILTER] = ss[D3DSAMP_MINFILTER] = ss[D3DSAMP_MIPFILTER] = D3DTEXF_LINEAR;
        }
        state.lights[0] = s.light;
        state.lightCount = 1;
        state.material = s.material;
    }

    static void Bind(TextureView& view, const MipChain& chain) {
        view.levelCount = UINT(chain.levels.size());
        for (UINT l = 0; l < view.levelCount; ++l) {
            const UINT w = std::max(1, chain.width >> l), h = std::max(1, chain.height >> l);
            view.levels[l] = {D3DFMT_A8R8G8B8, w, h, INT(w * 4),
                              reinterpret_cast<BYTE*>(const_cast<uint32_t*>(chain.levels[l].data()))};
        }
    }

    void Draw() {
        DWORD* rs = state.renderStates;
        renderer->Clear(state, 0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF336699, 1.0f, 0);
        // The height field, in the program's 3D state.
        rs[D3DRS_LIGHTING] = TRUE;
        rs[D3DRS_FOGENABLE] = TRUE;
        state.samplerStates[0][D3DSAMP_MIPFILTER] = D3DTEXF_LINEAR;
        state.world = state.projection = state.view = D3DMATRIX{};
        state.world._11 = state.world._22 = state.world._33 = state.world._44 = 1;
        state.view = scene.view;
        state.projection = scene.projection;
        auto e = [](WORD offset, BYTE type, BYTE usage) { return D3DVERTEXELEMENT9{0, offset, type, 0, usage, 0}; };
        state.elements[0] = e(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION);
        state.elements[1] = e(12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL);
        state.elements[2] = e(24, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD);
        state.elements[3] = D3DVERTEXELEMENT9 D3DDECL_END();
        state.elementCount = 3;
        // Named as the device names its buffers: the height field's never
        // change, as the demo's course buffers never do.
        state.stream0 = {reinterpret_cast<const BYTE*>(scene.vertices.data()),
                         UINT(scene.vertices.size() * sizeof(TerrainVertex)), sizeof(TerrainVertex), kVertexBuffer};
        state.indices = {scene.indices.data(), UINT(scene.indices.size() * 2), D3DFMT_INDEX16, kIndexBuffer};
        const UINT half = UINT(scene.indices.size() / 2);
        for (int h = 0; h < 2; ++h) {
            Bind(state.textures[0], scene.textures[h]);
            renderer->DrawIndexedPrimitive(state, D3DPT_TRIANGLELIST, 0, 0, UINT(scene.vertices.size()), h * half, half / 3);
        }
        // The overlay: pre-transformed fans, one call each.
        rs[D3DRS_LIGHTING] = FALSE;
        rs[D3DRS_FOGENABLE] = FALSE;
        state.samplerStates[0][D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        state.elements[0] = e(0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT);
        state.elements[1] = e(16, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR);
        state.elements[2] = e(20, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD);
        Bind(state.textures[0], scene.font);
        for (int q = 0; q < kOverlayQuads; ++q) {
            state.stream0 = {reinterpret_cast<const BYTE*>(scene.overlay.data() + size_t(q) * 4),
                             UINT(4 * sizeof(OverlayVertex)), sizeof(OverlayVertex)};
            renderer->DrawPrimitive(state, D3DPT_TRIANGLEFAN, 0, 2);
        }
        renderer->Flush();
    }
};

}  // namespace bench
