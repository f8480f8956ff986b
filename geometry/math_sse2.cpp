// The SSE2 set: the SSE set's entries in SSE2 forms (integer shuffles for
// lane broadcasts), and a vector conversion from 16-bit floats. Its
// quaternion inverse is the portable one.
#include "geometry/math_dispatch.h"

#if !VINTREL_NO_SIMD && defined(__SSE2__)
#define VINTREL_MATH_SSE2_FORMS 1
#include <emmintrin.h>

#include "geometry/math_half.h"
#include "geometry/math_simd.h"

namespace {

// Four halves (in the low 16 bits of each lane) to floats, exactly: the
// exponent and mantissa move up into float position and a multiplication by
// 2^112 rebiases the exponent, which also turns denormal halves into the
// right normal floats; infinities and NaNs get the all-ones exponent.
inline __m128 HalvesToFloats(__m128i h) {
    const __m128i magnitude = _mm_and_si128(h, _mm_set1_epi32(0x7FFF));
    const __m128i sign = _mm_slli_epi32(_mm_and_si128(h, _mm_set1_epi32(0x8000)), 16);
    const __m128i shifted = _mm_slli_epi32(magnitude, 13);
    const __m128 scaled = _mm_mul_ps(_mm_castsi128_ps(shifted), _mm_set1_ps(0x1p112f));
    const __m128i special = _mm_cmpgt_epi32(magnitude, _mm_set1_epi32(0x7BFF));
    const __m128i infinite = _mm_or_si128(shifted, _mm_set1_epi32(0x7F800000));
    const __m128i bits = _mm_or_si128(_mm_and_si128(special, infinite),
                                      _mm_andnot_si128(special, _mm_castps_si128(scaled)));
    return _mm_castsi128_ps(_mm_or_si128(bits, sign));
}

float* Sse2ConvertFloat16ToFloat32Array(float* out, const Float16* in, UINT count) {
    // From the end backwards, eight at a time, so a float array may hold
    // its own halves in its first half.
    UINT blocks = count / 8;
    for (UINT i = count; i-- > blocks * 8;) out[i] = HalfToFloat(in[i]);
    for (UINT b = blocks; b-- > 0;) {
        __m128i halves = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8 * b));
        __m128 low = HalvesToFloats(_mm_unpacklo_epi16(halves, _mm_setzero_si128()));
        __m128 high = HalvesToFloats(_mm_unpackhi_epi16(halves, _mm_setzero_si128()));
        _mm_storeu_ps(out + 8 * b, low);
        _mm_storeu_ps(out + 8 * b + 4, high);
    }
    return out;
}

}  // namespace

bool InstallSse2MathVariants(MathDispatchTable* table) {
    InstallSimdForms(table);
    table->ConvertFloat16ToFloat32Array = &Sse2ConvertFloat16ToFloat32Array;
    table->InvertQuaternion = PortableMathVariants().InvertQuaternion;
    return true;
}

#else

bool InstallSse2MathVariants(MathDispatchTable*) {
    return false;
}

#endif
