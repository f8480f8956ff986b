// Integer 2x2 box reduction: the mean of four samples rounded half up,
// channel by channel on the stored bits, without going through floats.
#include <cstring>

#include "texture/copy_engine.h"

#if !defined(VINTREL_NO_SIMD) && (defined(__x86_64__) || defined(__i386__))
#define VINTREL_BOX_SSE2 1
#include <emmintrin.h>
#endif

#include "geometry/math.h"

namespace {
// Masks of the channels of a format packed into 8, 16 or 32 bits. Bits
// outside every mask (the X of X1R5G5B5, X4R4G4B4) are written as ones,
// which is how the codecs write a channel the format does not keep.
struct PackedLayout {
    D3DFORMAT format;
    UINT bytes;
    DWORD masks[4];
};

constexpr PackedLayout kLayouts[] = {
    {D3DFMT_R5G6B5, 2, {0xF800, 0x07E0, 0x001F, 0}},
    {D3DFMT_X1R5G5B5, 2, {0x7C00, 0x03E0, 0x001F, 0}},
    {D3DFMT_A1R5G5B5, 2, {0x8000, 0x7C00, 0x03E0, 0x001F}},
    {D3DFMT_A4R4G4B4, 2, {0xF000, 0x0F00, 0x00F0, 0x000F}},
    {D3DFMT_R3G3B2, 1, {0xE0, 0x1C, 0x03, 0}},
    {D3DFMT_A8, 1, {0xFF, 0, 0, 0}},
    {D3DFMT_L8, 1, {0xFF, 0, 0, 0}},
    {D3DFMT_A8R3G3B2, 2, {0xFF00, 0xE0, 0x1C, 0x03}},
    {D3DFMT_X4R4G4B4, 2, {0x0F00, 0x00F0, 0x000F, 0}},
    {D3DFMT_A8L8, 2, {0xFF00, 0x00FF, 0, 0}},
    {D3DFMT_A4L4, 1, {0xF0, 0x0F, 0, 0}},
};

template <class Pixel>
void BoxPacked(const PackedLayout& layout, BYTE* dest, UINT destPitch, const BYTE* source, UINT sourcePitch,
               UINT destWidth, UINT destHeight) {
    DWORD used = 0;
    for (DWORD m : layout.masks) used |= m;
    const DWORD unused = DWORD(Pixel(~Pixel(0))) & ~used;
    for (UINT y = 0; y < destHeight; ++y) {
        const BYTE* r0 = source + size_t(2 * y) * sourcePitch;
        const BYTE* r1 = r0 + sourcePitch;
        BYTE* out = dest + size_t(y) * destPitch;
        for (UINT x = 0; x < destWidth; ++x) {
            Pixel p[4];
            std::memcpy(&p[0], r0 + 2 * x * sizeof(Pixel), sizeof(Pixel));
            std::memcpy(&p[1], r0 + (2 * x + 1) * sizeof(Pixel), sizeof(Pixel));
            std::memcpy(&p[2], r1 + 2 * x * sizeof(Pixel), sizeof(Pixel));
            std::memcpy(&p[3], r1 + (2 * x + 1) * sizeof(Pixel), sizeof(Pixel));
            DWORD result = unused;
            for (DWORD mask : layout.masks) {
                if (!mask) continue;
                const DWORD lowBit = mask & (~mask + 1);
                const DWORD sum = (p[0] & mask) + (p[1] & mask) + (p[2] & mask) + (p[3] & mask);
                result |= ((sum + 2 * lowBit) >> 2) & mask;
            }
            const Pixel value = Pixel(result);
            std::memcpy(out + x * sizeof(Pixel), &value, sizeof(Pixel));
        }
    }
}

#if VINTREL_BOX_SSE2
// Four destination pixels per step: both source rows widened to 16 bits,
// summed vertically, then neighbouring pixels summed, + 2, >> 2.
void BoxA8R8G8B8Vector(BYTE* dest, UINT destPitch, const BYTE* source, UINT sourcePitch, UINT destWidth,
                       UINT destHeight, DWORD setBits) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i set = _mm_set1_epi32(int(setBits));
    const __m128i two = _mm_set1_epi16(2);
    for (UINT y = 0; y < destHeight; ++y) {
        const BYTE* r0 = source + size_t(2 * y) * sourcePitch;
        const BYTE* r1 = r0 + sourcePitch;
        BYTE* out = dest + size_t(y) * destPitch;
        UINT x = 0;
        for (; x + 4 <= destWidth; x += 4) {
            const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + 8 * x));
            const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + 8 * x + 16));
            const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + 8 * x));
            const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + 8 * x + 16));
            const __m128i s0 = _mm_add_epi16(_mm_unpacklo_epi8(a0, zero), _mm_unpacklo_epi8(b0, zero));
            const __m128i s1 = _mm_add_epi16(_mm_unpackhi_epi8(a0, zero), _mm_unpackhi_epi8(b0, zero));
            const __m128i s2 = _mm_add_epi16(_mm_unpacklo_epi8(a1, zero), _mm_unpacklo_epi8(b1, zero));
            const __m128i s3 = _mm_add_epi16(_mm_unpackhi_epi8(a1, zero), _mm_unpackhi_epi8(b1, zero));
            __m128i q01 = _mm_add_epi16(_mm_unpacklo_epi64(s0, s1), _mm_unpackhi_epi64(s0, s1));
            __m128i q23 = _mm_add_epi16(_mm_unpacklo_epi64(s2, s3), _mm_unpackhi_epi64(s2, s3));
            q01 = _mm_srli_epi16(_mm_add_epi16(q01, two), 2);
            q23 = _mm_srli_epi16(_mm_add_epi16(q23, two), 2);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x), _mm_or_si128(_mm_packus_epi16(q01, q23), set));
        }
        if (x < destWidth)
            BoxFilterA8R8G8B8Scalar(out + 4 * x, destPitch, r0 + 8 * x, sourcePitch, destWidth - x, 1, setBits);
    }
}
#endif

using BoxRoutine = void (*)(BYTE*, UINT, const BYTE*, UINT, UINT, UINT, DWORD);

// The vector form is chosen once, at first use.
BoxRoutine ChooseA8R8G8B8Routine() {
#if VINTREL_BOX_SSE2
    if (IsMmxAvailable()) return BoxA8R8G8B8Vector;
#endif
    return BoxFilterA8R8G8B8Scalar;
}
}  // namespace

void BoxFilterA8R8G8B8Scalar(BYTE* dest, UINT destPitch, const BYTE* source, UINT sourcePitch, UINT destWidth,
                             UINT destHeight, DWORD setBits) {
    for (UINT y = 0; y < destHeight; ++y) {
        const BYTE* r0 = source + size_t(2 * y) * sourcePitch;
        const BYTE* r1 = r0 + sourcePitch;
        BYTE* out = dest + size_t(y) * destPitch;
        for (UINT x = 0; x < destWidth; ++x) {
            for (UINT c = 0; c < 4; ++c) {
                const UINT sum = r0[8 * x + c] + r0[8 * x + 4 + c] + r1[8 * x + c] + r1[8 * x + 4 + c];
                out[4 * x + c] = BYTE(((sum + 2) >> 2) | (setBits >> (8 * c)));
            }
        }
    }
}

bool BoxFilterInteger(D3DFORMAT format, BYTE* dest, UINT destPitch, const BYTE* source, UINT sourcePitch,
                      UINT destWidth, UINT destHeight) {
    switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_X8B8G8R8: {
        // All four bytes are averaged alike, so one routine serves the four
        // byte orders; the X byte is written as ones, as the codecs do.
        static const BoxRoutine routine = ChooseA8R8G8B8Routine();
        const bool x = format == D3DFMT_X8R8G8B8 || format == D3DFMT_X8B8G8R8;
        routine(dest, destPitch, source, sourcePitch, destWidth, destHeight, x ? 0xFF000000u : 0u);
        return true;
    }
    default:
        break;
    }
    for (const PackedLayout& layout : kLayouts) {
        if (layout.format != format) continue;
        if (layout.bytes == 1)
            BoxPacked<BYTE>(layout, dest, destPitch, source, sourcePitch, destWidth, destHeight);
        else
            BoxPacked<WORD>(layout, dest, destPitch, source, sourcePitch, destWidth, destHeight);
        return true;
    }
    return false;
}
