// Texture sampling: addressing, point and bilinear filters, level-of-detail
// selection and mip filtering over A8R8G8B8 texels (decoded when the
// texture's own format differs). The per-pixel functions are inline.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(VINTREL_NO_SIMD)
#include <emmintrin.h>
#define VINTREL_SAMPLER_SSE2 1
#endif

#include "platform/d3d9/render/color.h"
#include "platform/d3d9/render/texture_decode.h"

namespace render {

struct TextureLevel {
    const uint32_t* texels = nullptr;
    int width = 0, height = 0;
    int pitch = 0;  // texels from one row to the next
    float fwidth = 0, fheight = 0;
    int widthMask = 0, heightMask = 0;  // size - 1 for power-of-two sizes
};

struct TextureSampler {
    int levelCount = 0;
    TextureLevel levels[kMaxTextureLevels];
    uint32_t alphaOr = 0;
    DWORD addressU = D3DTADDRESS_WRAP, addressV = D3DTADDRESS_WRAP;
    uint32_t borderArgb = 0;
    DWORD magFilter = D3DTEXF_POINT, minFilter = D3DTEXF_POINT, mipFilter = D3DTEXF_NONE;
    float lodBias = 0;
    // The most detailed level allowed (MAXMIPLEVEL): a floor on the level of
    // detail, which still counts from level 0.
    int firstLevel = 0;
    // False when the filter cannot depend on the level of detail, so the
    // pixel loop skips the derivatives.
    bool needsLod = false;
    // WRAP on both axes and power-of-two sizes: addressing is a mask.
    bool wrapMask = false;
};

// Fills `sampler` from a bound texture and its sampler states. False when
// nothing sampleable is bound; the stage then reads opaque white.
bool PrepareSampler(const TextureView& view, const DWORD* samplerStates, DecodeCache& cache, TextureSampler& sampler);

// log2 of a positive float to about 1.4e-3; deterministic and cheap.
inline float FastLog2(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, 4);
    const int exponent = int((bits >> 23) & 0xFF) - 127;
    bits = (bits & 0x007FFFFFu) | 0x3F800000u;
    float m;
    std::memcpy(&m, &bits, 4);
    // log2(m) on [1, 2) by a cubic in t = m - 1, exact at both ends
    // (error below 0.0014), so powers of two come out exact.
    const float t = m - 1.0f;
    const float r = t * (1.4234952f + t * (-0.5877732f + t * 0.1642780f));
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

// Blends two A8R8G8B8 texels, two channels per multiply: w in [0, 256]
// is the weight of b; rounded to nearest.
inline uint32_t Lerp(uint32_t a, uint32_t b, uint32_t w) {
    const uint32_t iw = 256 - w;
    const uint32_t rb = (((a & 0x00FF00FFu) * iw + (b & 0x00FF00FFu) * w + 0x00800080u) >> 8) & 0x00FF00FFu;
    const uint32_t ag = (((a >> 8) & 0x00FF00FFu) * iw + ((b >> 8) & 0x00FF00FFu) * w + 0x00800080u) & 0xFF00FF00u;
    return rb | ag;
}

// The bilinear blend of four texels: (t00, t10) and (t01, t11) by a, then
// the two rows by b; each channel exactly as Lerp computes it.
inline uint32_t Bilinear(uint32_t t00, uint32_t t10, uint32_t t01, uint32_t t11, uint32_t a, uint32_t b) {
#ifdef VINTREL_SAMPLER_SSE2
    // Channels widened to 16-bit lanes: rows in the low and high halves.
    const __m128i zero = _mm_setzero_si128();
    const __m128i left = _mm_unpacklo_epi8(_mm_set_epi32(0, 0, int(t01), int(t00)), zero);
    const __m128i right = _mm_unpacklo_epi8(_mm_set_epi32(0, 0, int(t11), int(t10)), zero);
    const __m128i round = _mm_set1_epi16(0x80);
    const __m128i wa = _mm_set1_epi16(short(a)), ia = _mm_set1_epi16(short(256 - a));
    const __m128i rows = _mm_srli_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(left, ia), _mm_mullo_epi16(right, wa)), round), 8);
    const __m128i top = rows, bottom = _mm_unpackhi_epi64(rows, rows);
    const __m128i wb = _mm_set1_epi16(short(b)), ib = _mm_set1_epi16(short(256 - b));
    const __m128i out = _mm_srli_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(top, ib), _mm_mullo_epi16(bottom, wb)), round), 8);
    return uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(out, out)));
#else
    return Lerp(Lerp(t00, t10, a), Lerp(t01, t11, a), b);
#endif
}

// A blend weight in 1/256 steps.
inline uint32_t Weight(float f) { return uint32_t(f * 256.0f + 0.5f); }

[[gnu::always_inline]] inline uint32_t SamplePoint(const TextureSampler& s, const TextureLevel& l, float u, float v) {
    const int i = Floor(ClampCoord(u * l.fwidth));
    const int j = Floor(ClampCoord(v * l.fheight));
    if (s.wrapMask) return l.texels[size_t(j & l.heightMask) * size_t(l.pitch) + size_t(i & l.widthMask)] | s.alphaOr;
    const int x = Address(i, l.width, s.addressU);
    const int y = Address(j, l.height, s.addressV);
    if ((x | y) < 0) return s.borderArgb;
    return l.texels[size_t(y) * size_t(l.pitch) + size_t(x)] | s.alphaOr;
}

[[gnu::always_inline]] inline uint32_t SampleLinear(const TextureSampler& s, const TextureLevel& l, float u, float v) {
    const float x = ClampCoord(u * l.fwidth - 0.5f);
    const float y = ClampCoord(v * l.fheight - 0.5f);
    const int i = Floor(x), j = Floor(y);
    const uint32_t a = Weight(x - float(i)), b = Weight(y - float(j));
    int x0, x1, y0, y1;
    if (s.wrapMask) {
        x0 = i & l.widthMask, x1 = (i + 1) & l.widthMask, y0 = j & l.heightMask, y1 = (j + 1) & l.heightMask;
    } else {
        x0 = Address(i, l.width, s.addressU), x1 = Address(i + 1, l.width, s.addressU);
        y0 = Address(j, l.height, s.addressV), y1 = Address(j + 1, l.height, s.addressV);
    }
    uint32_t t00, t10, t01, t11;
    if ((x0 | x1 | y0 | y1) >= 0) {
        const uint32_t* r0 = l.texels + size_t(y0) * size_t(l.pitch);
        const uint32_t* r1 = l.texels + size_t(y1) * size_t(l.pitch);
        t00 = r0[x0], t10 = r0[x1], t01 = r1[x0], t11 = r1[x1];
    } else {
        // Border texels take the border colour.
        auto at = [&](int xx, int yy) {
            return (xx | yy) < 0 ? s.borderArgb : l.texels[size_t(yy) * size_t(l.pitch) + size_t(xx)];
        };
        t00 = at(x0, y0), t10 = at(x1, y0), t01 = at(x0, y1), t11 = at(x1, y1);
    }
    return Bilinear(t00, t10, t01, t11, a, b) | s.alphaOr;
}

[[gnu::always_inline]] inline uint32_t SampleLevel(const TextureSampler& s, int level, DWORD filter, float u, float v) {
    const TextureLevel& l = s.levels[level];
    return filter == D3DTEXF_POINT ? SamplePoint(s, l, u, v) : SampleLinear(s, l, u, v);
}

}  // namespace detail

// Samples at (u, v) into an A8R8G8B8 value. `rhoSquared` is the larger
// squared length of the screen-space derivative vectors of (u, v) in
// level-0 texels; it is only read when sampler.needsLod.
[[gnu::always_inline]] inline uint32_t SampleArgb(const TextureSampler& s, float u, float v, float rhoSquared) {
    if (!s.needsLod) return detail::SampleLevel(s, s.firstLevel, s.magFilter, u, v);
    const float lambda = (rhoSquared > 0.0f ? 0.5f * FastLog2(rhoSquared) : -1000.0f) + s.lodBias;
    if (!(lambda > 0.0f)) return detail::SampleLevel(s, s.firstLevel, s.magFilter, u, v);
    const int last = s.levelCount - 1;
    if (s.mipFilter == D3DTEXF_NONE || last == s.firstLevel)
        return detail::SampleLevel(s, s.firstLevel, s.minFilter, u, v);
    // lambda counts from level 0 whatever MAXMIPLEVEL is: the most detailed
    // level allowed only clamps it.
    float l = lambda < 64.0f ? lambda : 64.0f;
    if (l < float(s.firstLevel)) l = float(s.firstLevel);
    if (s.mipFilter == D3DTEXF_POINT) {
        int level = int(l + 0.5f);
        if (level > last) level = last;
        return detail::SampleLevel(s, level, s.minFilter, u, v);
    }
    const int base = int(l);
    if (base >= last) return detail::SampleLevel(s, last, s.minFilter, u, v);
    const uint32_t c0 = detail::SampleLevel(s, base, s.minFilter, u, v);
    const uint32_t c1 = detail::SampleLevel(s, base + 1, s.minFilter, u, v);
    return detail::Lerp(c0, c1, detail::Weight(l - float(base)));
}

inline Color Sample(const TextureSampler& s, float u, float v, float rhoSquared) {
    return ColorFromArgb(SampleArgb(s, u, v, rhoSquared));
}

}  // namespace render
