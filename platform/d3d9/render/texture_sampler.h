// Texture sampling: addressing, point and bilinear filters, level-of-detail
// selection and mip filtering over A8R8G8B8 texels (decoded when the
// texture's own format differs). The per-pixel functions are inline.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/d3d9/render/color.h"
#include "platform/d3d9/render/texture_decode.h"

namespace render {

struct TextureLevel {
    const uint32_t* texels = nullptr;
    int width = 0, height = 0;
    int pitch = 0;  // texels from one row to the next
    float fwidth = 0, fheight = 0;
};

struct TextureSampler {
    int levelCount = 0;
    TextureLevel levels[kMaxTextureLevels];
    uint32_t alphaOr = 0;
    DWORD addressU = D3DTADDRESS_WRAP, addressV = D3DTADDRESS_WRAP;
    Color border{0, 0, 0, 0};
    DWORD magFilter = D3DTEXF_POINT, minFilter = D3DTEXF_POINT, mipFilter = D3DTEXF_NONE;
    float lodBias = 0;
    int firstLevel = 0;  // the most detailed level allowed (MAXMIPLEVEL)
    // False when the filter cannot depend on the level of detail, so the
    // pixel loop skips the derivatives.
    bool needsLod = false;
};

// Fills `sampler` from a bound texture and its sampler states. False when
// nothing sampleable is bound; the stage then reads opaque white.
bool PrepareSampler(const TextureView& view, const DWORD* samplerStates, DecodeCache& cache, TextureSampler& sampler);

// log2 of a positive float to about 1e-4; deterministic and cheap.
inline float FastLog2(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, 4);
    const int exponent = int((bits >> 23) & 0xFF) - 127;
    bits = (bits & 0x007FFFFFu) | 0x3F800000u;
    float m;
    std::memcpy(&m, &bits, 4);
    // log2(m) on [1, 2) from the series of atanh: t = (m-1)/(m+1).
    const float t = (m - 1.0f) / (m + 1.0f), t2 = t * t;
    const float r = 2.8853901f * t * (1.0f + t2 * (1.0f / 3.0f + t2 * (0.2f + t2 * (1.0f / 7.0f + t2 * (1.0f / 9.0f)))));
    return float(exponent) + r;
}

namespace detail {

// Texel index along one axis after addressing; -1 for a border texel.
inline int Address(int i, int n, DWORD mode) {
    if (unsigned(i) < unsigned(n)) return i;
    switch (mode) {
        case D3DTADDRESS_CLAMP:
            return i < 0 ? 0 : n - 1;
        case D3DTADDRESS_MIRROR: {
            const int period = 2 * n;
            int m = i % period;
            if (m < 0) m += period;
            return m < n ? m : period - 1 - m;
        }
        case D3DTADDRESS_MIRRORONCE: {
            int m = i < 0 ? -i - 1 : i;
            return m < n ? m : n - 1;
        }
        case D3DTADDRESS_BORDER:
            return -1;
        default: {  // WRAP
            int m = i % n;
            return m < 0 ? m + n : m;
        }
    }
}

// Keeps a texel coordinate where an int can hold it (NaN goes low).
inline float ClampCoord(float x) {
    constexpr float limit = 8388608.0f;
    if (!(x > -limit)) return -limit;
    return x < limit ? x : limit;
}

inline int Floor(float x) {
    const int i = int(x);
    return i - (float(i) > x ? 1 : 0);
}

struct Texel4 {
    float c[4];  // b, g, r, a as stored
};

inline void Unpack(uint32_t t, float out[4]) {
    out[0] = float(t & 0xFF);
    out[1] = float((t >> 8) & 0xFF);
    out[2] = float((t >> 16) & 0xFF);
    out[3] = float(t >> 24);
}

inline uint32_t Fetch(const TextureSampler& s, const TextureLevel& l, int i, int j, bool& border) {
    const int x = Address(i, l.width, s.addressU);
    const int y = Address(j, l.height, s.addressV);
    if ((x | y) < 0) {
        border = true;
        return 0;
    }
    return l.texels[size_t(y) * size_t(l.pitch) + size_t(x)] | s.alphaOr;
}

inline Color ToColor(const float c[4]) {
    constexpr float k = 1.0f / 255.0f;
    return {c[2] * k, c[1] * k, c[0] * k, c[3] * k};
}

inline Color BorderColor(const TextureSampler& s) { return s.border; }

inline Color SamplePoint(const TextureSampler& s, const TextureLevel& l, float u, float v) {
    const int i = Floor(ClampCoord(u * l.fwidth));
    const int j = Floor(ClampCoord(v * l.fheight));
    bool border = false;
    const uint32_t t = Fetch(s, l, i, j, border);
    if (border) return BorderColor(s);
    float c[4];
    Unpack(t, c);
    return ToColor(c);
}

inline Color SampleLinear(const TextureSampler& s, const TextureLevel& l, float u, float v) {
    const float x = ClampCoord(u * l.fwidth - 0.5f);
    const float y = ClampCoord(v * l.fheight - 0.5f);
    const int i = Floor(x), j = Floor(y);
    const float a = x - float(i), b = y - float(j);
    uint32_t t00, t10, t01, t11;
    const int x0 = Address(i, l.width, s.addressU), x1 = Address(i + 1, l.width, s.addressU);
    const int y0 = Address(j, l.height, s.addressV), y1 = Address(j + 1, l.height, s.addressV);
    if ((x0 | x1 | y0 | y1) >= 0) {
        const uint32_t* r0 = l.texels + size_t(y0) * size_t(l.pitch);
        const uint32_t* r1 = l.texels + size_t(y1) * size_t(l.pitch);
        t00 = r0[x0] | s.alphaOr, t10 = r0[x1] | s.alphaOr, t01 = r1[x0] | s.alphaOr, t11 = r1[x1] | s.alphaOr;
    } else {
        // Some of the four are border texels: blend the border colour in.
        float acc[4] = {0, 0, 0, 0};
        const float w[4] = {(1 - a) * (1 - b), a * (1 - b), (1 - a) * b, a * b};
        const int xs[4] = {x0, x1, x0, x1}, ys[4] = {y0, y0, y1, y1};
        const float bc[4] = {s.border.b * 255.0f, s.border.g * 255.0f, s.border.r * 255.0f, s.border.a * 255.0f};
        for (int k = 0; k < 4; ++k) {
            float c[4];
            if ((xs[k] | ys[k]) < 0)
                std::memcpy(c, bc, sizeof c);
            else
                Unpack(l.texels[size_t(ys[k]) * size_t(l.pitch) + size_t(xs[k])] | s.alphaOr, c);
            for (int n = 0; n < 4; ++n) acc[n] += w[k] * c[n];
        }
        return ToColor(acc);
    }
    float c00[4], c10[4], c01[4], c11[4], out[4];
    Unpack(t00, c00);
    Unpack(t10, c10);
    Unpack(t01, c01);
    Unpack(t11, c11);
    for (int n = 0; n < 4; ++n) {
        const float top = c00[n] + a * (c10[n] - c00[n]);
        const float bottom = c01[n] + a * (c11[n] - c01[n]);
        out[n] = top + b * (bottom - top);
    }
    return ToColor(out);
}

inline Color SampleLevel(const TextureSampler& s, int level, DWORD filter, float u, float v) {
    const TextureLevel& l = s.levels[level];
    return filter == D3DTEXF_POINT ? SamplePoint(s, l, u, v) : SampleLinear(s, l, u, v);
}

}  // namespace detail

// Samples at (u, v). `rhoSquared` is the larger squared length of the
// screen-space derivative vectors of (u, v) in level-0 texels; it is only
// read when sampler.needsLod.
inline Color Sample(const TextureSampler& s, float u, float v, float rhoSquared) {
    if (!s.needsLod) return detail::SampleLevel(s, s.firstLevel, s.magFilter, u, v);
    const float lambda = (rhoSquared > 0.0f ? 0.5f * FastLog2(rhoSquared) : -1000.0f) + s.lodBias;
    if (!(lambda > 0.0f)) return detail::SampleLevel(s, s.firstLevel, s.magFilter, u, v);
    const int last = s.levelCount - 1;
    if (s.mipFilter == D3DTEXF_NONE || last == s.firstLevel)
        return detail::SampleLevel(s, s.firstLevel, s.minFilter, u, v);
    const float l = lambda < 64.0f ? lambda : 64.0f;
    if (s.mipFilter == D3DTEXF_POINT) {
        int level = s.firstLevel + int(l + 0.5f);
        if (level > last) level = last;
        return detail::SampleLevel(s, level, s.minFilter, u, v);
    }
    const int base = int(l);
    const float f = l - float(base);
    int l0 = s.firstLevel + base, l1 = l0 + 1;
    if (l0 >= last) return detail::SampleLevel(s, last, s.minFilter, u, v);
    if (l1 > last) l1 = last;
    const Color c0 = detail::SampleLevel(s, l0, s.minFilter, u, v);
    const Color c1 = detail::SampleLevel(s, l1, s.minFilter, u, v);
    return {c0.r + f * (c1.r - c0.r), c0.g + f * (c1.g - c0.g), c0.b + f * (c1.b - c0.b), c0.a + f * (c1.a - c0.a)};
}

}  // namespace render
