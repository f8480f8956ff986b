// Row conversion between stored pixel formats and Colour4.
#include "texture/pixel_codec.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <new>

#include "texture/block_codec.h"
#include "geometry/math.h"

#if defined(__SSE2__) && !VINTREL_NO_SIMD
#include <emmintrin.h>
#define VINTREL_CODEC_SSE 1
#else
#define VINTREL_CODEC_SSE 0
#endif

// Values (2k + 1) / 32, each four-value pattern written twice.
const float OrderedDitherTable[4][8] = {
    {31 / 32.f, 15 / 32.f, 27 / 32.f, 11 / 32.f, 31 / 32.f, 15 / 32.f, 27 / 32.f, 11 / 32.f},
    {7 / 32.f, 23 / 32.f, 3 / 32.f, 19 / 32.f, 7 / 32.f, 23 / 32.f, 3 / 32.f, 19 / 32.f},
    {25 / 32.f, 9 / 32.f, 29 / 32.f, 13 / 32.f, 25 / 32.f, 9 / 32.f, 29 / 32.f, 13 / 32.f},
    {1 / 32.f, 17 / 32.f, 5 / 32.f, 21 / 32.f, 1 / 32.f, 17 / 32.f, 5 / 32.f, 21 / 32.f},
};

namespace {

// Set by tests to compare the row shortcuts with the general conversion.
bool g_generalRowCodecs = false;

struct GammaTables {
    float encode[256];
    float decode[256];
    GammaTables() {
        // Built on first use, which may be inside a row write with the
        // floating-point unit truncating: the tables are rounded to nearest
        // whatever the mode, so every process gets the same values.
        const int mode = std::fegetround();
        std::fesetround(FE_TONEAREST);
        for (int i = 0; i < 255; ++i) {
            encode[i] = static_cast<float>(std::pow(i / 254.0, 2.0 / 2.2));
            decode[i] = static_cast<float>(std::pow(i / 254.0, 1.1));
        }
        encode[255] = 1.0f;
        decode[255] = 1.0f;
        std::fesetround(mode);
    }
};

const GammaTables& Gamma() {
    static const GammaTables tables;
    return tables;
}

float Interpolate(const float* table, float s) {
    if (!(s > 0.0f)) return table[0];  // also NaN
    if (s >= 254.0f) s = 254.0f;
    const int i = static_cast<int>(s);
    return table[i] + (table[i + 1] - table[i]) * (s - static_cast<float>(i));
}

// Switches the floating-point unit to truncation for one row.
class RoundTowardZero {
public:
    RoundTowardZero() : previous_(std::fegetround()) { std::fesetround(FE_TOWARDZERO); }
    ~RoundTowardZero() { std::fesetround(previous_); }
    RoundTowardZero(const RoundTowardZero&) = delete;
    RoundTowardZero& operator=(const RoundTowardZero&) = delete;

private:
    int previous_;
};

inline float Clamp(float x, float lo, float hi) { return x < lo ? lo : (x > hi ? hi : x); }

// ---------------------------------------------------------------------------
// Packed integer formats: every channel a bit field of one little-endian word.

enum class Packing : BYTE { Direct, Luminance, Palette };

struct Field {
    BYTE shift;
    BYTE bits;  // 0: the format lacks the channel
    bool isSigned;
};

struct PackedLayout {
    D3DFORMAT format;
    ValueRange range;
    BYTE bytes;
    Packing packing;
    Field field[4];   // R, G, B, A (luminance: L, -, -, A; palette: index, -, -, A)
    float missing[4];  // what an absent channel reads as
    bool computeC;     // CxV8U8: blue is sqrt(1 - u^2 - v^2)
};

constexpr Field F(int shift, int bits) { return {static_cast<BYTE>(shift), static_cast<BYTE>(bits), false}; }
constexpr Field Sg(int shift, int bits) { return {static_cast<BYTE>(shift), static_cast<BYTE>(bits), true}; }
constexpr Field None = {0, 0, false};

#define MISSING(r, g, b, a) {r, g, b, a}
const PackedLayout kPackedLayouts[] = {
    {D3DFMT_R8G8B8, RANGE_UNSIGNED, 3, Packing::Direct, {F(16, 8), F(8, 8), F(0, 8), None}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_A8R8G8B8, RANGE_UNSIGNED, 4, Packing::Direct, {F(16, 8), F(8, 8), F(0, 8), F(24, 8)}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_X8R8G8B8, RANGE_UNSIGNED, 4, Packing::Direct, {F(16, 8), F(8, 8), F(0, 8), None}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_R5G6B5, RANGE_UNSIGNED, 2, Packing::Direct, {F(11, 5), F(5, 6), F(0, 5), None}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_X1R5G5B5, RANGE_UNSIGNED, 2, Packing::Direct, {F(10, 5), F(5, 5), F(0, 5), None}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_A1R5G5B5, RANGE_UNSIGNED, 2, Packing::Direct, {F(10, 5), F(5, 5), F(0, 5), F(15, 1)}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_A4R4G4B4, RANGE_UNSIGNED, 2, Packing::Direct, {F(8, 4), F(4, 4), F(0, 4), F(12, 4)}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_R3G3B2, RANGE_UNSIGNED, 1, Packing::Direct, {F(5, 3), F(2, 3), F(0, 2), None}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_A8, RANGE_UNSIGNED, 1, Packing::Direct, {None, None, None, F(0, 8)}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_A8R3G3B2, RANGE_UNSIGNED, 2, Packing::Direct, {F(5, 3), F(2, 3), F(0, 2), F(8, 8)}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_X4R4G4B4, RANGE_UNSIGNED, 2, Packing::Direct, {F(8, 4), F(4, 4), F(0, 4), None}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_A2B10G10R10, RANGE_UNSIGNED, 4, Packing::Direct, {F(0, 10), F(10, 10), F(20, 10), F(30, 2)}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_A8B8G8R8, RANGE_UNSIGNED, 4, Packing::Direct, {F(0, 8), F(8, 8), F(16, 8), F(24, 8)}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_X8B8G8R8, RANGE_UNSIGNED, 4, Packing::Direct, {F(0, 8), F(8, 8), F(16, 8), None}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_G16R16, RANGE_UNSIGNED, 4, Packing::Direct, {F(0, 16), F(16, 16), None, None}, MISSING(0, 0, 1, 1), false},
    {D3DFMT_A2R10G10B10, RANGE_UNSIGNED, 4, Packing::Direct, {F(20, 10), F(10, 10), F(0, 10), F(30, 2)}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_A16B16G16R16, RANGE_UNSIGNED, 8, Packing::Direct, {F(0, 16), F(16, 16), F(32, 16), F(48, 16)}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_A8P8, RANGE_UNSIGNED, 2, Packing::Palette, {F(0, 8), None, None, F(8, 8)}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_P8, RANGE_UNSIGNED, 1, Packing::Palette, {F(0, 8), None, None, None}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_L8, RANGE_UNSIGNED, 1, Packing::Luminance, {F(0, 8), None, None, None}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_A8L8, RANGE_UNSIGNED, 2, Packing::Luminance, {F(0, 8), None, None, F(8, 8)}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_A4L4, RANGE_UNSIGNED, 1, Packing::Luminance, {F(0, 4), None, None, F(4, 4)}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_L16, RANGE_UNSIGNED, 2, Packing::Luminance, {F(0, 16), None, None, None}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_D16_LOCKABLE, RANGE_UNSIGNED, 2, Packing::Luminance, {F(0, 16), None, None, None}, MISSING(0, 0, 0, 1), false},
    {FMT_AL16, RANGE_UNSIGNED, 4, Packing::Luminance, {F(0, 16), None, None, F(16, 16)}, MISSING(0, 0, 0, 1), false},
    {FMT_R16, RANGE_UNSIGNED, 6, Packing::Direct, {F(32, 16), F(16, 16), F(0, 16), None}, MISSING(0, 0, 0, 1), false},
    // Signed formats carry U, V, W, Q in R, G, B, A; an unsigned luminance
    // goes to blue.
    {D3DFMT_V8U8, RANGE_SIGNED_COLOUR, 2, Packing::Direct, {Sg(0, 8), Sg(8, 8), None, None}, MISSING(0, 0, 1, 1), false},
    {D3DFMT_L6V5U5, RANGE_SIGNED_COLOUR, 2, Packing::Direct, {Sg(0, 5), Sg(5, 5), F(10, 6), None}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_X8L8V8U8, RANGE_SIGNED_COLOUR, 4, Packing::Direct, {Sg(0, 8), Sg(8, 8), F(16, 8), None}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_Q8W8V8U8, RANGE_SIGNED_ALL, 4, Packing::Direct, {Sg(0, 8), Sg(8, 8), Sg(16, 8), Sg(24, 8)}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_V16U16, RANGE_SIGNED_COLOUR, 4, Packing::Direct, {Sg(0, 16), Sg(16, 16), None, None}, MISSING(0, 0, 1, 1), false},
    {D3DFMT_A2W10V10U10, RANGE_SIGNED_COLOUR, 4, Packing::Direct, {Sg(0, 10), Sg(10, 10), Sg(20, 10), F(30, 2)}, MISSING(0, 0, 0, 1), false},
    {D3DFMT_CxV8U8, RANGE_SIGNED_COLOUR, 2, Packing::Direct, {Sg(0, 8), Sg(8, 8), None, None}, MISSING(0, 0, 0, 1), true},
};
#undef MISSING

// 32-bit float values of 1/(2^n - 1), and of 1/(2^(n-1) - 1) for signed fields.
float UnsignedScale(int bits) {
    switch (bits) {
        case 8: return 0.003921569f;
        case 5: return 0.032258064f;
        case 6: return 0.015873017f;
        case 10: return 0.0009775171f;
        case 16: return 0.000015259022f;
        default: return 1.0f / static_cast<float>((1u << bits) - 1);
    }
}
float SignedScale(int bits) {
    if (bits == 8) return 0.007874016f;
    return 1.0f / static_cast<float>((1u << (bits - 1)) - 1);
}

inline ULONGLONG LoadWord(const BYTE* p, UINT bytes) {
    switch (bytes) {
        case 1: return p[0];
        case 2: { WORD w; std::memcpy(&w, p, 2); return w; }
        case 4: { DWORD d; std::memcpy(&d, p, 4); return d; }
        case 8: { ULONGLONG q; std::memcpy(&q, p, 8); return q; }
        default: {
            ULONGLONG q = 0;
            for (UINT i = 0; i < bytes; ++i) q |= static_cast<ULONGLONG>(p[i]) << (8 * i);
            return q;
        }
    }
}

inline void StoreWord(BYTE* p, UINT bytes, ULONGLONG value) {
    switch (bytes) {
        case 1: p[0] = static_cast<BYTE>(value); break;
        case 2: { WORD w = static_cast<WORD>(value); std::memcpy(p, &w, 2); break; }
        case 4: { DWORD d = static_cast<DWORD>(value); std::memcpy(p, &d, 4); break; }
        case 8: std::memcpy(p, &value, 8); break;
        default:
            for (UINT i = 0; i < bytes; ++i) p[i] = static_cast<BYTE>(value >> (8 * i));
    }
}

class PackedCodec final : public PixelCodec {
public:
    PackedCodec(const PixelSurface& surface, const PackedLayout& layout)
        : PixelCodec(surface, layout.range, layout.bytes), layout_(layout) {
        ULONGLONG used = 0;
        for (int c = 0; c < 4; ++c) {
            const Field& f = layout.field[c];
            scale_[c] = f.bits == 0 ? 0.0f : (f.isSigned ? SignedScale(f.bits) : UnsignedScale(f.bits));
            max_[c] = f.bits == 0 ? 0 : (f.isSigned ? (1 << (f.bits - 1)) - 1 : static_cast<int>((1u << f.bits) - 1));
            if (f.bits) used |= ((1ull << f.bits) - 1) << f.shift;
        }
        const ULONGLONG all = layout.bytes >= 8 ? ~0ull : (1ull << (8 * layout.bytes)) - 1;
        unusedBits_ = layout.packing == Packing::Palette ? 0 : all & ~used;
        // Plain unsigned bit fields in up to four bytes take the shortcut
        // rows; four-byte formats of 8-bit channels move whole bytes.
        plain_ = VINTREL_CODEC_SSE && layout.packing == Packing::Direct && !layout.computeC && layout.bytes <= 4;
        bool bytesOnly = layout.bytes == 4;
        for (int c = 0; c < 4; ++c) {
            const Field& f = layout.field[c];
            if (f.bits && f.isSigned) plain_ = false;
            if (c < 3 ? f.bits != 8 : (f.bits != 0 && f.bits != 8)) bytesOnly = false;
            if (f.shift % 8) bytesOnly = false;
        }
        byteOrder_ = plain_ && bytesOnly;
        // Which channel each byte of the word holds: R, G, B, A (3 for an X byte).
        if (byteOrder_) {
            for (int k = 0; k < 4; ++k) byteChannel_[k] = 3;
            for (int c = 0; c < 3; ++c) byteChannel_[layout.field[c].shift / 8] = static_cast<BYTE>(c);
        }
        if (layout.packing == Packing::Palette) {
            palette_.resize(256);
            for (int i = 0; i < 256; ++i) {
                if (surface.palette) {
                    const PALETTEENTRY& e = surface.palette[i];
                    palette_[i] = {e.peRed * (1.0f / 255), e.peGreen * (1.0f / 255), e.peBlue * (1.0f / 255),
                                   e.peFlags * (1.0f / 255)};
                } else {
                    palette_[i] = {1, 1, 1, 1};
                }
            }
        }
    }

    void ReadRow(UINT y, UINT z, Colour4* out) override {
        const BYTE* p = first_ + static_cast<size_t>(z) * slicePitch_ + static_cast<size_t>(y) * rowPitch_;
        const UINT bytes = layout_.bytes;
        if (byteOrder_ && !g_generalRowCodecs) {
            ReadBytes(p, out);
        } else if (plain_ && !g_generalRowCodecs) {
            ReadPlain(p, out);
        } else {
            for (UINT x = 0; x < width_; ++x, p += bytes) out[x] = Decode(LoadWord(p, bytes));
        }
        FinishRead(out);
    }

    void WriteRow(UINT y, UINT z, const Colour4* in) override {
        RoundTowardZero truncate;
        const Colour4* row = PrepareWrite(in);
        BYTE* base = first_ + static_cast<size_t>(z) * slicePitch_ + static_cast<size_t>(y) * rowPitch_;
        const bool backwards = (y & 1) != 0;
        if (plain_ && !diffusion_ && !g_generalRowCodecs) {
            WritePlain(y, z, row, base);
            return;
        }
        float carry[4] = {0, 0, 0, 0};
        for (UINT i = 0; i < width_; ++i) {
            const UINT x = backwards ? width_ - 1 - i : i;
            const float t = Threshold(y, z, i);
            Colour4 px = row[x];
            px.r += carry[0];
            px.g += carry[1];
            px.b += carry[2];
            px.a += carry[3];
            float error[4];
            const ULONGLONG word = Encode(px, t, error);
            StoreWord(base + static_cast<size_t>(x) * layout_.bytes, layout_.bytes, word);
            if (diffusion_) Diffuse(x, backwards, error, carry);
        }
    }

private:
    Colour4 Decode(ULONGLONG word) const {
        float v[4];
        for (int c = 0; c < 4; ++c) {
            const Field& f = layout_.field[c];
            if (f.bits == 0) {
                v[c] = layout_.missing[c];
                continue;
            }
            const ULONGLONG raw = (word >> f.shift) & ((1ull << f.bits) - 1);
            if (f.isSigned) {
                // Sign-extend the n-bit field.
                const LONGLONG s = static_cast<LONGLONG>(raw << (64 - f.bits)) >> (64 - f.bits);
                v[c] = static_cast<float>(s) * scale_[c];
            } else {
                v[c] = static_cast<float>(raw) * scale_[c];
            }
        }
        switch (layout_.packing) {
            case Packing::Luminance:
                return {v[0], v[0], v[0], v[3]};
            case Packing::Palette: {
                const ULONGLONG index = word & 0xFF;
                Colour4 e = palette_[index];
                if (layout_.field[3].bits) e.a = v[3];
                return e;
            }
            case Packing::Direct:
                break;
        }
        if (layout_.computeC) v[2] = std::sqrt(std::max(0.0f, 1.0f - v[0] * v[0] - v[1] * v[1]));
        return {v[0], v[1], v[2], v[3]};
    }

    // Quantises one channel; stores its error (in units of the input).
    inline ULONGLONG Quantise(int c, float value, float t, float& error) const {
        const Field& f = layout_.field[c];
        const float max = static_cast<float>(max_[c]);
        const float v = value * max;
        int q;
        if (f.isSigned) {
            // Floor rather than truncation: truncating toward zero would
            // pull every negative value up by one step, so -1 would not
            // survive a round trip.
            // Clamped before the conversion: a value beyond the int range
            // (or NaN) has no integer, and huge ones must saturate.
            const float x = std::floor(v + t);
            q = x > -max ? (x < max ? static_cast<int>(x) : max_[c]) : -max_[c];
        } else {
            const float x = v + t;
            q = x > 0.0f ? static_cast<int>(std::min(x, max)) : 0;
        }
        // A NaN has stored the lowest value; it has no error to pass on,
        // and a NaN handed on would spread over the rest of the image.
        error = v == v ? (v - static_cast<float>(q)) / max : 0.0f;
        return (static_cast<ULONGLONG>(static_cast<LONGLONG>(q)) & ((1ull << f.bits) - 1)) << f.shift;
    }

    ULONGLONG Encode(const Colour4& px, float t, float error[4]) const {
        ULONGLONG word = unusedBits_;
        error[0] = error[1] = error[2] = error[3] = 0.0f;
        switch (layout_.packing) {
            case Packing::Luminance: {
                const float l = 0.2125f * px.r + 0.7154f * px.g + 0.0721f * px.b;
                float e;
                word |= Quantise(0, l, t, e);
                error[0] = error[1] = error[2] = e;
                break;
            }
            case Packing::Palette: {
                int best = 0;
                float bestDistance = INFINITY;
                for (int i = 0; i < 256; ++i) {
                    const Colour4& e = palette_[i];
                    const float dr = px.r - e.r, dg = px.g - e.g, db = px.b - e.b, da = px.a - e.a;
                    const float d = dr * dr + dg * dg + db * db + da * da;
                    if (d < bestDistance) {
                        bestDistance = d;
                        best = i;
                    }
                }
                word |= static_cast<ULONGLONG>(best);
                const Colour4& e = palette_[best];
                const float difference[4] = {px.r - e.r, px.g - e.g, px.b - e.b, px.a - e.a};
                for (int c = 0; c < 4; ++c) error[c] = difference[c] == difference[c] ? difference[c] : 0.0f;
                break;
            }
            case Packing::Direct: {
                const float v[3] = {px.r, px.g, px.b};
                for (int c = 0; c < 3; ++c) {
                    if (layout_.field[c].bits) word |= Quantise(c, v[c], t, error[c]);
                }
                break;
            }
        }
        if (layout_.field[3].bits) word |= Quantise(3, px.a, t, error[3]);
        return word;
    }

    void Diffuse(UINT x, bool backwards, const float error[4], float carry[4]) {
        // errorRow_ entry x + 1 belongs to pixel x; the row has a spare entry
        // at each end for the neighbours of the edge pixels.
        Colour4& behind = errorRow_[backwards ? x + 2 : x];
        Colour4& below = errorRow_[x + 1];
        Colour4& ahead = errorRow_[backwards ? x : x + 2];
        float* b = &behind.r;
        float* m = &below.r;
        float* a = &ahead.r;
        for (int c = 0; c < 4; ++c) {
            carry[c] = error[c] * 0.4375f;
            b[c] += error[c] * 0.1875f;
            m[c] += error[c] * 0.3125f;
            a[c] += error[c] * 0.0625f;
        }
    }

#if VINTREL_CODEC_SSE
    // Rows of four-byte 8-bit formats: four pixels per step, bytes widened
    // to floats and put in R, G, B, A order.
    void ReadBytes(const BYTE* p, Colour4* out) const {
        const bool alpha = layout_.field[3].bits != 0;
        const bool redLow = byteChannel_[0] == 0;  // A8B8G8R8, X8B8G8R8
        const __m128 scale = _mm_set1_ps(scale_[0]);
        const __m128 keep = _mm_castsi128_ps(_mm_set_epi32(alpha ? -1 : 0, -1, -1, -1));
        const __m128 one = _mm_set_ps(alpha ? 0.0f : 1.0f, 0.0f, 0.0f, 0.0f);
        const __m128i zero = _mm_setzero_si128();
        auto finish = [&](__m128i bytes32) {
            __m128 v = _mm_mul_ps(_mm_cvtepi32_ps(bytes32), scale);
            if (!redLow) v = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 0, 1, 2));
            return _mm_or_ps(_mm_and_ps(v, keep), one);
        };
        UINT x = 0;
        for (; x + 4 <= width_; x += 4, p += 16) {
            const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i lo = _mm_unpacklo_epi8(four, zero), hi = _mm_unpackhi_epi8(four, zero);
            _mm_storeu_ps(&out[x].r, finish(_mm_unpacklo_epi16(lo, zero)));
            _mm_storeu_ps(&out[x + 1].r, finish(_mm_unpackhi_epi16(lo, zero)));
            _mm_storeu_ps(&out[x + 2].r, finish(_mm_unpacklo_epi16(hi, zero)));
            _mm_storeu_ps(&out[x + 3].r, finish(_mm_unpackhi_epi16(hi, zero)));
        }
        for (; x < width_; ++x, p += 4) {
            DWORD word;
            std::memcpy(&word, p, 4);
            const __m128i b = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(word)), zero);
            _mm_storeu_ps(&out[x].r, finish(_mm_unpacklo_epi16(b, zero)));
        }
    }

    // Rows of other plain bit-field formats, field by field without the
    // per-pixel dispatch of Decode.
    template <UINT kBytes>
    void ReadFields(const BYTE* p, Colour4* out) const {
        DWORD mask[4];
        for (int c = 0; c < 4; ++c) mask[c] = static_cast<DWORD>((1ull << layout_.field[c].bits) - 1);
        for (UINT x = 0; x < width_; ++x, p += kBytes) {
            const DWORD word = static_cast<DWORD>(LoadWord(p, kBytes));
            float v[4];
            for (int c = 0; c < 4; ++c) {
                v[c] = layout_.field[c].bits
                           ? static_cast<float>((word >> layout_.field[c].shift) & mask[c]) * scale_[c]
                           : layout_.missing[c];
            }
            out[x] = {v[0], v[1], v[2], v[3]};
        }
    }

    void ReadPlain(const BYTE* p, Colour4* out) const {
        switch (layout_.bytes) {
            case 1: ReadFields<1>(p, out); break;
            case 2: ReadFields<2>(p, out); break;
            case 3: ReadFields<3>(p, out); break;
            default: ReadFields<4>(p, out); break;
        }
    }

    // Writing without error diffusion: every pixel quantised on its own,
    // the four channels at once, with the same arithmetic as Quantise
    // (v = value x max; q = v + t truncated, then clamped).
    void WritePlain(UINT y, UINT z, const Colour4* row, BYTE* base) const {
        float threshold[4];
        const bool backwards = (y & 1) != 0;
        for (UINT k = 0; k < 4; ++k) {
            // Pixel x is number i in processing order; i mod 4 repeats with x mod 4.
            const UINT i = backwards ? (width_ - 1 - k) & 3 : k;
            threshold[k] = orderedDither_ ? OrderedDitherTable[y & 3][(z & 3) + i] : 0.5f;
        }
        if (byteOrder_) {
            WriteBytes(row, base, threshold);
            return;
        }
        const __m128 scale = _mm_set_ps(static_cast<float>(max_[3]), static_cast<float>(max_[2]),
                                        static_cast<float>(max_[1]), static_cast<float>(max_[0]));
        for (UINT x = 0; x < width_; ++x) {
            const __m128 v = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(&row[x].r), scale), _mm_set1_ps(threshold[x & 3]));
            alignas(16) int q[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(q), _mm_cvttps_epi32(ClampLanes(v, scale)));
            ULONGLONG word = unusedBits_;
            for (int c = 0; c < 4; ++c) word |= static_cast<ULONGLONG>(static_cast<UINT>(q[c])) << layout_.field[c].shift;
            StoreWord(base + static_cast<size_t>(x) * layout_.bytes, layout_.bytes, word);
        }
    }

    void WriteBytes(const Colour4* row, BYTE* base, const float threshold[4]) const {
        // Lanes in byte order; a missing channel has scale and top 0.
        alignas(16) float scaleLanes[4];
        for (int k = 0; k < 4; ++k) scaleLanes[k] = static_cast<float>(max_[byteChannel_[k]]);
        const __m128 scale = _mm_load_ps(scaleLanes);
        const __m128i zero = _mm_setzero_si128();
        const bool redLow = byteChannel_[0] == 0;
        const DWORD unused = static_cast<DWORD>(unusedBits_);
        for (UINT x = 0; x < width_; ++x) {
            __m128 v = _mm_loadu_ps(&row[x].r);
            if (!redLow) v = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 0, 1, 2));
            v = _mm_add_ps(_mm_mul_ps(v, scale), _mm_set1_ps(threshold[x & 3]));
            const __m128i q = _mm_cvttps_epi32(ClampLanes(v, scale));
            const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(q, q), zero);
            const DWORD word = static_cast<DWORD>(_mm_cvtsi128_si32(packed)) | unused;
            std::memcpy(base + static_cast<size_t>(x) * 4, &word, 4);
        }
    }

    // Each lane into [0, top] before it becomes an integer, as Quantise
    // does; NaN goes to 0 (maxps returns its second operand then).
    static __m128 ClampLanes(__m128 v, __m128 top) { return _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), top); }
#else
    void ReadBytes(const BYTE*, Colour4*) const {}
    void ReadPlain(const BYTE*, Colour4*) const {}
    void WritePlain(UINT, UINT, const Colour4*, BYTE*) const {}
#endif

    const PackedLayout& layout_;
    float scale_[4];
    int max_[4];
    ULONGLONG unusedBits_;  // X bits, written as ones
    bool plain_ = false;      // unsigned bit fields: shortcut rows
    bool byteOrder_ = false;  // and every field a whole byte of four
    BYTE byteChannel_[4] = {};
};

// ---------------------------------------------------------------------------
// Float formats: 16- or 32-bit IEEE channels, no quantisation.

struct FloatLayout {
    D3DFORMAT format;
    BYTE channels;  // R, then G, B, A
    bool half;
    float missing[4];
};

const FloatLayout kFloatLayouts[] = {
    {D3DFMT_R16F, 1, true, {0, 0, 0, 1}},
    {D3DFMT_G16R16F, 2, true, {0, 0, 1, 1}},
    {D3DFMT_A16B16G16R16F, 4, true, {0, 0, 0, 1}},
    {D3DFMT_R32F, 1, false, {0, 1, 1, 1}},
    {D3DFMT_G32R32F, 2, false, {0, 0, 0, 1}},
    {D3DFMT_A32B32G32R32F, 4, false, {0, 0, 0, 1}},
    {D3DFMT_D32F_LOCKABLE, 1, false, {0, 1, 1, 1}},
};

class FloatCodec final : public PixelCodec {
public:
    FloatCodec(const PixelSurface& surface, const FloatLayout& layout)
        : PixelCodec(surface, RANGE_FLOAT, layout.channels * (layout.half ? 2u : 4u)), layout_(layout) {}

    void ReadRow(UINT y, UINT z, Colour4* out) override {
        const BYTE* p = first_ + static_cast<size_t>(z) * slicePitch_ + static_cast<size_t>(y) * rowPitch_;
        for (UINT x = 0; x < width_; ++x, p += bytesPerPixel_) {
            float v[4] = {layout_.missing[0], layout_.missing[1], layout_.missing[2], layout_.missing[3]};
            if (layout_.half) {
                Float16 h[4];
                std::memcpy(h, p, 2 * layout_.channels);
                ConvertFloat16ToFloat32Array(v, h, layout_.channels);
            } else {
                std::memcpy(v, p, 4 * layout_.channels);
            }
            out[x] = {v[0], v[1], v[2], v[3]};
        }
        FinishRead(out);
    }

    void WriteRow(UINT y, UINT z, const Colour4* in) override {
        RoundTowardZero truncate;
        const Colour4* row = PrepareWrite(in);
        BYTE* p = first_ + static_cast<size_t>(z) * slicePitch_ + static_cast<size_t>(y) * rowPitch_;
        for (UINT x = 0; x < width_; ++x, p += bytesPerPixel_) {
            const float v[4] = {row[x].r, row[x].g, row[x].b, row[x].a};
            if (layout_.half) {
                Float16 h[4];
                ConvertFloat32ToFloat16Array(h, v, layout_.channels);
                std::memcpy(p, h, 2 * layout_.channels);
            } else {
                std::memcpy(p, v, 4 * layout_.channels);
            }
        }
    }

private:
    const FloatLayout& layout_;
};

// ---------------------------------------------------------------------------
// Two-pixel formats: a per-pixel sample each and two shared samples per pair.

class PairCodec final : public PixelCodec {
public:
    explicit PairCodec(const PixelSurface& surface) : PixelCodec(surface, RANGE_UNSIGNED, 2) {
        // The box is widened to even columns.
        const UINT left = box_.Left & ~1u;
        lead_ = box_.Left - left;
        pairs_ = (box_.Right - left + 1) / 2;
        first_ = surface.pixels + static_cast<size_t>(box_.Front) * slicePitch_ +
                 static_cast<size_t>(box_.Top) * rowPitch_ + static_cast<size_t>(left) * 2;
        // YUY2 and RGBG keep the per-pixel sample in the even bytes.
        lumaEven_ = format_ == D3DFMT_YUY2 || format_ == D3DFMT_R8G8_B8G8;
        yuv_ = format_ == D3DFMT_YUY2 || format_ == D3DFMT_UYVY;
        pairRow_.resize(static_cast<size_t>(pairs_) * 2);
    }

    void ReadRow(UINT y, UINT z, Colour4* out) override {
        DecodePairs(y, z);
        std::copy_n(pairRow_.begin() + lead_, width_, out);
        FinishRead(out);
    }

    void WriteRow(UINT y, UINT z, const Colour4* in) override {
        RoundTowardZero truncate;
        const Colour4* row = PrepareWrite(in);
        // Pixels of the widened pairs outside the box keep their values.
        if (lead_ || (lead_ + width_) & 1) DecodePairs(y, z);
        std::copy_n(row, width_, pairRow_.begin() + lead_);
        BYTE* p = first_ + static_cast<size_t>(z) * slicePitch_ + static_cast<size_t>(y) * rowPitch_;
        for (UINT i = 0; i < pairs_; ++i, p += 4) {
            const Colour4& a = pairRow_[2 * i];
            const Colour4& b = pairRow_[2 * i + 1];
            const float t0 = Threshold(y, z, 2 * i), t1 = Threshold(y, z, 2 * i + 1);
            BYTE s0, s1, c0, c1;  // per-pixel samples, shared samples (U/B, V/R)
            if (yuv_) {
                s0 = ToByte(16 + 65.481f * a.r + 128.553f * a.g + 24.966f * a.b, t0);
                s1 = ToByte(16 + 65.481f * b.r + 128.553f * b.g + 24.966f * b.b, t1);
                const float r = (a.r + b.r) * 0.5f, g = (a.g + b.g) * 0.5f, bl = (a.b + b.b) * 0.5f;
                c0 = ToByte(128 - 37.797f * r - 74.203f * g + 112 * bl, t0);
                c1 = ToByte(128 + 112 * r - 93.786f * g - 18.214f * bl, t0);
            } else {
                s0 = ToByte(a.g * 255, t0);
                s1 = ToByte(b.g * 255, t1);
                c0 = ToByte((a.b + b.b) * 0.5f * 255, t0);
                c1 = ToByte((a.r + b.r) * 0.5f * 255, t0);
            }
            // YUY2: Y0 U Y1 V; UYVY: U Y0 V Y1 (RGBG and GRGB alike with G, B, R).
            if (lumaEven_) {
                p[0] = s0, p[1] = c0, p[2] = s1, p[3] = c1;
            } else {
                p[0] = c0, p[1] = s0, p[2] = c1, p[3] = s1;
            }
        }
    }

private:
    static BYTE ToByte(float v, float t) {
        const float x = v + t;
        return static_cast<BYTE>(x > 0.0f ? static_cast<int>(std::min(x, 255.0f)) : 0);
    }

    void DecodePairs(UINT y, UINT z) {
        const BYTE* p = first_ + static_cast<size_t>(z) * slicePitch_ + static_cast<size_t>(y) * rowPitch_;
        for (UINT i = 0; i < pairs_; ++i, p += 4) {
            BYTE s0, s1, c0, c1;
            if (lumaEven_) {
                s0 = p[0], c0 = p[1], s1 = p[2], c1 = p[3];
            } else {
                c0 = p[0], s0 = p[1], c1 = p[2], s1 = p[3];
            }
            if (yuv_) {
                const float cb = static_cast<float>(c0) - 128, cr = static_cast<float>(c1) - 128;
                for (int k = 0; k < 2; ++k) {
                    const float l = 0.00456621f * (static_cast<float>(k ? s1 : s0) - 16);
                    pairRow_[2 * i + k] = {Clamp(l + 0.00625893f * cr, 0, 1),
                                           Clamp(l - 0.00318811f * cr - 0.00153632f * cb, 0, 1),
                                           Clamp(l + 0.00791071f * cb, 0, 1), 1.0f};
                }
            } else {
                constexpr float k = 0.003921569f;
                pairRow_[2 * i] = {c1 * k, s0 * k, c0 * k, 1.0f};
                pairRow_[2 * i + 1] = {c1 * k, s1 * k, c0 * k, 1.0f};
            }
        }
    }

    UINT lead_;   // columns of the first pair left of the box
    UINT pairs_;  // pairs across the widened box
    bool lumaEven_, yuv_;
    std::vector<Colour4> pairRow_;
};

}  // namespace

// ---------------------------------------------------------------------------

void UseGeneralRowCodecs(bool general) { g_generalRowCodecs = general; }

float GammaEncode(float linear) {
    return Interpolate(Gamma().encode, std::sqrt(std::max(linear, 0.0f)) * 254.0f);
}

float GammaDecode(float encoded) { return Interpolate(Gamma().decode, encoded * encoded * 254.0f); }

void ConvertRange(Colour4* row, UINT count, ValueRange from, ValueRange to) {
    if (from == RANGE_NONE || from == to) return;
    auto half = [](float& x) { x = (x + 1.0f) * 0.5f; };
    auto twice = [](float& x) { x = 2.0f * x - 1.0f; };
    for (UINT i = 0; i < count; ++i) {
        Colour4& c = row[i];
        switch (to) {
            case RANGE_UNSIGNED:
                if (from == RANGE_SIGNED_COLOUR) {
                    half(c.r), half(c.g), half(c.b);
                } else if (from == RANGE_SIGNED_ALL) {
                    half(c.r), half(c.g), half(c.b), half(c.a);
                } else if (from == RANGE_FLOAT) {
                    c = {Clamp(c.r, 0, 1), Clamp(c.g, 0, 1), Clamp(c.b, 0, 1), Clamp(c.a, 0, 1)};
                }
                break;
            case RANGE_SIGNED_COLOUR:
                if (from == RANGE_UNSIGNED) {
                    twice(c.r), twice(c.g), twice(c.b);
                } else if (from == RANGE_SIGNED_ALL) {
                    half(c.a);
                } else if (from == RANGE_FLOAT) {
                    c = {Clamp(c.r, -1, 1), Clamp(c.g, -1, 1), Clamp(c.b, -1, 1), Clamp(c.a, 0, 1)};
                }
                break;
            case RANGE_SIGNED_ALL:
                if (from == RANGE_UNSIGNED) {
                    twice(c.r), twice(c.g), twice(c.b), twice(c.a);
                } else if (from == RANGE_SIGNED_COLOUR) {
                    twice(c.a);
                } else if (from == RANGE_FLOAT) {
                    c = {Clamp(c.r, -1, 1), Clamp(c.g, -1, 1), Clamp(c.b, -1, 1), Clamp(c.a, -1, 1)};
                }
                break;
            default:
                break;
        }
    }
}

PixelCodec::PixelCodec(const PixelSurface& surface, ValueRange range, UINT bytesPerPixel)
    : format_(surface.format),
      rowPitch_(surface.rowPitch),
      slicePitch_(surface.slicePitch),
      box_(surface.box),
      width_(surface.box.Right > surface.box.Left ? surface.box.Right - surface.box.Left : 0),
      height_(surface.box.Bottom > surface.box.Top ? surface.box.Bottom - surface.box.Top : 0),
      depth_(surface.box.Back > surface.box.Front ? surface.box.Back - surface.box.Front : 0),
      bytesPerPixel_(bytesPerPixel),
      range_(range) {
    first_ = surface.pixels + static_cast<size_t>(box_.Front) * slicePitch_ +
             static_cast<size_t>(box_.Top) * rowPitch_ + static_cast<size_t>(box_.Left) * bytesPerPixel;
    orderedDither_ = surface.orderedDither;
    diffusion_ = surface.diffusionDither;
    if (diffusion_) errorRow_.assign(static_cast<size_t>(width_) + 2, Colour4{});
    // Gamma means nothing to signed values, except the luminance of L6V5U5.
    gamma_ = surface.gamma && (range == RANGE_UNSIGNED || range == RANGE_FLOAT || format_ == D3DFMT_L6V5U5);
    scratch_.resize(static_cast<size_t>(width_) + 8);
}

PixelCodec::~PixelCodec() = default;

float PixelCodec::Threshold(UINT y, UINT z, UINT i) const {
    return orderedDither_ ? OrderedDitherTable[y & 3][(z & 3) + (i & 3)] : 0.5f;
}

const Colour4* PixelCodec::PrepareWrite(const Colour4* in) {
    const bool convert = convertFrom_ != RANGE_NONE && convertFrom_ != range_;
    if (!convert && !gamma_ && !diffusion_) return in;
    Colour4* row = scratch_.data();
    std::copy_n(in, width_, row);
    if (convert) ConvertRange(row, width_, convertFrom_, range_);
    if (gamma_) {
        const bool root = bothGamma_ && (range_ == RANGE_UNSIGNED || range_ == RANGE_FLOAT);
        for (UINT x = 0; x < width_; ++x) {
            Colour4& c = row[x];
            if (range_ == RANGE_SIGNED_COLOUR) {
                c.b = GammaEncode(c.b);  // L6V5U5: the luminance only, U and V are signed
            } else if (root) {
                c.r = std::sqrt(std::max(c.r, 0.0f));
                c.g = std::sqrt(std::max(c.g, 0.0f));
                c.b = std::sqrt(std::max(c.b, 0.0f));
            } else {
                c.r = GammaEncode(c.r);
                c.g = GammaEncode(c.g);
                c.b = GammaEncode(c.b);
            }
        }
    }
    if (diffusion_) {
        for (UINT x = 0; x < width_; ++x) {
            const Colour4& e = errorRow_[x + 1];
            row[x].r += e.r;
            row[x].g += e.g;
            row[x].b += e.b;
            row[x].a += e.a;
        }
        std::fill(errorRow_.begin(), errorRow_.end(), Colour4{});
    }
    return row;
}

void PixelCodec::FinishRead(Colour4* row) {
    if (hasColourKey_) {
        const Colour4 k = colourKey_;
        for (UINT x = 0; x < width_; ++x) {
            Colour4& c = row[x];
            if (c.r == k.r && c.g == k.g && c.b == k.b && c.a == k.a) c = {0, 0, 0, 0};
        }
    }
    if (gamma_) {
        const bool square = bothGamma_ && (range_ == RANGE_UNSIGNED || range_ == RANGE_FLOAT);
        for (UINT x = 0; x < width_; ++x) {
            Colour4& c = row[x];
            if (range_ == RANGE_SIGNED_COLOUR) {
                c.b = GammaDecode(c.b);  // L6V5U5: the luminance only
            } else if (square) {
                c.r *= c.r;
                c.g *= c.g;
                c.b *= c.b;
            } else {
                c.r = GammaDecode(c.r);
                c.g = GammaDecode(c.g);
                c.b = GammaDecode(c.b);
            }
        }
    }
}

void PixelCodec::PrepareColourKey(D3DCOLOR key) {
    constexpr float k = 0.003921569f;
    Colour4 colour = {((key >> 16) & 0xFF) * k, ((key >> 8) & 0xFF) * k, (key & 0xFF) * k, (key >> 24) * k};
    // Round-trip the key through this format so that the exact comparison
    // on read sees the key as this format stores it. Two key pixels side by
    // side: the two-pixel formats share samples within a pair, and a key
    // stored beside anything else would come back mixed with it.
    alignas(16) BYTE pixels[32] = {};
    PixelSurface two;
    two.pixels = pixels;
    two.format = format_;
    two.rowPitch = sizeof(pixels);
    two.slicePitch = sizeof(pixels);
    two.box = {0, 0, 2, 1, 0, 1};
    std::unique_ptr<PixelCodec> probe;
    if (SUCCEEDED(CreatePixelCodec(two, probe))) {
        if (!palette_.empty()) probe->palette_ = palette_;
        Colour4 row[2] = {colour, colour};
        probe->WriteRow(0, 0, row);
        probe->ReadRow(0, 0, row);
        colour = row[0];
    }
    colourKey_ = colour;
    hasColourKey_ = true;
}

void LinkPixelCodecs(PixelCodec& source, PixelCodec& destination) {
    if (source.range_ != destination.range_ && destination.range_ != RANGE_FLOAT) {
        destination.convertFrom_ = source.range_;
    }
    if (source.gamma_ && destination.gamma_) {
        source.bothGamma_ = true;
        destination.bothGamma_ = true;
    }
}

HRESULT CreatePixelCodec(const PixelSurface& surface, std::unique_ptr<PixelCodec>& codec) {
    codec.reset();
    try {
        const D3DFORMAT format = surface.format;
        if (IsDxtFormat(format)) {
            codec = std::make_unique<BlockCodec>(surface);
        } else if (IsPairFormat(format)) {
            codec = std::make_unique<PairCodec>(surface);
        } else {
            for (const PackedLayout& layout : kPackedLayouts) {
                if (layout.format == format) {
                    codec = std::make_unique<PackedCodec>(surface, layout);
                    break;
                }
            }
            if (!codec) {
                for (const FloatLayout& layout : kFloatLayouts) {
                    if (layout.format == format) {
                        codec = std::make_unique<FloatCodec>(surface, layout);
                        break;
                    }
                }
            }
        }
        if (!codec) return E_FAIL;
        if (surface.colourKey != 0) codec->PrepareColourKey(surface.colourKey);
    } catch (const std::bad_alloc&) {
        codec.reset();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
