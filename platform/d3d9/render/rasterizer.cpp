// Triangle setup, span finding and the per-pixel loop.
#include "platform/d3d9/render/rasterizer.h"

#include <algorithm>
#include <cstring>

#include "platform/d3d9/render/output_merger.h"

namespace render {

namespace {

struct Edge {
    int64_t dx, dy;  // fixed point
    int64_t stepX;   // change per pixel to the right
    int64_t stepY;   // change per pixel down
    int64_t origin;  // value (bias included) at the bounding box's first pixel
};

// A quantity interpolated over the triangle: value at the bounding box's
// first pixel plus per-pixel gradients.
struct Plane {
    float origin, dx, dy;
};

struct Setup {
    int minX, maxX, minY, maxY;
    Edge edges[3];
    Plane z, w;
    Plane v[kMaxVaryings];
    // Diffuse components equal at all three vertices are used as they are,
    // so a constant colour (or alpha of 1) stays exact.
    unsigned diffuseConstant;
    float diffuse[4];
};

int64_t FloorDiv(int64_t a, int64_t b) {  // b > 0
    int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

void MakePlane(Plane& p, double q0, double q1, double q2, double ex1, double ey1, double ex2, double ey2,
               double invArea, double ox, double oy) {
    const double d1 = q1 - q0, d2 = q2 - q0;
    const double gx = (d1 * ey2 - d2 * ey1) * invArea;
    const double gy = (d2 * ex1 - d1 * ex2) * invArea;
    p.dx = float(gx);
    p.dy = float(gy);
    p.origin = float(q0 + gx * ox + gy * oy);
}

// Shades the pixels [xl, xr] of row y.
void ShadeSpan(const PixelState& ps, const Setup& s, int y, int xl, int xr) {
    const float fy = float(y - s.minY), fx = float(xl - s.minX);
    float z = s.z.origin + s.z.dy * fy + s.z.dx * fx;
    float w = s.w.origin + s.w.dy * fy + s.w.dx * fx;
    const int n = ps.varyingCount;
    float v[kMaxVaryings], step[kMaxVaryings];
    for (int i = 0; i < n; ++i) {
        v[i] = s.v[i].origin + s.v[i].dy * fy + s.v[i].dx * fx;
        step[i] = s.v[i].dx;
    }
    WORD* depthRow = ps.depth ? ps.depth + ptrdiff_t(y) * ps.depthPitch : nullptr;
    const bool earlyDepth = ps.depthTest && !ps.alphaTest;
    for (int x = xl; x <= xr; ++x, z += s.z.dx, w += s.w.dx) {
        if (x != xl)
            for (int i = 0; i < n; ++i) v[i] += step[i];
        if (ps.rejectDepthOutside && !(z >= 0.0f && z <= 1.0f)) continue;
        uint32_t z16 = 0;
        if (ps.depthTest) {
            z16 = ToDepth16(z);
            if (earlyDepth) {
                if (!Compare(ps.depthFunc, z16, depthRow[x])) continue;
                if (ps.depthWrite) depthRow[x] = WORD(z16);
            }
        }
        const float iw = 1.0f / w;
        Color diffuse;
        if (s.diffuseConstant == 0xF) {
            diffuse = {s.diffuse[0], s.diffuse[1], s.diffuse[2], s.diffuse[3]};
        } else {
            diffuse = {v[0] * iw, v[1] * iw, v[2] * iw, v[3] * iw};
            if (s.diffuseConstant & 8) diffuse.a = s.diffuse[3];
        }
        Color c;
        auto sample = [&](const StageSetup& st) __attribute__((always_inline)) {
            const float u = v[st.uvAt] * iw, vv = v[st.uvAt + 1] * iw;
            float rho2 = 0;
            if (st.sampler.needsLod) {
                const Plane& pu = s.v[st.uvAt];
                const Plane& pv = s.v[st.uvAt + 1];
                const TextureLevel& l0 = st.sampler.levels[0];
                const float dudx = (pu.dx - u * s.w.dx) * iw * l0.fwidth;
                const float dvdx = (pv.dx - vv * s.w.dx) * iw * l0.fheight;
                const float dudy = (pu.dy - u * s.w.dy) * iw * l0.fwidth;
                const float dvdy = (pv.dy - vv * s.w.dy) * iw * l0.fheight;
                const float rx = dudx * dudx + dvdx * dvdx, ry = dudy * dudy + dvdy * dvdy;
                rho2 = rx > ry ? rx : ry;
            }
            return SampleArgb(st.sampler, u, vv, rho2);
        };
        if (ps.combine == CombineKind::Diffuse) {
            c = diffuse;
        } else if (ps.combine == CombineKind::ModulateTexture) {
            const Color t = ColorFromArgb(sample(ps.stages[0]));
            c = {t.r * diffuse.r, t.g * diffuse.g, t.b * diffuse.b, t.a * diffuse.a};
        } else {
            Color textures[kTextureStages];
            for (int t = 0; t < ps.stageCount; ++t)
                textures[t] = ps.stages[t].sampled ? ColorFromArgb(sample(ps.stages[t])) : Color{1, 1, 1, 1};
            Color specular{0, 0, 0, 0};
            if (ps.specularAt >= 0)
                specular = {v[ps.specularAt] * iw, v[ps.specularAt + 1] * iw, v[ps.specularAt + 2] * iw, 0};
            c = CombineStages(ps.stages, ps.stageCount, diffuse, specular, ps.textureFactor, textures);
        }
        if (ps.specularAdd) {
            c.r = Saturate(c.r + v[ps.specularAt] * iw);
            c.g = Saturate(c.g + v[ps.specularAt + 1] * iw);
            c.b = Saturate(c.b + v[ps.specularAt + 2] * iw);
        }
        if (ps.fog != FogKind::None) {
            const float f = ps.fog == FogKind::Vertex ? SaturateSafe(v[ps.fogAt] * iw)
                                                      : FogFactor(ps, ps.fogFromW ? iw : z);
            ApplyFog(ps, c, f);
        }
        if (ps.alphaTest) {
            if (!Compare(ps.alphaFunc, ToByte(c.a), ps.alphaRef)) continue;
            if (ps.depthTest) {
                if (!Compare(ps.depthFunc, z16, depthRow[x])) continue;
                if (ps.depthWrite) depthRow[x] = WORD(z16);
            }
        }
        if (ps.writesColor) WritePixel(ps, x, y, c);
    }
}

// Calls fn(y, xl, xr) for each row's run of covered pixels in the rows
// that are ours; returns the number of pixels covered.
template <typename Fn>
int64_t ForEachSpan(const Setup& s, const RowFilter& rows, Fn&& fn) {
    const int width = s.maxX - s.minX + 1;
    int64_t covered = 0;
#ifdef VINTREL_SAMPLER_SSE2
    // Narrow triangles whose edge values stay well inside 32 bits over the
    // whole box (a linear function peaks at the box's corners) test the
    // pixels four at a time.
    bool narrow32 = width <= 24;
    __m128i ramp[3], step4[3];
    const uint32_t widthMask = width >= 32 ? ~0u : (1u << width) - 1;
    if (narrow32) {
        const int64_t limit = int64_t(1) << 30;
        for (int k = 0; k < 3 && narrow32; ++k) {
            const Edge& ed = s.edges[k];
            const int64_t across = ed.stepX * (width + 3), down = ed.stepY * (s.maxY - s.minY);
            for (const int64_t v : {ed.origin, ed.origin + across, ed.origin + down, ed.origin + across + down})
                if (v <= -limit || v >= limit) narrow32 = false;
            if (ed.stepX <= -limit / 8 || ed.stepX >= limit / 8) narrow32 = false;
        }
        for (int k = 0; k < 3 && narrow32; ++k) {
            const int32_t sx = int32_t(s.edges[k].stepX);
            ramp[k] = _mm_setr_epi32(0, sx, 2 * sx, 3 * sx);
            step4[k] = _mm_set1_epi32(4 * sx);
        }
    }
#endif
    for (int y = s.minY; y <= s.maxY; ++y) {
        if (!rows.Owns(y)) {
            // Skip to the next band.
            y = (((y >> kBandRowsShift) + 1) << kBandRowsShift) - 1;
            continue;
        }
        const int64_t dyRows = y - s.minY;
        int64_t e[3];
        for (int k = 0; k < 3; ++k) e[k] = s.edges[k].origin + s.edges[k].stepY * dyRows;
        int xl = s.minX, xr = s.maxX;
#ifdef VINTREL_SAMPLER_SSE2
        if (narrow32) {
            // Four pixels per step: the sign bits of the three edge values
            // or'ed together mark the pixels outside.
            const __m128i e0 = _mm_add_epi32(_mm_set1_epi32(int32_t(e[0])), ramp[0]);
            const __m128i e1 = _mm_add_epi32(_mm_set1_epi32(int32_t(e[1])), ramp[1]);
            const __m128i e2 = _mm_add_epi32(_mm_set1_epi32(int32_t(e[2])), ramp[2]);
            uint32_t inside = 0;
            __m128i a = e0, b = e1, c = e2;
            for (int i = 0; i < width; i += 4) {
                const int outside = _mm_movemask_ps(_mm_castsi128_ps(_mm_or_si128(_mm_or_si128(a, b), c)));
                inside |= uint32_t(~outside & 0xF) << i;
                a = _mm_add_epi32(a, step4[0]), b = _mm_add_epi32(b, step4[1]), c = _mm_add_epi32(c, step4[2]);
            }
            inside &= widthMask;
            if (inside == 0) continue;
            // Each edge is linear along the row, so the inside pixels are
            // one run.
            xl = s.minX + __builtin_ctz(inside);
            xr = s.minX + 31 - __builtin_clz(inside);
        } else
#endif
        if (width <= 24) {
            // Narrow: test the pixels; a triangle's row is one run.
            int first = -1, last = -2;
            for (int i = 0; i < width; ++i) {
                if ((e[0] | e[1] | e[2]) >= 0) {
                    if (first < 0) first = i;
                    last = i;
                } else if (first >= 0) {
                    break;
                }
                for (int k = 0; k < 3; ++k) e[k] += s.edges[k].stepX;
            }
            if (first < 0) continue;
            xl = s.minX + first;
            xr = s.minX + last;
        } else {
            bool empty = false;
            for (int k = 0; k < 3 && !empty; ++k) {
                const int64_t step = s.edges[k].stepX;
                if (step > 0) {
                    if (e[k] < 0) xl = std::max<int64_t>(xl, s.minX - FloorDiv(e[k], step));
                } else if (step < 0) {
                    if (e[k] < 0)
                        empty = true;
                    else
                        xr = int(std::min<int64_t>(xr, s.minX + e[k] / -step));
                } else if (e[k] < 0) {
                    empty = true;
                }
            }
            if (empty || xl > xr) continue;
        }
        fn(y, xl, xr);
        covered += xr - xl + 1;
    }
    return covered;
}

// The demo's usual state, decided once per triangle: one texture modulated
// by the diffuse colour over wrapped power-of-two levels, less-or-equal
// depth tested before shading, source-alpha blending into a dithered 565
// target; with or without linear w-fog, with a level-of-detail choice over
// trilinear levels or one bilinear level, pre-transformed or not. Returns
// -1 for any other state, else bit 0 for fog and bit 1 for the
// level-of-detail choice.
int TexturedSpanKind(const PixelState& ps) {
    const StageSetup& st = ps.stages[0];
    const TextureSampler& sm = st.sampler;
    const bool fog = ps.fog == FogKind::Linear && ps.fogFromW;
    const bool lod = sm.needsLod && sm.minFilter == D3DTEXF_LINEAR && sm.mipFilter == D3DTEXF_LINEAR;
    const bool fits = ps.combine == CombineKind::ModulateTexture && ps.varyingCount == 6 && st.uvAt == 4 &&
                      !ps.specularAdd && ps.specularAt < 0 && (fog || ps.fog == FogKind::None) && !ps.alphaTest &&
                      ps.depthTest && ps.depthFunc == D3DCMP_LESSEQUAL && ps.blend &&
                      ps.srcBlend == D3DBLEND_SRCALPHA && ps.dstBlend == D3DBLEND_INVSRCALPHA &&
                      ps.blendOp == D3DBLENDOP_ADD && ps.target565 && ps.dither && ps.keepMask == 0 &&
                      ps.writesColor && sm.wrapMask && sm.magFilter == D3DTEXF_LINEAR && (lod || !sm.needsLod);
    return fits ? int(fog) | (int(lod) << 1) : -1;
}

// Bilinear sample of a wrapped power-of-two level, as SampleLinear.
[[gnu::always_inline]] inline uint32_t SampleWrapLinear(const TextureLevel& l, float u, float v) {
    const float x = detail::ClampCoord(u * l.fwidth - 0.5f);
    const float y = detail::ClampCoord(v * l.fheight - 0.5f);
    const int i = detail::Floor(x), j = detail::Floor(y);
    const uint32_t a = detail::Weight(x - float(i)), b = detail::Weight(y - float(j));
    const int x0 = i & l.widthMask, x1 = (i + 1) & l.widthMask;
    const uint32_t* r0 = l.texels + size_t(j & l.heightMask) * size_t(l.pitch);
    const uint32_t* r1 = l.texels + size_t((j + 1) & l.heightMask) * size_t(l.pitch);
    return detail::Bilinear(r0[x0], r0[x1], r1[x0], r1[x1], a, b);
}

// The usual state with fog and trilinear sampling, one pixel at a time. The
// arithmetic is ShadeSpan's, operation for operation, so the pixels are the
// same; what goes is the state reloads and branches around it.
[[maybe_unused]] void ShadeTexturedSpan(const PixelState& ps, const Setup& s, int y, int xl, int xr) {
    const float fy = float(y - s.minY), fx = float(xl - s.minX);
    float z = s.z.origin + s.z.dy * fy + s.z.dx * fx;
    float w = s.w.origin + s.w.dy * fy + s.w.dx * fx;
    float v[6], step[6];
    for (int i = 0; i < 6; ++i) {
        v[i] = s.v[i].origin + s.v[i].dy * fy + s.v[i].dx * fx;
        step[i] = s.v[i].dx;
    }
    const float zdx = s.z.dx, wdx = s.w.dx, wdy = s.w.dy;
    const TextureSampler& sm = ps.stages[0].sampler;
    const TextureLevel* const levels = sm.levels;
    const float fw0 = levels[0].fwidth, fh0 = levels[0].fheight;
    const float pudx = s.v[4].dx, pudy = s.v[4].dy, pvdx = s.v[5].dx, pvdy = s.v[5].dy;
    const float lodBias = sm.lodBias;
    const int first = sm.firstLevel, last = sm.levelCount - 1;
    const uint32_t alphaOr = sm.alphaOr;
    const unsigned diffuseConstant = s.diffuseConstant;
    const Color constDiffuse{s.diffuse[0], s.diffuse[1], s.diffuse[2], s.diffuse[3]};
    const float fogEnd = ps.fogEnd, fogScale = ps.fogScale;
    const Color fogColor = ps.fogColor;
    const bool depthWrite = ps.depthWrite;
    WORD* const depthRow = ps.depth + ptrdiff_t(y) * ps.depthPitch;
    BYTE* const row = ps.target + ptrdiff_t(y) * ps.targetPitch;
    const float* const dither = detail::kDither[y & 3];
    for (int x = xl; x <= xr; ++x, z += zdx, w += wdx) {
        if (x != xl)
            for (int i = 0; i < 6; ++i) v[i] += step[i];
        const uint32_t z16 = ToDepth16(z);
        if (!(z16 <= depthRow[x])) continue;
        if (depthWrite) depthRow[x] = WORD(z16);
        const float iw = 1.0f / w;
        Color diffuse;
        if (diffuseConstant == 0xF) {
            diffuse = constDiffuse;
        } else {
            diffuse = {v[0] * iw, v[1] * iw, v[2] * iw, v[3] * iw};
            if (diffuseConstant & 8) diffuse.a = constDiffuse.a;
        }
        const float u = v[4] * iw, vv = v[5] * iw;
        const float dudx = (pudx - u * wdx) * iw * fw0;
        const float dvdx = (pvdx - vv * wdx) * iw * fh0;
        const float dudy = (pudy - u * wdy) * iw * fw0;
        const float dvdy = (pvdy - vv * wdy) * iw * fh0;
        const float rx = dudx * dudx + dvdx * dvdx, ry = dudy * dudy + dvdy * dvdy;
        const float rho2 = rx > ry ? rx : ry;
        const float lambda = (rho2 > 0.0f ? 0.5f * FastLog2(rho2) : -1000.0f) + lodBias;
        uint32_t argb;
        if (!(lambda > 0.0f) || last == first) {
            argb = SampleWrapLinear(levels[first], u, vv);
        } else {
            const float l = lambda < 64.0f ? lambda : 64.0f;
            const int base = int(l);
            const int l0 = first + base;
            if (l0 >= last) {
                argb = SampleWrapLinear(levels[last], u, vv);
            } else {
                const uint32_t c0 = SampleWrapLinear(levels[l0], u, vv);
                const uint32_t c1 = SampleWrapLinear(levels[l0 + 1], u, vv);
                argb = detail::Lerp(c0, c1, detail::Weight(l - float(base)));
            }
        }
        const Color t = ColorFromArgb(argb | alphaOr);
        Color c{t.r * diffuse.r, t.g * diffuse.g, t.b * diffuse.b, t.a * diffuse.a};
        const float f = SaturateSafe((fogEnd - iw) * fogScale);
        c.r = f * c.r + (1 - f) * fogColor.r;
        c.g = f * c.g + (1 - f) * fogColor.g;
        c.b = f * c.b + (1 - f) * fogColor.b;
        BYTE* p = row + ptrdiff_t(x) * 2;
        const Color src{SaturateSafe(c.r), SaturateSafe(c.g), SaturateSafe(c.b), SaturateSafe(c.a)};
        if (src.a < 1.0f) {
            const uint32_t old = uint32_t(p[0]) | (uint32_t(p[1]) << 8);
            const float dr = float(old >> 11) * (1.0f / 31.0f), dg = float((old >> 5) & 63) * (1.0f / 63.0f),
                        db = float(old & 31) * (1.0f / 31.0f);
            const float ia = 1 - src.a;
            c = {src.r * src.a + dr * ia, src.g * src.a + dg * ia, src.b * src.a + db * ia, src.a};
        } else {
            c = src;
        }
        const float r = SaturateSafe(c.r), g = SaturateSafe(c.g), b = SaturateSafe(c.b);
        const float o = dither[x & 3];
        const uint32_t out =
            (detail::Quantize(r, 31, o) << 11) | (detail::Quantize(g, 63, o) << 5) | detail::Quantize(b, 31, o);
        p[0] = BYTE(out);
        p[1] = BYTE(out >> 8);
    }
}


#ifdef VINTREL_SAMPLER_SSE2
// FastLog2 on four lanes, operation for operation.
[[gnu::always_inline]] inline __m128 FastLog2x4(__m128 x) {
    const __m128i bits = _mm_castps_si128(x);
    const __m128i exponent =
        _mm_sub_epi32(_mm_and_si128(_mm_srli_epi32(bits, 23), _mm_set1_epi32(0xFF)), _mm_set1_epi32(127));
    const __m128 m = _mm_castsi128_ps(
        _mm_or_si128(_mm_and_si128(bits, _mm_set1_epi32(0x007FFFFF)), _mm_set1_epi32(0x3F800000)));
    const __m128 t = _mm_sub_ps(m, _mm_set1_ps(1.0f));
    const __m128 r = _mm_mul_ps(
        t, _mm_add_ps(_mm_set1_ps(1.4234952f),
                      _mm_mul_ps(t, _mm_add_ps(_mm_set1_ps(-0.5877732f), _mm_mul_ps(t, _mm_set1_ps(0.1642780f))))));
    return _mm_add_ps(_mm_cvtepi32_ps(exponent), r);
}

// Same branch-free form as SaturateSafe: NaN becomes 0.
[[gnu::always_inline]] inline __m128 Saturate4(__m128 v) {
    return _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(1.0f));
}

// Quantize on four lanes: truncation of v * top + offset, at most top.
[[gnu::always_inline]] inline __m128i Quantize4(__m128 v, float top, __m128 offset) {
    const __m128i n = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, _mm_set1_ps(top)), offset));
    const __m128i t = _mm_set1_epi32(int(top));
    const __m128i over = _mm_cmpgt_epi32(n, t);
    return _mm_or_si128(_mm_and_si128(over, t), _mm_andnot_si128(over, n));
}

// Per-lane weights (32-bit lanes, 0..256) spread over the 16-bit channels
// of the low two and the high two pixels.
[[gnu::always_inline]] inline void SpreadWeights(__m128i w, __m128i& lo, __m128i& hi) {
    const __m128i w16 = _mm_packs_epi32(w, w);          // w0 w1 w2 w3 w0 w1 w2 w3
    const __m128i pairs = _mm_unpacklo_epi16(w16, w16);  // w0 w0 w1 w1 w2 w2 w3 w3
    lo = _mm_unpacklo_epi32(pairs, pairs);               // w0 x4, w1 x4
    hi = _mm_unpackhi_epi32(pairs, pairs);               // w2 x4, w3 x4
}

// Four A8R8G8B8 pixels widened to 16-bit channels: pixels 0 and 1 in lo,
// 2 and 3 in hi. Chained blends stay widened; each step is Lerp's sum and
// shift, so the channels are what the packed blends give.
struct Pixels16 {
    __m128i lo, hi;
};

// Per-lane weights w (0..256) spread over the channels, with 256 - w.
struct Weights16 {
    __m128i lo, hi, invLo, invHi;
    [[gnu::always_inline]] explicit Weights16(__m128i w) {
        SpreadWeights(w, lo, hi);
        const __m128i full = _mm_set1_epi16(256);
        invLo = _mm_sub_epi16(full, lo), invHi = _mm_sub_epi16(full, hi);
    }
};

[[gnu::always_inline]] inline __m128i Lerp16(__m128i a, __m128i b, __m128i w, __m128i iw) {
    return _mm_srli_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(a, iw), _mm_mullo_epi16(b, w)), _mm_set1_epi16(0x80)), 8);
}

// One texture level per lane: what bilinear addressing needs of it.
struct Levels4 {
    __m128 fw, fh;
    __m128i wm, hm;
    const uint32_t* texels[4];
    int pitch[4];
    // One level for all lanes whose row offsets fit 16-bit multiplies:
    // texel offsets are then worked out on four lanes at once.
    bool shared = false;
    __m128i pitch4;
};

// The levels `index` names, lane by lane; one broadcast when the four
// lanes agree, as they mostly do.
[[gnu::always_inline]] inline void GatherLevels(const TextureLevel* levels, __m128i index, Levels4& out) {
    const __m128i lane0 = _mm_shuffle_epi32(index, _MM_SHUFFLE(0, 0, 0, 0));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(index, lane0)) == 0xFFFF) {
        const TextureLevel& l = levels[_mm_cvtsi128_si32(index)];
        out.fw = _mm_set1_ps(l.fwidth), out.fh = _mm_set1_ps(l.fheight);
        out.wm = _mm_set1_epi32(l.widthMask), out.hm = _mm_set1_epi32(l.heightMask);
        for (int k = 0; k < 4; ++k) out.texels[k] = l.texels, out.pitch[k] = l.pitch;
        out.shared = l.pitch >= 0 && l.pitch <= 32767 && l.heightMask <= 32767;
        out.pitch4 = _mm_set1_epi32(l.pitch);
        return;
    }
    alignas(16) int32_t at[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(at), index);
    const TextureLevel &l0 = levels[at[0]], &l1 = levels[at[1]], &l2 = levels[at[2]], &l3 = levels[at[3]];
    out.fw = _mm_setr_ps(l0.fwidth, l1.fwidth, l2.fwidth, l3.fwidth);
    out.fh = _mm_setr_ps(l0.fheight, l1.fheight, l2.fheight, l3.fheight);
    out.wm = _mm_setr_epi32(l0.widthMask, l1.widthMask, l2.widthMask, l3.widthMask);
    out.hm = _mm_setr_epi32(l0.heightMask, l1.heightMask, l2.heightMask, l3.heightMask);
    out.texels[0] = l0.texels, out.texels[1] = l1.texels, out.texels[2] = l2.texels, out.texels[3] = l3.texels;
    out.pitch[0] = l0.pitch, out.pitch[1] = l1.pitch, out.pitch[2] = l2.pitch, out.pitch[3] = l3.pitch;
}

// SampleWrapLinear on four lanes, each from its own level. Wrapping masks
// keep every fetch inside its level, whatever the coordinates.
[[gnu::always_inline]] inline Pixels16 Bilinear4(const Levels4& l, __m128 u, __m128 v) {
    const __m128 limit = _mm_set1_ps(8388608.0f), nlimit = _mm_set1_ps(-8388608.0f), halfTexel = _mm_set1_ps(0.5f);
    const __m128 x = _mm_min_ps(_mm_max_ps(_mm_sub_ps(_mm_mul_ps(u, l.fw), halfTexel), nlimit), limit);
    const __m128 y = _mm_min_ps(_mm_max_ps(_mm_sub_ps(_mm_mul_ps(v, l.fh), halfTexel), nlimit), limit);
    const __m128i xt = _mm_cvttps_epi32(x), yt = _mm_cvttps_epi32(y);
    const __m128i i = _mm_add_epi32(xt, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(xt), x)));
    const __m128i j = _mm_add_epi32(yt, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(yt), y)));
    const __m128 w256 = _mm_set1_ps(256.0f);
    const __m128i wa = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(x, _mm_cvtepi32_ps(i)), w256), halfTexel));
    const __m128i wb = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(y, _mm_cvtepi32_ps(j)), w256), halfTexel));
    const __m128i oneI = _mm_set1_epi32(1);
    const __m128i x0v = _mm_and_si128(i, l.wm), x1v = _mm_and_si128(_mm_add_epi32(i, oneI), l.wm);
    const __m128i y0v = _mm_and_si128(j, l.hm), y1v = _mm_and_si128(_mm_add_epi32(j, oneI), l.hm);
    auto load = [](const uint32_t* p) { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); };
    __m128i q00, q10, q01, q11;
    if (l.shared) {
        // Row offsets y * pitch (both below 2^15, so one 16-bit multiply).
        const __m128i row0 = _mm_madd_epi16(y0v, l.pitch4), row1 = _mm_madd_epi16(y1v, l.pitch4);
        const uint32_t* const base = l.texels[0];
        alignas(16) int32_t o0[4], o1[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(o0), _mm_add_epi32(row0, x0v));
        _mm_store_si128(reinterpret_cast<__m128i*>(o1), _mm_add_epi32(row1, x0v));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(x0v, l.wm)) == 0) {
            // No lane wraps across the right edge: each row's two texels
            // are neighbours, one 64-bit load per row and lane.
            auto pair = [&](int32_t o) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(base + o)); };
            const __m128 top01 = _mm_castsi128_ps(_mm_unpacklo_epi64(pair(o0[0]), pair(o0[1])));
            const __m128 top23 = _mm_castsi128_ps(_mm_unpacklo_epi64(pair(o0[2]), pair(o0[3])));
            const __m128 bottom01 = _mm_castsi128_ps(_mm_unpacklo_epi64(pair(o1[0]), pair(o1[1])));
            const __m128 bottom23 = _mm_castsi128_ps(_mm_unpacklo_epi64(pair(o1[2]), pair(o1[3])));
            q00 = _mm_castps_si128(_mm_shuffle_ps(top01, top23, _MM_SHUFFLE(2, 0, 2, 0)));
            q10 = _mm_castps_si128(_mm_shuffle_ps(top01, top23, _MM_SHUFFLE(3, 1, 3, 1)));
            q01 = _mm_castps_si128(_mm_shuffle_ps(bottom01, bottom23, _MM_SHUFFLE(2, 0, 2, 0)));
            q11 = _mm_castps_si128(_mm_shuffle_ps(bottom01, bottom23, _MM_SHUFFLE(3, 1, 3, 1)));
        } else {
            alignas(16) int32_t o2[4], o3[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(o2), _mm_add_epi32(row0, x1v));
            _mm_store_si128(reinterpret_cast<__m128i*>(o3), _mm_add_epi32(row1, x1v));
            q00 = _mm_setr_epi32(int(base[o0[0]]), int(base[o0[1]]), int(base[o0[2]]), int(base[o0[3]]));
            q10 = _mm_setr_epi32(int(base[o2[0]]), int(base[o2[1]]), int(base[o2[2]]), int(base[o2[3]]));
            q01 = _mm_setr_epi32(int(base[o1[0]]), int(base[o1[1]]), int(base[o1[2]]), int(base[o1[3]]));
            q11 = _mm_setr_epi32(int(base[o3[0]]), int(base[o3[1]]), int(base[o3[2]]), int(base[o3[3]]));
        }
    } else {
        alignas(16) int32_t x0[4], x1[4], y0[4], y1[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(x0), x0v);
        _mm_store_si128(reinterpret_cast<__m128i*>(x1), x1v);
        _mm_store_si128(reinterpret_cast<__m128i*>(y0), y0v);
        _mm_store_si128(reinterpret_cast<__m128i*>(y1), y1v);
        alignas(16) uint32_t t00[4], t10[4], t01[4], t11[4];
        for (int k = 0; k < 4; ++k) {
            const uint32_t* r0 = l.texels[k] + size_t(y0[k]) * size_t(l.pitch[k]);
            const uint32_t* r1 = l.texels[k] + size_t(y1[k]) * size_t(l.pitch[k]);
            t00[k] = r0[x0[k]], t10[k] = r0[x1[k]], t01[k] = r1[x0[k]], t11[k] = r1[x1[k]];
        }
        q00 = load(t00), q10 = load(t10), q01 = load(t01), q11 = load(t11);
    }
    const __m128i zero = _mm_setzero_si128();
    const Weights16 ha(wa), vb(wb);
    const __m128i topLo = Lerp16(_mm_unpacklo_epi8(q00, zero), _mm_unpacklo_epi8(q10, zero), ha.lo, ha.invLo);
    const __m128i topHi = Lerp16(_mm_unpackhi_epi8(q00, zero), _mm_unpackhi_epi8(q10, zero), ha.hi, ha.invHi);
    const __m128i bottomLo = Lerp16(_mm_unpacklo_epi8(q01, zero), _mm_unpacklo_epi8(q11, zero), ha.lo, ha.invLo);
    const __m128i bottomHi = Lerp16(_mm_unpackhi_epi8(q01, zero), _mm_unpackhi_epi8(q11, zero), ha.hi, ha.invHi);
    return {Lerp16(topLo, bottomLo, vb.lo, vb.invLo), Lerp16(topHi, bottomHi, vb.hi, vb.invHi)};
}

// ShadeTexturedSpan four pixels at a time, the four taken from anywhere in
// the triangle: the spans' pixels that pass the depth test are queued and
// shaded in fours, so short rows do not leave lanes idle. The interpolated
// values are stepped one pixel after the other along each row, exactly as
// the one-pixel loop steps them ([z w d0 d1] and [d2 d3 u v] side by side
// in two registers), and the per-pixel arithmetic then runs on four lanes
// with the same operations in the same order. Depth is tested and written
// when a pixel is queued; the pixels of one triangle never overlap, so the
// colour written is the same as shading them one by one.
template <bool kFog, bool kLod>
class TexturedQueue {
public:
    TexturedQueue(const PixelState& ps, const Setup& s)
        : ps_(ps), s_(s), sm_(ps.stages[0].sampler), levels_(sm_.levels) {
        originA_ = _mm_setr_ps(s.z.origin, s.w.origin, s.v[0].origin, s.v[1].origin);
        originB_ = _mm_setr_ps(s.v[2].origin, s.v[3].origin, s.v[4].origin, s.v[5].origin);
        dxA_ = _mm_setr_ps(s.z.dx, s.w.dx, s.v[0].dx, s.v[1].dx);
        dxB_ = _mm_setr_ps(s.v[2].dx, s.v[3].dx, s.v[4].dx, s.v[5].dx);
        dyA_ = _mm_setr_ps(s.z.dy, s.w.dy, s.v[0].dy, s.v[1].dy);
        dyB_ = _mm_setr_ps(s.v[2].dy, s.v[3].dy, s.v[4].dy, s.v[5].dy);
        depthWrite_ = ps.depthWrite;
        rejectOutside_ = ps.rejectDepthOutside;
        // Shade's constants, broadcast once per triangle.
        fw0_ = _mm_set1_ps(levels_[0].fwidth), fh0_ = _mm_set1_ps(levels_[0].fheight);
        wdx_ = _mm_set1_ps(s.w.dx), wdy_ = _mm_set1_ps(s.w.dy);
        pudx_ = _mm_set1_ps(s.v[4].dx), pvdx_ = _mm_set1_ps(s.v[5].dx);
        pudy_ = _mm_set1_ps(s.v[4].dy), pvdy_ = _mm_set1_ps(s.v[5].dy);
        lodBias_ = _mm_set1_ps(sm_.lodBias);
        fogEnd_ = _mm_set1_ps(ps.fogEnd), fogScale_ = _mm_set1_ps(ps.fogScale);
        fogR_ = _mm_set1_ps(ps.fogColor.r), fogG_ = _mm_set1_ps(ps.fogColor.g), fogB_ = _mm_set1_ps(ps.fogColor.b);
        for (int i = 0; i < 4; ++i) diffuse_[i] = _mm_set1_ps(s.diffuse[i]);
        alphaOr_ = _mm_set1_epi32(int(sm_.alphaOr));
    }

    // Steps along [xl, xr] of row y, queueing the pixels that pass.
    void Span(int y, int xl, int xr) {
        const __m128 fy = _mm_set1_ps(float(y - s_.minY)), fx = _mm_set1_ps(float(xl - s_.minX));
        __m128 a = _mm_add_ps(_mm_add_ps(originA_, _mm_mul_ps(dyA_, fy)), _mm_mul_ps(dxA_, fx));
        __m128 b = _mm_add_ps(_mm_add_ps(originB_, _mm_mul_ps(dyB_, fy)), _mm_mul_ps(dxB_, fx));
        WORD* const depthRow = ps_.depth + ptrdiff_t(y) * ps_.depthPitch;
        BYTE* const row = ps_.target + ptrdiff_t(y) * ps_.targetPitch;
        const float* const dither = detail::kDither[y & 3];
        const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
        const __m128 scale = _mm_set1_ps(65535.0f), half = _mm_set1_ps(0.5f);
        const __m128 dxA = dxA_, dxB = dxB_;
        const bool depthWrite = depthWrite_, rejectOutside = rejectOutside_;
        // The queue's length in a local: the stores below could otherwise
        // be taken to change it.
        int n = n_;
        for (int x = xl;; ++x) {
            const float z = _mm_cvtss_f32(a);
            if (!rejectOutside || (z >= 0.0f && z <= 1.0f)) {
                // ToDepth16 as the four-lane form computes it.
                const __m128 zs = _mm_min_ss(_mm_max_ss(a, zero), one);
                const uint32_t z16 = uint32_t(_mm_cvttss_si32(_mm_add_ss(_mm_mul_ss(zs, scale), half)));
                if (z16 <= depthRow[x]) {
                    if (depthWrite) depthRow[x] = WORD(z16);
                    _mm_store_ps(qa_[n], a);
                    _mm_store_ps(qb_[n], b);
                    dst_[n] = row + ptrdiff_t(x) * 2;
                    dither_[n] = dither[x & 3];
                    if (++n == kQueue) {
                        n_ = kQueue;
                        Shade();
                        n = 0;
                    }
                }
            }
            if (x == xr) break;
            a = _mm_add_ps(a, dxA);
            b = _mm_add_ps(b, dxB);
        }
        n_ = n;
    }

    // Shades what is left; the idle lanes of the last four repeat the
    // first pixel and write nothing.
    void Flush() {
        if (n_ == 0) return;
        for (int k = n_; k % 4 != 0; ++k) {
            std::memcpy(qa_[k], qa_[0], sizeof qa_[0]);
            std::memcpy(qb_[k], qb_[0], sizeof qb_[0]);
            dst_[k] = dst_[0];
            dither_[k] = dither_[0];
        }
        Shade();
        n_ = 0;
    }

private:
    void Shade();

    const PixelState& ps_;
    const Setup& s_;
    const TextureSampler& sm_;
    const TextureLevel* const levels_;
    __m128 originA_, originB_, dxA_, dxB_, dyA_, dyB_;
    __m128 fw0_, fh0_, wdx_, wdy_, pudx_, pvdx_, pudy_, pvdy_, lodBias_, fogEnd_, fogScale_, fogR_, fogG_, fogB_;
    __m128 diffuse_[4];
    __m128i alphaOr_;
    bool depthWrite_, rejectOutside_;
    int n_ = 0;
    static constexpr int kQueue = 16;
    alignas(16) float qa_[kQueue][4];
    alignas(16) float qb_[kQueue][4];
    alignas(16) float dither_[kQueue];
    BYTE* dst_[kQueue];
};

template <bool kFog, bool kLod>
void TexturedQueue<kFog, kLod>::Shade() {
    // The queued pixels in fours, each stage run on every four before the
    // next stage starts, so the long dependency chains of the fours
    // overlap.
    const Setup& s = s_;
    const __m128 one = _mm_set1_ps(1.0f);
    struct Four {
        __m128 iw, u, v, dr, dg, db, da;
        __m128i levelA, levelB, weight;
        Pixels16 colour;
    };
    Four fours[kQueue / 4];
    const int count = (n_ + 3) / 4;
    for (int h = 0; h < count; ++h) {
        Four& Q = fours[h];
        const int q0 = 4 * h;
        __m128 z = _mm_load_ps(qa_[q0]), w = _mm_load_ps(qa_[q0 + 1]);
        __m128 d0 = _mm_load_ps(qa_[q0 + 2]), d1 = _mm_load_ps(qa_[q0 + 3]);
        _MM_TRANSPOSE4_PS(z, w, d0, d1);
        __m128 d2 = _mm_load_ps(qb_[q0]), d3 = _mm_load_ps(qb_[q0 + 1]);
        __m128 tu = _mm_load_ps(qb_[q0 + 2]), tv = _mm_load_ps(qb_[q0 + 3]);
        _MM_TRANSPOSE4_PS(d2, d3, tu, tv);
        const __m128 iw = _mm_div_ps(one, w);
        Q.iw = iw;
        __m128 dr, dg, db, da;
        if (s.diffuseConstant == 0xF) {
            dr = diffuse_[0], dg = diffuse_[1], db = diffuse_[2], da = diffuse_[3];
        } else {
            dr = _mm_mul_ps(d0, iw), dg = _mm_mul_ps(d1, iw), db = _mm_mul_ps(d2, iw);
            da = (s.diffuseConstant & 8) ? diffuse_[3] : _mm_mul_ps(d3, iw);
        }
        Q.dr = dr, Q.dg = dg, Q.db = db, Q.da = da;
        const __m128 u = _mm_mul_ps(tu, iw), vv = _mm_mul_ps(tv, iw);
        Q.u = u, Q.v = vv;
        // Per lane the two levels and the weight between them; a single level
        // has weight 0, and when no lane blends the second fetch is skipped
        // (a blend at weight 0 gives the first level back unchanged).
        const int first = sm_.firstLevel, last = sm_.levelCount - 1;
        __m128i levelA = _mm_set1_epi32(first), levelB = levelA, weight = _mm_setzero_si128();
        if constexpr (kLod) {
            const __m128 fw0 = fw0_, fh0 = fh0_, wdx = wdx_, wdy = wdy_;
            const __m128 dudx = _mm_mul_ps(_mm_mul_ps(_mm_sub_ps(pudx_, _mm_mul_ps(u, wdx)), iw), fw0);
            const __m128 dvdx = _mm_mul_ps(_mm_mul_ps(_mm_sub_ps(pvdx_, _mm_mul_ps(vv, wdx)), iw), fh0);
            const __m128 dudy = _mm_mul_ps(_mm_mul_ps(_mm_sub_ps(pudy_, _mm_mul_ps(u, wdy)), iw), fw0);
            const __m128 dvdy = _mm_mul_ps(_mm_mul_ps(_mm_sub_ps(pvdy_, _mm_mul_ps(vv, wdy)), iw), fh0);
            const __m128 rx = _mm_add_ps(_mm_mul_ps(dudx, dudx), _mm_mul_ps(dvdx, dvdx));
            const __m128 ry = _mm_add_ps(_mm_mul_ps(dudy, dudy), _mm_mul_ps(dvdy, dvdy));
            // rx > ry ? rx : ry
            const __m128 gt = _mm_cmpgt_ps(rx, ry);
            const __m128 rho2 = _mm_or_ps(_mm_and_ps(gt, rx), _mm_andnot_ps(gt, ry));
            const __m128 positive = _mm_cmpgt_ps(rho2, _mm_setzero_ps());
            const __m128 halfLog = _mm_mul_ps(_mm_set1_ps(0.5f), FastLog2x4(rho2));
            const __m128 lambda = _mm_add_ps(
                _mm_or_ps(_mm_and_ps(positive, halfLog), _mm_andnot_ps(positive, _mm_set1_ps(-1000.0f))),
                lodBias_);
            if (last != first) {
                // Minified lanes (lambda > 0, so not NaN): l = min(lambda, 64),
                // levels first + int(l) and the next one unless past the last.
                const __m128i minified = _mm_castps_si128(_mm_cmpgt_ps(lambda, _mm_setzero_ps()));
                const __m128 l = _mm_min_ps(lambda, _mm_set1_ps(64.0f));
                const __m128i base = _mm_cvttps_epi32(l);
                const __m128i lower = _mm_add_epi32(_mm_set1_epi32(first), base);
                const __m128i lastI = _mm_set1_epi32(last);
                const __m128i below = _mm_cmplt_epi32(lower, lastI);
                const __m128i frac = _mm_cvttps_epi32(_mm_add_ps(
                    _mm_mul_ps(_mm_sub_ps(l, _mm_cvtepi32_ps(base)), _mm_set1_ps(256.0f)), _mm_set1_ps(0.5f)));
                const __m128i pickA = _mm_or_si128(_mm_and_si128(below, lower), _mm_andnot_si128(below, lastI));
                const __m128i pickB =
                    _mm_or_si128(_mm_and_si128(below, _mm_add_epi32(lower, _mm_set1_epi32(1))), _mm_andnot_si128(below, lastI));
                levelA = _mm_or_si128(_mm_and_si128(minified, pickA), _mm_andnot_si128(minified, levelA));
                levelB = _mm_or_si128(_mm_and_si128(minified, pickB), _mm_andnot_si128(minified, levelB));
                weight = _mm_and_si128(_mm_and_si128(minified, below), frac);
            }
        }
        Q.levelA = levelA, Q.levelB = levelB, Q.weight = weight;
    }
    for (int h = 0; h < count; ++h) {
        Four& Q = fours[h];
        Levels4 la;
        GatherLevels(levels_, Q.levelA, la);
        Q.colour = Bilinear4(la, Q.u, Q.v);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(Q.weight, _mm_setzero_si128())) != 0xFFFF) {
            Levels4 lb;
            GatherLevels(levels_, Q.levelB, lb);
            const Pixels16 next = Bilinear4(lb, Q.u, Q.v);
            const Weights16 mip(Q.weight);
            Q.colour.lo = Lerp16(Q.colour.lo, next.lo, mip.lo, mip.invLo);
            Q.colour.hi = Lerp16(Q.colour.hi, next.hi, mip.hi, mip.invHi);
        }
    }
    for (int h = 0; h < count; ++h) {
        const Four& Q = fours[h];
        const int q0 = 4 * h;
        const __m128i t = _mm_or_si128(_mm_packus_epi16(Q.colour.lo, Q.colour.hi), alphaOr_);
        // ColorFromArgb, the modulation and the fog.
        const __m128i byte = _mm_set1_epi32(0xFF);
        const __m128 k255 = _mm_set1_ps(1.0f / 255.0f);
        const __m128 tr = _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(t, 16), byte)), k255);
        const __m128 tg = _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(t, 8), byte)), k255);
        const __m128 tb = _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(t, byte)), k255);
        const __m128 ta = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(t, 24)), k255);
        __m128 cr = _mm_mul_ps(tr, Q.dr), cg = _mm_mul_ps(tg, Q.dg), cb = _mm_mul_ps(tb, Q.db);
        const __m128 ca = _mm_mul_ps(ta, Q.da);
        if constexpr (kFog) {
            const __m128 f = Saturate4(_mm_mul_ps(_mm_sub_ps(fogEnd_, Q.iw), fogScale_));
            const __m128 nf = _mm_sub_ps(one, f);
            cr = _mm_add_ps(_mm_mul_ps(f, cr), _mm_mul_ps(nf, fogR_));
            cg = _mm_add_ps(_mm_mul_ps(f, cg), _mm_mul_ps(nf, fogG_));
            cb = _mm_add_ps(_mm_mul_ps(f, cb), _mm_mul_ps(nf, fogB_));
        }
        // Source-alpha blending over the old pixels where alpha is below 1;
        // opaque lanes keep the saturated source, so when all four are opaque
        // the old pixels are not read at all.
        const __m128 sr = Saturate4(cr), sg = Saturate4(cg), sb = Saturate4(cb), sa = Saturate4(ca);
        const __m128 under = _mm_cmplt_ps(sa, one);
        __m128 r = sr, g = sg, b = sb;
        if (_mm_movemask_ps(under) != 0) {
            auto old = [&](int k) { return int(uint32_t(dst_[q0 + k][0]) | (uint32_t(dst_[q0 + k][1]) << 8)); };
            const __m128i o = _mm_setr_epi32(old(0), old(1), old(2), old(3));
            const __m128 odr = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(o, 11)), _mm_set1_ps(1.0f / 31.0f));
            const __m128 odg = _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(o, 5), _mm_set1_epi32(63))),
                                          _mm_set1_ps(1.0f / 63.0f));
            const __m128 odb =
                _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(o, _mm_set1_epi32(31))), _mm_set1_ps(1.0f / 31.0f));
            const __m128 ia = _mm_sub_ps(one, sa);
            auto mix = [&](__m128 sc, __m128 dc) {
                const __m128 blended = _mm_add_ps(_mm_mul_ps(sc, sa), _mm_mul_ps(dc, ia));
                return Saturate4(_mm_or_ps(_mm_and_ps(under, blended), _mm_andnot_ps(under, sc)));
            };
            r = mix(sr, odr), g = mix(sg, odg), b = mix(sb, odb);
        }
        const __m128 offset = _mm_load_ps(dither_ + q0);
        const __m128i packed = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(Quantize4(r, 31, offset), 11),
                                                         _mm_slli_epi32(Quantize4(g, 63, offset), 5)),
                                            Quantize4(b, 31, offset));
        alignas(16) uint32_t out[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(out), packed);
        // One 16-bit store per pixel (this code is x86 only, so little
        // endian, as the byte-wise writes elsewhere).
        BYTE* const to[4] = {dst_[q0], dst_[q0 + 1], dst_[q0 + 2], dst_[q0 + 3]};
        const int live = n_ - q0 < 4 ? n_ - q0 : 4;
        for (int k = 0; k < live; ++k) {
            const uint16_t pixel = uint16_t(out[k]);
            std::memcpy(to[k], &pixel, 2);
        }
    }
}

template <bool kFog, bool kLod>
int64_t DrawQueued(const PixelState& ps, const Setup& s, const RowFilter& rows) {
    TexturedQueue<kFog, kLod> queue(ps, s);
    const int64_t covered = ForEachSpan(s, rows, [&](int y, int xl, int xr) { queue.Span(y, xl, xr); });
    queue.Flush();
    return covered;
}
#endif

}  // namespace

int64_t RasterizeTriangle(const PixelState& ps, const RasterVertex& a, const RasterVertex& b, const RasterVertex& c,
                       const RowFilter& rows, const float* flatColors) {
    const RasterVertex* vs[3] = {&a, &b, &c};
    int64_t minFx = std::min({int64_t(a.fx), int64_t(b.fx), int64_t(c.fx)});
    int64_t maxFx = std::max({int64_t(a.fx), int64_t(b.fx), int64_t(c.fx)});
    int64_t minFy = std::min({int64_t(a.fy), int64_t(b.fy), int64_t(c.fy)});
    int64_t maxFy = std::max({int64_t(a.fy), int64_t(b.fy), int64_t(c.fy)});
    Setup s;
    // Pixel centres inside the box, within the drawable area.
    s.minX = int(std::max<int64_t>((minFx + kSubpixelOne - 1) >> kSubpixelBits, ps.clipX0));
    s.maxX = int(std::min<int64_t>(maxFx >> kSubpixelBits, ps.clipX1 - 1));
    s.minY = int(std::max<int64_t>((minFy + kSubpixelOne - 1) >> kSubpixelBits, ps.clipY0));
    s.maxY = int(std::min<int64_t>(maxFy >> kSubpixelBits, ps.clipY1 - 1));
    if (s.minX > s.maxX || s.minY > s.maxY) return 0;
    // Is any row of the box ours?
    {
        bool any = false;
        for (int y = s.minY; y <= s.maxY && !any; y = ((y >> kBandRowsShift) + 1) << kBandRowsShift)
            any = rows.Owns(y);
        if (!any) return 0;
    }
    const int64_t px = int64_t(s.minX) << kSubpixelBits, py = int64_t(s.minY) << kSubpixelBits;
    for (int k = 0; k < 3; ++k) {
        const RasterVertex& p = *vs[k];
        const RasterVertex& q = *vs[(k + 1) % 3];
        Edge& e = s.edges[k];
        e.dx = int64_t(q.fx) - p.fx;
        e.dy = int64_t(q.fy) - p.fy;
        // Edges that are not top or left lose the pixels exactly on them.
        const int64_t bias = (e.dy < 0) | ((e.dy == 0) & (e.dx > 0)) ? 0 : -1;
        e.stepX = -e.dy * kSubpixelOne;
        e.stepY = e.dx * kSubpixelOne;
        e.origin = e.dx * (py - p.fy) - e.dy * (px - p.fx) + bias;
    }
    // Planes, in pixels relative to vertex a, evaluated at the box origin.
    const double ax = double(a.fx) / kSubpixelOne, ay = double(a.fy) / kSubpixelOne;
    const double ex1 = double(int64_t(b.fx) - a.fx) / kSubpixelOne, ey1 = double(int64_t(b.fy) - a.fy) / kSubpixelOne;
    const double ex2 = double(int64_t(c.fx) - a.fx) / kSubpixelOne, ey2 = double(int64_t(c.fy) - a.fy) / kSubpixelOne;
    const double area = ex1 * ey2 - ex2 * ey1;
    if (!(area > 0)) return 0;
    const double invArea = 1.0 / area;
    const double ox = s.minX - ax, oy = s.minY - ay;
    MakePlane(s.z, a.z, b.z, c.z, ex1, ey1, ex2, ey2, invArea, ox, oy);
    MakePlane(s.w, a.rhw, b.rhw, c.rhw, ex1, ey1, ex2, ey2, invArea, ox, oy);
    for (int i = 0; i < ps.varyingCount; ++i) {
        const bool flat = flatColors && (i < 4 || (ps.specularAt >= 0 && i >= ps.specularAt && i < ps.specularAt + 3));
        const double q0 = flat ? flatColors[i] : a.varyings[i];
        const double q1 = flat ? flatColors[i] : b.varyings[i];
        const double q2 = flat ? flatColors[i] : c.varyings[i];
        MakePlane(s.v[i], q0 * a.rhw, q1 * b.rhw, q2 * c.rhw, ex1, ey1, ex2, ey2, invArea, ox, oy);
    }
    s.diffuseConstant = 0;
    for (int i = 0; i < 4; ++i) {
        const float q0 = flatColors ? flatColors[i] : a.varyings[i];
        const bool same = flatColors || (a.varyings[i] == b.varyings[i] && a.varyings[i] == c.varyings[i]);
        if (same) s.diffuseConstant |= 1u << i;
        s.diffuse[i] = q0;
    }

#ifdef VINTREL_SAMPLER_SSE2
    switch (TexturedSpanKind(ps)) {
        case 0: return DrawQueued<false, false>(ps, s, rows);
        case 1: return DrawQueued<true, false>(ps, s, rows);
        case 2: return DrawQueued<false, true>(ps, s, rows);
        case 3: return DrawQueued<true, true>(ps, s, rows);
        default: break;
    }
    return ForEachSpan(s, rows, [&](int y, int xl, int xr) { ShadeSpan(ps, s, y, xl, xr); });
#else
    const auto shade = TexturedSpanKind(ps) == 3 && !ps.rejectDepthOutside ? ShadeTexturedSpan : ShadeSpan;
    return ForEachSpan(s, rows, [&](int y, int xl, int xr) { shade(ps, s, y, xl, xr); });
#endif
}

}  // namespace render
