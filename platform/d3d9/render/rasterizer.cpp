// Triangle setup, span finding and the per-pixel loop.
#include "platform/d3d9/render/rasterizer.h"

#include <algorithm>

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

// The demo's usual state combination with every per-draw decision made
// once: one texture modulated by the diffuse colour, trilinear sampling
// wrapped on power-of-two levels, linear fog from w, less-or-equal depth
// tested before shading, source-alpha blending into a dithered 565 target.
// The arithmetic is ShadeSpan's, operation for operation, so the pixels are
// the same; what goes is the state reloads and branches around it.
bool FitsTexturedSpan(const PixelState& ps) {
    const StageSetup& st = ps.stages[0];
    const TextureSampler& sm = st.sampler;
    return ps.combine == CombineKind::ModulateTexture && ps.varyingCount == 6 && st.uvAt == 4 && !ps.specularAdd &&
           ps.specularAt < 0 && ps.fog == FogKind::Linear && ps.fogFromW && !ps.alphaTest && ps.depthTest &&
           ps.depthFunc == D3DCMP_LESSEQUAL && !ps.rejectDepthOutside && ps.blend &&
           ps.srcBlend == D3DBLEND_SRCALPHA && ps.dstBlend == D3DBLEND_INVSRCALPHA && ps.blendOp == D3DBLENDOP_ADD &&
           ps.target565 && ps.dither && ps.keepMask == 0 && ps.writesColor && sm.needsLod && sm.wrapMask &&
           sm.magFilter == D3DTEXF_LINEAR && sm.minFilter == D3DTEXF_LINEAR && sm.mipFilter == D3DTEXF_LINEAR;
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

void ShadeTexturedSpan(const PixelState& ps, const Setup& s, int y, int xl, int xr) {
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
        const bool topLeft = e.dy < 0 || (e.dy == 0 && e.dx > 0);
        e.stepX = -e.dy * kSubpixelOne;
        e.stepY = e.dx * kSubpixelOne;
        e.origin = e.dx * (py - p.fy) - e.dy * (px - p.fx) + (topLeft ? 0 : -1);
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

    const int width = s.maxX - s.minX + 1;
    const auto shade = FitsTexturedSpan(ps) ? ShadeTexturedSpan : ShadeSpan;
    int64_t covered = 0;
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
        shade(ps, s, y, xl, xr);
        covered += xr - xl + 1;
    }
    return covered;
}

}  // namespace render
