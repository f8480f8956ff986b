// Helpers for the renderer's tests: a DrawState with the device's defaults,
// owned target and depth surfaces, and vertex/texture builders.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/d3d9/render/renderer.h"

namespace render_test {

inline DWORD FloatBits(float f) {
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}

inline D3DMATRIX Identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1;
    return m;
}

inline D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
    return r;
}

// Left-handed perspective projection (row vectors): w = camera z.
inline D3DMATRIX Perspective(float fovY, float aspect, float zn, float zf) {
    D3DMATRIX m{};
    const float ys = 1.0f / std::tan(fovY / 2), xs = ys / aspect;
    m._11 = xs;
    m._22 = ys;
    m._33 = zf / (zf - zn);
    m._34 = 1;
    m._43 = -zn * zf / (zf - zn);
    return m;
}

// Left-handed look-at view matrix.
inline D3DMATRIX LookAt(const float eye[3], const float at[3], const float up[3]) {
    auto normalize = [](float v[3]) {
        const float l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        for (int i = 0; i < 3; ++i) v[i] /= l;
    };
    float z[3] = {at[0] - eye[0], at[1] - eye[1], at[2] - eye[2]};
    normalize(z);
    float x[3] = {up[1] * z[2] - up[2] * z[1], up[2] * z[0] - up[0] * z[2], up[0] * z[1] - up[1] * z[0]};
    normalize(x);
    const float y[3] = {z[1] * x[2] - z[2] * x[1], z[2] * x[0] - z[0] * x[2], z[0] * x[1] - z[1] * x[0]};
    D3DMATRIX m = Identity();
    for (int i = 0; i < 3; ++i) m.m[i][0] = x[i], m.m[i][1] = y[i], m.m[i][2] = z[i];
    m._41 = -(x[0] * eye[0] + x[1] * eye[1] + x[2] * eye[2]);
    m._42 = -(y[0] * eye[0] + y[1] * eye[1] + y[2] * eye[2]);
    m._43 = -(z[0] * eye[0] + z[1] * eye[1] + z[2] * eye[2]);
    return m;
}

// The vertex layouts the tests use.
enum class Layout {
    ScreenColorTex,  // XYZRHW | DIFFUSE | TEX1 (28 bytes)
    PosNormal,       // XYZ | NORMAL (24 bytes)
    PosColor,        // XYZ | DIFFUSE (16 bytes)
    PosNormalTex,    // XYZ | NORMAL | TEX1 (32 bytes)
};

struct ScreenVertex {
    float x, y, z, rhw;
    DWORD color;
    float u, v;
};
struct PosNormal {
    float x, y, z, nx, ny, nz;
};
struct PosColor {
    float x, y, z;
    DWORD color;
};
struct PosNormalTex {
    float x, y, z, nx, ny, nz, u, v;
};

// A texture owned by the test: levels of one format, each its own buffer.
struct Texture {
    D3DFORMAT format = D3DFMT_A8R8G8B8;
    std::vector<std::vector<BYTE>> levels;
    std::vector<UINT> widths, heights;
    std::vector<INT> pitches;
};

// An A8R8G8B8 texture whose levels are filled by fn(level, x, y) -> ARGB.
template <typename Fn>
Texture MakeArgbTexture(UINT width, UINT height, UINT levels, Fn fn) {
    Texture t;
    for (UINT l = 0; l < levels; ++l) {
        const UINT w = std::max(1u, width >> l), h = std::max(1u, height >> l);
        std::vector<BYTE> bits(size_t(w) * h * 4);
        for (UINT y = 0; y < h; ++y)
            for (UINT x = 0; x < w; ++x) {
                const DWORD c = fn(l, x, y);
                std::memcpy(&bits[(size_t(y) * w + x) * 4], &c, 4);
            }
        t.levels.push_back(std::move(bits));
        t.widths.push_back(w);
        t.heights.push_back(h);
        t.pitches.push_back(INT(w * 4));
    }
    return t;
}

class Scene {
public:
    Scene(UINT width = 64, UINT height = 32, D3DFORMAT format = D3DFMT_R5G6B5, bool depth = true)
        : width_(width), height_(height) {
        const UINT bpp = format == D3DFMT_R5G6B5 ? 2 : 4;
        target_.assign(size_t(width) * height * bpp, 0);
        state.target = {format, width, height, INT(width * bpp), target_.data()};
        if (depth) {
            depth_.assign(size_t(width) * height, 0xFFFF);
            state.depth = {D3DFMT_D16, width, height, INT(width * 2), reinterpret_cast<BYTE*>(depth_.data())};
        }
        state.viewport = {0, 0, width, height, 0.0f, 1.0f};
        SetDefaults();
    }

    void SetDefaults() {
        DWORD* rs = state.renderStates;
        rs[D3DRS_ZENABLE] = D3DZB_TRUE;
        rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
        rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
        rs[D3DRS_ZWRITEENABLE] = TRUE;
        rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
        rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
        rs[D3DRS_CULLMODE] = D3DCULL_CCW;
        rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
        rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
        rs[D3DRS_FOGCOLOR] = 0;
        rs[D3DRS_FOGEND] = FloatBits(1.0f);
        rs[D3DRS_FOGDENSITY] = FloatBits(1.0f);
        rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
        rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
        rs[D3DRS_CLIPPING] = TRUE;
        rs[D3DRS_LIGHTING] = TRUE;
        rs[D3DRS_COLORVERTEX] = TRUE;
        rs[D3DRS_LOCALVIEWER] = TRUE;
        rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
        rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
        rs[D3DRS_COLORWRITEENABLE] = 0xF;
        rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
        for (UINT s = 0; s < kTextureStages; ++s) {
            DWORD* ts = state.stageStates[s];
            ts[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
            ts[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
            ts[D3DTSS_COLORARG2] = D3DTA_CURRENT;
            ts[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
            ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
            ts[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
            ts[D3DTSS_TEXCOORDINDEX] = s;
            DWORD* ss = state.samplerStates[s];
            ss[D3DSAMP_ADDRESSU] = ss[D3DSAMP_ADDRESSV] = ss[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
            ss[D3DSAMP_MAGFILTER] = ss[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
            ss[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
            ss[D3DSAMP_MAXANISOTROPY] = 1;
        }
        state.world = state.view = state.projection = Identity();
    }

    // Stage 0 as the program sets it: texture times diffuse, colour and alpha.
    void ModulateStage0() {
        DWORD* ts = state.stageStates[0];
        ts[D3DTSS_COLOROP] = ts[D3DTSS_ALPHAOP] = D3DTOP_MODULATE;
        ts[D3DTSS_COLORARG1] = ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        ts[D3DTSS_COLORARG2] = ts[D3DTSS_ALPHAARG2] = D3DTA_DIFFUSE;
    }

    void SetLayout(Layout layout) {
        auto e = [](WORD offset, BYTE type, BYTE usage) { return D3DVERTEXELEMENT9{0, offset, type, 0, usage, 0}; };
        UINT n = 0;
        switch (layout) {
            case Layout::ScreenColorTex:
                state.elements[n++] = e(0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT);
                state.elements[n++] = e(16, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR);
                state.elements[n++] = e(20, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD);
                stride_ = 28;
                break;
            case Layout::PosNormal:
                state.elements[n++] = e(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION);
                state.elements[n++] = e(12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL);
                stride_ = 24;
                break;
            case Layout::PosColor:
                state.elements[n++] = e(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION);
                state.elements[n++] = e(12, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR);
                stride_ = 16;
                break;
            case Layout::PosNormalTex:
                state.elements[n++] = e(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION);
                state.elements[n++] = e(12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL);
                state.elements[n++] = e(24, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD);
                stride_ = 32;
                break;
        }
        state.elements[n] = D3DVERTEXELEMENT9 D3DDECL_END();
        state.elementCount = n;
    }

    void BindTexture(UINT stage, const Texture& t) {
        TextureView& v = state.textures[stage];
        v.levelCount = UINT(t.levels.size());
        for (UINT l = 0; l < v.levelCount; ++l)
            v.levels[l] = {t.format, t.widths[l], t.heights[l], t.pitches[l], const_cast<BYTE*>(t.levels[l].data())};
    }

    template <typename V>
    void Draw(D3DPRIMITIVETYPE type, const std::vector<V>& vertices, UINT primitives) {
        state.stream0 = {reinterpret_cast<const BYTE*>(vertices.data()), UINT(vertices.size() * sizeof(V)), stride_};
        renderer.DrawPrimitive(state, type, 0, primitives);
    }

    template <typename V, typename I>
    void DrawIndexed(const std::vector<V>& vertices, const std::vector<I>& indices, UINT primitives) {
        state.stream0 = {reinterpret_cast<const BYTE*>(vertices.data()), UINT(vertices.size() * sizeof(V)), stride_};
        state.indices = {indices.data(), UINT(indices.size() * sizeof(I)), sizeof(I) == 2 ? D3DFMT_INDEX16 : D3DFMT_INDEX32};
        renderer.DrawIndexedPrimitive(state, D3DPT_TRIANGLELIST, 0, 0, UINT(vertices.size()), 0, primitives);
    }

    void Clear(DWORD flags, D3DCOLOR color, float z = 1.0f) { renderer.Clear(state, 0, nullptr, flags, color, z, 0); }

    WORD Pixel16(int x, int y) const {
        WORD v;
        std::memcpy(&v, &target_[(size_t(y) * width_ + x) * 2], 2);
        return v;
    }
    DWORD Pixel32(int x, int y) const {
        DWORD v;
        std::memcpy(&v, &target_[(size_t(y) * width_ + x) * 4], 4);
        return v;
    }
    WORD Depth(int x, int y) const { return depth_[size_t(y) * width_ + x]; }
    // FNV-1a over the target's bytes.
    uint64_t Checksum() const {
        uint64_t h = 1469598103934665603ull;
        for (BYTE b : target_) h = (h ^ b) * 1099511628211ull;
        return h;
    }
    // With VINTREL_RENDER_DUMP naming a folder, writes the target there as
    // <name>.ppm for a person to look at.
    void Dump(const char* name) const {
        const char* dir = std::getenv("VINTREL_RENDER_DUMP");
        if (!dir) return;
        std::string path = std::string(dir) + "/" + name + ".ppm";
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return;
        std::fprintf(f, "P6 %u %u 255\n", width_, height_);
        const bool is16 = state.target.format == D3DFMT_R5G6B5;
        for (UINT y = 0; y < height_; ++y)
            for (UINT x = 0; x < width_; ++x) {
                BYTE rgb[3];
                if (is16) {
                    const WORD p = Pixel16(int(x), int(y));
                    rgb[0] = BYTE((p >> 11) * 255 / 31), rgb[1] = BYTE(((p >> 5) & 63) * 255 / 63), rgb[2] = BYTE((p & 31) * 255 / 31);
                } else {
                    const DWORD p = Pixel32(int(x), int(y));
                    rgb[0] = BYTE(p >> 16), rgb[1] = BYTE(p >> 8), rgb[2] = BYTE(p);
                }
                std::fwrite(rgb, 1, 3, f);
            }
        std::fclose(f);
    }
    UINT Width() const { return width_; }
    UINT Height() const { return height_; }

    DrawState state;
    Renderer renderer;

private:
    UINT width_, height_;
    UINT stride_ = 0;
    std::vector<BYTE> target_;
    std::vector<WORD> depth_;
};

// A screen-space quad as two triangles of a list, clockwise on screen.
inline std::vector<ScreenVertex> Quad(float x0, float y0, float x1, float y1, DWORD color, float z = 0.0f,
                                      float u0 = 0, float v0 = 0, float u1 = 1, float v1 = 1) {
    const ScreenVertex a{x0, y0, z, 1, color, u0, v0}, b{x1, y0, z, 1, color, u1, v0};
    const ScreenVertex c{x1, y1, z, 1, color, u1, v1}, d{x0, y1, z, 1, color, u0, v1};
    return {a, b, c, a, c, d};
}

// The rounding conversion of a [0, 1] value to an n-bit channel.
inline int Round(double v, int bits) { return int(std::floor(v * ((1 << bits) - 1) + 0.5)); }
inline WORD Rgb565(double r, double g, double b) { return WORD((Round(r, 5) << 11) | (Round(g, 6) << 5) | Round(b, 5)); }

}  // namespace render_test
