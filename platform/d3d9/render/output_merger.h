// From the combined colour to the target: fog, alpha test, depth test,
// blending, dithering and the write, per pixel and inline.
#pragma once

#include <cmath>

#include "platform/d3d9/render/pixel_state.h"

namespace render {

inline bool Compare(DWORD func, uint32_t value, uint32_t reference) {
    switch (func) {
        case D3DCMP_NEVER: return false;
        case D3DCMP_LESS: return value < reference;
        case D3DCMP_EQUAL: return value == reference;
        case D3DCMP_LESSEQUAL: return value <= reference;
        case D3DCMP_GREATER: return value > reference;
        case D3DCMP_NOTEQUAL: return value != reference;
        case D3DCMP_GREATEREQUAL: return value >= reference;
        default: return true;
    }
}

// The fog factor f (1 = no fog) for a distance d.
inline float FogFactor(const PixelState& ps, float d) {
    switch (ps.fog) {
        case FogKind::Linear: return SaturateSafe((ps.fogEnd - d) * ps.fogScale);
        case FogKind::Exp: return SaturateSafe(std::exp(-ps.fogDensity * d));
        case FogKind::Exp2: { const float x = ps.fogDensity * d; return SaturateSafe(std::exp(-x * x)); }
        default: return 1.0f;
    }
}

inline void ApplyFog(const PixelState& ps, Color& c, float f) {
    c.r = f * c.r + (1 - f) * ps.fogColor.r;
    c.g = f * c.g + (1 - f) * ps.fogColor.g;
    c.b = f * c.b + (1 - f) * ps.fogColor.b;
}

inline uint32_t ToByte(float v) { return uint32_t(SaturateSafe(v) * 255.0f + 0.5f); }

// Depth as stored: round(clamp(zs) * 65535).
inline uint32_t ToDepth16(float z) { return uint32_t(SaturateSafe(z) * 65535.0f + 0.5f); }

namespace detail {

// The 4x4 ordered pattern as offsets (B + 0.5) / 16.
constexpr float kDither[4][4] = {{0.5f / 16, 8.5f / 16, 2.5f / 16, 10.5f / 16},
                                 {12.5f / 16, 4.5f / 16, 14.5f / 16, 6.5f / 16},
                                 {3.5f / 16, 11.5f / 16, 1.5f / 16, 9.5f / 16},
                                 {15.5f / 16, 7.5f / 16, 13.5f / 16, 5.5f / 16}};

inline Color ReadTarget(const PixelState& ps, const BYTE* p) {
    if (ps.target565) {
        const uint32_t v = uint32_t(p[0]) | (uint32_t(p[1]) << 8);
        return {float(v >> 11) * (1.0f / 31.0f), float((v >> 5) & 63) * (1.0f / 63.0f), float(v & 31) * (1.0f / 31.0f),
                1.0f};
    }
    const uint32_t v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
    return {float((v >> 16) & 0xFF) * (1.0f / 255.0f), float((v >> 8) & 0xFF) * (1.0f / 255.0f),
            float(v & 0xFF) * (1.0f / 255.0f), 1.0f};
}

inline Color Factor(DWORD factor, const Color& src, const Color& dst, const Color& constant, bool forDest) {
    switch (factor) {
        case D3DBLEND_ZERO: return {0, 0, 0, 0};
        case D3DBLEND_ONE: return {1, 1, 1, 1};
        case D3DBLEND_SRCCOLOR: return src;
        case D3DBLEND_INVSRCCOLOR: return {1 - src.r, 1 - src.g, 1 - src.b, 1 - src.a};
        case D3DBLEND_SRCALPHA: return {src.a, src.a, src.a, src.a};
        case D3DBLEND_INVSRCALPHA: return {1 - src.a, 1 - src.a, 1 - src.a, 1 - src.a};
        case D3DBLEND_DESTALPHA: return {dst.a, dst.a, dst.a, dst.a};
        case D3DBLEND_INVDESTALPHA: return {1 - dst.a, 1 - dst.a, 1 - dst.a, 1 - dst.a};
        case D3DBLEND_DESTCOLOR: return dst;
        case D3DBLEND_INVDESTCOLOR: return {1 - dst.r, 1 - dst.g, 1 - dst.b, 1 - dst.a};
        case D3DBLEND_SRCALPHASAT: {
            const float f = src.a < 1 - dst.a ? src.a : 1 - dst.a;
            return {f, f, f, 1};
        }
        // The source factor of BOTH* also fixes the destination factor.
        case D3DBLEND_BOTHSRCALPHA:
            return forDest ? Color{1 - src.a, 1 - src.a, 1 - src.a, 1 - src.a} : Color{src.a, src.a, src.a, src.a};
        case D3DBLEND_BOTHINVSRCALPHA:
            return forDest ? Color{src.a, src.a, src.a, src.a} : Color{1 - src.a, 1 - src.a, 1 - src.a, 1 - src.a};
        case D3DBLEND_BLENDFACTOR: return constant;
        case D3DBLEND_INVBLENDFACTOR: return {1 - constant.r, 1 - constant.g, 1 - constant.b, 1 - constant.a};
        default: return {1, 1, 1, 1};
    }
}

inline float BlendChannel(DWORD op, float s, float d) {
    switch (op) {
        case D3DBLENDOP_SUBTRACT: return s - d;
        case D3DBLENDOP_REVSUBTRACT: return d - s;
        case D3DBLENDOP_MIN: return s < d ? s : d;
        case D3DBLENDOP_MAX: return s > d ? s : d;
        default: return s + d;
    }
}

inline uint32_t Quantize(float v, float top, float offset) {
    // v is in [0, 1]; offset 0.5 rounds, a dither offset thresholds.
    const uint32_t n = uint32_t(v * top + offset);
    return n > uint32_t(top) ? uint32_t(top) : n;
}

}  // namespace detail

// Blends (when enabled), converts and writes one pixel at (x, y).
[[gnu::always_inline]] inline void WritePixel(const PixelState& ps, int x, int y, Color c) {
    BYTE* p = ps.target + ptrdiff_t(y) * ps.targetPitch + ptrdiff_t(x) * (ps.target565 ? 2 : 4);
    if (ps.blend) {
        const Color src{SaturateSafe(c.r), SaturateSafe(c.g), SaturateSafe(c.b), SaturateSafe(c.a)};
        if (ps.srcBlend == D3DBLEND_SRCALPHA && ps.dstBlend == D3DBLEND_INVSRCALPHA && ps.blendOp == D3DBLENDOP_ADD) {
            // The common case; an opaque source needs no read of the target.
            if (src.a < 1.0f) {
                const Color dst = detail::ReadTarget(ps, p);
                const float ia = 1 - src.a;
                c = {src.r * src.a + dst.r * ia, src.g * src.a + dst.g * ia, src.b * src.a + dst.b * ia, src.a};
            } else {
                c = src;
            }
        } else if (ps.blendOp == D3DBLENDOP_MIN || ps.blendOp == D3DBLENDOP_MAX) {
            // Minimum and maximum compare the colours themselves: the blend
            // factors do not apply.
            const Color dst = detail::ReadTarget(ps, p);
            c = {detail::BlendChannel(ps.blendOp, src.r, dst.r), detail::BlendChannel(ps.blendOp, src.g, dst.g),
                 detail::BlendChannel(ps.blendOp, src.b, dst.b), src.a};
        } else {
            const Color dst = detail::ReadTarget(ps, p);
            DWORD dstFactor = ps.dstBlend;
            if (ps.srcBlend == D3DBLEND_BOTHSRCALPHA || ps.srcBlend == D3DBLEND_BOTHINVSRCALPHA) dstFactor = ps.srcBlend;
            const Color fs = detail::Factor(ps.srcBlend, src, dst, ps.blendFactor, false);
            const Color fd = detail::Factor(dstFactor, src, dst, ps.blendFactor, true);
            c = {detail::BlendChannel(ps.blendOp, src.r * fs.r, dst.r * fd.r),
                 detail::BlendChannel(ps.blendOp, src.g * fs.g, dst.g * fd.g),
                 detail::BlendChannel(ps.blendOp, src.b * fs.b, dst.b * fd.b), src.a};
        }
    }
    const float r = SaturateSafe(c.r), g = SaturateSafe(c.g), b = SaturateSafe(c.b);
    if (ps.target565) {
        uint32_t v;
        if (ps.dither) {
            const float o = detail::kDither[y & 3][x & 3];
            v = (detail::Quantize(r, 31, o) << 11) | (detail::Quantize(g, 63, o) << 5) | detail::Quantize(b, 31, o);
        } else {
            v = (detail::Quantize(r, 31, 0.5f) << 11) | (detail::Quantize(g, 63, 0.5f) << 5) | detail::Quantize(b, 31, 0.5f);
        }
        if (ps.keepMask) v = (v & ~ps.keepMask) | ((uint32_t(p[0]) | (uint32_t(p[1]) << 8)) & ps.keepMask);
        p[0] = BYTE(v);
        p[1] = BYTE(v >> 8);
    } else {
        uint32_t v = 0xFF000000u | (detail::Quantize(r, 255, 0.5f) << 16) | (detail::Quantize(g, 255, 0.5f) << 8) |
                     detail::Quantize(b, 255, 0.5f);
        if (ps.keepMask) {
            const uint32_t old = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
            v = (v & ~ps.keepMask) | (old & ps.keepMask);
        }
        p[0] = BYTE(v);
        p[1] = BYTE(v >> 8);
        p[2] = BYTE(v >> 16);
        p[3] = BYTE(v >> 24);
    }
}

}  // namespace render
