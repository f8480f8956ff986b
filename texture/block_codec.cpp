// DXT1-DXT5 block decoding and encoding, and the row codec over them.
#include "texture/block_codec.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>

#if defined(__SSE2__) && !VINTREL_NO_SIMD
#include <emmintrin.h>
#include <xmmintrin.h>
#define VINTREL_DXT_SSE 1
#else
#define VINTREL_DXT_SSE 0
#endif

namespace {

// Luma weights (Rec. 709) relative to green, and their inverses.
constexpr float kWeightR = 0.29703665f, kWeightG = 1.0f, kWeightB = 0.10078278f;
constexpr float kUnweightR = 3.3665881f, kUnweightG = 1.0f, kUnweightB = 9.9223299f;
constexpr float kScale5 = 0.032258064f;   // 1/31
constexpr float kScale6 = 0.015873017f;   // 1/63
constexpr float kScale4 = 0.06666667f;    // 1/15
constexpr float kScale8 = 0.003921569f;   // 1/255
constexpr float kMinSpan = 1.0f / 4096;   // 0.000244140625

inline WORD Load16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
inline DWORD Load32(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
}
inline void Store16(BYTE* p, WORD v) {
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}
inline void Store32(BYTE* p, DWORD v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<BYTE>(v >> (8 * i));
}

inline Colour4 Decode565(WORD c) {
    return {static_cast<float>(c >> 11) * kScale5, static_cast<float>((c >> 5) & 63) * kScale6,
            static_cast<float>(c & 31) * kScale5, 1.0f};
}

inline int Quant(float x, int max) {
    const int q = static_cast<int>(x * static_cast<float>(max) + 0.5f);
    return q < 0 ? 0 : (q > max ? max : q);
}

inline WORD Pack565(float r, float g, float b) {
    return static_cast<WORD>((Quant(r, 31) << 11) | (Quant(g, 63) << 5) | Quant(b, 31));
}

// Spreads `error` of pixel i of a 4x4 block over its unvisited neighbours
// (Floyd-Steinberg, left to right, top to bottom).
inline void SpreadError(float* values, int i, float error) {
    const int x = i & 3, y = i >> 2;
    if (x < 3) values[i + 1] += error * (7.0f / 16);
    if (y < 3) {
        if (x > 0) values[i + 3] += error * (3.0f / 16);
        values[i + 4] += error * (5.0f / 16);
        if (x < 3) values[i + 5] += error * (1.0f / 16);
    }
}

// Step of a palette of `steps` entries a value projected to t lies on.
inline int StepOf(float t, int steps) {
    const float top = static_cast<float>(steps - 1);
    if (!(t > 0.0f)) return 0;
    if (t >= top) return steps - 1;
    return static_cast<int>(t + 0.5f);
}

void DecodeColourHalf(const BYTE* block, Colour4 out[16]) {
    const WORD c0 = Load16(block), c1 = Load16(block + 2);
    Colour4 palette[4];
    palette[0] = Decode565(c0);
    palette[1] = Decode565(c1);
    const Colour4& a = palette[0];
    const Colour4& b = palette[1];
    if (c0 > c1) {
        palette[2] = {a.r + (b.r - a.r) / 3, a.g + (b.g - a.g) / 3, a.b + (b.b - a.b) / 3, 1.0f};
        palette[3] = {a.r + 2 * (b.r - a.r) / 3, a.g + 2 * (b.g - a.g) / 3, a.b + 2 * (b.b - a.b) / 3, 1.0f};
    } else {
        palette[2] = {(a.r + b.r) / 2, (a.g + b.g) / 2, (a.b + b.b) / 2, 1.0f};
        palette[3] = {0, 0, 0, 0};
    }
    const DWORD indices = Load32(block + 4);
    for (int i = 0; i < 16; ++i) out[i] = palette[(indices >> (2 * i)) & 3];
}

void DecodeDxt5Alpha(const BYTE* block, Colour4 out[16]) {
    const float a0 = block[0] * kScale8, a1 = block[1] * kScale8;
    float values[8];
    values[0] = a0;
    values[1] = a1;
    if (block[0] > block[1]) {
        for (int i = 1; i <= 6; ++i) values[i + 1] = (static_cast<float>(7 - i) * a0 + static_cast<float>(i) * a1) / 7;
    } else {
        for (int i = 1; i <= 4; ++i) values[i + 1] = (static_cast<float>(5 - i) * a0 + static_cast<float>(i) * a1) / 5;
        values[6] = 0.0f;
        values[7] = 1.0f;
    }
    const DWORD low = block[2] | (block[3] << 8) | (block[4] << 16);
    const DWORD high = block[5] | (block[6] << 8) | (block[7] << 16);
    for (int i = 0; i < 8; ++i) out[i].a = values[(low >> (3 * i)) & 7];
    for (int i = 0; i < 8; ++i) out[8 + i].a = values[(high >> (3 * i)) & 7];
}

void EncodeDxt3Alpha(const float* alpha, bool dither, BYTE out[8]) {
    float a[16];
    std::copy_n(alpha, 16, a);
    unsigned long long bits = 0;
    for (int i = 0; i < 16; ++i) {
        const int q = Quant(a[i], 15);
        if (dither) SpreadError(a, i, a[i] - static_cast<float>(q) * kScale4);
        bits |= static_cast<unsigned long long>(q) << (4 * i);
    }
    for (int i = 0; i < 8; ++i) out[i] = static_cast<BYTE>(bits >> (8 * i));
}

void EncodeDxt5Alpha(const float* alpha, bool dither, BYTE out[8]) {
    alignas(16) float q[16];
    float smallest = 1.0f;
    bool extreme = false;
    if (dither) {
        float a[16];
        std::copy_n(alpha, 16, a);
        for (int i = 0; i < 16; ++i) {
            q[i] = static_cast<float>(Quant(a[i], 255)) * kScale8;
            SpreadError(a, i, a[i] - q[i]);
        }
    } else {
#if VINTREL_DXT_SSE
        const __m128 max = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f), zero = _mm_setzero_ps();
        const __m128 scale = _mm_set1_ps(kScale8);
        for (int j = 0; j < 16; j += 4) {
            const __m128 v = _mm_min_ps(_mm_max_ps(_mm_add_ps(_mm_mul_ps(_mm_loadu_ps(alpha + j), max), half), zero), max);
            _mm_store_ps(q + j, _mm_mul_ps(_mm_cvtepi32_ps(_mm_cvttps_epi32(v)), scale));
        }
#else
        for (int i = 0; i < 16; ++i) q[i] = static_cast<float>(Quant(alpha[i], 255)) * kScale8;
#endif
    }
    for (int i = 0; i < 16; ++i) {
        smallest = std::min(smallest, q[i]);
        extreme |= q[i] == 0.0f || q[i] == 1.0f;
    }
    std::memset(out, 0, 8);
    if (smallest == 1.0f) {
        out[0] = out[1] = 255;
        return;
    }
    const int steps = extreme ? 6 : 8;
    float low, high;
    OptimizeAlphaEndpoints(q, static_cast<UINT>(steps), &low, &high);
    int b0 = static_cast<int>(low * 255 + 0.5f), b1 = static_cast<int>(high * 255 + 0.5f);
    if (steps == 8) {
        if (b0 == b1) {
            out[0] = out[1] = static_cast<BYTE>(b0);
            return;
        }
        if (b0 < b1) std::swap(b0, b1);  // byte 0 the larger
    } else if (b0 > b1) {
        std::swap(b0, b1);  // byte 0 the smaller
    }
    out[0] = static_cast<BYTE>(b0);
    out[1] = static_cast<BYTE>(b1);
    const float e0 = static_cast<float>(b0) * kScale8, e1 = static_cast<float>(b1) * kScale8;
    const float span = e1 - e0;
    const float scale = span != 0.0f ? static_cast<float>(steps - 1) / span : 0.0f;
    // Indices by step; in six-value mode 6 and 7 are the explicit 0 and 1.
    static const BYTE kMap8[8] = {0, 2, 3, 4, 5, 6, 7, 1};
    static const BYTE kMap6[8] = {0, 2, 3, 4, 5, 1, 6, 7};
    const BYTE* map = steps == 8 ? kMap8 : kMap6;
    const float zeroBelow = steps == 6 ? e0 / 2 : -1.0f, oneAbove = steps == 6 ? (e1 + 1) / 2 : 2.0f;
    alignas(16) int step[16];
#if VINTREL_DXT_SSE
    {
        const __m128 ve0 = _mm_set1_ps(e0), vscale = _mm_set1_ps(scale);
        const __m128 top = _mm_set1_ps(static_cast<float>(steps - 1)), zero = _mm_setzero_ps();
        const __m128 half = _mm_set1_ps(0.5f), low6 = _mm_set1_ps(zeroBelow), high6 = _mm_set1_ps(oneAbove);
        const __m128i six = _mm_set1_epi32(6), seven = _mm_set1_epi32(7);
        for (int j = 0; j < 16; j += 4) {
            const __m128 v = _mm_load_ps(q + j);
            const __m128 t = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_sub_ps(v, ve0), vscale), zero), top);
            __m128i s = _mm_cvttps_epi32(_mm_add_ps(t, half));
            const __m128i isZero = _mm_castps_si128(_mm_cmple_ps(v, low6));
            const __m128i isOne = _mm_castps_si128(_mm_andnot_ps(_mm_cmple_ps(v, low6), _mm_cmpge_ps(v, high6)));
            s = _mm_or_si128(_mm_andnot_si128(_mm_or_si128(isZero, isOne), s),
                             _mm_or_si128(_mm_and_si128(isZero, six), _mm_and_si128(isOne, seven)));
            _mm_store_si128(reinterpret_cast<__m128i*>(step + j), s);
        }
    }
#else
    for (int i = 0; i < 16; ++i) {
        if (q[i] <= zeroBelow) {
            step[i] = 6;
        } else if (q[i] >= oneAbove) {
            step[i] = 7;
        } else {
            step[i] = StepOf((q[i] - e0) * scale, steps);
        }
    }
#endif
    unsigned long long bits = 0;
    for (int i = 0; i < 16; ++i) bits |= static_cast<unsigned long long>(map[step[i]]) << (3 * i);
    for (int i = 0; i < 6; ++i) out[2 + i] = static_cast<BYTE>(bits >> (8 * i));
}

}  // namespace

UINT DxtBlockBytes(D3DFORMAT format) { return format == D3DFMT_DXT1 ? 8 : 16; }

void DecodeDxtBlock(D3DFORMAT format, const BYTE* block, Colour4 out[16]) {
    if (format == D3DFMT_DXT1) {
        DecodeColourHalf(block, out);
        return;
    }
    DecodeColourHalf(block + 8, out);
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
        for (int i = 0; i < 16; ++i) {
            out[i].a = static_cast<float>((block[i / 2] >> (4 * (i & 1))) & 15) * kScale4;
        }
    } else {
        DecodeDxt5Alpha(block, out);
    }
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT4) {
        for (int i = 0; i < 16; ++i) {
            Colour4& c = out[i];
            if (c.a == 0.0f) {
                c = {0, 0, 0, 0};
            } else if (c.a < 1.0f) {
                c.r = c.a > c.r ? c.r / c.a : 1.0f;
                c.g = c.a > c.g ? c.g / c.a : 1.0f;
                c.b = c.a > c.b ? c.b / c.a : 1.0f;
            }
        }
    }
}

namespace {

// The sixteen points of a block in the weighted colour space, one array per
// channel.
struct BlockPoints {
    alignas(16) float x[16];
    alignas(16) float y[16];
    alignas(16) float z[16];
};

// Sums over the 16 points are kept in four lanes (lane k adds points k,
// k + 4, k + 8, k + 12 in that order) and combined as (l0 + l1) + (l2 + l3),
// so the plain and the SIMD kernels add in the same order and find the
// same endpoints.
inline float Combine(const float lanes[4]) { return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]); }

struct Gradient {
    float g0[3], g1[3];
    float h0, h1;
};

struct FitConstants {
    float a[3];  // first endpoint
    float e[3];  // second minus first
    float scale, top, stepWeight;
};

void BoundsPlain(const BlockPoints& p, float lo[3], float hi[3]) {
    for (int i = 0; i < 16; ++i) {
        lo[0] = std::min(lo[0], p.x[i]);
        lo[1] = std::min(lo[1], p.y[i]);
        lo[2] = std::min(lo[2], p.z[i]);
        hi[0] = std::max(hi[0], p.x[i]);
        hi[1] = std::max(hi[1], p.y[i]);
        hi[2] = std::max(hi[2], p.z[i]);
    }
}

void DiagonalSumsPlain(const BlockPoints& p, const float c[3], const float s[3], float sums[4]) {
    float lanes[4][4] = {};
    for (int j = 0; j < 4; ++j) {
        for (int k = 0; k < 4; ++k) {
            const int i = 4 * j + k;
            const float x = (p.x[i] - c[0]) * s[0], y = (p.y[i] - c[1]) * s[1], z = (p.z[i] - c[2]) * s[2];
            const float a = x + y + z, b = x + y - z, d = x - y + z, f = x - y - z;
            lanes[0][k] += a * a;
            lanes[1][k] += b * b;
            lanes[2][k] += d * d;
            lanes[3][k] += f * f;
        }
    }
    for (int n = 0; n < 4; ++n) sums[n] = Combine(lanes[n]);
}

void RefinePlain(const BlockPoints& p, const FitConstants& k, Gradient& g) {
    float lanes[8][4] = {};
    for (int j = 0; j < 4; ++j) {
        for (int l = 0; l < 4; ++l) {
            const int i = 4 * j + l;
            float t = ((p.x[i] - k.a[0]) * k.e[0] + (p.y[i] - k.a[1]) * k.e[1] + (p.z[i] - k.a[2]) * k.e[2]) * k.scale;
            t = std::min(std::max(t, 0.0f), k.top);
            const float w1 = static_cast<float>(static_cast<int>(t + 0.5f)) * k.stepWeight;
            const float w0 = 1.0f - w1;
            // Palette point of the step minus the point.
            const float rx = k.a[0] + k.e[0] * w1 - p.x[i];
            const float ry = k.a[1] + k.e[1] * w1 - p.y[i];
            const float rz = k.a[2] + k.e[2] * w1 - p.z[i];
            lanes[0][l] += rx * w0;
            lanes[1][l] += ry * w0;
            lanes[2][l] += rz * w0;
            lanes[3][l] += rx * w1;
            lanes[4][l] += ry * w1;
            lanes[5][l] += rz * w1;
            lanes[6][l] += w0 * w0;
            lanes[7][l] += w1 * w1;
        }
    }
    for (int c = 0; c < 3; ++c) {
        g.g0[c] = Combine(lanes[c]);
        g.g1[c] = Combine(lanes[3 + c]);
    }
    g.h0 = Combine(lanes[6]);
    g.h1 = Combine(lanes[7]);
}

#if VINTREL_DXT_SSE
inline float CombineVector(__m128 v) {
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, v);
    return Combine(lanes);
}

void BoundsSse(const BlockPoints& p, float lo[3], float hi[3]) {
    __m128 minX = _mm_set1_ps(lo[0]), minY = _mm_set1_ps(lo[1]), minZ = _mm_set1_ps(lo[2]);
    __m128 maxX = _mm_set1_ps(hi[0]), maxY = _mm_set1_ps(hi[1]), maxZ = _mm_set1_ps(hi[2]);
    for (int j = 0; j < 16; j += 4) {
        const __m128 x = _mm_load_ps(p.x + j), y = _mm_load_ps(p.y + j), z = _mm_load_ps(p.z + j);
        minX = _mm_min_ps(minX, x), minY = _mm_min_ps(minY, y), minZ = _mm_min_ps(minZ, z);
        maxX = _mm_max_ps(maxX, x), maxY = _mm_max_ps(maxY, y), maxZ = _mm_max_ps(maxZ, z);
    }
    alignas(16) float v[6][4];
    _mm_store_ps(v[0], minX), _mm_store_ps(v[1], minY), _mm_store_ps(v[2], minZ);
    _mm_store_ps(v[3], maxX), _mm_store_ps(v[4], maxY), _mm_store_ps(v[5], maxZ);
    for (int c = 0; c < 3; ++c) {
        lo[c] = std::min(std::min(v[c][0], v[c][1]), std::min(v[c][2], v[c][3]));
        hi[c] = std::max(std::max(v[3 + c][0], v[3 + c][1]), std::max(v[3 + c][2], v[3 + c][3]));
    }
}

void DiagonalSumsSse(const BlockPoints& p, const float c[3], const float s[3], float sums[4]) {
    const __m128 cx = _mm_set1_ps(c[0]), cy = _mm_set1_ps(c[1]), cz = _mm_set1_ps(c[2]);
    const __m128 sx = _mm_set1_ps(s[0]), sy = _mm_set1_ps(s[1]), sz = _mm_set1_ps(s[2]);
    __m128 acc[4] = {_mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps()};
    for (int j = 0; j < 16; j += 4) {
        const __m128 x = _mm_mul_ps(_mm_sub_ps(_mm_load_ps(p.x + j), cx), sx);
        const __m128 y = _mm_mul_ps(_mm_sub_ps(_mm_load_ps(p.y + j), cy), sy);
        const __m128 z = _mm_mul_ps(_mm_sub_ps(_mm_load_ps(p.z + j), cz), sz);
        const __m128 xpy = _mm_add_ps(x, y), xmy = _mm_sub_ps(x, y);
        const __m128 a = _mm_add_ps(xpy, z), b = _mm_sub_ps(xpy, z);
        const __m128 d = _mm_add_ps(xmy, z), f = _mm_sub_ps(xmy, z);
        acc[0] = _mm_add_ps(acc[0], _mm_mul_ps(a, a));
        acc[1] = _mm_add_ps(acc[1], _mm_mul_ps(b, b));
        acc[2] = _mm_add_ps(acc[2], _mm_mul_ps(d, d));
        acc[3] = _mm_add_ps(acc[3], _mm_mul_ps(f, f));
    }
    for (int n = 0; n < 4; ++n) sums[n] = CombineVector(acc[n]);
}

void RefineSse(const BlockPoints& p, const FitConstants& k, Gradient& g) {
    const __m128 ax = _mm_set1_ps(k.a[0]), ay = _mm_set1_ps(k.a[1]), az = _mm_set1_ps(k.a[2]);
    const __m128 ex = _mm_set1_ps(k.e[0]), ey = _mm_set1_ps(k.e[1]), ez = _mm_set1_ps(k.e[2]);
    const __m128 scale = _mm_set1_ps(k.scale), top = _mm_set1_ps(k.top), stepWeight = _mm_set1_ps(k.stepWeight);
    const __m128 zero = _mm_setzero_ps(), half = _mm_set1_ps(0.5f), one = _mm_set1_ps(1.0f);
    __m128 acc[8];
    for (__m128& a : acc) a = zero;
    for (int j = 0; j < 16; j += 4) {
        const __m128 x = _mm_load_ps(p.x + j), y = _mm_load_ps(p.y + j), z = _mm_load_ps(p.z + j);
        __m128 t = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(x, ax), ex), _mm_mul_ps(_mm_sub_ps(y, ay), ey)),
                              _mm_mul_ps(_mm_sub_ps(z, az), ez));
        t = _mm_min_ps(_mm_max_ps(_mm_mul_ps(t, scale), zero), top);
        const __m128 w1 = _mm_mul_ps(_mm_cvtepi32_ps(_mm_cvttps_epi32(_mm_add_ps(t, half))), stepWeight);
        const __m128 w0 = _mm_sub_ps(one, w1);
        const __m128 rx = _mm_sub_ps(_mm_add_ps(ax, _mm_mul_ps(ex, w1)), x);
        const __m128 ry = _mm_sub_ps(_mm_add_ps(ay, _mm_mul_ps(ey, w1)), y);
        const __m128 rz = _mm_sub_ps(_mm_add_ps(az, _mm_mul_ps(ez, w1)), z);
        acc[0] = _mm_add_ps(acc[0], _mm_mul_ps(rx, w0));
        acc[1] = _mm_add_ps(acc[1], _mm_mul_ps(ry, w0));
        acc[2] = _mm_add_ps(acc[2], _mm_mul_ps(rz, w0));
        acc[3] = _mm_add_ps(acc[3], _mm_mul_ps(rx, w1));
        acc[4] = _mm_add_ps(acc[4], _mm_mul_ps(ry, w1));
        acc[5] = _mm_add_ps(acc[5], _mm_mul_ps(rz, w1));
        acc[6] = _mm_add_ps(acc[6], _mm_mul_ps(w0, w0));
        acc[7] = _mm_add_ps(acc[7], _mm_mul_ps(w1, w1));
    }
    for (int c = 0; c < 3; ++c) {
        g.g0[c] = CombineVector(acc[c]);
        g.g1[c] = CombineVector(acc[3 + c]);
    }
    g.h0 = CombineVector(acc[6]);
    g.h1 = CombineVector(acc[7]);
}
#endif

template <bool kSimd>
void FitColourEndpoints(const BlockPoints& p, UINT steps, float e0[3], float e1[3]) {
    float lo[3] = {kWeightR, kWeightG, kWeightB};
    float hi[3] = {0, 0, 0};
#if VINTREL_DXT_SSE
    if (kSimd) {
        BoundsSse(p, lo, hi);
    } else {
        BoundsPlain(p, lo, hi);
    }
#else
    BoundsPlain(p, lo, hi);
#endif
    const float dx = hi[0] - lo[0], dy = hi[1] - lo[1], dz = hi[2] - lo[2];
    const float length2 = dx * dx + dy * dy + dz * dz;
    if (length2 < 1.1754944e-38f) {
        std::copy_n(lo, 3, e0);
        std::copy_n(hi, 3, e1);
        return;
    }

    // Which of the four box diagonals the points follow.
    const float centre[3] = {(lo[0] + hi[0]) * 0.5f, (lo[1] + hi[1]) * 0.5f, (lo[2] + hi[2]) * 0.5f};
    const float spread[3] = {dx / length2, dy / length2, dz / length2};
    float sums[4];
#if VINTREL_DXT_SSE
    if (kSimd) {
        DiagonalSumsSse(p, centre, spread, sums);
    } else {
        DiagonalSumsPlain(p, centre, spread, sums);
    }
#else
    DiagonalSumsPlain(p, centre, spread, sums);
#endif
    int diagonal = 0;
    for (int k = 1; k < 4; ++k) {
        if (sums[k] > sums[diagonal]) diagonal = k;
    }
    if (diagonal == 1 || diagonal == 3) std::swap(lo[2], hi[2]);
    if (diagonal == 2 || diagonal == 3) std::swap(lo[1], hi[1]);
    float a[3] = {lo[0], lo[1], lo[2]};
    float b[3] = {hi[0], hi[1], hi[2]};
    if (length2 < kMinSpan) {
        std::copy_n(a, 3, e0);
        std::copy_n(b, 3, e1);
        return;
    }

    FitConstants k;
    k.top = static_cast<float>(steps - 1);
    k.stepWeight = 1.0f / k.top;
    for (int round = 0; round < 8; ++round) {
        k.e[0] = b[0] - a[0], k.e[1] = b[1] - a[1], k.e[2] = b[2] - a[2];
        const float span2 = k.e[0] * k.e[0] + k.e[1] * k.e[1] + k.e[2] * k.e[2];
        if (span2 < kMinSpan) break;
        std::copy_n(a, 3, k.a);
        k.scale = k.top / span2;
        Gradient g;
#if VINTREL_DXT_SSE
        if (kSimd) {
            RefineSse(p, k, g);
        } else {
            RefinePlain(p, k, g);
        }
#else
        RefinePlain(p, k, g);
#endif
        constexpr float kEighth = 1.0f / 8;
        bool settled = true;
        const float h0 = g.h0 * kEighth, h1 = g.h1 * kEighth;
        for (int c = 0; c < 3; ++c) {
            const float g0 = g.g0[c] * kEighth, g1 = g.g1[c] * kEighth;
            if (h0 > 0) a[c] -= g0 / h0;
            if (h1 > 0) b[c] -= g1 / h1;
            constexpr float kDone = 1.0f / 65536;
            settled = settled && g0 * g0 < kDone && g1 * g1 < kDone;
        }
        if (settled) break;
    }
    std::copy_n(a, 3, e0);
    std::copy_n(b, 3, e1);
}

void ToBlockPoints(const float points[16][3], BlockPoints& p) {
    for (int i = 0; i < 16; ++i) {
        p.x[i] = points[i][0];
        p.y[i] = points[i][1];
        p.z[i] = points[i][2];
    }
}

}  // namespace

void OptimizeColourEndpoints(const float points[16][3], UINT steps, float e0[3], float e1[3]) {
    BlockPoints p;
    ToBlockPoints(points, p);
    FitColourEndpoints<true>(p, steps, e0, e1);
}

void OptimizeColourEndpointsPlain(const float points[16][3], UINT steps, float e0[3], float e1[3]) {
    BlockPoints p;
    ToBlockPoints(points, p);
    FitColourEndpoints<false>(p, steps, e0, e1);
}

bool HasSimdColourFit() { return VINTREL_DXT_SSE != 0; }

void OptimizeAlphaEndpoints(const float alphas[16], UINT steps, float* low, float* high) {
    const bool six = steps == 6;
    float a = six ? 1.0f : alphas[0], b = six ? 0.0f : alphas[0];
    for (int i = 0; i < 16; ++i) {
        const float v = alphas[i];
        if (six && (v == 0.0f || v == 1.0f)) continue;  // the explicit 0 and 1 take these
        a = std::min(a, v);
        b = std::max(b, v);
    }
    if (a > b) {  // six-value mode with nothing strictly between 0 and 1
        *low = 0.0f;
        *high = 1.0f;
        return;
    }
    const int top = six ? 5 : 7;
    const float stepWeight = 1.0f / static_cast<float>(top);
#if VINTREL_DXT_SSE
    __m128 values[4];
    for (int j = 0; j < 4; ++j) values[j] = _mm_loadu_ps(alphas + 4 * j);
#endif
    for (int round = 0; round < 8 && b - a >= 1.0f / 256; ++round) {
        const float span = b - a;
        const float scale = static_cast<float>(top) / span;
        // Values the explicit 0 and 1 serve best stay out of the fit.
        const float lowest = six ? a / 2 : -1.0f, highest = six ? (b + 1) / 2 : 2.0f;
        float g0, g1, h0, h1;
#if VINTREL_DXT_SSE
        {
            const __m128 va = _mm_set1_ps(a), vspan = _mm_set1_ps(span), vscale = _mm_set1_ps(scale);
            const __m128 vtop = _mm_set1_ps(static_cast<float>(top)), vstep = _mm_set1_ps(stepWeight);
            const __m128 vlow = _mm_set1_ps(lowest), vhigh = _mm_set1_ps(highest);
            const __m128 zero = _mm_setzero_ps(), half = _mm_set1_ps(0.5f), one = _mm_set1_ps(1.0f);
            __m128 sg0 = zero, sg1 = zero, sh0 = zero, sh1 = zero;
            for (const __m128 v : values) {
                const __m128 inside = _mm_and_ps(_mm_cmpgt_ps(v, vlow), _mm_cmplt_ps(v, vhigh));
                const __m128 t = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_sub_ps(v, va), vscale), zero), vtop);
                const __m128 w1 = _mm_and_ps(
                    _mm_mul_ps(_mm_cvtepi32_ps(_mm_cvttps_epi32(_mm_add_ps(t, half))), vstep), inside);
                const __m128 w0 = _mm_and_ps(_mm_sub_ps(one, w1), inside);
                const __m128 r = _mm_sub_ps(v, _mm_add_ps(va, _mm_mul_ps(vspan, w1)));
                sg0 = _mm_add_ps(sg0, _mm_mul_ps(r, w0));
                sg1 = _mm_add_ps(sg1, _mm_mul_ps(r, w1));
                sh0 = _mm_add_ps(sh0, _mm_mul_ps(w0, w0));
                sh1 = _mm_add_ps(sh1, _mm_mul_ps(w1, w1));
            }
            g0 = CombineVector(sg0), g1 = CombineVector(sg1), h0 = CombineVector(sh0), h1 = CombineVector(sh1);
        }
#else
        g0 = g1 = h0 = h1 = 0;
        for (int i = 0; i < 16; ++i) {
            const float v = alphas[i];
            if (!(v > lowest && v < highest)) continue;
            float t = (v - a) * scale;
            t = std::min(std::max(t, 0.0f), static_cast<float>(top));
            const float w1 = static_cast<float>(static_cast<int>(t + 0.5f)) * stepWeight;
            const float w0 = 1.0f - w1;
            const float r = v - (a + span * w1);
            g0 += r * w0;
            g1 += r * w1;
            h0 += w0 * w0;
            h1 += w1 * w1;
        }
#endif
        // Least-squares move of each endpoint toward the values it serves.
        if (h0 > 0) a += g0 / h0;
        if (h1 > 0) b += g1 / h1;
        if (a > b) std::swap(a, b);
        constexpr float kDone = 1.0f / 65536;
        if (g0 * g0 < kDone && g1 * g1 < kDone) break;
    }
    *low = std::clamp(a, 0.0f, 1.0f);
    *high = std::clamp(b, 0.0f, 1.0f);
}

void EncodeDxtColourBlock(const Colour4 in[16], bool threeColourAllowed, bool dither, BYTE out[8]) {
    // The block in channel arrays.
    alignas(16) float r[16], g[16], b[16], alpha[16];
#if VINTREL_DXT_SSE
    for (int j = 0; j < 16; j += 4) {
        __m128 c0 = _mm_loadu_ps(&in[j].r), c1 = _mm_loadu_ps(&in[j + 1].r);
        __m128 c2 = _mm_loadu_ps(&in[j + 2].r), c3 = _mm_loadu_ps(&in[j + 3].r);
        _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
        _mm_store_ps(r + j, c0), _mm_store_ps(g + j, c1), _mm_store_ps(b + j, c2), _mm_store_ps(alpha + j, c3);
    }
#else
    for (int i = 0; i < 16; ++i) r[i] = in[i].r, g[i] = in[i].g, b[i] = in[i].b, alpha[i] = in[i].a;
#endif
    unsigned transparent = 0;  // bit per pixel with alpha below 0.5
    if (threeColourAllowed) {
        for (int i = 0; i < 16; ++i) transparent |= static_cast<unsigned>(alpha[i] < 0.5f) << i;
        if (transparent == 0xFFFF) {
            Store16(out, 0x0000);
            Store16(out + 2, 0xFFFF);
            Store32(out + 4, 0xFFFFFFFF);
            return;
        }
    }
    const bool threeColour = transparent != 0;
    const int steps = threeColour ? 3 : 4;

    // Quantise to 5:6:5 and weight by luma.
    BlockPoints points;
    if (dither) {
        float dr[16], dg[16], db[16];
        std::copy_n(r, 16, dr), std::copy_n(g, 16, dg), std::copy_n(b, 16, db);
        for (int i = 0; i < 16; ++i) {
            const float qr = static_cast<float>(Quant(dr[i], 31)) * kScale5;
            const float qg = static_cast<float>(Quant(dg[i], 63)) * kScale6;
            const float qb = static_cast<float>(Quant(db[i], 31)) * kScale5;
            SpreadError(dr, i, dr[i] - qr);
            SpreadError(dg, i, dg[i] - qg);
            SpreadError(db, i, db[i] - qb);
            points.x[i] = qr * kWeightR, points.y[i] = qg * kWeightG, points.z[i] = qb * kWeightB;
        }
    } else {
#if VINTREL_DXT_SSE
        const __m128 half = _mm_set1_ps(0.5f), zero = _mm_setzero_ps();
        const __m128 m5 = _mm_set1_ps(31.0f), m6 = _mm_set1_ps(63.0f);
        const __m128 wr = _mm_set1_ps(kScale5 * kWeightR), wg = _mm_set1_ps(kScale6 * kWeightG);
        const __m128 wb = _mm_set1_ps(kScale5 * kWeightB);
        auto quant = [&](const float* v, __m128 max, __m128 weight) {
            const __m128 q = _mm_min_ps(_mm_max_ps(_mm_add_ps(_mm_mul_ps(_mm_load_ps(v), max), half), zero), max);
            return _mm_mul_ps(_mm_cvtepi32_ps(_mm_cvttps_epi32(q)), weight);
        };
        for (int j = 0; j < 16; j += 4) {
            _mm_store_ps(points.x + j, quant(r + j, m5, wr));
            _mm_store_ps(points.y + j, quant(g + j, m6, wg));
            _mm_store_ps(points.z + j, quant(b + j, m5, wb));
        }
#else
        for (int i = 0; i < 16; ++i) {
            points.x[i] = static_cast<float>(Quant(r[i], 31)) * (kScale5 * kWeightR);
            points.y[i] = static_cast<float>(Quant(g[i], 63)) * (kScale6 * kWeightG);
            points.z[i] = static_cast<float>(Quant(b[i], 31)) * (kScale5 * kWeightB);
        }
#endif
    }

    float e0[3], e1[3];
    FitColourEndpoints<true>(points, static_cast<UINT>(steps), e0, e1);
    WORD c0 = Pack565(std::clamp(e0[0] * kUnweightR, 0.0f, 1.0f), std::clamp(e0[1] * kUnweightG, 0.0f, 1.0f),
                      std::clamp(e0[2] * kUnweightB, 0.0f, 1.0f));
    WORD c1 = Pack565(std::clamp(e1[0] * kUnweightR, 0.0f, 1.0f), std::clamp(e1[1] * kUnweightG, 0.0f, 1.0f),
                      std::clamp(e1[2] * kUnweightB, 0.0f, 1.0f));
    if (!threeColour && c0 == c1) {
        Store16(out, c0);
        Store16(out + 2, c1);
        Store32(out + 4, 0);
        return;
    }
    if (threeColour ? c0 > c1 : c0 < c1) std::swap(c0, c1);
    Store16(out, c0);
    Store16(out + 2, c1);

    const Colour4 d0 = Decode565(c0), d1 = Decode565(c1);
    const float ax = d0.r * kWeightR, ay = d0.g * kWeightG, az = d0.b * kWeightB;
    const float ex = d1.r * kWeightR - ax, ey = d1.g * kWeightG - ay, ez = d1.b * kWeightB - az;
    const float span2 = ex * ex + ey * ey + ez * ez;
    const float scale = span2 > 0.0f ? static_cast<float>(steps - 1) / span2 : 0.0f;
    static const BYTE kMap4[4] = {0, 2, 3, 1};
    static const BYTE kMap3[3] = {0, 2, 1};
    const BYTE* map = threeColour ? kMap3 : kMap4;
    DWORD indices = 0;
    if (dither) {
        float x[16], y[16], z[16];
        std::copy_n(points.x, 16, x), std::copy_n(points.y, 16, y), std::copy_n(points.z, 16, z);
        const float stepWeight = 1.0f / static_cast<float>(steps - 1);
        for (int i = 0; i < 16; ++i) {
            DWORD index = 3;
            if (!(transparent >> i & 1)) {
                const int step = StepOf(((x[i] - ax) * ex + (y[i] - ay) * ey + (z[i] - az) * ez) * scale, steps);
                const float w = static_cast<float>(step) * stepWeight;
                SpreadError(x, i, x[i] - (ax + ex * w));
                SpreadError(y, i, y[i] - (ay + ey * w));
                SpreadError(z, i, z[i] - (az + ez * w));
                index = map[step];
            }
            indices |= index << (2 * i);
        }
    } else {
        // The pixel itself, weighted: its 5:6:5 rounding served the endpoint
        // fit, but the palette holds colours between the 5:6:5 steps, so the
        // index is chosen from the full value.
        alignas(16) int step[16];
#if VINTREL_DXT_SSE
        const __m128 vax = _mm_set1_ps(ax), vay = _mm_set1_ps(ay), vaz = _mm_set1_ps(az);
        const __m128 vex = _mm_set1_ps(ex), vey = _mm_set1_ps(ey), vez = _mm_set1_ps(ez);
        const __m128 vscale = _mm_set1_ps(scale), top = _mm_set1_ps(static_cast<float>(steps - 1));
        const __m128 wr = _mm_set1_ps(kWeightR), wb = _mm_set1_ps(kWeightB);
        const __m128 zero = _mm_setzero_ps(), half = _mm_set1_ps(0.5f);
        for (int j = 0; j < 16; j += 4) {
            const __m128 x = _mm_mul_ps(_mm_load_ps(r + j), wr);
            const __m128 y = _mm_load_ps(g + j);  // green weight 1
            const __m128 z = _mm_mul_ps(_mm_load_ps(b + j), wb);
            __m128 t = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(x, vax), vex), _mm_mul_ps(_mm_sub_ps(y, vay), vey)),
                                  _mm_mul_ps(_mm_sub_ps(z, vaz), vez));
            t = _mm_min_ps(_mm_max_ps(_mm_mul_ps(t, vscale), zero), top);
            _mm_store_si128(reinterpret_cast<__m128i*>(step + j), _mm_cvttps_epi32(_mm_add_ps(t, half)));
        }
#else
        for (int i = 0; i < 16; ++i) {
            const float t = ((r[i] * kWeightR - ax) * ex + (g[i] * kWeightG - ay) * ey + (b[i] * kWeightB - az) * ez) *
                            scale;
            step[i] = StepOf(t, steps);
        }
#endif
        for (int i = 0; i < 16; ++i) {
            const DWORD index = (transparent >> i & 1) ? 3 : map[step[i]];
            indices |= index << (2 * i);
        }
    }
    Store32(out + 4, indices);
}

void EncodeDxtBlock(D3DFORMAT format, const Colour4 in[16], bool dither, BYTE* block) {
    // NaN is stored as the lowest value, as the row codecs store it; left
    // in, the in-block dither would spread it over the pixels after it.
    Colour4 px[16];
    for (int i = 0; i < 16; ++i) {
        const Colour4& c = in[i];
        px[i] = {c.r == c.r ? c.r : 0.0f, c.g == c.g ? c.g : 0.0f, c.b == c.b ? c.b : 0.0f, c.a == c.a ? c.a : 0.0f};
    }
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT4) {
        for (Colour4& c : px) c.r *= c.a, c.g *= c.a, c.b *= c.a;
    }
    if (format == D3DFMT_DXT1) {
        // One-bit alpha: the colour encoder reads it as below or above 0.5.
        float a[16];
        for (int i = 0; i < 16; ++i) a[i] = px[i].a;
        for (int i = 0; i < 16; ++i) {
            const float q = a[i] < 0.5f ? 0.0f : 1.0f;
            if (dither) SpreadError(a, i, a[i] - q);
            px[i].a = q;
        }
        EncodeDxtColourBlock(px, true, dither, block);
        return;
    }
    float a[16];
    for (int i = 0; i < 16; ++i) a[i] = px[i].a;
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
        EncodeDxt3Alpha(a, dither, block);
    } else {
        EncodeDxt5Alpha(a, dither, block);
    }
    EncodeDxtColourBlock(px, false, dither, block + 8);
}

// ---------------------------------------------------------------------------

namespace {
// Source column (or row) of each of the four positions of a block that has
// only n valid ones.
constexpr BYTE kPadPattern[4][4] = {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 2, 1}};

class RoundTowardZero {
public:
    RoundTowardZero() : previous_(std::fegetround()) { std::fesetround(FE_TOWARDZERO); }
    ~RoundTowardZero() { std::fesetround(previous_); }
    RoundTowardZero(const RoundTowardZero&) = delete;
    RoundTowardZero& operator=(const RoundTowardZero&) = delete;

private:
    int previous_;
};
}  // namespace

BlockCodec::BlockCodec(const PixelSurface& surface)
    : PixelCodec(surface, RANGE_UNSIGNED, 0), blockBytes_(DxtBlockBytes(surface.format)) {
    const UINT left = box_.Left & ~3u, top = box_.Top & ~3u;
    leftInBlock_ = box_.Left - left;
    topInBlock_ = box_.Top - top;
    blocksWide_ = (leftInBlock_ + width_ + 3) / 4;
    first_ = surface.pixels + static_cast<size_t>(box_.Front) * slicePitch_ +
             static_cast<size_t>(top / 4) * rowPitch_ + static_cast<size_t>(left / 4) * blockBytes_;
    const UINT extentRight = std::max(surface.extentWidth ? surface.extentWidth : box_.Right, box_.Right);
    const UINT extentBottom = std::max(surface.extentHeight ? surface.extentHeight : box_.Bottom, box_.Bottom);
    validColumns_ = std::min(extentRight - left, blocksWide_ * 4);
    validRows_ = extentBottom - top;
    // Dithering inside the block replaces the row-wise kinds.
    dither_ = orderedDither_ || diffusion_;
    orderedDither_ = diffusion_ = false;
    errorRow_.clear();
    cache_.resize(static_cast<size_t>(blocksWide_) * 16);
    scratch_.resize(static_cast<size_t>(width_) + 8);
}

BlockCodec::~BlockCodec() { Flush(); }

void BlockCodec::Load(UINT blockRow, UINT z, bool forWrite) {
    if (blockRow == cachedRow_ && z == cachedSlice_) return;
    Flush();
    cachedRow_ = blockRow;
    cachedSlice_ = z;
    rowsWritten_ = 0;
    const UINT stride = blocksWide_ * 4;
    if (forWrite) {
        // Whole blocks the box covers need no decoding.
        const UINT rowStart = blockRow * 4, rowEnd = rowStart + 4;
        const bool rowsCovered = rowStart >= topInBlock_ && rowEnd <= topInBlock_ + height_;
        const bool rowsPadded = rowStart >= topInBlock_ && topInBlock_ + height_ >= validRows_;
        const bool columnsCovered = leftInBlock_ == 0 && (width_ % 4 == 0 || width_ >= validColumns_);
        if ((rowsCovered || rowsPadded) && columnsCovered) return;
    }
    const BYTE* src = first_ + static_cast<size_t>(z) * slicePitch_ + static_cast<size_t>(blockRow) * rowPitch_;
    Colour4 block[16];
    for (UINT bx = 0; bx < blocksWide_; ++bx, src += blockBytes_) {
        DecodeDxtBlock(format_, src, block);
        for (int j = 0; j < 4; ++j) std::copy_n(block + 4 * j, 4, &cache_[j * stride + bx * 4]);
    }
}

void BlockCodec::Flush() {
    if (!cacheDirty_) return;
    cacheDirty_ = false;
    const UINT stride = blocksWide_ * 4;
    // Pad positions beyond the surface from the valid ones.
    const UINT lastColumns = validColumns_ - (blocksWide_ - 1) * 4;
    if (lastColumns < 4) {
        const UINT base = (blocksWide_ - 1) * 4;
        for (int j = 0; j < 4; ++j) {
            Colour4* row = &cache_[j * stride + base];
            for (UINT i = lastColumns; i < 4; ++i) row[i] = row[kPadPattern[lastColumns][i]];
        }
    }
    const UINT rowStart = cachedRow_ * 4;
    const UINT rows = validRows_ > rowStart ? std::min(validRows_ - rowStart, 4u) : 4u;
    for (UINT j = rows; j < 4; ++j) {
        std::copy_n(&cache_[kPadPattern[rows][j] * stride], stride, &cache_[j * stride]);
    }
    RoundTowardZero truncate;
    BYTE* dst = first_ + static_cast<size_t>(cachedSlice_) * slicePitch_ + static_cast<size_t>(cachedRow_) * rowPitch_;
    Colour4 block[16];
    for (UINT bx = 0; bx < blocksWide_; ++bx, dst += blockBytes_) {
        for (int j = 0; j < 4; ++j) std::copy_n(&cache_[j * stride + bx * 4], 4, block + 4 * j);
        EncodeDxtBlock(format_, block, dither_, dst);
    }
}

void BlockCodec::ReadRow(UINT y, UINT z, Colour4* out) {
    const UINT r = y + topInBlock_;
    Load(r / 4, z, false);
    std::copy_n(&cache_[(r & 3) * blocksWide_ * 4 + leftInBlock_], width_, out);
    FinishRead(out);
}

void BlockCodec::WriteRow(UINT y, UINT z, const Colour4* in) {
    const Colour4* row = PrepareWrite(in);
    const UINT r = y + topInBlock_;
    const UINT blockRow = r / 4;
    Load(blockRow, z, true);
    std::copy_n(row, width_, &cache_[(r & 3) * blocksWide_ * 4 + leftInBlock_]);
    cacheDirty_ = true;
    rowsWritten_ |= 1u << (r & 3);
    // Encode as soon as every row of the block row that the box covers is in.
    const UINT first = std::max(blockRow * 4, topInBlock_);
    const UINT last = std::min(blockRow * 4 + 4, topInBlock_ + height_);
    unsigned wanted = 0;
    for (UINT k = first; k < last; ++k) wanted |= 1u << (k & 3);
    if ((rowsWritten_ & wanted) == wanted) {
        Flush();
        cachedRow_ = ~0u;
    }
}

void BlockCodec::PrepareColourKey(D3DCOLOR key) {
    const float r = static_cast<float>(Quant(((key >> 16) & 0xFF) * kScale8, 31)) * kScale5;
    const float g = static_cast<float>(Quant(((key >> 8) & 0xFF) * kScale8, 63)) * kScale6;
    const float b = static_cast<float>(Quant((key & 0xFF) * kScale8, 31)) * kScale5;
    const float a8 = static_cast<float>(key >> 24) * kScale8;
    const float a = (format_ == D3DFMT_DXT2 || format_ == D3DFMT_DXT3)
                        ? static_cast<float>(Quant(a8, 15)) * kScale4
                        : static_cast<float>(Quant(a8, 255)) * kScale8;
    colourKey_ = {r, g, b, a};
    hasColourKey_ = true;
}
